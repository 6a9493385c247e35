// The line-event dispatcher: rings, call states, the signal tone and the caller's digits.

#include "telephony/TelephonyCore.h"

#include "core/EventLoop.h"
#include "core/Texts.h"
#include "records/StatusLog.h"
#include "telephony/AudioActions.h"

namespace telvox {

namespace {

// A number as it is shown with a sign position: a blank before a non-negative value.
QString withSignPosition(std::int32_t value)
{
    return value >= 0 ? QLatin1Char(' ') + QString::number(value) : QString::number(value);
}

} // namespace

void TelephonyCore::dialledCallEnded(int line, bool ended)
{
    if (ended && m_startDialerTimer)
        m_startDialerTimer(line);
}

void TelephonyCore::LineCallback(std::uint32_t device, std::uint32_t message, std::uintptr_t instance,
                                 std::uint32_t param1, std::uint32_t param2, std::uint32_t param3)
{
    (void)instance;
    switch (message) {
    case LINE_CALLINFO:
        if (param1 == kCallInfoStateCallerId)
            OnCallerId(device);
        break;
    case LINE_CALLSTATE:
        OnCallState(device, param1, param2, param3);
        break;
    case LINE_GENERATE:
        onSignalToneSent(device);
        break;
    case LINE_LINEDEVSTATE:
        OnRing(device, param1, param2, param3);
        break;
    case LINE_MONITORDIGITS:
        onDigit(device, param1);
        break;
    default: // address state, close, device-specific, gathered digits, replies, anything above 9
        break;
    }
}

void TelephonyCore::onSignalToneSent(HCall handle)
{
    const int n = m_lineTable.lineOfCall(handle);
    if (n < 0)
        return;
    call(n).endGreetingWatch();
    addStatus(lineText(n) + QStringLiteral(" 开始录音"));
    call(n).startRecording(CallKind::Message);
    addStatus(lineText(n) + m_s.texts.LoadText(1060));
}

void TelephonyCore::onDigit(HCall handle, std::uint32_t key)
{
    const int n = m_lineTable.lineOfCall(handle);
    if (n < 0)
        return;
    const QChar digit(static_cast<char16_t>(key & 0xFFFF));
    if (m_digitFilter && m_digitFilter(n, digit))
        return;
    call(n).digitReceived(digit);
}

void TelephonyCore::OnRing(HLine line, std::uint32_t param1, std::uint32_t param2, std::uint32_t param3)
{
    (void)param2;
    if (param1 != kLineDevStateRinging)
        return;
    const int n = m_lineTable.lineOfLineHandle(line);
    if (n < 0 || m_screen.isBlocked(n))
        return; // a blocked call never counts rings
    const auto count = static_cast<std::int32_t>(param3);
    if (m_screen.screenWithoutCallerId(n, count))
        return;
    if (m_chkRingCount && m_chkRingCount())
        addStatus(withSignPosition(count));

    if (count == m_ringsToAnswer) {
        call(n).takenBy(Answerer::Machine);
        AnswerCall(n);
        return;
    }
    if (m_options.actionMan)
        return;

    // The ring watch waits the learned gap for the next ring; pending events run before the
    // ring count is stored and the gap learned (rings 2 to 7), or before it runs again (later).
    const QString section = lineText(n);
    LineCall &c = call(n);
    const std::int64_t gap = c.ringArrived(count, m_s.loop.now());
    m_s.loop.doEvents();
    if (count == 1) {
        const int calls = parseLenientInt(m_s.settings.ReadSetting(section, QStringLiteral("Calls"), QStringLiteral("50")));
        c.setCallsSeen(calls);
        m_s.settings.WriteSettingLater(m_s.loop, section, QStringLiteral("Calls"), QString::number(static_cast<std::int64_t>(calls) + 1));
    } else if (count >= 2 && count <= 7) {
        const int k = count == 7 ? 6 : count - 1;
        if (const std::optional<int> learned = c.learnRingGap(k, gap))
            m_s.settings.WriteSettingLater(m_s.loop, section, QStringLiteral("Param") + QString::number(k), QString::number(*learned));
    } else {
        c.resumeRingWatch();
    }
}

void TelephonyCore::OnCallState(HCall handle, std::uint32_t param1, std::uint32_t param2, std::uint32_t param3)
{
    (void)param3;
    switch (param1) {
    case LineCallState::Idle:
        onIdle(handle);
        return;
    case LineCallState::Offering:
        onOffering(handle);
        return;
    case LineCallState::Connected:
        onConnected(handle, param2);
        return;
    case LineCallState::Disconnected:
        onDisconnected(handle);
        return;
    default: // accepted, dial tone, dialling, ring-back, busy, proceeding, on hold, ...
        return;
    }
}

void TelephonyCore::onIdle(HCall handle)
{
    const int n = m_lineTable.lineOfCall(handle);
    if (n < 0)
        return;
    m_screen.callEnded(n);
    // A call that goes idle without a disconnection leaves nothing running either.
    LineCall &c = call(n);
    dialledCallEnded(n, c.idle());
    m_s.service.lineDeallocateCall(m_lineTable[n].hCall);
    c.released();
    watchCallState(n, LineCallState::Idle);
}

void TelephonyCore::onOffering(HCall handle)
{
    LineCallInfo info;
    if (m_s.service.lineGetCallInfo(handle, info) != 0)
        return;
    const int n = m_lineTable.lineOfLineHandle(info.hLine);
    if (n < 0)
        return;
    // A call still running on the line is over: it is ended now and its recording finished.
    LineCall &c = call(n);
    dialledCallEnded(n, c.offered(handle));
    m_screen.callOffered(n);
    watchCallState(n, LineCallState::Offering);
    addStatus(lineText(n) + QStringLiteral(" Ring..."));
    c.clearCaller();
    m_ringsToAnswer = parseLenientInt(m_options.txtRings);
    if (m_pickRingCount)
        m_ringsToAnswer = m_pickRingCount(m_ringsToAnswer);
    if ((info.callerIdFlags & (CallPartyId::Address | CallPartyId::Blocked)) && m_screen.screen(handle, info))
        return; // caller ID came before the first ring: blocked before it rings at all
    if (m_options.actionMan)
        offerToPerson(n);
}

void TelephonyCore::offerToPerson(int line)
{
    CallerPopup::Row &row = m_popup->row(line);
    m_popup->ensureLoaded();
    row.answerVisible = true;
    row.hangupVisible = true;
    if (m_lineTable[line].ringGap[1] != 0)
        m_popup->show();
    else
        m_popup->refreshFrame();
    ++m_popCount;
}

void TelephonyCore::onConnected(HCall handle, std::uint32_t connectedMode)
{
    const int n = m_lineTable.lineOfCall(handle);
    if (n < 0)
        return;
    if (m_screen.isBlocked(n)) {
        m_s.audio.PlayBlockedNotice(n); // answered for the notice: Timer3 hangs up after it
        return;
    }
    watchCallState(n, LineCallState::Connected);
    const LineSlot &slot = m_lineTable[n];
    LineCall &c = call(n);
    const bool confirmed = (connectedMode & kConnectedModeConfirmed) != 0;
    if (confirmed && !slot.outgoing && c.recordingUnderWay()) {
        // A dialled call already connected for its early media (ring-back or an
        // announcement judged by ear) is now answered by the far end's signalling.
        confirmDialledAnswer(n);
        return;
    }
    StartDigitMonitor(n);
    c.setAnswerConfirmed(slot.outgoing && confirmed);
    if (slot.answering == Answerer::Machine) {
        m_s.audio.PlayGreeting(n);
        return;
    }
    if (slot.outgoing) {
        c.dialledConnected();
        return;
    }
    if (m_chkLegal && m_chkLegal()) {
        m_s.audio.PlayLegalNotice(n);
        return;
    }
    c.startRecording(CallKind::Handset);
    addStatus(lineText(n) + m_s.texts.LoadText(1060));
}

void TelephonyCore::onDisconnected(HCall handle)
{
    // Also with the busy-tone detector option: the detector ends recordings on lines that
    // report no disconnection, but a call that is reported gone is over either way.
    const int n = m_lineTable.lineOfCall(handle);
    if (n >= 0 && m_screen.isBlocked(n)) {
        call(n).drop();
        return;
    }
    if (n >= 0) {
        addStatus(lineText(n) + QLatin1Char(' ') + m_s.texts.LoadText(1063)); // "Line0 Disconnected"
        // Whatever the line was doing: a recording is finished, an unanswered dialled call
        // is dropped, a recording about to start does not, and the line is hung up.
        bool dialledEnded = false;
        call(n).disconnected(&dialledEnded);
        dialledCallEnded(n, dialledEnded);
        watchCallState(n, LineCallState::Disconnected);
    }
    if (m_options.actionMan) {
        --m_popCount;
        if (m_popCount < 1)
            m_popup->unload();
    }
}

} // namespace telvox
