#include "sim/exchange/VirtualLine.h"

#include "sim/tones/TonePlans.h"

#include <algorithm>

// The virtual exchange as the line service: construction, the events it posts and the line
// functions the system calls. The far ends are in VirtualExchangeFarEnd.cpp, the audio in
// VirtualLineAudio.cpp.

namespace telvox {

using namespace virtual_line;

VirtualExchange::VirtualExchange(EventLoop &loop, ExchangeSetup setup)
    : m_loop(loop)
    , m_setup(std::move(setup))
    , m_plans(sim::TonePlans::builtIn())
    , m_app(loop, 0x00A70001)
    , m_paced(loop)
{
    for (const VirtualDevice &device : m_setup.devices) {
        auto line = std::make_unique<Line>();
        line->device = device;
        Line *l = line.get();
        line->ringTimer = m_loop.createTimer(6000, [this, l] { ringTick(*l); });
        line->callerIdTimer = m_loop.createTimer(500, [this, l] {
            l->callerIdTimer->setEnabled(false);
            postCallerId(*l);
        });
        line->digitTimer = m_loop.createTimer(kDigitSpacingMs, [this, l] { digitTick(*l); });
        line->outgoingTimer = m_loop.createTimer(1000, [this, l] { outgoingTick(*l); });
        line->generateTimer = m_loop.createTimer(100, [this, l] {
            l->generateTimer->setEnabled(false);
            l->generating = false;
            postEvent(*l, l->hCall, LINE_GENERATE, kGenerateTermDone, 0, 0);
        });
        m_lines.push_back(std::move(line));
    }
    // Wave devices for at least four lines, so that the ids of a line the exchange does not
    // have still open (as silence).
    const int waveLines = std::max(deviceCount(), 4);
    for (int n = 0; n < waveLines; ++n) {
        const auto in = kWaveInBase + static_cast<std::uint32_t>(n);
        const auto out = kWaveOutBase + static_cast<std::uint32_t>(n);
        m_paced.addInput(static_cast<int>(in), [this, in](std::span<std::int16_t> samples) {
            if (LineAudioChannel *channel = audioChannel(in))
                channel->readFromLine(samples);
            else
                std::fill(samples.begin(), samples.end(), std::int16_t(0));
        });
        m_paced.addOutput(static_cast<int>(out), [this, out](std::span<const std::int16_t> samples) {
            const std::size_t index = out - kWaveOutBase;
            if (index < m_lines.size())
                m_lines[index]->audio.nowMs = m_loop.now();
            if (LineAudioChannel *channel = audioChannel(out))
                channel->writeToLine(samples);
        });
    }
}

VirtualExchange::~VirtualExchange() = default;

// --- helpers ---------------------------------------------------------------------------------

VirtualExchange::Line *VirtualExchange::lineOfHandle(HLine handle)
{
    if (handle == 0)
        return nullptr;
    for (auto &line : m_lines) {
        if (line->hLine == handle)
            return line.get();
    }
    return nullptr;
}

VirtualExchange::Line *VirtualExchange::lineOfCall(HCall call)
{
    if (call == 0)
        return nullptr;
    for (auto &line : m_lines) {
        if (line->hCall == call)
            return line.get();
    }
    return nullptr;
}

int VirtualExchange::indexOf(const Line &line) const
{
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        if (m_lines[i].get() == &line)
            return static_cast<int>(i);
    }
    return -1;
}

void VirtualExchange::postEvent(Line &line, std::uint32_t device, std::uint32_t message, std::uint32_t p1,
                                std::uint32_t p2, std::uint32_t p3)
{
    if (line.hLine == 0)
        return;
    m_app.post([target = &line, hLine = line.hLine] { return target->hLine == hLine; }, line.instance, device, message,
               p1, p2, p3);
}

void VirtualExchange::postCallState(Line &line, std::uint32_t state, std::uint32_t p2)
{
    postEvent(line, line.hCall, LINE_CALLSTATE, state, p2, kCallPrivilegeOwner);
}

void VirtualExchange::postReply(Line &line, std::int32_t request, std::int32_t result)
{
    postEvent(line, 0, LINE_REPLY, static_cast<std::uint32_t>(request), static_cast<std::uint32_t>(result), 0);
}

void VirtualExchange::postCallerId(Line &line)
{
    if (line.hCall == 0 || !line.incoming)
        return;
    line.callerNumber = line.call.number;
    line.callerName = line.call.name;
    line.callerIdFlags = 0;
    if (!line.callerNumber.isEmpty())
        line.callerIdFlags |= CallPartyId::Address;
    if (!line.callerName.isEmpty())
        line.callerIdFlags |= CallPartyId::Name;
    if (line.callerIdFlags == 0)
        line.callerIdFlags = line.call.withheld ? CallPartyId::Blocked : CallPartyId::Unavail;
    trace(line, QStringLiteral("caller ID ") + QString::fromLatin1(line.callerNumber.toPercentEncoding(" ")));
    postEvent(line, line.hCall, LINE_CALLINFO, kCallInfoStateCallerId, 0, 0);
}

