#pragma once

#include "platform/telephony/CallTable.h"
#include "platform/telephony/TelephonyService.h"
#include "platform/telephony/modem/CallerIdParser.h"
#include "platform/telephony/modem/DleCodec.h"
#include "platform/telephony/modem/ModemCapabilities.h"
#include "platform/telephony/modem/ModemNotice.h"
#include "platform/telephony/modem/ModemProfile.h"
#include "platform/telephony/modem/VoiceFormat.h"
#include "platform/wave/WaveDevice.h"

#include <QByteArray>
#include <QIODevice>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace telvox {
class EventLoop;
class Timer;
} // namespace telvox

namespace telvox::modem {

class ModemWaveIn;
class ModemWaveOut;

// Opens the port of a line; nullptr with `error` set when it cannot be opened.
struct PortOpenError
{
    ModemNotice notice;
    bool permanent = false; // retrying will not help (no permission): reported once
};
using PortOpener = std::function<std::unique_ptr<QIODevice>(PortOpenError &error)>;

struct LineOptions
{
    int commandTimeoutMs = 3000;
    int resetTimeoutMs = 5000;
    int leaveDataTimeoutMs = 2000;
    int dialTimeoutMs = 60000;
    int callerIdQuietMs = 300;   // a caller-ID report is complete after this quiet time
    // A ringing call that stopped ringing goes IDLE only after this time, longer than the
    // longest learned ring-watch interval (13 s), so that a handset pick-up can still answer it.
    int ringGraceMs = 15000;
    int reopenIntervalMs = 2000;
    int tickMs = 20;
    // An idle modem is asked "AT" this often, so that one that stopped answering is noticed
    // before the next call (0: never).
    int keepAliveMs = 30000;
    // In voice receive the modem streams all the time: this long without audio from it while
    // a recording waits for it (in receive, or kept out of it) and the recording is ended as a
    // fault and the modem reset.
    int receiveStallMs = 4000;
    // A modem that ended voice receive by itself (<DLE><ETX>) says OK after it; this long
    // without that OK and receiving is started again all the same.
    int leftReceiveOkMs = 500;
    // A chip that refuses to switch off its inactivity timer (AT+VIT=0) is sent <DLE><NUL>
    // this often while it streams to us, so that it does not leave voice mode in a message.
    int streamKeepAliveMs = 10000;
    // At open: how long the stop codes get to end a voice data state left over from an earlier
    // run before the modem is asked "AT" (and how long DTR stays dropped).
    int recoveryWaitMs = 400;
    // What the serial link carries at most, in bytes a second (0: no limit, as on a USB modem
    // whose "speed" is only nominal). A slower link gets an 8-bit voice format.
    int linkBytesPerSecond = 0;
    QString countryCode;         // T.35 code for AT+GCI (empty: left as the modem has it)
    QString forcedProfile;       // a profile id, or empty to choose by identification
};

// One telephone line on one voice modem: the AT command channel with its timeouts, the
// initialisation and identification, rings and caller ID, answering, dialling and hanging
// up, voice receive and transmit with DLE shielding, and the recovery from a modem that stops
// answering or disappears. Line events go out through the emit function; the service posts
// them through the event loop.
class ModemLine
{
public:
    using Emit = std::function<void(std::uint32_t device, std::uint32_t message, std::uint32_t p1, std::uint32_t p2,
                                    std::uint32_t p3)>;

    ModemLine(EventLoop &loop, int index, QString portName, PortOpener opener, LineOptions options);
    ~ModemLine();
    ModemLine(const ModemLine &) = delete;
    ModemLine &operator=(const ModemLine &) = delete;

    // Opens the port and initialises the modem (asynchronously).
    void start();
    void setEmitter(Emit emitter) { m_emit = std::move(emitter); }
    void setStatusHandler(std::function<void(const ModemNotice &)> status) { m_status = std::move(status); }
    void setHandleSource(std::function<std::uint32_t()> next) { m_nextHandle = std::move(next); }
    void setRequestSource(std::function<std::int32_t()> next) { m_nextRequest = std::move(next); }
    // Every byte written to and read from the modem, for the trace of the transcript tests.
    void setTraceHandler(std::function<void(bool fromModem, const QByteArray &)> trace) { m_trace = std::move(trace); }

