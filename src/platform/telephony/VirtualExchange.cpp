#include "platform/telephony/VirtualExchange.h"

#include "core/EventLoop.h"
#include "sim/audio/SampleSource.h"
#include "sim/tones/TonePlans.h"
#include "sim/tones/ToneSource.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>

namespace telvox {

namespace {

constexpr int kDigitSpacingMs = 250;
constexpr int kDefaultDigitMs = 100;
constexpr int kInterDigitMs = 50;
constexpr int kCallerIdAfterRingMs = 500;

// The two frequencies of a touch-tone key; {0, 0} for a character that is none.
std::pair<double, double> dtmfPair(QChar key)
{
    static const char keys[] = "123A456B789C*0#D";
    static const double rows[] = {697, 770, 852, 941};
    static const double cols[] = {1209, 1336, 1477, 1633};
    for (int i = 0; i < 16; ++i) {
        if (key == QLatin1Char(keys[i]))
            return {rows[i / 4], cols[i % 4]};
    }
    return {0, 0};
}

// One key as heard on the line: the tone for `onMs`, then `offMs` of silence.
void appendDtmf(std::vector<std::int16_t> &out, QChar key, int onMs, int offMs)
{
    const auto [low, high] = dtmfPair(key);
    const int on = onMs * sim::kLineSampleRate / 1000;
    const int off = offMs * sim::kLineSampleRate / 1000;
    const double amplitude = 6000.0;
    for (int i = 0; i < on; ++i) {
        const double t = static_cast<double>(i) / sim::kLineSampleRate;
        out.push_back(sim::toSample(amplitude * (std::sin(2 * std::numbers::pi * low * t)
                                                 + std::sin(2 * std::numbers::pi * high * t))));
    }
    out.insert(out.end(), static_cast<std::size_t>(off), 0);
}

} // namespace

// The audio path of one virtual line. While the system is off-hook the line carries the
// exchange's tone when there is one (ring-back, busy), otherwise the far end's voice, with
// the far end's touch tones added; what the system plays is counted, and kept when asked.
class VirtualExchange::Audio final : public LineAudioChannel
{
public:
    void readFromLine(std::span<std::int16_t> out) override
    {
        std::fill(out.begin(), out.end(), std::int16_t{0});
        if (!carrying)
            return;
        if (exchangeTone)
            exchangeTone->read(out);
        else if (farEnd)
            farEnd->read(out);
        for (std::int16_t &sample : out) {
            if (farDigits.empty())
                break;
            sample = sim::toSample(static_cast<double>(sample) + farDigits.front());
            farDigits.pop_front();
        }
    }
    void writeToLine(std::span<const std::int16_t> samples) override
    {
        if (carrying)
            hear(samples);
    }
    void hear(std::span<const std::int16_t> samples)
    {
        heardCount += samples.size();
        if (keepHeard)
            heard.insert(heard.end(), samples.begin(), samples.end());
    }

    bool carrying = false;
    std::shared_ptr<sim::SampleSource> farEnd;
    std::shared_ptr<sim::SampleSource> exchangeTone;
    std::deque<std::int16_t> farDigits;
    std::uint64_t heardCount = 0;
    bool keepHeard = false;
    std::vector<std::int16_t> heard;
};

struct VirtualExchange::Line
{
    VirtualDevice device;
    HLine hLine = 0;
    std::uintptr_t instance = 0;
    std::uint32_t openMediaModes = 0;
    std::uint32_t lineStates = 0;

    HCall hCall = 0;
    std::uint32_t callState = 0;
    bool incoming = false;
    IncomingCall call;
    std::uint32_t callerIdFlags = 0;
    QByteArray callerNumber;
    QByteArray callerName;
    bool ringing = false;
    int ringCount = 0;
    bool handsetOffHook = false;
    bool farEndGone = false;
    bool monitoring = false;
    bool generating = false;
    QString dialled;
    QString digitsHeard;
    QString farDigitQueue;
    OutgoingBehaviour outgoing;
    int outgoingPhase = 0; // 0 dialling, 1 ringing back / busy, 2 answered

