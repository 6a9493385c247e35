#pragma once

// The inside of a virtual line, shared by the files of the virtual exchange:
// VirtualExchange.cpp (the line functions the system calls), VirtualExchangeFarEnd.cpp (what
// the far ends do) and VirtualLineAudio.cpp (the audio the line carries).

#include "core/EventLoop.h"
#include "sim/audio/SampleSource.h"
#include "sim/exchange/VirtualExchange.h"

#include <deque>

namespace telvox {

namespace virtual_line {

inline constexpr int kDigitSpacingMs = 250;
inline constexpr int kDefaultDigitMs = 100;
inline constexpr int kInterDigitMs = 50;
inline constexpr int kCallerIdAfterRingMs = 500;

// One key as heard on the line: the tone for `onMs`, then `offMs` of silence.
void appendDtmf(std::vector<std::int16_t> &out, QChar key, int onMs, int offMs);

} // namespace virtual_line


// The audio path of one virtual line. While the system is off-hook the line carries the
// exchange's tone when there is one (ring-back, busy), otherwise the far end's voice, with
// the far end's touch tones added; what the system plays is counted, and kept when asked.
class VirtualExchange::Audio final : public LineAudioChannel
{
public:
    void readFromLine(std::span<std::int16_t> out) override
    {
        std::fill(out.begin(), out.end(), std::int16_t{0});
        if (!carrying)
            return;
        if (exchangeTone)
            exchangeTone->read(out);
        else if (farEnd)
            farEnd->read(out);
        for (std::int16_t &sample : out) {
            if (farDigits.empty())
                break;
            sample = sim::toSample(static_cast<double>(sample) + farDigits.front());
            farDigits.pop_front();
        }
    }
    void writeToLine(std::span<const std::int16_t> samples) override
    {
        if (carrying)
            hear(samples);
    }
    void hear(std::span<const std::int16_t> samples)
    {
        heardCount += samples.size();
        if (keepHeard) {
            marks.push_back({heard.size(), nowMs});
            heard.insert(heard.end(), samples.begin(), samples.end());
        }
    }

    bool carrying = false;
    std::shared_ptr<sim::SampleSource> farEnd;
    std::shared_ptr<sim::SampleSource> exchangeTone;
    std::deque<std::int16_t> farDigits;
    std::uint64_t heardCount = 0;
    bool keepHeard = false;
    std::vector<std::int16_t> heard;
    std::vector<VirtualExchange::HeardMark> marks;
    std::int64_t nowMs = 0; // the virtual time of the samples being written
};

struct VirtualExchange::Line : CallSlot
{
    VirtualDevice setup; // how the device answers the line functions
    IncomingCall call;
    bool ringing = false;
    bool handsetOffHook = false;
    bool farEndGone = false;
    QString dialled;
    QString digitsHeard;
    QString farDigitQueue;
    OutgoingBehaviour outgoing;
    int outgoingPhase = 0; // 0 dialling, 1 ringing back / busy, 2 answered

    std::unique_ptr<Timer> ringTimer;
    std::unique_ptr<Timer> callerIdTimer;
    std::unique_ptr<Timer> digitTimer;
    std::unique_ptr<Timer> outgoingTimer;
    std::unique_ptr<Timer> generateTimer;
    Audio audio;
};

inline VirtualExchange::Line &VirtualExchange::lineOf(CallSlot &slot) { return static_cast<Line &>(slot); }
inline const VirtualExchange::Line &VirtualExchange::lineOf(const CallSlot &slot)
{
    return static_cast<const Line &>(slot);
}
inline int VirtualExchange::indexOf(const Line &line) { return static_cast<int>(line.device); }

} // namespace telvox
