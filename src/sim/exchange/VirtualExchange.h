#pragma once

#include "platform/telephony/LineAudioChannel.h"
#include "platform/telephony/CallTableService.h"
#include "platform/wave/PacedWaveDevices.h"
#include "sim/audio/HeardTone.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace telvox {

class EventLoop;
class Timer;

namespace sim {
class SampleSource;
} // namespace sim

// One telephony device of the virtual exchange and how it answers the line functions.
struct VirtualDevice
{
    QByteArray name = "Telvox Virtual Voice Line";
    std::uint32_t mediaModes = MediaMode::DataModem | MediaMode::InteractiveVoice | MediaMode::AutomatedVoice;
    std::uint32_t maxApiVersion = 0x20002; // the highest version the device negotiates
    std::int32_t negotiateResult = 0;      // non-zero: lineNegotiateAPIVersion fails with it
    std::int32_t devCapsResult = 0;        // non-zero: lineGetDevCaps fails with it
    std::int32_t openResult = 0;           // non-zero: lineOpen fails with it (LineErr::Allocated, ...)
    std::int32_t statusMessagesResult = 0; // non-zero: lineSetStatusMessages fails with it
};

struct ExchangeSetup
{
    std::vector<VirtualDevice> devices = std::vector<VirtualDevice>(4);
    std::int32_t initializeResult = 0; // non-zero: lineInitialize fails with it
    // Tone plan of the exchange: ring cadence, ring-back, busy and reorder tones.
    std::string country = "United States/Canada";
};

enum class CallerIdTiming { None, BeforeFirstRing, AfterFirstRing };

// An incoming call as the far end places it.
struct IncomingCall
{
    QByteArray number; // caller-ID number (any bytes); empty: none delivered
    QByteArray name;   // caller-ID name (any bytes); empty: none delivered
    bool withheld = false; // no number: the caller withheld it (rather than none being available)
    CallerIdTiming callerIdTiming = CallerIdTiming::AfterFirstRing;
    std::vector<int> cadenceMs;  // on/off ring cadence; empty: the country's ring cadence
    int maxRings = 0;            // the caller gives up after this ring; 0: rings until answered
    bool giveUpWithIdle = false; // giving up ends the call with an IDLE event (else rings just stop)
    int pickUpAfterRing = 0;     // a person lifts a parallel handset after this ring; 0: never
    std::shared_ptr<sim::SampleSource> speech; // what the caller says once connected
};

// How the called party behaves when the system dials out on a line.
struct OutgoingBehaviour
{
    enum class Kind { Answer, Busy, NoAnswer };
    Kind kind = Kind::Answer;
    int answerAfterMs = 8000; // ring-back before the called party answers
    std::shared_ptr<sim::SampleSource> speech;
};

enum class FarEndHangUp { WithDisconnect, Silent };

// The tone the exchange plays to a line whose far end hung up without a disconnection event.
enum class HangUpTone { Busy, Reorder };

// The first backend of the telephony service: up to any number of virtual devices whose far
// ends are driven through the methods below (by scenarios, tests or the Virtual Exchange
// window). It behaves as an analog line seen through a voice modem does: rings come with a
// cadence and a count, caller ID before or after the first ring or not at all, a parallel
// handset silently stops the rings, a far end that hangs up may leave only a busy tone, and a
// dialled call reports CONNECTED as soon as it is dialled, its progress being heard only in
// the audio (ring-back, busy, then the called party). Its lines' audio reaches the computer
// as wave devices ("wave/in" kWaveInBase + line, "wave/out" kWaveOutBase + line).
class VirtualExchange final : public CallTableService, public WaveDeviceProvider
{
public:
    VirtualExchange(EventLoop &loop, ExchangeSetup setup);
    ~VirtualExchange() override;

    // WaveDeviceProvider: the lines' audio, paced by the event loop's clock.
    bool hasInput(int deviceId) const override { return m_paced.hasInput(deviceId); }
    bool hasOutput(int deviceId) const override { return m_paced.hasOutput(deviceId); }
    WaveResult openIn(int deviceId, const PcmFormat &format, WaveCallback callback,
                      std::unique_ptr<WaveIn> &device) override;
    WaveResult openOut(int deviceId, const PcmFormat &format, WaveCallback callback,
                       std::unique_ptr<WaveOut> &device) override;

    // --- The far end ---------------------------------------------------------------------
    int deviceCount() const { return static_cast<int>(m_lines.size()); }
    // Places an incoming call on device `line`; false when the line already carries a call.
    bool placeIncomingCall(int line, IncomingCall call);
    // A person lifts a parallel handset on a ringing line: the rings stop, nothing is reported.
    bool pickUpHandset(int line);
    // The caller delivers caller-ID information now (for a call already offered).
    bool sendCallerId(int line, const QByteArray &number, const QByteArray &name);
    // The far end keys touch tones, one every 250 ms from now.
    bool pressDigits(int line, const QString &digits);
    // The far end hangs up (a ringing caller gives up).
    bool hangUpFarEnd(int line, FarEndHangUp kind);
    void setHangUpTone(HangUpTone tone) { m_hangUpTone = tone; }
    void setOutgoingBehaviour(int line, OutgoingBehaviour behaviour);
    // What the far end says from now on (replaces the caller's speech).
    void setFarEndAudio(int line, std::shared_ptr<sim::SampleSource> source);