    std::unique_ptr<Timer> ringTimer;
    std::unique_ptr<Timer> callerIdTimer;
    std::unique_ptr<Timer> digitTimer;
    std::unique_ptr<Timer> outgoingTimer;
    std::unique_ptr<Timer> generateTimer;
    Audio audio;
};

VirtualExchange::VirtualExchange(EventLoop &loop, ExchangeSetup setup)
    : m_loop(loop)
    , m_setup(std::move(setup))
    , m_plans(sim::TonePlans::builtIn())
    , m_app(loop, 0x00A70001)
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

std::vector<int> VirtualExchange::ringCadence() const
{
    if (const sim::TonePlan *plan = m_plans.find(m_setup.country, sim::ToneKind::Ringback);
        plan && !plan->continuous())
        return plan->cadenceMs;
    return {2000, 4000};
}

std::shared_ptr<sim::SampleSource> VirtualExchange::toneSource(int kind) const
{
    const sim::ToneKind toneKind = static_cast<sim::ToneKind>(kind);
    const sim::TonePlan *plan = m_plans.find(m_setup.country, toneKind);
    if (!plan)
        plan = m_plans.find("United States/Canada", toneKind);
    if (!plan)
        return nullptr;
    const double level = toneKind == sim::ToneKind::Ringback ? -19.0 : -24.0;
    return std::make_shared<sim::ToneSource>(*plan, sim::ToneLevel::dbm0(level));
}

// --- the line functions ----------------------------------------------------------------------

std::int32_t VirtualExchange::lineInitialize(HLineApp &lineApp, LineCallback callback, const QString &appName,
                                             std::uint32_t &numDevs)
{
    (void)appName;
    if (m_setup.initializeResult != 0)
        return m_setup.initializeResult;
    lineApp = m_app.initialize(std::move(callback));
    numDevs = static_cast<std::uint32_t>(m_lines.size());
    return 0;
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
    if (apiVersion < kApiVersionLow || apiVersion > device.maxApiVersion)
        return LineErr::IncompatibleApiVersion;
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
    if (apiVersion < kApiVersionLow || apiVersion > l.device.maxApiVersion)
        return LineErr::IncompatibleApiVersion;
    if (l.device.openResult != 0)
        return l.device.openResult;
    if (l.hLine != 0)
        return LineErr::Allocated;
    if (mediaModes == 0 || (mediaModes & ~l.device.mediaModes) != 0)
        return LineErr::InvalMediaMode;
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
    if (digitMode != kDigitModeDtmf && digitMode != 0x1)
        return LineErr::InvalDigitMode;
    if (digits.isEmpty() || !std::all_of(digits.begin(), digits.end(), isDtmfKey))
        return LineErr::InvalDigitList;
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
    if ((digitModes & ~std::uint32_t{0x7}) != 0)
        return LineErr::InvalDigitMode;
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
    if (deviceClass.compare(QLatin1String("wave/in"), Qt::CaseInsensitive) == 0)
        deviceId = kWaveInBase + index;
    else if (deviceClass.compare(QLatin1String("wave/out"), Qt::CaseInsensitive) == 0)
        deviceId = kWaveOutBase + index;
    else
        return LineErr::InvalDeviceClass;
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

void VirtualExchange::outgoingTick(Line &line)
{
    line.outgoingTimer->setEnabled(false);
    if (line.hCall == 0 || line.incoming)
        return;
    if (line.outgoingPhase == 0) {
        line.outgoingPhase = 1;
        line.callState = LineCallState::Connected;
        postCallState(line, LineCallState::Connected);
        switch (line.outgoing.kind) {
        case OutgoingBehaviour::Kind::Busy:
            line.audio.exchangeTone = toneSource(static_cast<int>(sim::ToneKind::Busy));
            trace(line, QStringLiteral("the called party is busy"));
            break;
        case OutgoingBehaviour::Kind::NoAnswer:
            line.audio.exchangeTone = toneSource(static_cast<int>(sim::ToneKind::Ringback));
            break;
        case OutgoingBehaviour::Kind::Answer:
            line.audio.exchangeTone = toneSource(static_cast<int>(sim::ToneKind::Ringback));
            line.outgoingTimer->setInterval(std::max(1, line.outgoing.answerAfterMs));
            line.outgoingTimer->setEnabled(true);
            break;
        }
    } else if (line.outgoingPhase == 1) {
        line.outgoingPhase = 2;
        line.audio.exchangeTone.reset();
        line.audio.farEnd = line.outgoing.speech;
        trace(line, QStringLiteral("the called party answers"));
    }
    changed(line);
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

// --- the far end -------------------------------------------------------------------------

bool VirtualExchange::placeIncomingCall(int index, IncomingCall call)
{
    if (index < 0 || index >= deviceCount())
        return false;
    Line &l = *m_lines[static_cast<std::size_t>(index)];
    if (l.hCall != 0 && l.callState != LineCallState::Idle)
        return false;
    // A call the application never deallocated is forgotten: the new one gets a new handle.
    endCall(l);
    l.call = std::move(call);
    if (l.call.cadenceMs.empty())
        l.call.cadenceMs = ringCadence();
    l.hCall = m_app.nextHandle();
    l.incoming = true;
    l.handsetOffHook = false;
    l.farEndGone = false;
    l.ringCount = 0;
    l.callerNumber.clear();
    l.callerName.clear();
    l.callerIdFlags = l.call.callerIdTiming == CallerIdTiming::None ? CallPartyId::Unavail : CallPartyId::Unknown;
    l.dialled.clear();
    l.digitsHeard.clear();
    l.callState = LineCallState::Offering;
    trace(l, QStringLiteral("incoming call"));
    if (l.call.callerIdTiming == CallerIdTiming::BeforeFirstRing)
        postCallerId(l);
    postCallState(l, LineCallState::Offering);

    const int period = std::accumulate(l.call.cadenceMs.begin(), l.call.cadenceMs.end(), 0);
    l.ringing = true;
    l.ringTimer->setInterval(std::max(period, 100));
    l.ringTimer->setEnabled(true);
    if (l.call.callerIdTiming == CallerIdTiming::AfterFirstRing) {
        const int firstOn = l.call.cadenceMs.empty() ? 0 : l.call.cadenceMs.front();
        int delay = firstOn + kCallerIdAfterRingMs;
        if (delay >= period)
            delay = std::max(1, period / 2);
        l.callerIdTimer->setInterval(delay);
        l.callerIdTimer->setEnabled(true);
    }
    ringTick(l); // the first ring starts now
    return true;
}

void VirtualExchange::ringTick(Line &line)
{
    if (!line.ringing)
        return;
    ++line.ringCount;
    trace(line, QStringLiteral("ring %1").arg(line.ringCount));
    if (line.lineStates & kLineDevStateRinging)
        postEvent(line, line.hLine, LINE_LINEDEVSTATE, kLineDevStateRinging, 1, static_cast<std::uint32_t>(line.ringCount));
    if (line.call.pickUpAfterRing > 0 && line.ringCount >= line.call.pickUpAfterRing) {
        stopRinging(line);
        line.handsetOffHook = true;
        trace(line, QStringLiteral("handset picked up"));
    } else if (line.call.maxRings > 0 && line.ringCount >= line.call.maxRings) {
        stopRinging(line);
        line.farEndGone = true;
        trace(line, QStringLiteral("caller gives up"));
        if (line.call.giveUpWithIdle) {
            line.callState = LineCallState::Idle;
            postCallState(line, LineCallState::Idle);
        }
    }
    changed(line);
}

bool VirtualExchange::pickUpHandset(int index)
{
    if (index < 0 || index >= deviceCount())
        return false;
    Line &l = *m_lines[static_cast<std::size_t>(index)];
    if (!l.incoming || l.callState != LineCallState::Offering || l.handsetOffHook)
        return false;
    stopRinging(l);
    l.handsetOffHook = true;
    trace(l, QStringLiteral("handset picked up"));
    changed(l);
    return true;
}

bool VirtualExchange::sendCallerId(int index, const QByteArray &number, const QByteArray &name)
{
    if (index < 0 || index >= deviceCount())
        return false;
    Line &l = *m_lines[static_cast<std::size_t>(index)];
    if (!l.incoming || l.hCall == 0 || l.callState == LineCallState::Idle)
        return false;
    l.call.number = number;
    l.call.name = name;
    l.callerIdTimer->setEnabled(false);
    postCallerId(l);
    changed(l);
    return true;
}

bool VirtualExchange::pressDigits(int index, const QString &digits)
{
    if (index < 0 || index >= deviceCount())
        return false;
    Line &l = *m_lines[static_cast<std::size_t>(index)];
    if (l.hCall == 0 || l.farEndGone || l.callState == LineCallState::Idle)
        return false;
    for (const QChar key : digits) {
        if (isDtmfKey(key))
            l.farDigitQueue += key;
    }
    if (!l.farDigitQueue.isEmpty() && !l.digitTimer->isEnabled()) {
        digitTick(l);
        if (!l.farDigitQueue.isEmpty())
            l.digitTimer->setEnabled(true);
    }
    return true;
}

void VirtualExchange::digitTick(Line &line)
{
    if (line.farDigitQueue.isEmpty() || line.hCall == 0) {
        line.digitTimer->setEnabled(false);
        return;
    }
    const QChar key = line.farDigitQueue.front();
    line.farDigitQueue.remove(0, 1);
    if (line.audio.carrying) {
        std::vector<std::int16_t> tone;
        appendDtmf(tone, key, kDefaultDigitMs, 0);
        line.audio.farDigits.insert(line.audio.farDigits.end(), tone.begin(), tone.end());
    }
    trace(line, QStringLiteral("caller keys ") + key);
    if (line.monitoring && line.callState == LineCallState::Connected)
        postEvent(line, line.hCall, LINE_MONITORDIGITS, key.unicode(), kDigitModeDtmf, 0);
    if (line.farDigitQueue.isEmpty())
        line.digitTimer->setEnabled(false);
}

bool VirtualExchange::hangUpFarEnd(int index, FarEndHangUp kind)
{
    if (index < 0 || index >= deviceCount())
        return false;
    Line &l = *m_lines[static_cast<std::size_t>(index)];
    if (l.hCall == 0 || l.farEndGone || l.callState == LineCallState::Idle
        || l.callState == LineCallState::Disconnected)
        return false;
    l.farEndGone = true;
    stopRinging(l);
    l.farDigitQueue.clear();
    l.digitTimer->setEnabled(false);
    l.outgoingTimer->setEnabled(false);
    l.audio.farEnd.reset();
    trace(l, kind == FarEndHangUp::WithDisconnect ? QStringLiteral("far end hangs up")
                                                  : QStringLiteral("far end hangs up without a disconnection"));
    if (kind == FarEndHangUp::WithDisconnect) {
        l.audio.exchangeTone.reset();
        setState(l, LineCallState::Disconnected);
    } else if (l.audio.carrying) {
        const auto tone = m_hangUpTone == HangUpTone::Busy ? sim::ToneKind::Busy : sim::ToneKind::Congestion;
        l.audio.exchangeTone = toneSource(static_cast<int>(tone));
    }
    changed(l);
    return true;
}

void VirtualExchange::setOutgoingBehaviour(int index, OutgoingBehaviour behaviour)
{
    if (index >= 0 && index < deviceCount())
        m_lines[static_cast<std::size_t>(index)]->outgoing = std::move(behaviour);
}

void VirtualExchange::setFarEndAudio(int index, std::shared_ptr<sim::SampleSource> source)
{
    if (index < 0 || index >= deviceCount())
        return;
    Line &l = *m_lines[static_cast<std::size_t>(index)];
    l.call.speech = source;
    l.outgoing.speech = source;
    if (l.audio.carrying && !l.farEndGone)
        l.audio.farEnd = std::move(source);
}

VirtualExchange::LineView VirtualExchange::view(int index) const
{
    LineView v;
    if (index < 0 || index >= deviceCount())
        return v;
    const Line &l = *m_lines[static_cast<std::size_t>(index)];
    v.open = l.hLine != 0;
    v.hLine = l.hLine;
    v.hCall = l.hCall;
    v.callState = l.callState;
    v.incoming = l.incoming;
    v.ringing = l.ringing;
    v.ringCount = l.ringCount;
    v.ringCadenceMs = l.call.cadenceMs;
    v.handsetOffHook = l.handsetOffHook;
    v.farEndGone = l.farEndGone;
    v.monitoringDigits = l.monitoring;
    v.dialled = l.dialled;
    v.digitsHeard = l.digitsHeard;
    v.openMediaModes = l.openMediaModes;
    return v;
}

std::uint64_t VirtualExchange::heardSampleCount(int index) const
{
    if (index < 0 || index >= deviceCount())
        return 0;
    return m_lines[static_cast<std::size_t>(index)]->audio.heardCount;
}

void VirtualExchange::keepHeardAudio(int index, bool keep)
{
    if (index < 0 || index >= deviceCount())
        return;
    Audio &audio = m_lines[static_cast<std::size_t>(index)]->audio;
    audio.keepHeard = keep;
    if (!keep)
        std::vector<std::int16_t>().swap(audio.heard);
}

const std::vector<std::int16_t> &VirtualExchange::heardByFarEnd(int index) const
{
    static const std::vector<std::int16_t> none;
    if (index < 0 || index >= deviceCount())
        return none;
    return m_lines[static_cast<std::size_t>(index)]->audio.heard;
}

LineAudioChannel *VirtualExchange::audioChannel(std::uint32_t waveDeviceId)
{
    for (std::uint32_t base : {kWaveInBase, kWaveOutBase}) {
        if (waveDeviceId >= base && waveDeviceId < base + m_lines.size())
            return &m_lines[waveDeviceId - base]->audio;
    }
    return nullptr;
}

} // namespace telvox