void VirtualExchange::setState(Line &line, std::uint32_t state)
{
    line.callState = state;
    postCallState(line, state, state == LineCallState::Disconnected ? kDisconnectModeNormal : 0);
}

void VirtualExchange::stopRinging(Line &line)
{
    line.ringing = false;
    line.ringTimer->setEnabled(false);
    line.callerIdTimer->setEnabled(false);
}

void VirtualExchange::endCall(Line &line)
{
    stopRinging(line);
    line.digitTimer->setEnabled(false);
    line.outgoingTimer->setEnabled(false);
    line.generateTimer->setEnabled(false);
    line.generating = false;
    line.farDigitQueue.clear();
    line.monitoring = false;
    line.audio.carrying = false;
    line.audio.exchangeTone.reset();
    line.audio.farDigits.clear();
}

void VirtualExchange::changed(const Line &line)
{
    if (m_changed)
        m_changed(indexOf(line));
}

void VirtualExchange::trace(const Line &line, const QString &what)
{
    if (m_trace)
        m_trace(QStringLiteral("Line%1: ").arg(indexOf(line)) + what);
}

// --- the line functions ----------------------------------------------------------------------

std::int32_t VirtualExchange::lineInitialize(HLineApp &lineApp, LineCallback callback, const QString &appName,
                                             std::uint32_t &numDevs)
{
    (void)appName;
    if (m_setup.initializeResult != 0)
        return m_setup.initializeResult;
    return m_app.initialize(lineApp, std::move(callback), m_lines.size(), numDevs);
}

std::int32_t VirtualExchange::lineNegotiateAPIVersion(HLineApp lineApp, std::uint32_t deviceId,
                                                      std::uint32_t lowVersion, std::uint32_t highVersion,
                                                      std::uint32_t &apiVersion, std::uint64_t &extensionId)
{
    if (const std::int32_t refused = m_app.checkDevice(lineApp, deviceId, m_lines.size()))
        return refused;
    const VirtualDevice &device = m_lines[deviceId]->device;
    if (device.negotiateResult != 0)
        return device.negotiateResult;
    extensionId = 0;
    return LineApplication::negotiate(lowVersion, highVersion, device.maxApiVersion, apiVersion);
}

std::int32_t VirtualExchange::lineGetDevCaps(HLineApp lineApp, std::uint32_t deviceId, std::uint32_t apiVersion,
                                             std::uint32_t extVersion, LineDevCaps &caps)
{
    (void)extVersion;
    if (const std::int32_t refused = m_app.checkDevice(lineApp, deviceId, m_lines.size()))
        return refused;
    const VirtualDevice &device = m_lines[deviceId]->device;
    if (const std::int32_t refused = LineApplication::checkVersion(apiVersion, device.maxApiVersion))
        return refused;
    if (device.devCapsResult != 0)
        return device.devCapsResult;
    caps.lineName = device.name;
    caps.mediaModes = device.mediaModes;
    return 0;
}

std::int32_t VirtualExchange::lineOpen(HLineApp lineApp, std::uint32_t deviceId, HLine &line,
                                       std::uint32_t apiVersion, std::uint32_t extVersion,
                                       std::uintptr_t callbackInstance, std::uint32_t privileges,
                                       std::uint32_t mediaModes)
{
    (void)extVersion;
    (void)privileges;
    if (const std::int32_t refused = m_app.checkDevice(lineApp, deviceId, m_lines.size()))
        return refused;
    Line &l = *m_lines[deviceId];
    if (const std::int32_t refused = LineApplication::checkVersion(apiVersion, l.device.maxApiVersion))
        return refused;
    if (l.device.openResult != 0)
        return l.device.openResult;
    if (const std::int32_t refused = LineApplication::checkOpen(l.hLine != 0, mediaModes, l.device.mediaModes))
        return refused;
    l.hLine = m_app.nextHandle();
    l.instance = callbackInstance;
    l.openMediaModes = mediaModes;
    l.lineStates = 0;
    line = l.hLine;
    changed(l);
    return 0;
}

std::int32_t VirtualExchange::lineSetStatusMessages(HLine line, std::uint32_t lineStates,
                                                    std::uint32_t addressStates)
{
    (void)addressStates;
    Line *l = lineOfHandle(line);
    if (!l)
        return LineErr::InvalLineHandle;
    if (l->device.statusMessagesResult != 0)
        return l->device.statusMessagesResult;
    l->lineStates = lineStates;
    return 0;
}

std::int32_t VirtualExchange::lineGetCallInfo(HCall call, LineCallInfo &info)
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

std::int32_t VirtualExchange::lineAnswer(HCall call)
{
    Line *l = lineOfCall(call);
    if (!l)
        return LineErr::InvalCallHandle;
    if (!l->incoming || (l->callState != LineCallState::Offering && l->callState != LineCallState::Accepted))
        return LineErr::InvalCallState;
    const std::int32_t request = m_app.nextRequest();
    stopRinging(*l);
    l->audio.carrying = true;
    if (!l->farEndGone)
        l->audio.farEnd = l->call.speech;
    trace(*l, QStringLiteral("answered by the system"));
    postReply(*l, request, 0);
    setState(*l, LineCallState::Connected);
    changed(*l);
    return request;
}