    // --- What the exchange knows, for the window and for assertions ------------------------
    struct LineView
    {
        bool open = false;
        HLine hLine = 0;
        HCall hCall = 0;
        std::uint32_t callState = 0; // 0: no call
        bool incoming = false;
        bool ringing = false;
        int ringCount = 0;
        std::vector<int> ringCadenceMs; // on/off of the ringing call (the country's unless it has its own)
        bool handsetOffHook = false;
        bool farEndGone = false;
        bool monitoringDigits = false;
        QString dialled;        // number the system dialled
        QString digitsHeard;    // touch tones the system sent to the far end during this call
        std::uint32_t openMediaModes = 0;
    };
    LineView view(int line) const;
    // How many samples the system played into the line since the exchange started (its
    // prompts and touch tones), counted whether or not they are kept.
    std::uint64_t heardSampleCount(int line) const;
    // The far end keeps the samples themselves only when asked to (a test that checks them):
    // a run of thousands of calls would otherwise keep every prompt it ever heard.
    void keepHeardAudio(int line, bool keep);
    // The samples played into the line since keepHeardAudio(line, true); empty otherwise.
    const std::vector<std::int16_t> &heardByFarEnd(int line) const;
    // When the kept samples were heard: each mark gives the virtual time (ms) of the sample
    // at `offset` of heardByFarEnd; the samples up to the next mark follow at 8000 Hz.
    using HeardMark = sim::AudioMark;
    const std::vector<HeardMark> &heardMarks(int line) const;
    // The audio channel behind a wave device id from lineGetID; nullptr when unknown.
    LineAudioChannel *audioChannel(std::uint32_t waveDeviceId);
    static constexpr std::uint32_t kWaveInBase = 0x100;
    static constexpr std::uint32_t kWaveOutBase = 0x200;

    // Called after every change of a line, for views.
    void setChangeHandler(std::function<void(int line)> handler) { m_changed = std::move(handler); }
    // Line-by-line trace of what the far ends did, for the scenario runner.
    void setTraceHandler(std::function<void(const QString &)> handler) { m_trace = std::move(handler); }

    const std::string &country() const { return m_setup.country; }
    std::vector<int> ringCadence() const;

private:
    struct Line;
    class Audio;
    static Line &lineOf(CallSlot &slot);
    static const Line &lineOf(const CallSlot &slot);

    // CallTableService
    std::uint32_t maxApiVersion(const CallSlot &slot) const override;
    std::uint32_t offeredModes(const CallSlot &slot) const override;
    std::int32_t describe(const CallSlot &slot, LineDevCaps &caps) override;
    std::uint32_t waveDeviceId(const CallSlot &slot, LineApplication::WaveClass waveClass) const override;
    std::int32_t initializeRefusal() const override { return m_setup.initializeResult; }
    std::int32_t negotiateRefusal(const CallSlot &slot) const override;
    std::int32_t openRefusal(const CallSlot &slot) const override;
    std::int32_t statusMessagesRefusal(const CallSlot &slot) const override;
    void lineOpened(CallSlot &slot) override;
    void closing(CallSlot &slot) override;
    void lineClosed(CallSlot &slot) override;
    std::int32_t answerCall(CallSlot &slot) override;
    std::int32_t dropCall(CallSlot &slot) override;
    std::int32_t sendDigits(CallSlot &slot, const QString &digits, std::uint32_t durationMs) override;
    std::int32_t placeCall(CallSlot &slot, const QString &destAddress, HCall &call) override;
    void callFreed(CallSlot &slot) override;

    static int indexOf(const Line &line);
    void postCallerId(Line &line);
    void ringTick(Line &line);
    void stopRinging(Line &line);
    void endCall(Line &line); // the call has gone: timers off, audio quiet
    void digitTick(Line &line);
    void outgoingTick(Line &line);
    void changed(const Line &line);
    void trace(const Line &line, const QString &what);
    std::shared_ptr<sim::SampleSource> toneSource(int kind) const;

    EventLoop &m_loop;
    ExchangeSetup m_setup;
    std::vector<std::unique_ptr<Line>> m_lines;
    PacedWaveDevices m_paced;
    HangUpTone m_hangUpTone = HangUpTone::Busy;
    std::function<void(int)> m_changed;
    std::function<void(const QString &)> m_trace;
};

} // namespace telvox
