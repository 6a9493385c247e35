#include "sim/tones/ToneSource.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace telvox::sim {

namespace {
constexpr double kFullScale = 32767.0;
constexpr double kDbm0BelowFullScaleSine = 3.17;
} // namespace

double ToneLevel::peakAmplitude() const
{
    const double dbfs = unit == Unit::Dbm0 ? value - kDbm0BelowFullScaleSine : value;
    return kFullScale * std::pow(10.0, dbfs / 20.0);
}

ToneSource::ToneSource(const TonePlan &plan, ToneLevel level, ToneImpairments impairments)
    : m_plan(plan)
    , m_amplitude(level.peakAmplitude())
    , m_impairments(impairments)
    , m_noise(impairments.seed)
    , m_jitter(impairments.seed ^ 0x5DEECE66Dull)
{
    const double scale = 1.0 + impairments.frequencyOffsetPercent / 100.0;
    for (const double hz : m_plan.frequenciesHz) {
        m_step.push_back(hz * scale / kLineSampleRate);
        m_phase.push_back(0.0);
    }
    setModulationDepth(kDefaultModulationDepth);
    if (!m_plan.continuous())
        m_segmentLeft = nextSegmentLength(0);
}

void ToneSource::setModulationDepth(double depth)
{
    m_depth = depth;
    m_noiseSigma = m_impairments.snrDb ? std::sqrt(onPower() / std::pow(10.0, *m_impairments.snrDb / 10.0)) : 0.0;
}

double ToneSource::onPower() const
{
    const double component = m_amplitude * m_amplitude / 2.0;
    switch (m_plan.mix) {
    case TonePlan::Mix::Single:
        return component;
    case TonePlan::Mix::Sum:
        return component * static_cast<double>(m_plan.frequenciesHz.size());
    case TonePlan::Mix::Modulated:
        return component * (1.0 + m_depth * m_depth / 2.0);
    }
    return component;
}

double ToneSource::nextSegmentLength(std::size_t index)
{
    const double nominal = m_plan.cadenceMs[index] * (kLineSampleRate / 1000.0);
    const double jitter = m_impairments.cadenceJitterPercent / 100.0;
    if (jitter <= 0.0)
        return nominal;
    return std::max(1.0, std::round(nominal * m_jitter.uniform(1.0 - jitter, 1.0 + jitter)));
}

void ToneSource::read(std::span<std::int16_t> out)
{
    const bool modulated = m_plan.mix == TonePlan::Mix::Modulated;
    const std::size_t carriers = modulated ? 1 : m_step.size();
    for (std::int16_t &sample : out) {
        double value = 0.0;
        if (m_on) {
            for (std::size_t i = 0; i < carriers; ++i)
                value += std::sin(2.0 * std::numbers::pi * m_phase[i]);
            if (modulated)
                value *= 1.0 + m_depth * std::cos(2.0 * std::numbers::pi * m_phase[1]);
            value *= m_amplitude;
        }
        if (m_noiseSigma > 0.0)
            value += m_noiseSigma * m_noise.gaussian();
        sample = toSample(value);

        for (std::size_t i = 0; i < m_step.size(); ++i) {
            m_phase[i] += m_step[i];
            m_phase[i] -= std::floor(m_phase[i]);
        }
        ++m_position;
        if (!m_plan.continuous() && --m_segmentLeft <= 0.0) {
            m_segment = (m_segment + 1) % m_plan.cadenceMs.size();
            m_on = m_segment % 2 == 0;
            m_segmentLeft += nextSegmentLength(m_segment);
        }
    }
}

void ToneSource::skip(std::size_t count)
{
    std::vector<std::int16_t> scratch(std::min<std::size_t>(count, 4096));
    while (count > 0) {
        const std::size_t chunk = std::min(count, scratch.size());
        read(std::span(scratch.data(), chunk));
        count -= chunk;
    }
}

} // namespace telvox::sim
