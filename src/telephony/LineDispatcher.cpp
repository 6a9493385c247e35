// The line-event dispatcher: rings, call states, the signal tone and the caller's digits.

#include "telephony/TelephonyCore.h"

#include "core/EventLoop.h"
#include "core/MainTimers.h"
#include "core/Texts.h"
#include "records/StatusLog.h"
#include "telephony/AudioActions.h"
#include "telephony/LineCapture.h"

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

// A number as it is shown with a sign position: a blank before a non-negative value.
QString withSignPosition(std::int32_t value)
{
    return value >= 0 ? QLatin1Char(' ') + QString::number(value) : QString::number(value);
}

} // namespace

int TelephonyCore::endCall(int line)
{
    LineSlot &slot = m_lineTable[line];
    const bool dialled = slot.outgoing || m_s.timers.Timer4[line].isEnabled();
    const int was = endLineCapture(line, m_lineTable, m_s.timers, m_s.audio);
    if (dialled) {
        // Left set, the next incoming call on the line would be taken for a dialled one.
        slot.outgoing = false;
        if (m_startDialerTimer)
            m_startDialerTimer(line);
    }
    return was;
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
    case LINE_GENERATE: {
        // The signal tone after the greeting has been sent (or cancelled): record the message.
        const int n = m_lineTable.lineOfCall(device);
        if (n < 0)
            break;
        m_s.timers.Timer3[n].setEnabled(false);
        m_lineTable[n].answering = 1;
        m_lineTable[n].mode = QStringLiteral("A");
        addStatus(lineText(n) + QStringLiteral(" 开始录音"));
        m_s.audio.StartLineRecording(n);
        addStatus(lineText(n) + m_s.texts.LoadText(1060));
        break;
    }
    case LINE_LINEDEVSTATE:
        OnRing(device, param1, param2, param3);
        break;
    case LINE_MONITORDIGITS: {
        const int n = m_lineTable.lineOfCall(device);
        if (n < 0)
            break;
        Timer &tollSaver = m_s.timers.timTollSaver[n];
        if (!tollSaver.isEnabled())
            tollSaver.setEnabled(true);
        m_lineTable[n].digits += QChar(static_cast<char16_t>(param1 & 0xFFFF));
        m_lineTable[n].digitIdle = 0;
        break;
    }
    default: // address state, close, device-specific, gathered digits, replies, anything above 9
        break;
    }
}

void TelephonyCore::OnRing(HLine line, std::uint32_t param1, std::uint32_t param2, std::uint32_t param3)
{
    (void)param2;
    if (param1 != kLineDevStateRinging)
        return;
    const int n = m_lineTable.lineOfLineHandle(line);
    if (n < 0 || m_blockedCall[static_cast<std::size_t>(n)])
        return; // a blocked call never counts rings
    const auto count = static_cast<std::int32_t>(param3);
    if (m_chkRingCount && m_chkRingCount())
        addStatus(withSignPosition(count));

    Timer &watch = m_s.timers.Timer1[n];
    if (count == m_ringsToAnswer) {
        m_lineTable[n].answering = 1;
        watch.setEnabled(false);
        AnswerCall(n);
        return;
    }
    if (m_options.actionMan)
        return;

    const QString section = lineText(n);
    if (count == 1) {
        m_lineTable[n].ringTime = m_s.loop.now();
        watch.setInterval(m_lineTable[n].ringGap[1]);
        watch.setEnabled(true);
        m_s.loop.doEvents();
        const int calls = parseLenientInt(m_s.settings.ReadSetting(section, QStringLiteral("Calls"), QStringLiteral("50")));
        m_lineTable[n].callsSeen = calls;
        m_s.settings.WriteSettingLater(m_s.loop, section, QStringLiteral("Calls"), QString::number(static_cast<std::int64_t>(calls) + 1));
    } else if (count >= 2 && count <= 7) {
        watch.setEnabled(false);
        // The gap is measured before pending events run, from the ring time stored then.
        const std::int64_t gap = m_s.loop.now() - m_lineTable[n].ringTime + 100;
        m_lineTable[n].ringTime = m_s.loop.now();
        watch.setInterval(m_lineTable[n].ringGap[static_cast<std::size_t>(std::min(count, 6))]);
        watch.setEnabled(true);
        m_s.loop.doEvents();
        const int k = count == 7 ? 6 : count - 1;
        LineSlot &slot = m_lineTable[n];
        const std::int64_t weight = slot.callsSeen;
        // A stored weight of -1 would divide by zero: such a ring teaches nothing.
        if (weight + 1 != 0) {
            const std::int64_t learned
                = roundHalfEven(weight * slot.ringGap[static_cast<std::size_t>(k)] + gap, weight + 1);
            slot.ringGap[static_cast<std::size_t>(k)] = clampToInt(learned);
            m_s.settings.WriteSettingLater(m_s.loop, section, QStringLiteral("Param") + QString::number(k),
                                           QString::number(slot.ringGap[static_cast<std::size_t>(k)]));
        }
    } else {
        watch.setEnabled(false);
        watch.setInterval(m_lineTable[n].ringGap[6]);
        m_s.loop.doEvents();
        watch.setEnabled(true);
    }
}

