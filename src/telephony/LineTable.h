#pragma once

#include "platform/telephony/TelephonyService.h"

#include <QString>

#include <array>
#include <cstdint>

namespace telvox {

// Everything the system knows about one of the four lines. All fields start at 0, empty or
// false; the comments say which part of the call flow sets them.
struct LineSlot
{
    HLine hLine = 0;               // line handle from lineOpen; 0: line not open
    HCall hCall = 0;               // the line's current call; 0: none
    int answering = 0;             // 1: the system answers as an answering machine
    bool outgoing = false;         // a call placed by the dialler is being set up
    std::int64_t ringTime = 0;     // time of the latest ring (event loop clock, ms)
    std::array<int, 7> ringGap{};  // learned ring-watch intervals, entries 1..6 (0 unused)
    int callsSeen = 0;             // weight of the learned averages
    int recState = 0;              // 0 idle or stop requested, 1 recording, 2 dialled call not yet answered
    bool answerConfirmed = false;  // the line's signalling says the dialled call was answered
    QString mode;                  // "A" message, "M" answered by a person, "O" dialled call
    QString callerId;              // "" or "~" + the caller's number
    QString digits;                // touch tones keyed during the call
    int digitIdle = 0;             // toll-saver ticks since the last digit
    bool playing = false;          // a prompt is being played to the line
    std::uintptr_t hWaveIn = 0;
    std::uintptr_t hWaveOut = 0;
    std::int32_t waveDeviceId = 0;
    std::uint32_t mediaModes = 0;  // media mode the line is opened with
};

inline constexpr int kLineCount = 4;

class LineTable
{
public:
    LineSlot &operator[](int line) { return m_slots.at(static_cast<std::size_t>(line)); }
    const LineSlot &operator[](int line) const { return m_slots.at(static_cast<std::size_t>(line)); }

    // The lowest line whose line handle is `handle`; -1 when none (a 0 handle never matches).
    int lineOfLineHandle(HLine handle) const
    {
        for (int n = 0; n < kLineCount; ++n) {
            if (handle != 0 && m_slots[static_cast<std::size_t>(n)].hLine == handle)
                return n;
        }
        return -1;
    }
    // The lowest line whose current call is `call`; -1 when none (a 0 handle never matches).
    int lineOfCall(HCall call) const
    {
        for (int n = 0; n < kLineCount; ++n) {
            if (call != 0 && m_slots[static_cast<std::size_t>(n)].hCall == call)
                return n;
        }
        return -1;
    }

private:
    std::array<LineSlot, kLineCount> m_slots{};
};

} // namespace telvox