    // --- what the line is ---
    int index() const { return m_index; }
    const QString &portName() const { return m_portName; }
    bool ready() const { return m_portState == PortState::Ready; }
    bool identifiedOnce() const { return m_identifiedOnce; }
    // Commands are queued or waiting for their answer (a hang-up still going on).
    bool busy() const { return m_portState != PortState::Closed && (m_current.has_value() || !m_queue.empty()); }
    QByteArray lineName() const;
    std::uint32_t mediaModes() const;
    const ModemProfile &profile() const { return *m_profile; }
    std::optional<VoiceFormatChoice> voiceFormat() const { return m_format; }
    const QList<VsmEntry> &voiceMethods() const { return m_vsm; }

    // --- the line functions (handles, call state and arguments checked by the service) ---
    CallSlot &slot() { return m_slot; }
    HLine hLine() const { return m_slot.hLine; }
    HCall hCall() const { return m_slot.hCall; }
    // The line is being closed: a call under way is hung up.
    void close();
    void fillCallInfo(LineCallInfo &info) const;
    std::int32_t answer();
    std::int32_t drop();
    std::int32_t generateDigits(const QString &digits, std::uint32_t durationMs);
    // The application gave the idle call up.
    void callFreed();
    std::int32_t makeCall(const QString &number, HCall &call);
    std::uint32_t callState() const { return m_slot.callState; }

    // --- audio devices ---
    WaveResult openInput(WaveCallback callback, std::unique_ptr<WaveIn> &device);
    WaveResult openOutput(WaveCallback callback, std::unique_ptr<WaveOut> &device);

    // --- figures ---
    struct Stats
    {
        std::int64_t samplesReceived = 0;
        std::int64_t samplesSent = 0;
        std::int64_t largestSendGapMs = 0; // during playback, between two writes of audio
        int underruns = 0;                 // <DLE>u from the modem
        int resets = 0;
        int timeouts = 0;
        int silenceReports = 0; // <DLE>s and <DLE>q: noted, never a hang-up by themselves
        int stalls = 0;         // recordings ended because the modem stopped sending
        int receiveResumed = 0; // voice receive started again after the modem left it by itself
        int keepAlives = 0;     // <DLE><NUL> sent while receiving
        bool layoutCorrected = false; // 16-bit audio read differently from the capability text
    };
    const Stats &stats() const { return m_stats; }

private:
    enum class PortState { Closed, Initialising, Ready };
    enum class DataMode { Command, Receive, Transmit };
    struct Command
    {
        QByteArray bytes;
        int timeoutMs = 3000;
        std::function<void(const QByteArray &result, const QList<QByteArray> &info)> done;
        bool endsData = false; // ends a voice data state: the data state is left first
        std::function<void()> onTimeout; // instead of resetting the modem when no answer comes
    };

    // Port and channel
    void openPort();
    void portLost(int why, bool unplugged); // `why`: a notice text about the port
    void closePort();
    void onReadyRead();
    void handleData(const char *data, qsizetype size);
    void handleEvent(char code);
    void handleLine(const QByteArray &line);
    bool isFinalResult(const QByteArray &line) const;
    void write(const QByteArray &bytes);

    // Command queue
    using Done = std::function<void(const QByteArray &, const QList<QByteArray> &)>;
    // Queues a command (CR added; empty: a step that only runs `done` in turn).
    void queue(QByteArray command, Done done = {}, int timeoutMs = 0);
    // The same, ahead of everything queued: the next command sent.
    void queueFirst(QByteArray command, Done done = {});
    Command makeCommand(QByteArray command, Done done, int timeoutMs) const;
    void pump();
    void sendNext();
    void finishCommand(const QByteArray &result);
    void commandTimedOut();
    void resynchronise();
    void resetPort(); // the modem does not answer: reported once, the call ended, reopened
    // Gets a modem back to command state whatever it was doing when the port was opened (an
    // earlier run may have died in a call): DTR dropped, the stop codes of every voice data
    // state, a pause whose input is thrown away, then "AT"; retried, then "ATH0".
    void beginRecovery(int attempt);
    void recoveryStep();

    // Sequences
    void initialise(bool hangUpFirst = false);
    void afterIdentification();
    void finishInitialisation();
    void enableCallerId(int attempt);
    void queueVoiceSetup();
    void queueHangUp();
    void leaveDataState(bool abort);
    void enterReceive();
    void enterTransmit();

    // Calls
    void ring();
    void flushCallerId();
    void newIncomingCall();
    void ringingStopped();
    void farEndGone();
    void endCallOnFault();
    void setCallState(std::uint32_t state, std::uint32_t detail = 0);
    void emitEvent(std::uint32_t device, std::uint32_t message, std::uint32_t p1, std::uint32_t p2, std::uint32_t p3);
    void reply(std::int32_t request, std::int32_t result);
    void digit(char key);
    void status(int text, QStringList args = {});
    void status(ModemNotice notice);

