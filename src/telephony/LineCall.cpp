#include "telephony/LineCall.h"

#include "core/MainTimers.h"
#include "telephony/AudioActions.h"
#include "telephony/LineTable.h"

namespace telvox {

namespace {

QString modeLetter(CallKind kind)
{
    switch (kind) {
    case CallKind::Message: return QStringLiteral("A");
    case CallKind::Handset: return QStringLiteral("M");
    case CallKind::Dialled: return QStringLiteral("O");
    case CallKind::None: break;
    }
    return {};
}

} // namespace

LineCall::LineCall(LineTable &lines, int line, MainTimers &timers, AudioActions &audio)
    : m_slot(lines[line])
    , m_line(line)
    , m_timers(timers)
    , m_audio(audio)
{
}

RecState LineCall::recState() const { return static_cast<RecState>(m_slot.recState); }

CallKind LineCall::kind() const
{
    if (m_slot.mode == QLatin1String("A"))
        return CallKind::Message;
    if (m_slot.mode == QLatin1String("M"))
        return CallKind::Handset;
    if (m_slot.mode == QLatin1String("O"))
        return CallKind::Dialled;
    return CallKind::None;
}

bool LineCall::isDialled() const { return m_slot.outgoing || m_timers.Timer4[m_line].isEnabled(); }

bool LineCall::offered(HCall call)
{
    // A capture still running from the line's previous call would be cut off by this one (and
    // a dialled call that never connected would make this one count as dialled).
    bool dialledEnded = false;
    if (m_slot.recState != 0 || isDialled())
        stopRecording(StopReason::CallGone, &dialledEnded);
    m_slot.hCall = call;
    return dialledEnded;
}

void LineCall::takenBy(Answerer who)
{
    m_slot.answering = static_cast<int>(who);
    m_timers.Timer1[m_line].setEnabled(false);
}

void LineCall::dialled(const QString &number)
{
    m_slot.outgoing = true;
    setCaller(number);
    m_slot.answering = static_cast<int>(Answerer::Person);
}

void LineCall::clearCaller() { m_slot.callerId.clear(); }

void LineCall::setCaller(const QString &number) { m_slot.callerId = QLatin1Char('~') + number; }

void LineCall::dialledConnected()
{
    m_timers.Timer4[m_line].setEnabled(true);
    m_slot.outgoing = false;
}

void LineCall::setAnswerConfirmed(bool confirmed) { m_slot.answerConfirmed = confirmed; }

bool LineCall::idle()
{
    m_timers.Timer1[m_line].setEnabled(false);
    bool dialledEnded = false;
    stopRecording(StopReason::CallGone, &dialledEnded);
    return dialledEnded;
}

void LineCall::released() { m_slot.hCall = 0; }

void LineCall::prepareRecording(CallKind kind)
{
    // A message is left on a call the system answered itself.
    if (kind == CallKind::Message)
        m_slot.answering = static_cast<int>(Answerer::Machine);
    m_slot.mode = modeLetter(kind);
}

void LineCall::prepareRecording(CallKind kind, RecState state)
{
    prepareRecording(kind);
    m_slot.recState = static_cast<int>(state);
}

void LineCall::startRecording(CallKind kind)
{
    prepareRecording(kind);
    m_audio.StartLineRecording(m_line);
}

void LineCall::startRecording(CallKind kind, RecState state)
{
    prepareRecording(kind, state);
    m_audio.StartLineRecording(m_line);
}

void LineCall::captureStarted()
{
    if (m_slot.recState != static_cast<int>(RecState::AwaitingAnswer))
        m_slot.recState = static_cast<int>(RecState::Recording);
}

RecState LineCall::stopRecording(StopReason reason, bool *dialledEnded)
{
    const bool callOver = reason == StopReason::Disconnected || reason == StopReason::CallGone
                          || reason == StopReason::HungUp;
    const bool dialled = callOver && isDialled();
    if (reason == StopReason::Disconnected)
        m_slot.digits.clear();

    const RecState was = recState();
    m_slot.recState = static_cast<int>(RecState::Idle);
    m_slot.answerConfirmed = false;
    // A timer still pending would start a recording on a call that no longer exists, and that
    // capture would then run into the next call on the line.
    m_timers.Timer4[m_line].setEnabled(false);
    bool notice = false;
    for (TimerArray<4> *steps : {&m_timers.timPlayLegalO, &m_timers.timPlayGreetingExO, &m_timers.timPlayGreetingExM}) {
        notice = notice || (*steps)[m_line].isEnabled();
        (*steps)[m_line].setEnabled(false);
    }
    if (notice)
        m_audio.ClosePromptOutput(m_line);

    if (was == RecState::AwaitingAnswer)
        m_audio.abandonCapture(m_line); // only analysed, never kept
    else if (was == RecState::Recording)
        m_audio.waveInReset(m_line); // the capture finishes; its file is written

    // Left set, the next incoming call on the line would be taken for a dialled one.
    if (dialled)
        m_slot.outgoing = false;
    if (dialledEnded)
        *dialledEnded = dialled;
    return was;
}

bool LineCall::requestCaptureStop()
{
    if (m_slot.recState == static_cast<int>(RecState::Idle))
        return false;
    m_slot.recState = static_cast<int>(RecState::Idle);
    return true;
}

bool LineCall::answerDialled(bool legalNoticeFirst)
{
    if (recState() != RecState::AwaitingAnswer)
        return false;
    if (!legalNoticeFirst) {
        m_slot.recState = static_cast<int>(RecState::Recording);
        return true;
    }
    // The legal notice needs the line's devices: this capture ends (nothing of it is kept),
    // then the notice plays and a new recording starts.
    m_audio.abandonCapture(m_line);
    m_timers.timPlayLegalO[m_line].setEnabled(true);
    return false;
}

void LineCall::drop() { m_timers.timDropCall[m_line].setEnabled(true); }

RecState LineCall::disconnected(bool *dialledEnded)
{
    const RecState was = stopRecording(StopReason::Disconnected, dialledEnded);
    drop();
    return was;
}

void LineCall::digitReceived(QChar digit)
{
    Timer &tollSaver = m_timers.timTollSaver[m_line];
    if (!tollSaver.isEnabled())
        tollSaver.setEnabled(true);
    m_slot.digits += digit;
    m_slot.digitIdle = 0;
}

bool LineCall::digitsIdleTick()
{
    ++m_slot.digitIdle;
    if (m_slot.digitIdle <= 3)
        return false;
    m_timers.timTollSaver[m_line].setEnabled(false);
    m_slot.digitIdle = 0;
    return true;
}

void LineCall::clearDigits() { m_slot.digits.clear(); }

} // namespace telvox
