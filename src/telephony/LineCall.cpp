#include "telephony/LineCall.h"

#include "core/EventLoop.h"
#include "telephony/AudioActions.h"
#include "telephony/LineTable.h"

#include <algorithm>
#include <limits>

namespace telvox {

std::int64_t roundHalfEven(std::int64_t value, std::int64_t divisor)
{
    if (divisor < 0) {
        value = -value;
        divisor = -divisor;
    }
    std::int64_t quotient = value / divisor;
    std::int64_t remainder = value % divisor;
    if (remainder < 0) { // floor division
        --quotient;
        remainder += divisor;
    }
    const std::int64_t twice = 2 * remainder;
    if (twice > divisor || (twice == divisor && (quotient % 2 != 0)))
        ++quotient;
    return quotient;
}

namespace {

int clampToInt(std::int64_t value)
{
    return static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                                     std::numeric_limits<int>::max()));
}

// The watch for the end of the legal notice played before a recording of `kind`.
CallTimer noticeWatch(CallKind kind)
{
    return kind == CallKind::Dialled ? CallTimer::timPlayGreetingExO : CallTimer::timPlayGreetingExM;
}

} // namespace

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

LineTable::LineTable(EventLoop &loop, AudioActions &audio)
{
    for (int n = 0; n < kLineCount; ++n) {
        const auto i = static_cast<std::size_t>(n);
        m_calls[i].reset(new LineCall(m_slots[i], n, loop, audio, [this, n](CallTimer which) {
            if (const auto &handler = m_timerHandlers[static_cast<std::size_t>(which)])
                handler(n);
        }));
    }
}

LineTable::~LineTable() = default;

void LineTable::setTimerHandler(CallTimer which, std::function<void(int)> handler)
{
    m_timerHandlers[static_cast<std::size_t>(which)] = std::move(handler);
}

LineCall::LineCall(LineSlot &slot, int line, EventLoop &loop, AudioActions &audio, std::function<void(CallTimer)> tick)
    : m_slot(slot)
    , m_line(line)
    , m_audio(audio)
{
    // In the order of CallTimer.
    constexpr std::array<int, kCallTimerCount> intervals{20000, 500, 1000, 500, 800, 350, 500, 500};
    for (std::size_t k = 0; k < m_timers.size(); ++k) {
        const auto which = static_cast<CallTimer>(k);
        m_timers[k] = loop.createTimer(intervals[k], [tick, which] { tick(which); });
    }
    if (line != 0)
        ringWatch().setInterval(15000);
}

LineCall::~LineCall() = default;

Timer &LineCall::own(CallTimer which) { return *m_timers.at(static_cast<std::size_t>(which)); }

const Timer &LineCall::timer(CallTimer which) const { return *m_timers.at(static_cast<std::size_t>(which)); }

RecState LineCall::recState() const { return m_slot.recState; }

std::int64_t LineCall::ringArrived(int count, std::int64_t now)
{
    Timer &watch = ringWatch();
    if (count == 1) {
        m_slot.ringTime = now;
        watch.setInterval(m_slot.ringGap[1]);
        watch.setEnabled(true);
        return 0;
    }
    watch.setEnabled(false);
    if (count >= 2 && count <= 7) {
        // The gap is measured before pending events run, from the ring time stored then.
        const std::int64_t gap = now - m_slot.ringTime + 100;
        m_slot.ringTime = now;
        watch.setInterval(m_slot.ringGap[static_cast<std::size_t>(std::min(count, 6))]);
        watch.setEnabled(true);
        return gap;
    }
    watch.setInterval(m_slot.ringGap[6]);
    return 0;
}

void LineCall::resumeRingWatch() { ringWatch().setEnabled(true); }

void LineCall::setRingWatchInterval(int ms) { ringWatch().setInterval(ms); }

void LineCall::useRingGaps(const std::array<int, 7> &gaps) { m_slot.ringGap = gaps; }

void LineCall::setCallsSeen(int calls) { m_slot.callsSeen = calls; }

std::optional<int> LineCall::learnRingGap(int k, std::int64_t gap)
{
    const std::int64_t weight = m_slot.callsSeen;
    // A stored weight of -1 would divide by zero: such a ring teaches nothing.
    if (weight + 1 == 0)
        return std::nullopt;
    int &entry = m_slot.ringGap[static_cast<std::size_t>(k)];
    entry = clampToInt(roundHalfEven(weight * entry + gap, weight + 1));
    return entry;
}

bool LineCall::isDialled() const { return m_slot.outgoing || timer(CallTimer::Timer4).isEnabled(); }

bool LineCall::offered(HCall call)
{
    // A capture still running from the line's previous call would be cut off by this one (and
    // a dialled call that never connected would make this one count as dialled).
    bool dialledEnded = false;
    if (m_slot.recState != RecState::Idle || isDialled())
        stopRecording(StopReason::CallGone, &dialledEnded);
    m_slot.hCall = call;
    return dialledEnded;
}

