#pragma once

#include "platform/telephony/CallTableService.h"
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
class SipTelephony final : public CallTableService, public WaveDeviceProvider
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

    // TelephonyService: what the table does not (a SIP line refuses an offered call itself)
    std::int32_t lineReject(HCall call, RejectReason reason) override;

    // WaveDeviceProvider
    bool hasInput(int deviceId) const override { return m_paced.hasInput(deviceId); }
    bool hasOutput(int deviceId) const override { return m_paced.hasOutput(deviceId); }
    WaveResult openIn(int deviceId, const PcmFormat &format, WaveCallback callback,
                      std::unique_ptr<WaveIn> &device) override;
    WaveResult openOut(int deviceId, const PcmFormat &format, WaveCallback callback,
                       std::unique_ptr<WaveOut> &device) override;

private:
    struct Line;
    static Line &lineOf(CallSlot &slot);

    // CallTableService
    std::uint32_t offeredModes(const CallSlot &slot) const override;
    std::int32_t describe(const CallSlot &slot, LineDevCaps &caps) override;
    std::uint32_t waveDeviceId(const CallSlot &slot, LineApplication::WaveClass waveClass) const override;
    std::int32_t openRefusal(const CallSlot &slot) const override;
    void closing(CallSlot &slot) override;
    std::int32_t answerCall(CallSlot &slot) override;
    std::int32_t dropCall(CallSlot &slot) override;
    std::int32_t sendDigits(CallSlot &slot, const QString &digits, std::uint32_t durationMs) override;
    std::int32_t placeCall(CallSlot &slot, const QString &destAddress, HCall &call) override;
    void callFreed(CallSlot &slot) override;

    void ringTick(Line &line);
    void stopRinging(Line &line);
    // Runs on the stack's thread: queues the event for the user-interface thread.
    void receive(const StackEvent &event);
    void drainEvents();
    void handle(const StackEvent &event);
    // One function for each kind of event, for the line it concerns.
    void onIncoming(Line &line, const StackEvent &event);
    void onProgress(Line &line, const StackEvent &event);
    void onEstablished(Line &line, const StackEvent &event);
    void onEnded(Line &line, const StackEvent &event);
    void onDigit(Line &line, const StackEvent &event);
    void onDigitsSent(Line &line, const StackEvent &event);
    void registrationNews(Line &line, const StackEvent &event);
    // The line, then the registrar and `reason`, or (with `third`) `reason` and `third`.
    void tell(int text, const Line &line, const QString &reason = QString(), const QString &third = QString());
    void offer(Line &line, const StackEvent &event);
    void refused(const Line &line, const StackEvent &event, int code);

    EventLoop &m_loop;
    std::vector<std::unique_ptr<Line>> m_lines;
    PacedWaveDevices m_paced;
    QObject m_context; // lives on the user-interface thread: events are delivered there
    std::mutex m_inboxMutex;
    std::deque<StackEvent> m_inbox;
    std::function<void(const SipNotice &)> m_status;
    std::function<void(const QString &)> m_refused;
    SipStack m_stack; // last: its thread stops before the rest goes
};

} // namespace telvox::sip
