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
    : m_loop(loop)
    , m_app(loop, 0x00C70001)
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
    case StackEvent::Kind::Incoming:
        if (l.hLine == 0) { // nobody here to take it
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
        return offer(l, event);
    case StackEvent::Kind::Refused:
        return refused(l, event, event.code);
    case StackEvent::Kind::Strangers:
        return tell(notice::kStrangerMedia, l, QString::number(event.code), event.reason);
    case StackEvent::Kind::Progress:
        if (event.call != l.sipCall || l.incoming)
            return;
        if (l.callState == LineCallState::Dialing)
            setState(l, LineCallState::Ringback);
        // Early media: the line carries the far end's audio from now on, and the call flow
        // judges it (ring-back, busy tone, a voice) as it does on an analog line.
        if (event.earlyMedia && l.callState == LineCallState::Ringback)
            setState(l, LineCallState::Connected);
        return;
    case StackEvent::Kind::Established:
        if (event.call == l.sipCall && !l.incoming
            && (l.callState == LineCallState::Dialing || l.callState == LineCallState::Ringback
                || l.callState == LineCallState::Connected)) {
            // The 200 OK is the answer, also after early media: CONNECTED again, confirmed, so
            // a called party who answers and says nothing is recorded all the same.
            l.callState = LineCallState::Connected;
            post(l, l.hCall, LINE_CALLSTATE, LineCallState::Connected, kConnectedModeConfirmed, kCallPrivilegeOwner);
            return;
        }
        if (event.call == l.sipCall && l.answering
            && (l.callState == LineCallState::Offering || l.callState == LineCallState::Accepted)) {
            l.answering = false;
            setState(l, LineCallState::Connected);
        }
        return;
    case StackEvent::Kind::Ended:
        if (l.waiting && event.call == l.waiting->call) {
            l.waiting.reset(); // the waiting caller gave up
            return;
        }
        if (event.call != l.sipCall || l.hCall == 0)
            return;
        stopRinging(l);
        l.sipCall = 0;
        if (l.generating) {
            l.generating = false;
            post(l, l.hCall, LINE_GENERATE, kGenerateTermCancel, 0, 0);
        }
        if (l.callState == LineCallState::Connected || (l.answering && event.answered)
            || (!l.incoming && (l.callState == LineCallState::Dialing || l.callState == LineCallState::Ringback))) {
            // Hung up, or (a call we placed) refused: busy, declined, unreachable.
            setState(l, LineCallState::Disconnected);
        } else if (l.callState == LineCallState::Offering || l.callState == LineCallState::Accepted) {
            // Given up, or taken by another phone of the group: never answered here.
            l.answering = false;
            if (event.elsewhere)
                tell(notice::kAnsweredElsewhere, l);
            setState(l, LineCallState::Idle);
        }
        return;
    case StackEvent::Kind::Digit:
        if (event.call == l.sipCall && l.monitoring && l.callState == LineCallState::Connected)
            post(l, l.hCall, LINE_MONITORDIGITS, static_cast<unsigned char>(event.digit), kDigitModeDtmf, 0);
        return;
    case StackEvent::Kind::Registered:
    case StackEvent::Kind::RegistrationFailed:
        registrationNews(l, event);
        return;
    case StackEvent::Kind::DigitsSent:
        if (event.call == l.sipCall && l.generating) {
            l.generating = false;
            post(l, l.hCall, LINE_GENERATE, kGenerateTermDone, 0, 0);
        }
        return;
    }
}

void SipTelephony::offer(Line &l, const StackEvent &event)
{
    l.hCall = m_app.nextHandle();
    l.sipCall = event.call;
    l.incoming = true;
    l.answering = false;
    l.monitoring = false;
    l.generating = false;
    l.ringCount = 0;
    l.callerNumber = event.caller.number;
    l.callerName = event.caller.name;
    l.callerIdFlags = 0;
    if (event.caller.withheld)
        l.callerIdFlags = CallPartyId::Blocked;
    if (!l.callerNumber.isEmpty())
        l.callerIdFlags |= CallPartyId::Address;
    if (!l.callerName.isEmpty())
        l.callerIdFlags |= CallPartyId::Name;
    if (l.callerIdFlags == 0)
        l.callerIdFlags = CallPartyId::Unavail;
    setState(l, LineCallState::Offering);
    post(l, l.hCall, LINE_CALLINFO, kCallInfoStateCallerId, 0, 0);
    l.ringTimer->setEnabled(true);
    ringTick(l); // the first ring now
}