void LineCall::takenBy(Answerer who)
{
    m_slot.answering = who;
    ringWatch().setEnabled(false);
}

std::int32_t LineCall::place(TelephonyService &service, const QString &number)
{
    return service.lineMakeCall(m_slot.hLine, m_slot.hCall, number, 0);
}

void LineCall::dialled(const QString &number)
{
    m_slot.outgoing = true;
    setCaller(number);
    m_slot.answering = Answerer::Person;
}

void LineCall::clearCaller() { m_slot.callerId.clear(); }

void LineCall::setCaller(const QString &number) { m_slot.callerId = QLatin1Char('~') + number; }

void LineCall::dialledConnected()
{
    own(CallTimer::Timer4).setEnabled(true);
    m_slot.outgoing = false;
}

void LineCall::setAnswerConfirmed(bool confirmed) { m_slot.answerConfirmed = confirmed; }

bool LineCall::idle()
{
    ringWatch().setEnabled(false);
    bool dialledEnded = false;
    stopRecording(StopReason::CallGone, &dialledEnded);
    return dialledEnded;
}

void LineCall::released() { m_slot.hCall = 0; }

void LineCall::watchGreeting() { own(CallTimer::Timer3).setEnabled(true); }

void LineCall::endGreetingWatch() { own(CallTimer::Timer3).setEnabled(false); }

void LineCall::watchNotice(CallKind kind) { own(noticeWatch(kind)).setEnabled(true); }

void LineCall::endNoticeWatch(CallKind kind) { own(noticeWatch(kind)).setEnabled(false); }

void LineCall::noticeDue() { own(CallTimer::timPlayLegalO).setEnabled(false); }

bool LineCall::recordingUnderWay() const
{
    return timer(CallTimer::Timer4).isEnabled() || m_slot.recState != RecState::Idle
           || timer(CallTimer::timPlayLegalO).isEnabled() || timer(CallTimer::timPlayGreetingExO).isEnabled();
}

void LineCall::prepareRecording(CallKind kind)
{
    // A message is left on a call the system answered itself.
    if (kind == CallKind::Message)
        m_slot.answering = Answerer::Machine;
    m_slot.mode = kind;
}

void LineCall::prepareRecording(CallKind kind, RecState state)
{
    prepareRecording(kind);
    m_slot.recState = state;
}

void LineCall::startRecording(CallKind kind)
{
    prepareRecording(kind);
    m_audio.StartLineRecording(m_line);
}

void LineCall::startRecording(CallKind kind, RecState state)
{
    if (kind == CallKind::Dialled)
        own(CallTimer::Timer4).setEnabled(false);
    prepareRecording(kind, state);
    m_audio.StartLineRecording(m_line);
}

void LineCall::captureStarted()
{
    if (m_slot.recState != RecState::AwaitingAnswer)
        m_slot.recState = RecState::Recording;
}

RecState LineCall::stopRecording(StopReason reason, bool *dialledEnded)
{
    const bool callOver = reason == StopReason::Disconnected || reason == StopReason::CallGone
                          || reason == StopReason::HungUp;
    const bool dialled = callOver && isDialled();
    if (reason == StopReason::Disconnected)
        m_slot.digits.clear();

    const RecState was = recState();
    m_slot.recState = RecState::Idle;
    m_slot.answerConfirmed = false;
    // A timer still pending would start a recording on a call that no longer exists, and that
    // capture would then run into the next call on the line.
    own(CallTimer::Timer4).setEnabled(false);
    bool notice = false;
    for (CallTimer step : {CallTimer::timPlayLegalO, CallTimer::timPlayGreetingExO, CallTimer::timPlayGreetingExM}) {
        notice = notice || own(step).isEnabled();
        own(step).setEnabled(false);
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
    if (m_slot.recState == RecState::Idle)
        return false;
    m_slot.recState = RecState::Idle;
    return true;
}

bool LineCall::answerDialled(bool legalNoticeFirst)
{
    if (recState() != RecState::AwaitingAnswer)
        return false;
    if (!legalNoticeFirst) {
        m_slot.recState = RecState::Recording;
        return true;
    }
    // The legal notice needs the line's devices: this capture ends (nothing of it is kept),
    // then the notice plays and a new recording starts.
    m_audio.abandonCapture(m_line);
    own(CallTimer::timPlayLegalO).setEnabled(true);
    return false;
}

void LineCall::drop() { own(CallTimer::timDropCall).setEnabled(true); }

void LineCall::dropDue() { own(CallTimer::timDropCall).setEnabled(false); }

RecState LineCall::disconnected(bool *dialledEnded)
{
    const RecState was = stopRecording(StopReason::Disconnected, dialledEnded);
    drop();
    return was;
}

void LineCall::digitReceived(QChar digit)
{
    Timer &tollSaver = own(CallTimer::timTollSaver);
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
    own(CallTimer::timTollSaver).setEnabled(false);
    m_slot.digitIdle = 0;
    return true;
}

void LineCall::clearDigits() { m_slot.digits.clear(); }

} // namespace telvox