void TelephonyCore::OnCallState(HCall call, std::uint32_t param1, std::uint32_t param2, std::uint32_t param3)
{
    (void)param3;
    switch (param1) {
    case LineCallState::Idle: {
        const int n = m_lineTable.lineOfCall(call);
        if (n < 0)
            return;
        m_s.timers.Timer1[n].setEnabled(false);
        m_blockedCall[static_cast<std::size_t>(n)] = false;
        // A call that goes idle without a disconnection leaves nothing running either.
        endCall(n);
        m_s.service.lineDeallocateCall(m_lineTable[n].hCall);
        m_lineTable[n].hCall = 0;
        return;
    }
    case LineCallState::Offering: {
        LineCallInfo info;
        if (m_s.service.lineGetCallInfo(call, info) != 0)
            return;
        const int n = m_lineTable.lineOfLineHandle(info.hLine);
        if (n < 0)
            return;
        // A capture still running from the line's previous call would be cut off by this one
        // (and a dialled call that never connected would make this one count as dialled):
        // that call is over, so it is ended now and its recording finished.
        if (m_lineTable[n].recState != 0 || m_lineTable[n].outgoing || m_s.timers.Timer4[n].isEnabled())
            endCall(n);
        m_lineTable[n].hCall = call;
        m_blockedCall[static_cast<std::size_t>(n)] = false;
        addStatus(lineText(n) + QStringLiteral(" Ring..."));
        m_lineTable[n].callerId.clear();
        m_ringsToAnswer = parseLenientInt(m_options.txtRings);
        if (m_pickRingCount)
            m_ringsToAnswer = m_pickRingCount(m_ringsToAnswer);
        if ((info.callerIdFlags & (CallPartyId::Address | CallPartyId::Blocked)) && screenCaller(call, info))
            return; // caller ID came before the first ring: blocked before it rings at all
        if (m_options.actionMan) {
            CallerPopup::Row &row = m_popup->row(n);
            m_popup->ensureLoaded();
            row.answerVisible = true;
            row.hangupVisible = true;
            if (m_lineTable[n].ringGap[1] != 0)
                m_popup->show();
            else
                m_popup->refreshFrame();
            ++m_popCount;
        }
        return;
    }
    case LineCallState::Connected: {
        const int n = m_lineTable.lineOfCall(call);
        if (n < 0)
            return;
        if (m_blockedCall[static_cast<std::size_t>(n)]) {
            m_s.audio.PlayBlockedNotice(n); // answered for the notice: Timer3 hangs up after it
            return;
        }
        LineSlot &slot = m_lineTable[n];
        const bool confirmed = (param2 & kConnectedModeConfirmed) != 0;
        if (confirmed && !slot.outgoing
            && (m_s.timers.Timer4[n].isEnabled() || slot.recState != 0 || m_s.timers.timPlayLegalO[n].isEnabled()
                || m_s.timers.timPlayGreetingExO[n].isEnabled())) {
            // A dialled call already connected for its early media (ring-back or an
            // announcement judged by ear) is now answered by the far end's signalling.
            confirmDialledAnswer(n);
            return;
        }
        StartDigitMonitor(n);
        slot.answerConfirmed = slot.outgoing && confirmed;
        if (slot.answering != 0) {
            m_s.audio.PlayGreeting(n);
            return;
        }
        if (!slot.outgoing) {
            if (m_chkLegal && m_chkLegal()) {
                m_s.audio.PlayLegalNotice(n);
                return;
            }
            slot.mode = QStringLiteral("M");
            m_s.audio.StartLineRecording(n);
            addStatus(lineText(n) + m_s.texts.LoadText(1060));
            return;
        }
        m_s.timers.Timer4[n].setEnabled(true);
        slot.outgoing = false;
        return;
    }
    case LineCallState::Disconnected: {
        // Also with the busy-tone detector option: the detector ends recordings on lines that
        // report no disconnection, but a call that is reported gone is over either way.
        const int n = m_lineTable.lineOfCall(call);
        if (n >= 0 && m_blockedCall[static_cast<std::size_t>(n)]) {
            m_s.timers.timDropCall[n].setEnabled(true);
            return;
        }
        if (n >= 0) {
            LineSlot &slot = m_lineTable[n];
            addStatus(lineText(n) + m_s.texts.LoadText(1063));
            slot.digits.clear();
            // Whatever the line was doing: a recording is finished, an unanswered dialled call
            // is dropped, a recording about to start does not.
            endCall(n);
            m_s.timers.timDropCall[n].setEnabled(true);
        }
        if (m_options.actionMan) {
            --m_popCount;
            if (m_popCount < 1)
                m_popup->unload();
        }
        return;
    }
    default: // accepted, dial tone, dialling, ring-back, busy, proceeding, on hold, ...
        return;
    }
}

} // namespace telvox
