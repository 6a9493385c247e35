#pragma once

#include "platform/telephony/LineApplication.h"
#include "platform/telephony/TelephonyService.h"
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
class ModemTelephony final : public TelephonyService, public WaveDeviceProvider
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

    // TelephonyService
    std::int32_t lineInitialize(HLineApp &lineApp, LineCallback callback, const QString &appName,
                                std::uint32_t &numDevs) override;
    std::int32_t lineNegotiateAPIVersion(HLineApp lineApp, std::uint32_t deviceId, std::uint32_t lowVersion,
                                         std::uint32_t highVersion, std::uint32_t &apiVersion,
                                         std::uint64_t &extensionId) override;
    std::int32_t lineGetDevCaps(HLineApp lineApp, std::uint32_t deviceId, std::uint32_t apiVersion,
                                std::uint32_t extVersion, LineDevCaps &caps) override;
    std::int32_t lineOpen(HLineApp lineApp, std::uint32_t deviceId, HLine &line, std::uint32_t apiVersion,
                          std::uint32_t extVersion, std::uintptr_t callbackInstance, std::uint32_t privileges,
                          std::uint32_t mediaModes) override;
    std::int32_t lineSetStatusMessages(HLine line, std::uint32_t lineStates, std::uint32_t addressStates) override;
    std::int32_t lineGetCallInfo(HCall call, LineCallInfo &info) override;
    std::int32_t lineAnswer(HCall call) override;
    std::int32_t lineDrop(HCall call) override;
    std::int32_t lineGenerateDigits(HCall call, std::uint32_t digitMode, const QString &digits,
                                    std::uint32_t durationMs) override;
    std::int32_t lineMonitorDigits(HCall call, std::uint32_t digitModes) override;
    std::int32_t lineDeallocateCall(HCall call) override;
    std::int32_t lineGetID(HLine line, std::uint32_t addressId, HCall call, std::uint32_t select,
                           std::uint32_t &deviceId, const QString &deviceClass) override;
    std::int32_t lineMakeCall(HLine line, HCall &call, const QString &destAddress, std::uint32_t countryCode) override;
    std::int32_t lineClose(HLine line) override;
    std::int32_t lineShutdown(HLineApp lineApp) override;

    // WaveDeviceProvider
    bool hasInput(int deviceId) const override;
    bool hasOutput(int deviceId) const override;
    WaveResult openIn(int deviceId, const PcmFormat &format, WaveCallback callback,
                      std::unique_ptr<WaveIn> &device) override;
    WaveResult openOut(int deviceId, const PcmFormat &format, WaveCallback callback,
                       std::unique_ptr<WaveOut> &device) override;

private:
    static constexpr std::uint32_t kMaxApiVersion = 0x20002;
    // Lets the event loop run (in 5 ms steps) until `done` or `timeoutMs`; returns `done()`.
    bool runUntil(const std::function<bool()> &done, int timeoutMs);
    ModemLine *lineOfHandle(HLine handle) const;
    ModemLine *lineOfCall(HCall call) const;
    ModemLine *lineOfWaveId(int id) const;
    void post(ModemLine &line, std::uint32_t device, std::uint32_t message, std::uint32_t p1, std::uint32_t p2,
              std::uint32_t p3);

    EventLoop &m_loop;
    std::vector<std::unique_ptr<ModemLine>> m_lines;
    LineApplication m_app;
};

} // namespace telvox::modem
