#include "platform/telephony/modem/ModemTelephony.h"

#include "core/EventLoop.h"

#include <QThread>

#include <algorithm>

namespace telvox::modem {

ModemTelephony::ModemTelephony(EventLoop &loop, std::vector<ModemPort> ports)
    : CallTableService(loop, 0x00B70001)
    , m_loop(loop)
{
    int index = 0;
    for (ModemPort &entry : ports) {
        auto line = std::make_unique<ModemLine>(loop, index++, entry.portName, std::move(entry.opener), entry.options);
        ModemLine *l = line.get();
        line->setEmitter([this, l](std::uint32_t d, std::uint32_t m, std::uint32_t a, std::uint32_t b, std::uint32_t c) {
            table().post(l->slot(), d, m, a, b, c);
        });
        line->setHandleSource([this] { return table().app().nextHandle(); });
        line->setRequestSource([this] { return table().nextRequest(); });
        table().add(l->slot());
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

ModemLine *ModemTelephony::lineOfWaveId(int id) const
{
    const int index = id - kWaveDeviceBase;
    if (index < 0 || index >= lineCount())
        return nullptr;
    return m_lines[static_cast<std::size_t>(index)].get();
}

// --- the line functions: the modem side of what the table checked --------------------------

std::uint32_t ModemTelephony::offeredModes(const CallSlot &slot) const { return lineOf(slot).mediaModes(); }

std::int32_t ModemTelephony::describe(const CallSlot &slot, LineDevCaps &caps)
{
    const ModemLine &l = lineOf(slot);
    caps.lineName = l.lineName();
    caps.mediaModes = l.mediaModes();
    return 0;
}

std::uint32_t ModemTelephony::waveDeviceId(const CallSlot &slot, LineApplication::WaveClass) const
{
    return static_cast<std::uint32_t>(kWaveDeviceBase) + slot.device;
}

void ModemTelephony::closing(CallSlot &slot) { lineOf(slot).close(); }

void ModemTelephony::fillCallInfo(const CallSlot &slot, LineCallInfo &info) const { lineOf(slot).fillCallInfo(info); }

std::int32_t ModemTelephony::answerCall(CallSlot &slot) { return lineOf(slot).answer(); }

std::int32_t ModemTelephony::dropCall(CallSlot &slot) { return lineOf(slot).drop(); }

std::int32_t ModemTelephony::sendDigits(CallSlot &slot, const QString &digits, std::uint32_t durationMs)
{
    return lineOf(slot).generateDigits(digits, durationMs);
}

std::int32_t ModemTelephony::placeCall(CallSlot &slot, const QString &destAddress, HCall &call)
{
    return lineOf(slot).makeCall(destAddress, call);
}

void ModemTelephony::callFreed(CallSlot &slot) { lineOf(slot).callFreed(); }

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
