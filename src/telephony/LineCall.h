#pragma once

#include "telephony/LineTable.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace telvox {

class AudioActions;
class Timer;
struct MainTimers;

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

// The call on one line, as the call flow changes it. Its state is the CallState part of the
// line's row of the line table, which everyone else reads only (the table lets LineCall alone
// write it); the line's timers stay in MainTimers' per-line arrays (where the tick handlers are
// installed). LineCall is the one place that changes either of them for a call. It holds
// references only: make one where it is needed (TelephonyCore::call(n), or from the table, the
// timers and the audio actions).
class LineCall
{
public:
    LineCall(LineTable &lines, int line, MainTimers &timers, AudioActions &audio);

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

    // The greeting watch (Timer3) stops: the greeting is over, or its tone was sent.
    void endGreetingWatch();

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

private:
    Timer &ringWatch();

    LineSlot &m_slot;
    int m_line;
    MainTimers &m_timers;
    AudioActions &m_audio;
};

// value / divisor rounded to the nearest integer, a half going to the even neighbour.
std::int64_t roundHalfEven(std::int64_t value, std::int64_t divisor);

} // namespace telvox