// --- helpers ---------------------------------------------------------------------------------

SipTelephony::Line *SipTelephony::lineOfHandle(HLine handle)
{
    if (handle == 0)
        return nullptr;
    for (auto &line : m_lines) {
        if (line->hLine == handle)
            return line.get();
    }
    return nullptr;
}

SipTelephony::Line *SipTelephony::lineOfCall(HCall call)
{
    if (call == 0)
        return nullptr;
    for (auto &line : m_lines) {
        if (line->hLine != 0 && line->hCall == call)
            return line.get();
    }
    return nullptr;
}

void SipTelephony::post(Line &line, std::uint32_t device, std::uint32_t message, std::uint32_t p1, std::uint32_t p2,
                        std::uint32_t p3)
{
    if (line.hLine == 0)
        return;
    m_app.post([target = &line, hLine = line.hLine] { return target->hLine == hLine; }, line.instance, device,
               message, p1, p2, p3);
}

void SipTelephony::setState(Line &line, std::uint32_t state)
{
    line.callState = state;
    post(line, line.hCall, LINE_CALLSTATE, state, state == LineCallState::Disconnected ? kDisconnectModeNormal : 0,
         kCallPrivilegeOwner);
}

void SipTelephony::ringTick(Line &line)
{
    if (line.callState != LineCallState::Offering || line.answering) {
        stopRinging(line);
        return;
    }
    ++line.ringCount;
    if (line.lineStates & kLineDevStateRinging)
        post(line, line.hLine, LINE_LINEDEVSTATE, kLineDevStateRinging, 1, static_cast<std::uint32_t>(line.ringCount));
}

void SipTelephony::stopRinging(Line &line) { line.ringTimer->setEnabled(false); }

// --- the line functions ----------------------------------------------------------------------

std::int32_t SipTelephony::lineInitialize(HLineApp &lineApp, LineCallback callback, const QString &appName,
                                          std::uint32_t &numDevs)
{
    (void)appName;
    return m_app.initialize(lineApp, std::move(callback), m_lines.size(), numDevs);
}

std::int32_t SipTelephony::lineNegotiateAPIVersion(HLineApp lineApp, std::uint32_t deviceId, std::uint32_t lowVersion,
                                                   std::uint32_t highVersion, std::uint32_t &apiVersion,
                                                   std::uint64_t &extensionId)
{
    return m_app.negotiateDevice(lineApp, deviceId, m_lines.size(), lowVersion, highVersion, kMaxApiVersion,
                                 apiVersion, extensionId);
}

std::int32_t SipTelephony::lineGetDevCaps(HLineApp lineApp, std::uint32_t deviceId, std::uint32_t apiVersion,
                                          std::uint32_t extVersion, LineDevCaps &caps)
{
    (void)extVersion;
    if (const std::int32_t refused = m_app.checkDevice(lineApp, deviceId, m_lines.size()))
        return refused;
    if (const std::int32_t refused = LineApplication::checkVersion(apiVersion, kMaxApiVersion))
        return refused;
    QByteArray uri = m_stack.contactUri(static_cast<int>(deviceId));
    if (uri.isEmpty())
        uri = m_lines[deviceId]->config.setup.listenAddress.toUtf8();
    caps.lineName = "SIP " + uri;
    caps.mediaModes = MediaMode::InteractiveVoice | MediaMode::AutomatedVoice;
    return 0;
}

std::int32_t SipTelephony::lineOpen(HLineApp lineApp, std::uint32_t deviceId, HLine &line, std::uint32_t apiVersion,
                                    std::uint32_t extVersion, std::uintptr_t callbackInstance,
                                    std::uint32_t privileges, std::uint32_t mediaModes)
{
    (void)extVersion;
    (void)privileges;
    if (const std::int32_t refused = m_app.checkDevice(lineApp, deviceId, m_lines.size()))
        return refused;
    Line &l = *m_lines[deviceId];
    if (const std::int32_t refused = LineApplication::checkVersion(apiVersion, kMaxApiVersion))
        return refused;
    constexpr std::uint32_t offered = MediaMode::InteractiveVoice | MediaMode::AutomatedVoice;
    if (const std::int32_t refused = LineApplication::checkOpen(l.hLine != 0, mediaModes, offered))
        return refused;
    if (!m_stack.running())
        return LineErr::ResourceUnavail;
    line = m_app.nextHandle();
    l.hLine = line;
    l.instance = callbackInstance;
    l.mediaModes = mediaModes;
    return 0;
}