std::int32_t VirtualExchange::lineDrop(HCall call)
{
    Line *l = lineOfCall(call);
    if (!l)
        return LineErr::InvalCallHandle;
    if (l->callState == LineCallState::Idle)
        return LineErr::InvalCallState;
    const std::int32_t request = m_app.nextRequest();
    if (l->generating)
        postEvent(*l, l->hCall, LINE_GENERATE, kGenerateTermCancel, 0, 0);
    endCall(*l);
    trace(*l, QStringLiteral("dropped by the system"));
    postReply(*l, request, 0);
    setState(*l, LineCallState::Idle);
    changed(*l);
    return request;
}

std::int32_t VirtualExchange::lineGenerateDigits(HCall call, std::uint32_t digitMode, const QString &digits,
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
        postEvent(*l, l->hCall, LINE_GENERATE, kGenerateTermCancel, 0, 0);
    const int onMs = durationMs == 0 ? kDefaultDigitMs : static_cast<int>(std::min<std::uint32_t>(durationMs, 5000));
    std::vector<std::int16_t> tones;
    for (const QChar key : digits)
        appendDtmf(tones, key, onMs, kInterDigitMs);
    l->audio.hear(tones);
    l->digitsHeard += digits;
    l->generating = true;
    l->generateTimer->setInterval(static_cast<int>(digits.size()) * (onMs + kInterDigitMs));
    l->generateTimer->setEnabled(true);
    trace(*l, QStringLiteral("the system sends touch tones ") + digits);
    changed(*l);
    return 0;
}

std::int32_t VirtualExchange::lineMonitorDigits(HCall call, std::uint32_t digitModes)
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

std::int32_t VirtualExchange::lineDeallocateCall(HCall call)
{
    Line *l = lineOfCall(call);
    if (!l)
        return LineErr::InvalCallHandle;
    if (l->callState != LineCallState::Idle)
        return LineErr::InvalCallState;
    l->hCall = 0;
    l->callState = 0;
    l->incoming = false;
    l->handsetOffHook = false;
    l->farEndGone = false;
    l->ringCount = 0;
    changed(*l);
    return 0;
}

std::int32_t VirtualExchange::lineGetID(HLine line, std::uint32_t addressId, HCall call, std::uint32_t select,
                                        std::uint32_t &deviceId, const QString &deviceClass)
{
    (void)addressId;
    Line *l = select == kCallSelectCall ? lineOfCall(call) : lineOfHandle(line);
    if (!l)
        return select == kCallSelectCall ? LineErr::InvalCallHandle : LineErr::InvalLineHandle;
    const auto index = static_cast<std::uint32_t>(indexOf(*l));
    switch (LineApplication::waveClass(deviceClass)) {
    case LineApplication::WaveClass::In: deviceId = kWaveInBase + index; break;
    case LineApplication::WaveClass::Out: deviceId = kWaveOutBase + index; break;
    case LineApplication::WaveClass::Unknown: return LineErr::InvalDeviceClass;
    }
    return 0;
}

std::int32_t VirtualExchange::lineMakeCall(HLine line, HCall &call, const QString &destAddress,
                                           std::uint32_t countryCode)
{
    (void)countryCode;
    Line *l = lineOfHandle(line);
    if (!l)
        return LineErr::InvalLineHandle;
    if (l->hCall != 0 && l->callState != LineCallState::Idle)
        return LineErr::CallUnavail;
    if (destAddress.trimmed().isEmpty())
        return LineErr::InvalAddress;
    endCall(*l);
    const std::int32_t request = m_app.nextRequest();
    l->hCall = m_app.nextHandle();
    l->incoming = false;
    l->handsetOffHook = false;
    l->farEndGone = false;
    l->ringCount = 0;
    l->callerIdFlags = CallPartyId::Unknown;
    l->callerNumber.clear();
    l->callerName.clear();
    l->dialled = destAddress;
    l->digitsHeard.clear();
    l->outgoingPhase = 0;
    l->audio.carrying = true;
    l->audio.farEnd.reset();
    call = l->hCall;
    trace(*l, QStringLiteral("the system dials ") + destAddress);
    postReply(*l, request, 0);
    l->callState = LineCallState::Dialing;
    postCallState(*l, LineCallState::Dialing);
    // Dialling takes a second plus a tenth per digit; then the modem reports the connection.
    l->outgoingTimer->setInterval(1000 + 100 * static_cast<int>(destAddress.size()));
    l->outgoingTimer->setEnabled(true);
    changed(*l);
    return request;
}

std::int32_t VirtualExchange::lineClose(HLine line)
{
    Line *l = lineOfHandle(line);
    if (!l)
        return LineErr::InvalLineHandle;
    endCall(*l);
    l->hLine = 0;
    l->hCall = 0;
    l->callState = 0;
    l->incoming = false;
    changed(*l);
    return 0;
}

std::int32_t VirtualExchange::lineShutdown(HLineApp lineApp)
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

} // namespace telvox
