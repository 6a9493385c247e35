#include "sim/exchange/VirtualLine.h"

#include "sim/tones/TonePlans.h"
#include "sim/tones/ToneSource.h"

#include <algorithm>
#include <cmath>
#include <numbers>

// The audio side of the virtual exchange: touch tones, the exchange's tones, what the far end
// heard, and the lines' wave devices.

namespace telvox {

namespace virtual_line {

namespace {


// The two frequencies of a touch-tone key; {0, 0} for a character that is none.
std::pair<double, double> dtmfPair(QChar key)
{
    static const char keys[] = "123A456B789C*0#D";
    static const double rows[] = {697, 770, 852, 941};
    static const double cols[] = {1209, 1336, 1477, 1633};
    for (int i = 0; i < 16; ++i) {
        if (key == QLatin1Char(keys[i]))
            return {rows[i / 4], cols[i % 4]};
    }
    return {0, 0};
}

} // namespace

void appendDtmf(std::vector<std::int16_t> &out, QChar key, int onMs, int offMs)
{
    const auto [low, high] = dtmfPair(key);
    const int on = onMs * sim::kLineSampleRate / 1000;
    const int off = offMs * sim::kLineSampleRate / 1000;
    const double amplitude = 6000.0;
    for (int i = 0; i < on; ++i) {
        const double t = static_cast<double>(i) / sim::kLineSampleRate;
        out.push_back(sim::toSample(amplitude * (std::sin(2 * std::numbers::pi * low * t)
                                                 + std::sin(2 * std::numbers::pi * high * t))));
    }
    out.insert(out.end(), static_cast<std::size_t>(off), 0);
}


} // namespace virtual_line

std::vector<int> VirtualExchange::ringCadence() const
{
    if (const sim::TonePlan *plan = sim::TonePlans::builtIn().find(m_setup.country, sim::ToneKind::Ringback);
        plan && !plan->continuous())
        return plan->cadenceMs;
    return {2000, 4000};
}

std::shared_ptr<sim::SampleSource> VirtualExchange::toneSource(int kind) const
{
    const sim::ToneKind toneKind = static_cast<sim::ToneKind>(kind);
    const sim::TonePlan *plan = sim::TonePlans::builtIn().find(m_setup.country, toneKind);
    if (!plan)
        plan = sim::TonePlans::builtIn().find("United States/Canada", toneKind);
    if (!plan)
        return nullptr;
    const double level = toneKind == sim::ToneKind::Ringback ? -19.0 : -24.0;
    return std::make_shared<sim::ToneSource>(*plan, sim::ToneLevel::dbm0(level));
}

std::uint64_t VirtualExchange::heardSampleCount(int index) const
{
    if (index < 0 || index >= deviceCount())
        return 0;
    return m_lines[static_cast<std::size_t>(index)]->audio.heardCount;
}

void VirtualExchange::keepHeardAudio(int index, bool keep)
{
    if (index < 0 || index >= deviceCount())
        return;
    Audio &audio = m_lines[static_cast<std::size_t>(index)]->audio;
    audio.keepHeard = keep;
    if (!keep) {
        std::vector<std::int16_t>().swap(audio.heard);
        std::vector<HeardMark>().swap(audio.marks);
    }
}

const std::vector<VirtualExchange::HeardMark> &VirtualExchange::heardMarks(int index) const
{
    static const std::vector<HeardMark> none;
    if (index < 0 || index >= deviceCount())
        return none;
    return m_lines[static_cast<std::size_t>(index)]->audio.marks;
}

const std::vector<std::int16_t> &VirtualExchange::heardByFarEnd(int index) const
{
    static const std::vector<std::int16_t> none;
    if (index < 0 || index >= deviceCount())
        return none;
    return m_lines[static_cast<std::size_t>(index)]->audio.heard;
}

LineAudioChannel *VirtualExchange::audioChannel(std::uint32_t waveDeviceId)
{
    for (std::uint32_t base : {kWaveInBase, kWaveOutBase}) {
        if (waveDeviceId >= base && waveDeviceId < base + m_lines.size())
            return &m_lines[waveDeviceId - base]->audio;
    }
    return nullptr;
}

WaveResult VirtualExchange::openIn(int deviceId, const PcmFormat &format, WaveCallback callback,
                                   std::unique_ptr<WaveIn> &device)
{
    return m_paced.openIn(deviceId, format, std::move(callback), device);
}

WaveResult VirtualExchange::openOut(int deviceId, const PcmFormat &format, WaveCallback callback,
                                    std::unique_ptr<WaveOut> &device)
{
    return m_paced.openOut(deviceId, format, std::move(callback), device);
}


} // namespace telvox