std::int32_t SipTelephony::lineSetStatusMessages(HLine line, std::uint32_t lineStates, std::uint32_t addressStates)
{
    (void)addressStates;
    Line *l = lineOfHandle(line);
    if (!l)
        return LineErr::InvalLineHandle;
    l->lineStates = lineStates;
    return 0;
}

std::int32_t SipTelephony::lineGetCallInfo(HCall call, LineCallInfo &info)
{
    Line *l = lineOfCall(call);
    if (!l)
        return LineErr::InvalCallHandle;
    info.hLine = l->hLine;
    info.callState = l->callState;
    info.callerIdFlags = l->callerIdFlags;
    info.callerIdNumber = l->callerNumber;
    info.callerIdName = l->callerName;
    return 0;
}

std::int32_t SipTelephony::lineAnswer(HCall call)
{
    Line *l = lineOfCall(call);
    if (!l)
        return LineErr::InvalCallHandle;
    if (!l->incoming || l->answering || l->callState != LineCallState::Offering)
        return LineErr::InvalCallState;
    const std::int32_t request = m_app.nextRequest();
    stopRinging(*l);
    l->answering = true;
    m_stack.answer(l->index, l->sipCall);
    // CONNECTED follows when the caller acknowledges the 200 OK.
    post(*l, 0, LINE_REPLY, static_cast<std::uint32_t>(request), 0, 0);
    return request;
}

std::int32_t SipTelephony::lineDrop(HCall call)
{
    Line *l = lineOfCall(call);
    if (!l)
        return LineErr::InvalCallHandle;
    if (l->callState == LineCallState::Idle)
        return LineErr::InvalCallState;
    const std::int32_t request = m_app.nextRequest();
    if (l->sipCall != 0)
        m_stack.hangUp(l->index, l->sipCall, 486);
    l->sipCall = 0;
    stopRinging(*l);
    l->answering = false;
    if (l->generating) {
        l->generating = false;
        post(*l, l->hCall, LINE_GENERATE, kGenerateTermCancel, 0, 0);
    }
    post(*l, 0, LINE_REPLY, static_cast<std::uint32_t>(request), 0, 0);
    setState(*l, LineCallState::Idle);
    return request;
}

std::int32_t SipTelephony::lineReject(HCall call, RejectReason reason)
{
    Line *l = lineOfCall(call);
    if (!l)
        return LineErr::InvalCallHandle;
    if (!l->incoming || l->answering || l->callState != LineCallState::Offering)
        return LineErr::InvalCallState;
    m_stack.hangUp(l->index, l->sipCall, reason == RejectReason::Busy ? 486 : 603);
    l->sipCall = 0; // refused already: lineDrop only ends the call here
    return lineDrop(call);
}

std::int32_t SipTelephony::lineGenerateDigits(HCall call, std::uint32_t digitMode, const QString &digits,
                                              std::uint32_t durationMs)
{
    Line *l = lineOfCall(call);
    if (!l)
        return LineErr::InvalCallHandle;
    if (l->callState != LineCallState::Connected)
        return LineErr::InvalCallState;
    if (const std::int32_t refused = LineApplication::checkDigitMode(digitMode))
        return refused;
    if (const std::int32_t refused = LineApplication::checkDigitList(digits))
        return refused;
    if (l->generating)
        post(*l, l->hCall, LINE_GENERATE, kGenerateTermCancel, 0, 0);
    l->generating = true;
    const int toneMs = durationMs == 0 ? l->config.toneMs : static_cast<int>(std::min<std::uint32_t>(durationMs, 2000));
    m_stack.sendDigits(l->index, l->sipCall, digits.toLatin1(), toneMs);
    return 0;
}

