#pragma once

#include "platform/telephony/TelephonyService.h"

#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

namespace telvox {

class AudioActions;
class EventLoop;
class LineCall;

// Where the line's call is in its recording.
enum class RecState {
    Idle = 0,           // not recording, or a stop was requested
    Recording = 1,      // the capture is kept as the recording
    AwaitingAnswer = 2, // a dialled call not yet answered: captured and analysed, not kept
};
// The state's number, as the status display and the line tests compare it.
constexpr bool operator==(RecState state, int number) { return static_cast<int>(state) == number; }

// The kind of recording: the mode letter that starts its file name.
enum class CallKind {
    None,    // "": no recording started on this call yet
    Message, // "A": a message left after the greeting
    Handset, // "M": answered by a person (handset or the Answer button)
    Dialled, // "O": a call placed by the dialler
};
QString modeLetter(CallKind kind);
// A kind equals its mode letter ("" for None).
inline bool operator==(CallKind kind, const QString &letter) { return modeLetter(kind) == letter; }
inline bool operator==(CallKind kind, const char *letter) { return modeLetter(kind) == QLatin1StringView(letter); }

// Who takes a ringing call.
enum class Answerer {
    Person = 0,  // handset or the Answer button: the conversation is recorded
    Machine = 1, // the system plays the greeting and records a message
};

// The line itself: the line manager opens it and chooses its media mode.
struct LineData
{
    HLine hLine = 0;              // line handle from lineOpen; 0: line not open
    std::uint32_t mediaModes = 0; // media mode the line is opened with
};

// The call on the line. Only the line's LineCall writes these.
struct CallState
{
    HCall hCall = 0;                        // the line's current call; 0: none
    Answerer answering = Answerer::Person;  // who takes the call
    bool outgoing = false;                  // a call placed by the dialler is being set up
    std::int64_t ringTime = 0;              // time of the latest ring (event loop clock, ms)
    std::array<int, 7> ringGap{};           // learned ring-watch intervals, entries 1..6 (0 unused)
    int callsSeen = 0;                      // weight of the learned averages
    RecState recState = RecState::Idle;
    bool answerConfirmed = false;           // the line's signalling says the dialled call was answered
    CallKind mode = CallKind::None;
    QString callerId;                       // "" or "~" + the caller's number
    QString digits;                         // touch tones keyed during the call
    int digitIdle = 0;                      // toll-saver ticks since the last digit
};

// The line's audio devices: the audio engine's.
struct LineDevice
{
    bool playing = false; // a prompt is being played to the line
    std::uintptr_t hWaveIn = 0;
    std::uintptr_t hWaveOut = 0;
    std::int32_t waveDeviceId = 0;
};

// Everything the system knows about one of the four lines, as the windows read it.
struct LineSlot : LineData, CallState, LineDevice
{
};

inline constexpr int kLineCount = 4;

// The timers of the call on a line, by their names in the main window, with their intervals.
enum class CallTimer {
    Timer1,             // ring watch: the rings stopped early (the learned gap; until then 20000 on
                        // line 0 and 15000 on the others)
    Timer3,             // 500: waits for the end of the greeting, then the tone
    Timer4,             // 1000: a dialled call was connected: start recording
    timDropCall,        // 500: hangs up the line
    timTollSaver,       // 800: idle time after touch-tone digits
    timPlayLegalO,      // 350: a dialled call was answered: the legal notice starts
    timPlayGreetingExO, // 500: waits for the end of that notice, then records the dialled call
    timPlayGreetingExM, // 500: waits for the end of the legal notice before a handset recording
};
inline constexpr int kCallTimerCount = 8;

// The four lines and the call on each. Readers get a row as it is; each part has its one
// writer: the line manager (line()), the audio engine (device()) and the line's call (call(n),
// the call state and the call's timers).
class LineTable
{
public:
    // The calls' timers run on `loop`; the calls ask `audio` for the line's recordings and
    // prompts (start, end, close).
    LineTable(EventLoop &loop, AudioActions &audio);
    ~LineTable();
    LineTable(const LineTable &) = delete;
    LineTable &operator=(const LineTable &) = delete;

    const LineSlot &operator[](int line) const { return m_slots.at(static_cast<std::size_t>(line)); }
    LineData &line(int line) { return m_slots.at(static_cast<std::size_t>(line)); }
    LineDevice &device(int line) { return m_slots.at(static_cast<std::size_t>(line)); }
    LineCall &call(int line) { return *m_calls.at(static_cast<std::size_t>(line)); }
    const LineCall &call(int line) const { return *m_calls.at(static_cast<std::size_t>(line)); }

    // Who acts when the timer `which` of a line's call ticks: `handler(line)`, the same for
    // every line (empty: nobody). The call flow, the audio engine and the touch-tone menu
    // install theirs.
    void setTimerHandler(CallTimer which, std::function<void(int line)> handler);

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
    std::array<std::unique_ptr<LineCall>, kLineCount> m_calls;
    std::array<std::function<void(int)>, kCallTimerCount> m_timerHandlers;
};

} // namespace telvox
