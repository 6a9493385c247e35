#pragma once

#include "platform/telephony/LineApplication.h"
#include "platform/telephony/TelephonyService.h"
#include "platform/telephony/sip/SipNotice.h"
#include "platform/telephony/sip/SipStack.h"
#include "platform/wave/PacedWaveDevices.h"

#include <QObject>

#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace telvox {
class EventLoop;
class Texts;
class Timer;
} // namespace telvox

namespace telvox::sip {

// One SIP line as the settings describe it.
struct SipLineConfig
{
    SipLineSetup setup;
    std::vector<int> ringCadenceMs{2000, 4000}; // on/off; a ring is counted at the start of each period
    int toneMs = 100;                           // length of a touch tone we send
};

// The SIP backend of the telephony service: one line device per configured SIP line, each a
// user agent that callers reach directly at its listening address. Incoming INVITEs ring the
// line at the configured cadence until the call flow answers (200 OK) or the caller gives up
// (CANCEL: the line goes idle unanswered); BYE disconnects. The line's audio, G.711 on the
// wire, reaches the wave devices (ids kWaveDeviceBase + line, one id for "wave/in" and
// "wave/out") as 8000 Hz 16-bit samples, like a voice modem's.
class SipTelephony final : public TelephonyService, public WaveDeviceProvider
{
public:
    static constexpr int kWaveDeviceBase = 0x60;

    SipTelephony(EventLoop &loop, std::vector<SipLineConfig> lines);
    ~SipTelephony() override;

    // Binds the lines' addresses and starts the stack; an empty text on success.
    QString start();
    int lineCount() const { return static_cast<int>(m_lines.size()); }
    // Where callers reach line `index` ("sip:telvox@127.0.0.1:5070").
    QByteArray contactUri(int index) const { return m_stack.contactUri(index); }
    SipStack &stack() { return m_stack; }
    // Registration news for the status list (on the user-interface thread).
    void setStatusHandler(std::function<void(const SipNotice &)> handler) { m_status = std::move(handler); }
    // Callers turned away as busy, by number ("" when unknown), for the call records.
    void setRefusedHandler(std::function<void(const QString &)> handler) { m_refused = std::move(handler); }
    // Whether line `index` is registered at its registrar now.
    bool registered(int index) const;
    // Whether a caller on line `index` waits for the call flow to let go of the previous call.
    bool callerWaiting(int index) const;
    // Line `index`'s registration for `telvox --status`: registered (and when it was last
    // refreshed), failing (and why), or under way; where a line without a registrar listens.
    QString registrationReport(int index, const Texts &texts) const;

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
    std::int32_t lineReject(HCall call, RejectReason reason) override;
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
    bool hasInput(int deviceId) const override { return m_paced.hasInput(deviceId); }
    bool hasOutput(int deviceId) const override { return m_paced.hasOutput(deviceId); }
    WaveResult openIn(int deviceId, const PcmFormat &format, WaveCallback callback,
                      std::unique_ptr<WaveIn> &device) override;
    WaveResult openOut(int deviceId, const PcmFormat &format, WaveCallback callback,
                       std::unique_ptr<WaveOut> &device) override;

private:
    static constexpr std::uint32_t kMaxApiVersion = 0x20002;
    struct Line;

    Line *lineOfHandle(HLine handle);
    Line *lineOfCall(HCall call);
    void post(Line &line, std::uint32_t device, std::uint32_t message, std::uint32_t p1, std::uint32_t p2,
              std::uint32_t p3);
    void setState(Line &line, std::uint32_t state);
    void ringTick(Line &line);
    void stopRinging(Line &line);
    // Runs on the stack's thread: queues the event for the user-interface thread.
    void receive(const StackEvent &event);
    void drainEvents();
    void handle(const StackEvent &event);
    void registrationNews(Line &line, const StackEvent &event);
    // The line, then the registrar and `reason`, or (with `third`) `reason` and `third`.
    void tell(int text, const Line &line, const QString &reason = QString(), const QString &third = QString());
    void offer(Line &line, const StackEvent &event);
    void refused(const Line &line, const StackEvent &event, int code);

    EventLoop &m_loop;
    std::vector<std::unique_ptr<Line>> m_lines;
    LineApplication m_app;
    PacedWaveDevices m_paced;
    QObject m_context; // lives on the user-interface thread: events are delivered there
    std::mutex m_inboxMutex;
    std::deque<StackEvent> m_inbox;
    std::function<void(const SipNotice &)> m_status;
    std::function<void(const QString &)> m_refused;
    SipStack m_stack; // last: its thread stops before the rest goes
};

} // namespace telvox::sip
