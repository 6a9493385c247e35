#pragma once

#include "telephony/LineTable.h"

#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace telvox {

class AudioActions;
class EventLoop;
class Timer;

// Why a call's capture ends. The call-is-over reasons also end a dialled call that was being
// set up; the others only end the capture (the dialler's Drop keeps the dialled mark, and the
// touch-tone menu clears the digits itself after the command has run).
enum class StopReason {
    Disconnected, // the service reported the far end gone: the keyed digits go too
    CallGone,     // the call went idle, or the next call was offered over it
    HungUp,       // the caller pop-up's Hang Up button
    Dropped,      // the dialler's Drop button
    Detector,     // silence or busy tone heard on the line
    ToneCommand,  // the caller keyed the hang-up command
};

// The call on one line, one object per line for the program's life (the line table makes
// them). Its state is the CallState part of the line's row of the table, which everyone else
// reads only; its timers are its own. LineCall is the one place that changes either: the call
// flow, the audio engine's prompt steps, the touch-tone menu and the triggers say what happens
// (the intent methods below), and the call arms and stops its timers accordingly. Who acts when
// a timer ticks is installed on the table (LineTable::setTimerHandler).
class LineCall
{
public:
    LineCall(const LineCall &) = delete;
    LineCall &operator=(const LineCall &) = delete;
    ~LineCall();

    RecState recState() const;
    // A dialled call is being set up: placed and not yet connected, or connected and waiting
    // for Timer4 to start its recording.
    bool isDialled() const;

    // --- Ringing and answering -------------------------------------------------------------
    // Ring `count` arrived at `now`: the ring watch (Timer1) is armed with the learned gap for
    // the next ring. Rings 2 to 7 return the gap measured from the previous ring (plus the
    // 100 ms margin). From ring 8 on (and for a count below 1) the watch waits, disabled,
    // until resumeRingWatch() once pending events have run; nothing is learned.
    std::int64_t ringArrived(int count, std::int64_t now);
    void resumeRingWatch();
    // The ring watch's interval until the next ring (the stored gap, at start).
    void setRingWatchInterval(int ms);
    // The gaps learned on earlier calls, as stored in the settings.
    void useRingGaps(const std::array<int, 7> &gaps);
    // The weight of the learned averages: the calls seen on the line before this one.
    void setCallsSeen(int calls);
    // Entry k of the learned gaps takes in `gap`; the new value, or none when the weight
    // would divide by zero.
    std::optional<int> learnRingGap(int k, std::int64_t gap);

    // A new call is offered on the line: it becomes the line's call, with no caller yet. A
    // call still running from before is ended first (StopReason::CallGone). True when that
    // ended a dialled call that was being set up.
    bool offered(HCall call);
    // The ringing call will be taken by `who`; the ring watch stops. The call is answered
    // (or refused) by the service afterwards.
    void takenBy(Answerer who);
    // Asks the service to place a call to `number` on the open line. The service writes the new
    // call's handle straight into the line's call: it may report the call's first states before
    // it returns. The service's request identifier (positive: the call is being placed).
    std::int32_t place(TelephonyService &service, const QString &number);
    // The dialler placed a call to `number` on the line (after the service accepted it).
    void dialled(const QString &number);
    void clearCaller();
    void setCaller(const QString &number); // the caller part of the file name: "~" + number
    // The dialled call connected: its recording starts when Timer4 fires.
    void dialledConnected();
    // The line's signalling says (or not) that the called party of a dialled call answered.
    void setAnswerConfirmed(bool confirmed);
    // The call went idle: the ring watch stops and the call ends (true when it was a dialled
    // call being set up). Once the service has released it, released() forgets the handle.
    bool idle();
    void released();

    // --- Prompts (the audio engine's steps) ------------------------------------------------
    // The greeting (or the refusal notice) plays: the greeting watch (Timer3) waits for its end.
    void watchGreeting();
    // The greeting watch (Timer3) stops: the greeting is over, or its tone was sent.
    void endGreetingWatch();
    // The legal notice plays before the recording of `kind` (Handset or Dialled): its watch
    // (timPlayGreetingExM or timPlayGreetingExO) waits for its end.
    void watchNotice(CallKind kind);
    // That watch saw the end of the notice: it stops (the recording starts next).
    void endNoticeWatch(CallKind kind);
    // The legal notice of an answered dialled call is due: its delayed start (timPlayLegalO,
    // armed by answerDialled) stops, and the notice plays.
    void noticeDue();
    // A recording of the call is under way or about to start: Timer4, a capture, or the legal
    // notice of a dialled call (due, or playing).
    bool recordingUnderWay() const;

    // --- Recording -----------------------------------------------------------------------------
    // Sets the kind (and, when given, recState) a recording is about to start with; the audio
    // engine's own steps use this before they start the capture themselves. A message is
    // recorded on a call the system answered itself (Answerer::Machine).
    void prepareRecording(CallKind kind);
    void prepareRecording(CallKind kind, RecState state);
    // Starts the recording of the call: the capture reads the kind and the caller for the file
    // name and sets recState to Recording (AwaitingAnswer stays). A dialled call's recording
    // start (Timer4) has then come.
    void startRecording(CallKind kind);
    void startRecording(CallKind kind, RecState state);
    // The capture has started: Recording, unless the dialled call is still AwaitingAnswer.
    void captureStarted();
    // Ends the line's part in the call, whatever it was doing: nothing may start a recording
    // for it any more (the dialled-call start, the legal notice steps and their watches stop;
    // a notice still playing is closed); a recording is finished and written; a dialled call
    // never answered is dropped without a file; recState is Idle. Returns recState before.
    // `dialledEnded` (when given) says whether a dialled call being set up ended with it.
    RecState stopRecording(StopReason reason, bool *dialledEnded = nullptr);
    // The capture only is asked to stop (the recording folder ran out of space): true when a
    // capture was running; the caller then resets the device.
    bool requestCaptureStop();
    // A dialled call that was only being listened to was answered: the capture becomes the
    // recording (true). With the legal notice first, the capture ends unkept and the notice
    // step starts (it records afterwards). Any other recState is left alone (false).
    bool answerDialled(bool legalNoticeFirst);

    // --- Hanging up ---------------------------------------------------------------------------
    // The line is hung up shortly (timDropCall).
    void drop();
    // The drop timer fired: it stops, and the caller asks the service to drop the call.
    void dropDue();
    // The far end hung up: the call is stopped and the line dropped, as one step.
    RecState disconnected(bool *dialledEnded = nullptr);

    // --- Digits ------------------------------------------------------------------------------
    void digitReceived(QChar digit);
    // One toll-saver tick: true when the digits have been idle long enough to run as a command.
    bool digitsIdleTick();
    void clearDigits();

    // The call's timers, to look at: only the intent methods above arm and stop them.
    const Timer &timer(CallTimer which) const;

private:
    friend class LineTable;
    // `tick` runs when one of the call's timers ticks.
    LineCall(LineSlot &slot, int line, EventLoop &loop, AudioActions &audio, std::function<void(CallTimer)> tick);
    Timer &own(CallTimer which);
    Timer &ringWatch() { return own(CallTimer::Timer1); }

    LineSlot &m_slot;
    int m_line;
    AudioActions &m_audio;
    std::array<std::unique_ptr<Timer>, kCallTimerCount> m_timers;
};

// value / divisor rounded to the nearest integer, a half going to the even neighbour.
std::int64_t roundHalfEven(std::int64_t value, std::int64_t divisor);

} // namespace telvox
