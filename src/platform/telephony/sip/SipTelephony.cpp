#include "platform/telephony/sip/SipTelephony.h"

#include "core/EventLoop.h"
#include "platform/telephony/sip/SipTelephonyLine.h"

#include <QMetaObject>

#include <algorithm>
#include <numeric>

namespace telvox::sip {

namespace {
std::vector<SipLineSetup> setupsOf(const std::vector<SipLineConfig> &lines)
{
    std::vector<SipLineSetup> setups;
    for (const SipLineConfig &l : lines)
        setups.push_back(l.setup);
    return setups;
}
} // namespace

SipTelephony::SipTelephony(EventLoop &loop, std::vector<SipLineConfig> lines)
    : CallTableService(loop, 0x00C70001)
    , m_loop(loop)
    , m_paced(loop, 20)
    , m_stack(setupsOf(lines), [this](const StackEvent &e) { receive(e); })
{
    for (std::size_t i = 0; i < lines.size(); ++i) {
        auto line = std::make_unique<Line>();
        line->index = static_cast<int>(i);
        line->config = lines[i];
        Line *l = line.get();
        const int period = std::accumulate(l->config.ringCadenceMs.begin(), l->config.ringCadenceMs.end(), 0);
        line->ringTimer = m_loop.createTimer(std::max(period, 100), [this, l] { ringTick(*l); });
        table().add(*l);
        m_lines.push_back(std::move(line));
        const int id = kWaveDeviceBase + static_cast<int>(i);
        LineMedia *media = &m_stack.media(static_cast<int>(i));
        // The recorder swaps its one-second buffers on a timer of its own: what the line
        // delivers meanwhile waits (as on a sound card), up to the half second the jitter
        // buffer also lets a stalled reader catch up on.
        m_paced.addInput(id, [media](std::span<std::int16_t> out) { media->readFromLine(out); }, 500);
        m_paced.addOutput(id, [media](std::span<const std::int16_t> in) { media->writeToLine(in); });
    }
}

SipTelephony::~SipTelephony() { m_stack.stop(); }

QString SipTelephony::start() { return m_stack.start(); }

// --- events from the stack ------------------------------------------------------------------

void SipTelephony::receive(const StackEvent &event)
{
    {
        const std::lock_guard lock(m_inboxMutex);
        m_inbox.push_back(event);
    }
    QMetaObject::invokeMethod(&m_context, [this] { drainEvents(); }, Qt::QueuedConnection);
}

void SipTelephony::drainEvents()
{
    for (;;) {
        StackEvent event;
        {
            const std::lock_guard lock(m_inboxMutex);
            if (m_inbox.empty())
                return;
            event = m_inbox.front();
            m_inbox.pop_front();
        }
        handle(event);
    }
}

void SipTelephony::handle(const StackEvent &event)
{
    if (event.line < 0 || event.line >= lineCount())
        return;
    Line &l = *m_lines[static_cast<std::size_t>(event.line)];
    switch (event.kind) {
    case StackEvent::Kind::Incoming: return onIncoming(l, event);
    case StackEvent::Kind::Refused: return refused(l, event, event.code);
    case StackEvent::Kind::Strangers:
        return tell(notice::kStrangerMedia, l, QString::number(event.code), event.reason);
    case StackEvent::Kind::Progress: return onProgress(l, event);
    case StackEvent::Kind::Established: return onEstablished(l, event);
    case StackEvent::Kind::Ended: return onEnded(l, event);
    case StackEvent::Kind::Digit: return onDigit(l, event);
    case StackEvent::Kind::Registered:
    case StackEvent::Kind::RegistrationFailed: return registrationNews(l, event);
    case StackEvent::Kind::DigitsSent: return onDigitsSent(l, event);
    }
}

void SipTelephony::onIncoming(Line &l, const StackEvent &event)
{
    if (!l.isOpen()) { // nobody here to take it
        m_stack.hangUp(l.index, event.call, 480);
        return refused(l, event, 480);
    }
    if (l.hCall != 0) {
        // The stack carries one call per line, so the previous call has ended at the far
        // end; the call flow is still letting go of it (stopping the recording, dropping
        // the call). The new call waits for that, unless another is waiting already.
        if (l.waiting) {
            m_stack.hangUp(l.index, event.call, 486);
            return refused(l, event, 486);
        }
        l.waiting = event;
        return;
    }
    offer(l, event);
}

void SipTelephony::onProgress(Line &l, const StackEvent &event)
{
    if (event.call != l.sipCall || l.incoming)
        return;
    if (l.callState == LineCallState::Dialing)
        table().setState(l, LineCallState::Ringback);
    // Early media: the line carries the far end's audio from now on, and the call flow
    // judges it (ring-back, busy tone, a voice) as it does on an analog line.
    if (event.earlyMedia && l.callState == LineCallState::Ringback)
        table().setState(l, LineCallState::Connected);
}

void SipTelephony::onEstablished(Line &l, const StackEvent &event)
{
    if (event.call != l.sipCall)
        return;
    if (!l.incoming
        && (l.callState == LineCallState::Dialing || l.callState == LineCallState::Ringback
            || l.callState == LineCallState::Connected)) {
        // The 200 OK is the answer, also after early media: CONNECTED again, confirmed, so
        // a called party who answers and says nothing is recorded all the same.
        table().setState(l, LineCallState::Connected, kConnectedModeConfirmed);
        return;
    }
    if (l.answering && (l.callState == LineCallState::Offering || l.callState == LineCallState::Accepted)) {
        l.answering = false;
        table().setState(l, LineCallState::Connected);
    }
}

void SipTelephony::onEnded(Line &l, const StackEvent &event)
{
    if (l.waiting && event.call == l.waiting->call) {
        l.waiting.reset(); // the waiting caller gave up
        return;
    }
    if (event.call != l.sipCall || l.hCall == 0)
        return;
    stopRinging(l);
    l.sipCall = 0;
    table().cancelDigits(l);
    if (l.callState == LineCallState::Connected || (l.answering && event.answered)
        || (!l.incoming && (l.callState == LineCallState::Dialing || l.callState == LineCallState::Ringback))) {
        // Hung up, or (a call we placed) refused: busy, declined, unreachable.
        table().setState(l, LineCallState::Disconnected);
    } else if (l.callState == LineCallState::Offering || l.callState == LineCallState::Accepted) {
        // Given up, or taken by another phone of the group: never answered here.
        l.answering = false;
        if (event.elsewhere)
            tell(notice::kAnsweredElsewhere, l);
        table().setState(l, LineCallState::Idle);
    }
}

void SipTelephony::onDigit(Line &l, const StackEvent &event)
{
    if (event.call == l.sipCall && l.monitoring && l.callState == LineCallState::Connected)
        table().post(l, l.hCall, LINE_MONITORDIGITS, static_cast<unsigned char>(event.digit), kDigitModeDtmf, 0);
}

void SipTelephony::onDigitsSent(Line &l, const StackEvent &event)
{
    if (event.call == l.sipCall && l.generating) {
        l.generating = false;
        table().post(l, l.hCall, LINE_GENERATE, kGenerateTermDone, 0, 0);
    }
}

void SipTelephony::offer(Line &l, const StackEvent &event)
{
    table().newCall(l, true);
    l.sipCall = event.call;
    l.answering = false;
    l.callerNumber = event.caller.number;
    l.callerName = event.caller.name;
    if (event.caller.withheld)
        l.callerIdFlags = CallPartyId::Blocked;
    if (!l.callerNumber.isEmpty())
        l.callerIdFlags |= CallPartyId::Address;
    if (!l.callerName.isEmpty())
        l.callerIdFlags |= CallPartyId::Name;
    if (l.callerIdFlags == 0)
        l.callerIdFlags = CallPartyId::Unavail;
    table().setState(l, LineCallState::Offering);
    table().post(l, l.hCall, LINE_CALLINFO, kCallInfoStateCallerId, 0, 0);
    l.ringTimer->setEnabled(true);
    ringTick(l); // the first ring now
}

void SipTelephony::ringTick(Line &line)
{
    if (line.callState != LineCallState::Offering || line.answering) {
        stopRinging(line);
        return;
    }
    ++line.ringCount;
    if (line.lineStates & kLineDevStateRinging)
        table().post(line, line.hLine, LINE_LINEDEVSTATE, kLineDevStateRinging, 1,
                     static_cast<std::uint32_t>(line.ringCount));
}

void SipTelephony::stopRinging(Line &line) { line.ringTimer->setEnabled(false); }

// --- the line functions: the SIP side of what the table checked -----------------------------

std::uint32_t SipTelephony::offeredModes(const CallSlot &) const
{
    return MediaMode::InteractiveVoice | MediaMode::AutomatedVoice;
}

std::int32_t SipTelephony::describe(const CallSlot &slot, LineDevCaps &caps)
{
    QByteArray uri = m_stack.contactUri(static_cast<int>(slot.device));
    if (uri.isEmpty())
        uri = m_lines[slot.device]->config.setup.listenAddress.toUtf8();
    caps.lineName = "SIP " + uri;
    caps.mediaModes = offeredModes(slot);
    return 0;
}

std::int32_t SipTelephony::openRefusal(const CallSlot &) const
{
    return m_stack.running() ? 0 : LineErr::ResourceUnavail;
}

std::int32_t SipTelephony::answerCall(CallSlot &slot)
{
    Line &l = lineOf(slot);
    if (!l.incoming || l.answering || l.callState != LineCallState::Offering)
        return LineErr::InvalCallState;
    const std::int32_t request = table().nextRequest();
    stopRinging(l);
    l.answering = true;
    m_stack.answer(l.index, l.sipCall);
    // CONNECTED follows when the caller acknowledges the 200 OK.
    table().reply(l, request);
    return request;
}

std::int32_t SipTelephony::dropCall(CallSlot &slot)
{
    Line &l = lineOf(slot);
    const std::int32_t request = table().nextRequest();
    if (l.sipCall != 0)
        m_stack.hangUp(l.index, l.sipCall, 486);
    l.sipCall = 0;
    stopRinging(l);
    l.answering = false;
    table().cancelDigits(l);
    table().reply(l, request);
    table().setState(l, LineCallState::Idle);
    return request;
}

std::int32_t SipTelephony::lineReject(HCall call, RejectReason reason)
{
    CallSlot *slot = table().lineOfCall(call);
    if (!slot)
        return LineErr::InvalCallHandle;
    Line &l = lineOf(*slot);
    if (!l.incoming || l.answering || l.callState != LineCallState::Offering)
        return LineErr::InvalCallState;
    m_stack.hangUp(l.index, l.sipCall, reason == RejectReason::Busy ? 486 : 603);
    l.sipCall = 0; // refused already: lineDrop only ends the call here
    return lineDrop(call);
}

std::int32_t SipTelephony::sendDigits(CallSlot &slot, const QString &digits, std::uint32_t durationMs)
{
    Line &l = lineOf(slot);
    table().cancelDigits(l);
    l.generating = true;
    const int toneMs = durationMs == 0 ? l.config.toneMs : static_cast<int>(std::min<std::uint32_t>(durationMs, 2000));
    m_stack.sendDigits(l.index, l.sipCall, digits.toLatin1(), toneMs);
    return 0;
}

void SipTelephony::callFreed(CallSlot &slot)
{
    Line *l = &lineOf(slot);
    l->sipCall = 0;
    if (l->waiting) {
        // The line is free: the caller who waited is offered now (after the call flow's
        // callback has returned).
        QMetaObject::invokeMethod(&m_context, [this, l] {
            if (l->waiting && l->hCall == 0 && l->isOpen()) {
                const StackEvent next = *l->waiting;
                l->waiting.reset();
                offer(*l, next);
            }
        }, Qt::QueuedConnection);
    }
}

std::uint32_t SipTelephony::waveDeviceId(const CallSlot &slot, LineApplication::WaveClass) const
{
    return static_cast<std::uint32_t>(kWaveDeviceBase) + slot.device;
}

std::int32_t SipTelephony::placeCall(CallSlot &slot, const QString &destAddress, HCall &call)
{
    Line &l = lineOf(slot);
    const QString target = destAddress.trimmed();
    if (target.isEmpty() || target.contains(QLatin1Char(' ')) || target.contains(QLatin1Char('\r'))
        || target.contains(QLatin1Char('\n')))
        return LineErr::InvalAddress;
    const std::int32_t request = table().nextRequest();
    call = table().newCall(l, false);
    l.sipCall = m_stack.newCall();
    l.answering = false;
    m_stack.dial(l.index, l.sipCall, target.toUtf8());
    table().reply(l, request);
    table().setState(l, LineCallState::Dialing);
    return request;
}

void SipTelephony::closing(CallSlot &slot)
{
    Line &l = lineOf(slot);
    if (l.sipCall != 0)
        m_stack.hangUp(l.index, l.sipCall, 480);
    if (l.waiting) {
        m_stack.hangUp(l.index, l.waiting->call, 480);
        l.waiting.reset();
    }
    stopRinging(l);
    l.sipCall = 0;
    l.answering = false;
}

// --- wave devices ----------------------------------------------------------------------------

WaveResult SipTelephony::openIn(int deviceId, const PcmFormat &format, WaveCallback callback,
                                std::unique_ptr<WaveIn> &device)
{
    return m_paced.openIn(deviceId, format, std::move(callback), device);
}

WaveResult SipTelephony::openOut(int deviceId, const PcmFormat &format, WaveCallback callback,
                                 std::unique_ptr<WaveOut> &device)
{
    return m_paced.openOut(deviceId, format, std::move(callback), device);
}

} // namespace telvox::sip
