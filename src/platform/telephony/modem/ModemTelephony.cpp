#include "platform/telephony/modem/ModemTelephony.h"

#include "core/EventLoop.h"

#include <QThread>

#include <algorithm>

namespace telvox::modem {

ModemTelephony::ModemTelephony(EventLoop &loop, std::vector<ModemPort> ports)
    : m_loop(loop)
    , m_app(loop, 0x00B70001)
{
    int index = 0;
    for (ModemPort &entry : ports) {
        auto line = std::make_unique<ModemLine>(loop, index++, entry.portName, std::move(entry.opener), entry.options);
        ModemLine *l = line.get();
        line->setEmitter([this, l](std::uint32_t d, std::uint32_t m, std::uint32_t a, std::uint32_t b, std::uint32_t c) {
            post(*l, d, m, a, b, c);
        });
        line->setHandleSource([this] { return m_app.nextHandle(); });
        line->setRequestSource([this] { return m_app.nextRequest(); });
        m_lines.push_back(std::move(line));
    }
}

ModemTelephony::~ModemTelephony() = default;

void ModemTelephony::start()
{
    for (auto &line : m_lines)
        line->start();
}

bool ModemTelephony::runUntil(const std::function<bool()> &done, int timeoutMs)
{
    const std::int64_t until = m_loop.now() + timeoutMs;
    while (!done() && m_loop.now() < until) {
        m_loop.doEvents();
        QThread::msleep(5);
    }
    return done();
}

bool ModemTelephony::waitForIdentification(int timeoutMs)
{
    return runUntil(
        [this] { return std::all_of(m_lines.begin(), m_lines.end(), [](const auto &l) { return l->identifiedOnce(); }); },
        timeoutMs);
}

void ModemTelephony::finishPendingCommands(int timeoutMs)
{
    runUntil([this] { return std::none_of(m_lines.begin(), m_lines.end(), [](const auto &l) { return l->busy(); }); },
             timeoutMs);
}

void ModemTelephony::setStatusHandler(std::function<void(const ModemNotice &)> handler)
{
    for (auto &line : m_lines)
        line->setStatusHandler(handler);
}

void ModemTelephony::post(ModemLine &line, std::uint32_t device, std::uint32_t message, std::uint32_t p1,
                          std::uint32_t p2, std::uint32_t p3)
{
    if (line.hLine() == 0)
        return;
    m_app.post([target = &line, hLine = line.hLine()] { return target->hLine() == hLine; }, line.instance(), device,
               message, p1, p2, p3);
}

ModemLine *ModemTelephony::lineOfHandle(HLine handle) const
{
    if (handle == 0)
        return nullptr;
    for (const auto &line : m_lines) {
        if (line->hLine() == handle)
            return line.get();
    }
    return nullptr;
}

ModemLine *ModemTelephony::lineOfCall(HCall call) const
{
    if (call == 0)
        return nullptr;
    for (const auto &line : m_lines) {
        if (line->hLine() != 0 && line->hCall() == call)
            return line.get();
    }
    return nullptr;
}

ModemLine *ModemTelephony::lineOfWaveId(int id) const
{
    const int index = id - kWaveDeviceBase;
    if (index < 0 || index >= lineCount())
        return nullptr;
    return m_lines[static_cast<std::size_t>(index)].get();
}

// --- the line functions ----------------------------------------------------------------------

std::int32_t ModemTelephony::lineInitialize(HLineApp &lineApp, LineCallback callback, const QString &appName,
                                            std::uint32_t &numDevs)
{
    (void)appName;
    return m_app.initialize(lineApp, std::move(callback), m_lines.size(), numDevs);
}

std::int32_t ModemTelephony::lineNegotiateAPIVersion(HLineApp lineApp, std::uint32_t deviceId,
                                                     std::uint32_t lowVersion, std::uint32_t highVersion,
                                                     std::uint32_t &apiVersion, std::uint64_t &extensionId)
{
    return m_app.negotiateDevice(lineApp, deviceId, m_lines.size(), lowVersion, highVersion, kMaxApiVersion,
                                 apiVersion, extensionId);
}

std::int32_t ModemTelephony::lineGetDevCaps(HLineApp lineApp, std::uint32_t deviceId, std::uint32_t apiVersion,
                                            std::uint32_t extVersion, LineDevCaps &caps)
{
    (void)extVersion;
    if (const std::int32_t refused = m_app.checkDevice(lineApp, deviceId, m_lines.size()))
        return refused;
    if (const std::int32_t refused = LineApplication::checkVersion(apiVersion, kMaxApiVersion))
        return refused;
    const ModemLine &l = *m_lines[deviceId];
    caps.lineName = l.lineName();
    caps.mediaModes = l.mediaModes();
    return 0;
}

std::int32_t ModemTelephony::lineOpen(HLineApp lineApp, std::uint32_t deviceId, HLine &line,
                                      std::uint32_t apiVersion, std::uint32_t extVersion,
                                      std::uintptr_t callbackInstance, std::uint32_t privileges,
                                      std::uint32_t mediaModes)
{
    (void)extVersion;
    (void)privileges;
    if (const std::int32_t refused = m_app.checkDevice(lineApp, deviceId, m_lines.size()))
        return refused;
    ModemLine &l = *m_lines[deviceId];
    if (const std::int32_t refused = LineApplication::checkVersion(apiVersion, kMaxApiVersion))
        return refused;
    if (const std::int32_t refused = LineApplication::checkOpen(l.hLine() != 0, mediaModes, l.mediaModes()))
        return refused;
    line = m_app.nextHandle();
    l.open(line, callbackInstance, mediaModes);
    return 0;
}

std::int32_t ModemTelephony::lineSetStatusMessages(HLine line, std::uint32_t lineStates, std::uint32_t addressStates)
{
    (void)addressStates;
    ModemLine *l = lineOfHandle(line);
    if (!l)
        return LineErr::InvalLineHandle;
    l->setLineStates(lineStates);
    return 0;
}

std::int32_t ModemTelephony::lineGetCallInfo(HCall call, LineCallInfo &info)
{
    ModemLine *l = lineOfCall(call);
    if (!l)
        return LineErr::InvalCallHandle;
    l->fillCallInfo(info);
    return 0;
}

std::int32_t ModemTelephony::lineAnswer(HCall call)
{
    ModemLine *l = lineOfCall(call);
    return l ? l->answer() : LineErr::InvalCallHandle;
}

std::int32_t ModemTelephony::lineDrop(HCall call)
{
    ModemLine *l = lineOfCall(call);
    return l ? l->drop() : LineErr::InvalCallHandle;
}

std::int32_t ModemTelephony::lineGenerateDigits(HCall call, std::uint32_t digitMode, const QString &digits,
                                                std::uint32_t durationMs)
{
    ModemLine *l = lineOfCall(call);
    if (!l)
        return LineErr::InvalCallHandle;
    if (const std::int32_t refused = LineApplication::checkDigitMode(digitMode))
        return refused;
    return l->generateDigits(digits, durationMs);
}

std::int32_t ModemTelephony::lineMonitorDigits(HCall call, std::uint32_t digitModes)
{
    ModemLine *l = lineOfCall(call);
    return l ? l->monitorDigits(digitModes) : LineErr::InvalCallHandle;
}

std::int32_t ModemTelephony::lineDeallocateCall(HCall call)
{
    ModemLine *l = lineOfCall(call);
    return l ? l->deallocateCall() : LineErr::InvalCallHandle;
}

std::int32_t ModemTelephony::lineGetID(HLine line, std::uint32_t addressId, HCall call, std::uint32_t select,
                                       std::uint32_t &deviceId, const QString &deviceClass)
{
    (void)addressId;
    ModemLine *l = select == kCallSelectCall ? lineOfCall(call) : lineOfHandle(line);
    if (!l)
        return select == kCallSelectCall ? LineErr::InvalCallHandle : LineErr::InvalLineHandle;
    if (LineApplication::waveClass(deviceClass) == LineApplication::WaveClass::Unknown)
        return LineErr::InvalDeviceClass;
    deviceId = static_cast<std::uint32_t>(kWaveDeviceBase + l->index());
    return 0;
}

std::int32_t ModemTelephony::lineMakeCall(HLine line, HCall &call, const QString &destAddress,
                                          std::uint32_t countryCode)
{
    (void)countryCode;
    ModemLine *l = lineOfHandle(line);
    return l ? l->makeCall(destAddress, call) : LineErr::InvalLineHandle;
}

std::int32_t ModemTelephony::lineClose(HLine line)
{
    ModemLine *l = lineOfHandle(line);
    if (!l)
        return LineErr::InvalLineHandle;
    l->close();
    return 0;
}

std::int32_t ModemTelephony::lineShutdown(HLineApp lineApp)
{
    if (!m_app.valid(lineApp))
        return LineErr::InvalAppHandle;
    for (auto &line : m_lines) {
        if (line->hLine() != 0)
            line->close();
    }
    m_app.shutdown();
    return 0;
}

// --- wave devices ----------------------------------------------------------------------------

bool ModemTelephony::hasInput(int deviceId) const { return lineOfWaveId(deviceId) != nullptr; }
bool ModemTelephony::hasOutput(int deviceId) const { return lineOfWaveId(deviceId) != nullptr; }

WaveResult ModemTelephony::openIn(int deviceId, const PcmFormat &format, WaveCallback callback,
                                  std::unique_ptr<WaveIn> &device)
{
    ModemLine *l = lineOfWaveId(deviceId);
    if (!l)
        return MMSYSERR_BADDEVICEID;
    if (!format.isLinePcm())
        return WAVERR_BADFORMAT;
    const WaveResult result = l->openInput(callback, device);
    if (result == MMSYSERR_NOERROR && callback)
        callback(WaveMessage::Open);
    return result;
}

WaveResult ModemTelephony::openOut(int deviceId, const PcmFormat &format, WaveCallback callback,
                                   std::unique_ptr<WaveOut> &device)
{
    ModemLine *l = lineOfWaveId(deviceId);
    if (!l)
        return MMSYSERR_BADDEVICEID;
    if (!format.isLinePcm())
        return WAVERR_BADFORMAT;
    const WaveResult result = l->openOutput(callback, device);
    if (result == MMSYSERR_NOERROR && callback)
        callback(WaveMessage::Open);
    return result;
}

} // namespace telvox::modem