    // Audio
    DataMode wantedMode() const;
    void tick();
    void updateTick();
    void sendAudio();
    void receiveWatch();
    bool audioExpected() const;
    void noteAudioExpectation();
    void receiveLeftByModem();
    void resumeReceive();
    void receiveFault(int text, QStringList args);
    void deliverReceived(const char *data, qsizetype size);
    void settleLayout();
    void audioChanged();
    void outputAborted();

    EventLoop &m_loop;
    int m_index;
    QString m_portName;
    PortOpener m_opener;
    LineOptions m_options;
    Emit m_emit;
    std::function<void(const ModemNotice &)> m_status;
    std::function<std::uint32_t()> m_nextHandle;
    std::function<std::int32_t()> m_nextRequest;
    std::function<void(bool, const QByteArray &)> m_trace;
    QObject m_context;

    std::unique_ptr<QIODevice> m_device;
    PortState m_portState = PortState::Closed;
    DataMode m_mode = DataMode::Command;
    DleDecoder m_dle;
    QByteArray m_lineBuffer;
    std::deque<Command> m_queue;
    std::optional<Command> m_current;
    QList<QByteArray> m_info;
    bool m_resyncing = false;
    std::unique_ptr<Timer> m_commandTimer;
    std::unique_ptr<Timer> m_reopenTimer;
    std::unique_ptr<Timer> m_tickTimer;
    std::unique_ptr<Timer> m_keepAliveTimer;
    std::unique_ptr<Timer> m_recoverTimer;
    std::unique_ptr<Timer> m_rxWatchTimer;
    std::unique_ptr<Timer> m_leftReceiveTimer;
    int m_recoverStage = 0;
    int m_recoverAttempt = 0;
    bool m_discarding = false;      // input is thrown away (recovery at open)
    qsizetype m_discardedBytes = 0;
    std::int64_t m_lastAudioAt = 0;   // voice data last reached the capture
    std::int64_t m_audioWaitFrom = 0; // since when the capture has been waiting for the modem
    bool m_audioWasExpected = false;
    std::int64_t m_lastPokeAt = 0;
    bool m_streamKeepAlive = false; // the chip refused AT+VIT=0
    bool m_echoSeen = false;        // a command echoed after the setup switched echo off
    bool m_portReported = false;  // the current outage has been reported
    bool m_identifiedOnce = false;
    std::uint64_t m_epoch = 0;    // bumped whenever the port is closed: late replies are dropped

    // Identification and capabilities
    QByteArray m_identity;
    QByteArray m_name;
    bool m_voice = false;
    const ModemProfile *m_profile;
    QList<VsmEntry> m_vsm;
    std::optional<VoiceFormatChoice> m_format;
    QString m_callerIdCommand;

    // The line as the application opened it and its call, as the service's call table keeps
    // them; the modem's own side of the call follows.
    CallSlot m_slot;

    // The call
    bool m_offered = false;
    bool m_offHook = false;
    bool m_answering = false;
    bool m_disconnected = false;
    bool m_hangingUp = false;
    bool m_voiceRefused = false;
    std::int32_t m_pendingRequest = 0;
    CallerIdCollector m_cid;
    CallerIdData m_callerId;
    bool m_callerIdKnown = false;
    std::unique_ptr<Timer> m_cidTimer;
    std::unique_ptr<Timer> m_graceTimer;
    bool m_inDtmfBlock = false;
    char m_lastDigit = 0;
    bool m_farEndAnswered = false; // a dialled call's answer was signalled by a line reversal
    bool m_inComplexEvent = false;
    QByteArray m_complexEvent;

    // Audio
    ModemWaveIn *m_in = nullptr;
    ModemWaveOut *m_out = nullptr;
    VoiceDecoder m_voiceDecoder;
    std::vector<std::int16_t> m_samples;
    QByteArray m_layoutProbe;    // the first second of 16-bit audio, until its layout is known
    bool m_layoutChecked = false;
    std::int64_t m_txStartedAt = 0;
    std::int64_t m_txBase = 0;
    std::int64_t m_lastSendAt = 0;
    std::int64_t m_lastPadAt = 0;
    bool m_txEnding = false;
    bool m_txAbort = false;
    // The modem ended voice receive without being asked: until receive starts again nothing
    // is made up for the capture (no silence that was never on the line).
    bool m_receiveLeft = false;
    bool m_awaitingLeftOk = false; // its OK after the <DLE><ETX> has not come yet
    bool m_leftReported = false;   // said in the status list once for each capture
    // The call ended on a fault while a capture ran: the capture gets nothing more.
    bool m_captureCut = false;
    Stats m_stats;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace telvox::modem
