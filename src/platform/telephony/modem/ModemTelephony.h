#pragma once

#include "platform/telephony/CallTableService.h"
#include "platform/telephony/modem/ModemLine.h"
#include "platform/wave/WaveDevice.h"

#include <functional>
#include <memory>
#include <vector>

namespace telvox {
class EventLoop;
}

namespace telvox::modem {

// One configured line: where its modem is and how to open it.
struct ModemPort
{
    QString portName;   // for messages ("/dev/serial/by-id/usb-...")
    PortOpener opener;  // opens the port (a QSerialPort in the program)
    LineOptions options;
};

// The voice-modem backend of the telephony service: one line device per configured port.
// It also provides the wave devices of its lines (ids kWaveDeviceBase + line, the same id for
// "wave/in" and "wave/out"), whose audio is the modem's voice data stream.
class ModemTelephony final : public CallTableService, public WaveDeviceProvider
{
public:
    static constexpr int kWaveDeviceBase = 0x40;

    ModemTelephony(EventLoop &loop, std::vector<ModemPort> ports);
    ~ModemTelephony() override;

    // Opens the ports and initialises the modems (asynchronously).
    void start();
    // Lets the event loop run until every modem has been identified or `timeoutMs` passed
    // (so that the line names are known when the lines are classified). Returns whether all were.
    bool waitForIdentification(int timeoutMs);
    // At exit, after lineShutdown: lets the hang-ups still going on finish (at most `timeoutMs`).
    void finishPendingCommands(int timeoutMs);
    // What the lines have to tell the user, for the status list.
    void setStatusHandler(std::function<void(const ModemNotice &)> handler);

    int lineCount() const { return static_cast<int>(m_lines.size()); }
    ModemLine &line(int index) { return *m_lines.at(static_cast<std::size_t>(index)); }

    // WaveDeviceProvider
    bool hasInput(int deviceId) const override;
    bool hasOutput(int deviceId) const override;
    WaveResult openIn(int deviceId, const PcmFormat &format, WaveCallback callback,
                      std::unique_ptr<WaveIn> &device) override;
    WaveResult openOut(int deviceId, const PcmFormat &format, WaveCallback callback,
                       std::unique_ptr<WaveOut> &device) override;

private:
    ModemLine &lineOf(const CallSlot &slot) const { return *m_lines[slot.device]; }

    // CallTableService
    std::uint32_t offeredModes(const CallSlot &slot) const override;
    std::int32_t describe(const CallSlot &slot, LineDevCaps &caps) override;
    std::uint32_t waveDeviceId(const CallSlot &slot, LineApplication::WaveClass waveClass) const override;
    void closing(CallSlot &slot) override;
    void fillCallInfo(const CallSlot &slot, LineCallInfo &info) const override;
    std::int32_t answerCall(CallSlot &slot) override;
    std::int32_t dropCall(CallSlot &slot) override;
    std::int32_t sendDigits(CallSlot &slot, const QString &digits, std::uint32_t durationMs) override;
    std::int32_t placeCall(CallSlot &slot, const QString &destAddress, HCall &call) override;
    void callFreed(CallSlot &slot) override;

    // Lets the event loop run (in 5 ms steps) until `done` or `timeoutMs`; returns `done()`.
    bool runUntil(const std::function<bool()> &done, int timeoutMs);
    ModemLine *lineOfWaveId(int id) const;

    EventLoop &m_loop;
    std::vector<std::unique_ptr<ModemLine>> m_lines;
};

} // namespace telvox::modem
