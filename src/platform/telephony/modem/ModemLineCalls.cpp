// The voice-modem line: call state (incoming, offered, answered, dialled, ended), caller-ID
// assembly and touch tones, and the line functions the telephony service calls.

#include "platform/telephony/modem/ModemLine.h"

#include "core/EventLoop.h"
#include "platform/telephony/modem/ModemAudio.h"

#include <algorithm>

namespace telvox::modem {

namespace {

bool accepted(const QByteArray &result) { return result == "OK" || result == "VCON"; }

} // namespace

// --- calls -----------------------------------------------------------------------------------

void ModemLine::emitEvent(std::uint32_t device, std::uint32_t message, std::uint32_t p1, std::uint32_t p2,
                          std::uint32_t p3)
{
    if (m_slot.hLine != 0 && m_emit)
        m_emit(device, message, p1, p2, p3);
}

void ModemLine::reply(std::int32_t request, std::int32_t result)
{
    emitEvent(0, LINE_REPLY, static_cast<std::uint32_t>(request), static_cast<std::uint32_t>(result), 0);
}

void ModemLine::setCallState(std::uint32_t state, std::uint32_t detail)
{
    m_slot.callState = state;
    emitEvent(m_slot.hCall, LINE_CALLSTATE, state, detail, kCallPrivilegeOwner);
}

void ModemLine::newIncomingCall()
{
    m_slot.hCall = m_nextHandle ? m_nextHandle() : m_slot.hCall + 1;
    m_slot.callState = 0;
    m_slot.incoming = true;
    m_offered = false;
    m_disconnected = false;
    m_slot.monitoring = false;
    m_slot.generating = false;
    m_voiceRefused = false;
    m_slot.ringCount = 0;
    m_callerId = {};
    m_callerId.flags = CallPartyId::Unknown;
    m_callerIdKnown = false;
    m_inDtmfBlock = false;
    m_lastDigit = 0;
    m_farEndAnswered = false;
}

void ModemLine::ring()
{
    if (m_slot.hLine == 0) {
        m_cid.clear();
        return;
    }
    const bool busyLine = m_slot.hCall != 0 && m_slot.callState != LineCallState::Idle
        && (!m_slot.incoming || m_offHook || m_answering || m_slot.callState == LineCallState::Connected);
    if (busyLine)
        return; // call waiting: the line is in use
    flushCallerId();
    if (m_slot.hCall == 0 || m_slot.callState == LineCallState::Idle || !m_slot.incoming)
        newIncomingCall();
    ++m_slot.ringCount;
    if (!m_offered) {
        m_offered = true;
        setCallState(LineCallState::Offering);
        if (m_callerIdKnown)
            emitEvent(m_slot.hCall, LINE_CALLINFO, kCallInfoStateCallerId, 0, 0);
    }
    if (m_slot.lineStates & kLineDevStateRinging)
        emitEvent(m_slot.hLine, LINE_LINEDEVSTATE, kLineDevStateRinging, 1, static_cast<std::uint32_t>(m_slot.ringCount));
    m_graceTimer->setEnabled(false);
    m_graceTimer->setEnabled(true);
}

void ModemLine::flushCallerId()
{
    m_cidTimer->setEnabled(false);
    if (!m_cid.hasData())
        return;
    const CallerIdData data = m_cid.take();
    if (m_slot.hLine == 0 || m_offHook || m_answering)
        return;
    if (m_slot.hCall != 0 && m_slot.callState != LineCallState::Idle && !m_slot.incoming)
        return;
    if (m_slot.hCall == 0 || m_slot.callState == LineCallState::Idle || !m_slot.incoming)
        newIncomingCall();
    // A report in several packets, or parts of it seconds apart: every part adds to the call's.
    if (m_callerIdKnown)
        mergeCallerId(m_callerId, data);
    else
        m_callerId = data;
    m_callerIdKnown = true;
    if (m_offered)
        emitEvent(m_slot.hCall, LINE_CALLINFO, kCallInfoStateCallerId, 0, 0);
}

void ModemLine::ringingStopped()
{
    m_graceTimer->setEnabled(false);
    if (m_slot.incoming && m_slot.callState == LineCallState::Offering && !m_answering && !m_offHook)
        setCallState(LineCallState::Idle);
}

void ModemLine::farEndGone()
{
    if (m_slot.hCall == 0 || m_disconnected || m_hangingUp)
        return;
    if (m_slot.callState != LineCallState::Connected && m_slot.callState != LineCallState::Dialing)
        return;
    m_disconnected = true;
    setCallState(LineCallState::Disconnected, kDisconnectModeNormal);
}

void ModemLine::endCallOnFault()
{
    // What the capture has is kept; nothing is made up for the time after the fault.
    if (m_in && m_in->running())
        m_captureCut = true;
    if (m_pendingRequest != 0) {
        reply(m_pendingRequest, LineErr::OperationFailed);
        m_pendingRequest = 0;
    }
    m_answering = false;
    if (m_slot.generating) {
        m_slot.generating = false;
        emitEvent(m_slot.hCall, LINE_GENERATE, kGenerateTermCancel, 0, 0);
    }
    if (m_slot.hCall != 0) {
        if (m_slot.callState == LineCallState::Offering) {
            m_graceTimer->setEnabled(false);
            setCallState(LineCallState::Idle);
        } else {
            farEndGone();
        }
    }
    if (m_out)
        m_out->allPlayed();
    m_offHook = false;
    m_hangingUp = false;
}

void ModemLine::digit(char key)
{
    // Simple reports come once per key press, however fast the presses follow each other.
    // Between <DLE>/ and <DLE>~ the key is repeated while it is held: one press, one digit.
    if (m_inDtmfBlock && key == m_lastDigit)
        return;
    m_lastDigit = key;
    if (m_slot.monitoring && m_slot.callState == LineCallState::Connected)
        emitEvent(m_slot.hCall, LINE_MONITORDIGITS, static_cast<unsigned char>(key), kDigitModeDtmf, 0);
}

// --- the line functions ----------------------------------------------------------------------

void ModemLine::close()
{
    if (m_slot.hCall != 0 && m_slot.callState != LineCallState::Idle && (m_offHook || m_answering || !m_slot.incoming)) {
        m_hangingUp = true;
        m_answering = false;
        queueHangUp();
        pump();
    }
    m_graceTimer->setEnabled(false);
    m_offered = false;
    m_pendingRequest = 0;
}

void ModemLine::fillCallInfo(LineCallInfo &info) const
{
    info.hLine = m_slot.hLine;
    info.callState = m_slot.callState;
    info.callerIdFlags = m_callerId.flags;
    info.callerIdNumber = m_callerId.number;
    info.callerIdName = m_callerId.name;
}

std::int32_t ModemLine::answer()
{
    if (!m_slot.incoming || m_slot.callState != LineCallState::Offering || m_answering || m_offHook)
        return LineErr::InvalCallState;
    if (m_portState != PortState::Ready || !m_voice)
        return LineErr::ResourceUnavail;
    const std::int32_t request = m_nextRequest ? m_nextRequest() : 1;
    m_answering = true;
    m_pendingRequest = request;
    m_graceTimer->setEnabled(false);
    queueVoiceSetup();
    const HCall call = m_slot.hCall;
    queue(m_profile->offHookCommand.toLatin1(), [this, request, call](const QByteArray &result, const QList<QByteArray> &) {
        m_answering = false;
        m_pendingRequest = 0;
        if (call != m_slot.hCall || m_slot.callState != LineCallState::Offering) {
            // Dropped while going off-hook: the hang-up that follows puts it back.
            m_offHook = accepted(result);
            return;
        }
        if (!accepted(result)) {
            reply(request, LineErr::OperationFailed);
            m_graceTimer->setEnabled(true);
            return;
        }
        m_offHook = true;
        m_lastPadAt = m_loop.now();
        m_tickTimer->setEnabled(true);
        reply(request, 0);
        setCallState(LineCallState::Connected);
    });
    pump();
    return request;
}

std::int32_t ModemLine::drop()
{
    const std::int32_t request = m_nextRequest ? m_nextRequest() : 1;
    if (m_slot.generating) {
        m_slot.generating = false;
        emitEvent(m_slot.hCall, LINE_GENERATE, kGenerateTermCancel, 0, 0);
    }
    if (m_pendingRequest != 0) {
        reply(m_pendingRequest, LineErr::OperationFailed);
        m_pendingRequest = 0;
    }
    m_graceTimer->setEnabled(false);
    m_slot.monitoring = false;
    if (m_portState != PortState::Closed) {
        if (!m_offHook && !m_answering && m_slot.incoming) {
            // A ringing call cannot be refused on an analog line: it is picked up and hung up.
            m_hangingUp = true;
            queue("AT+FCLASS=8");
            queue(m_profile->offHookCommand.toLatin1());
            queueHangUp();
        } else {
            m_hangingUp = true;
            queueHangUp();
        }
    }
    m_answering = false;
    // The call is gone for the application: what it still plays comes back at once.
    if (m_out) {
        m_out->lineGone();
        m_out = nullptr;
    }
    reply(request, 0);
    setCallState(LineCallState::Idle);
    pump();
    return request;
}

std::int32_t ModemLine::generateDigits(const QString &digits, std::uint32_t durationMs)
{
    if (m_slot.generating)
        emitEvent(m_slot.hCall, LINE_GENERATE, kGenerateTermCancel, 0, 0);
    QByteArray list;
    for (const QChar key : digits) {
        if (!list.isEmpty())
            list += ',';
        if (durationMs == 0)
            list += key.toLatin1();
        else
            list += '{' + QByteArray(1, key.toLatin1()) + ',' + QByteArray::number(std::max<std::uint32_t>(1, durationMs / 10)) + '}';
    }
    m_slot.generating = true;
    const HCall call = m_slot.hCall;
    const int timeout = m_options.commandTimeoutMs
        + static_cast<int>(digits.size()) * static_cast<int>(std::min<std::uint32_t>(durationMs ? durationMs : 100, 5000) + 100);
    queue("AT+VTS=" + list, [this, call](const QByteArray &result, const QList<QByteArray> &) {
        if (!m_slot.generating || call != m_slot.hCall)
            return;
        m_slot.generating = false;
        emitEvent(m_slot.hCall, LINE_GENERATE, result == "OK" ? kGenerateTermDone : kGenerateTermCancel, 0, 0);
    }, timeout);
    pump();
    return 0;
}

void ModemLine::callFreed()
{
    m_offered = false;
    m_callerIdKnown = false;
}

std::int32_t ModemLine::makeCall(const QString &number, HCall &call)
{
    QByteArray dial;
    for (const QChar c : number) {
        if (isDtmfKey(c) || c == QLatin1Char(',') || c == QLatin1Char('W') || c == QLatin1Char('w'))
            dial += c.toUpper().toLatin1();
    }
    if (dial.isEmpty())
        return LineErr::InvalAddress;
    if (m_portState != PortState::Ready || !m_voice || m_hangingUp)
        return LineErr::ResourceUnavail;
    const std::int32_t request = m_nextRequest ? m_nextRequest() : 1;
    newIncomingCall();
    m_slot.incoming = false;
    m_offered = true;
    call = m_slot.hCall;
    reply(request, 0);
    setCallState(LineCallState::Dialing);
    queueVoiceSetup();
    const HCall handle = m_slot.hCall;
    queue("ATD" + dial + ';', [this, handle](const QByteArray &result, const QList<QByteArray> &) {
        // Off-hook whatever came of it; the hang-up puts the line back.
        m_offHook = true;
        if (handle != m_slot.hCall || m_slot.callState != LineCallState::Dialing)
            return;
        m_lastPadAt = m_loop.now();
        m_tickTimer->setEnabled(true);
        if (accepted(result)) {
            setCallState(LineCallState::Connected);
        } else {
            status(notice::kDialFailed, {QString::fromLatin1(result)});
            m_disconnected = true;
            setCallState(LineCallState::Disconnected, kDisconnectModeNormal);
        }
    }, m_options.dialTimeoutMs);
    pump();
    return request;
}

} // namespace telvox::modem
