#pragma once

#include "sim/audio/Random.h"
#include "sim/audio/SampleSource.h"
#include "sim/tones/TonePlans.h"

#include <optional>

namespace telvox::sim {

// Sending level of each frequency component of a tone (for "a*b", of the carrier).
// dBm0 follows the G.711 convention: 0 dBm0 is 3.17 dB below a full-scale sine, so a
// component at -24 dBm0 peaks at -27.2 dBFS. dBFS gives the component's peak against a
// full-scale sine (32767).
struct ToneLevel
{
    enum class Unit { Dbm0, Dbfs };

    double value = -13.0;
    Unit unit = Unit::Dbm0;

    static ToneLevel dbm0(double value) { return {value, Unit::Dbm0}; }
    static ToneLevel dbfs(double value) { return {value, Unit::Dbfs}; }
    // Peak amplitude of one component in 16-bit units.
    double peakAmplitude() const;
};

// Line impairments applied by the generator, for tests.
struct ToneImpairments
{
    // White Gaussian noise, present during on and off segments alike, at this ratio of the
    // tone's power while on to the noise power; none when empty.
    std::optional<double> snrDb;
    // Every frequency (carrier and modulating) is scaled by 1 + offset / 100.
    double frequencyOffsetPercent = 0.0;
    // Each on and off segment lasts its nominal time scaled by a factor drawn uniformly from
    // [1 - jitter / 100, 1 + jitter / 100].
    double cadenceJitterPercent = 0.0;
    std::uint64_t seed = 1;
};

// Plays one tone plan as 8000 Hz, 16-bit samples: the cadence starts with its first on
// segment at sample 0 and repeats; the oscillators run on through the off segments, so the
// phase is continuous across segments and across reads. On/off switching is abrupt, as from
// an exchange's tone gate.
class ToneSource final : public SampleSource
{
public:
    // Depth of the amplitude modulation of "a*b" tones unless set otherwise.
    static constexpr double kDefaultModulationDepth = 0.9;

    explicit ToneSource(const TonePlan &plan, ToneLevel level = {}, ToneImpairments impairments = {});

    void read(std::span<std::int16_t> out) override;
    // Reads and drops `count` samples.
    void skip(std::size_t count);

    // Whether the next sample lies in an on segment.
    bool isOn() const { return m_on; }
    // Samples produced so far.
    std::int64_t position() const { return m_position; }

    void setModulationDepth(double depth);
    double modulationDepth() const { return m_depth; }
    // Mean power of the tone while on, in squared 16-bit units.
    double onPower() const;

private:
    double nextSegmentLength(std::size_t index);

    TonePlan m_plan;
    double m_amplitude;
    ToneImpairments m_impairments;
    double m_depth = kDefaultModulationDepth;
    std::vector<double> m_step; // per oscillator: cycles per sample
    std::vector<double> m_phase;
    Random m_noise;
    Random m_jitter;
    double m_noiseSigma = 0.0;
    std::int64_t m_position = 0;
    std::size_t m_segment = 0;
    double m_segmentLeft = 0.0; // samples left in the current segment
    bool m_on = true;
};

} // namespace telvox::sim