std::int32_t SipTelephony::lineMonitorDigits(HCall call, std::uint32_t digitModes)
{
    Line *l = lineOfCall(call);
    if (!l)
        return LineErr::InvalCallHandle;
    if (l->callState == LineCallState::Idle)
        return LineErr::InvalCallState;
    if (const std::int32_t refused = LineApplication::checkMonitorModes(digitModes))
        return refused;
    l->monitoring = digitModes != 0;
    return 0;
}

std::int32_t SipTelephony::lineDeallocateCall(HCall call)
{
    Line *l = lineOfCall(call);
    if (!l)
        return LineErr::InvalCallHandle;
    if (l->callState != LineCallState::Idle)
        return LineErr::InvalCallState;
    l->hCall = 0;
    l->callState = 0;
    l->incoming = false;
    l->sipCall = 0;
    l->ringCount = 0;
    if (l->waiting) {
        // The line is free: the caller who waited is offered now (after the call flow's
        // callback has returned).
        QMetaObject::invokeMethod(&m_context, [this, l] {
            if (l->waiting && l->hCall == 0 && l->hLine != 0) {
                const StackEvent next = *l->waiting;
                l->waiting.reset();
                offer(*l, next);
            }
        }, Qt::QueuedConnection);
    }
    return 0;
}

std::int32_t SipTelephony::lineGetID(HLine line, std::uint32_t addressId, HCall call, std::uint32_t select,
                                     std::uint32_t &deviceId, const QString &deviceClass)
{
    (void)addressId;
    Line *l = select == kCallSelectCall ? lineOfCall(call) : lineOfHandle(line);
    if (!l)
        return select == kCallSelectCall ? LineErr::InvalCallHandle : LineErr::InvalLineHandle;
    if (LineApplication::waveClass(deviceClass) == LineApplication::WaveClass::Unknown)
        return LineErr::InvalDeviceClass;
    deviceId = static_cast<std::uint32_t>(kWaveDeviceBase + l->index);
    return 0;
}

std::int32_t SipTelephony::lineMakeCall(HLine line, HCall &call, const QString &destAddress, std::uint32_t countryCode)
{
    (void)countryCode;
    Line *l = lineOfHandle(line);
    if (!l)
        return LineErr::InvalLineHandle;
    if (l->hCall != 0 && l->callState != LineCallState::Idle)
        return LineErr::CallUnavail;
    const QString target = destAddress.trimmed();
    if (target.isEmpty() || target.contains(QLatin1Char(' ')) || target.contains(QLatin1Char('\r'))
        || target.contains(QLatin1Char('\n')))
        return LineErr::InvalAddress;
    const std::int32_t request = m_app.nextRequest();
    l->hCall = m_app.nextHandle();
    l->sipCall = m_stack.newCall();
    l->incoming = false;
    l->answering = false;
    l->monitoring = false;
    l->generating = false;
    l->ringCount = 0;
    l->callerIdFlags = CallPartyId::Unknown;
    l->callerNumber.clear();
    l->callerName.clear();
    call = l->hCall;
    m_stack.dial(l->index, l->sipCall, target.toUtf8());
    post(*l, 0, LINE_REPLY, static_cast<std::uint32_t>(request), 0, 0);
    setState(*l, LineCallState::Dialing);
    return request;
}

std::int32_t SipTelephony::lineClose(HLine line)
{
    Line *l = lineOfHandle(line);
    if (!l)
        return LineErr::InvalLineHandle;
    if (l->sipCall != 0)
        m_stack.hangUp(l->index, l->sipCall, 480);
    if (l->waiting) {
        m_stack.hangUp(l->index, l->waiting->call, 480);
        l->waiting.reset();
    }
    stopRinging(*l);
    l->hLine = 0;
    l->hCall = 0;
    l->callState = 0;
    l->sipCall = 0;
    l->answering = false;
    l->monitoring = false;
    l->generating = false;
    return 0;
}

std::int32_t SipTelephony::lineShutdown(HLineApp lineApp)
{
    if (!m_app.valid(lineApp))
        return LineErr::InvalAppHandle;
    for (auto &line : m_lines) {
        if (line->hLine != 0)
            lineClose(line->hLine);
    }
    m_app.shutdown();
    return 0;
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
