#pragma once

#include "DelayedCalls.h"
#include "SimProfiles.h"

#include "platform/telephony/TelephonyService.h"
#include "sim/exchange/VirtualExchange.h"
#include "platform/telephony/modem/DleCodec.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;

namespace telvox::modemsim {

// One voice modem on a pseudo-terminal. The telephone line behind it is a device of the
// virtual exchange, on which the emulator is the application: rings, caller ID, the far end's
// audio, touch tones and hang-ups come from the exchange (driven by scenario steps) and are
// reported the way the chosen chip reports them; AT commands turn into the exchange's line
// functions (answer, drop, make call, generate digits). Its clock and timers are the event
// loop's: real time in the tool, virtual time in tests.
class EmulatedModem
{
public:
    EmulatedModem(EventLoop &loop, VirtualExchange &exchange, int line, HLine hLine, const SimProfile &profile,
                  QString linkPath);
    ~EmulatedModem();
    EmulatedModem(const EmulatedModem &) = delete;
    EmulatedModem &operator=(const EmulatedModem &) = delete;

    // Creates the pseudo-terminal; returns the path of its slave side, empty on failure.
    QString plugIn();
    QString slavePath() const { return m_slavePath; }
    // Reads what the computer wrote to the pseudo-terminal (the pty's notifier calls it; a
    // test running in virtual time calls it after writing).
    void readLink() { readMaster(); }
    // An event of the exchange for this line.
    void lineEvent(std::uint32_t device, std::uint32_t message, std::uint32_t p1, std::uint32_t p2);
    // What the line carries when the far end hangs up without a disconnection.
    void setHangUpTone(HangUpTone tone) { m_hangUpTone = tone; }
    // How a formatted caller-ID report names the number: "nmbr" (NMBR), "ddn" (DDN_NMBR) or
    // "mesg" (the number as an MDMF parameter in hex, MESG = 03...), as various firmware does.
    bool setCallerIdStyle(const QString &style);

    // Faults
    void injectGarbage(int bytes);
    void stopAnswering(int ms);      // ignores everything for `ms`, then comes back reset
    void unplug(int ms);             // the device disappears for `ms`
    void dropNextEtx() { m_dropEtx = true; }
    void dropDtr();        // the computer drops DTR (&D2): hang up, back to command state
    void stuckStreaming(); // left in voice receive by a computer that died: streams, ignores AT
    void resetItself();    // the chip resets on its own: on-hook, settings back to defaults

    struct Stats
    {
        std::int64_t bytesPlayed = 0;
        std::int64_t largestChunkGapMs = 0; // between two chunks of playback data
        int holds = 0;                      // times the computer was held back (buffer full)
        int underruns = 0;
        std::int64_t bytesRecorded = 0;
    };
    const Stats &stats() const { return m_stats; }
    QString statsLine() const;

private:
    enum class State { Command, Receive, Transmit };

    void readMaster();
    void closePty();
    void send(const QByteArray &bytes);
    void result(const QByteArray &text);
    void info(const QByteArray &text);
    void commandLine(const QByteArray &line);
    // Returns false for ERROR; `deferred` set when the reply comes later.
    bool command(const QByteArray &name, const QByteArray &arg, bool &deferred, QByteArray &reply);
    void transmitData(const char *data, qsizetype size);
    void transmitEvent(char code);
    void reset();
    void goOnHook();
    void receiveTick();
    void playTick();
    void sendDle(char code);
    void callerIdReport();
    QByteArray connectReply() const;
    void watchLine();           // every 100 ms: inactivity timer, far end gone silently
    void leaveVoiceMode();      // the inactivity timer ran out
    void startStream(State state);
    void holdOrRelease();       // flow control of the computer's transmit data
    void detectSilence(const std::vector<std::int16_t> &pcm);

    std::int64_t elapsed() const { return m_loop.now() - m_startedAt; }

    EventLoop &m_loop;
    std::int64_t m_startedAt;
    DelayedCalls m_later;
    VirtualExchange &m_exchange;
    int m_line;
    HLine m_hLine;
    const SimProfile &m_profile;
    QString m_linkPath;
    QString m_slavePath;
    int m_master = -1;
    int m_slave = -1;
    std::unique_ptr<QObject> m_context;
    QSocketNotifier *m_notifier = nullptr;
    std::unique_ptr<Timer> m_audioTimer;
    std::unique_ptr<Timer> m_watchTimer;

    // AT state
    QByteArray m_input;
    bool m_echo = true;
    bool m_verbose = true;
    int m_fclass = 0;
    int m_callerIdMode = 0;
    int m_cml = 0;
    bool m_offHook = false;
    bool m_muted = false;
    bool m_dropEtx = false;
    bool m_pendingDial = false;
    bool m_dialSemicolon = false;
    bool m_pendingTones = false;
    bool m_stuck = false;          // streaming for a computer that is gone: commands are audio
    int m_flowControl = 0;         // +IFC <DCE by DTE>: 0 none, 1 XON/XOFF, 2 RTS/CTS
    bool m_readHeld = false;       // the computer is held back: its bytes stay in the pty
    bool m_xoffSent = false;
    int m_vit = 0;                 // +VIT seconds (0: off)
    std::int64_t m_lastDteAt = 0;  // the computer's last byte
    int m_vsdSensitivity = 128;    // +VSD
    int m_vsdInterval = 0;         // +VSD tenths of a second (0: off)
    int m_quietMs = 0;
    bool m_heardVoice = false;
    bool m_silenceReported = false;
    bool m_distinctiveRing = false; // +VDR
    HangUpTone m_hangUpTone = HangUpTone::Busy;
    std::int64_t m_farEndGoneAt = -1;
    std::int64_t m_lastToneReportAt = -1;
    QByteArray m_cidStyle = "nmbr";
    State m_state = State::Command;
    HCall m_hCall = 0;

    // Voice data
    modem::DleDecoder m_fromDte;
    QByteArray m_txBuffer;
    bool m_txEnding = false;
    bool m_underrunReported = false;
    std::int64_t m_streamStart = 0;
    std::int64_t m_streamSamples = 0;
    std::int64_t m_lastChunkAt = -1;
    Stats m_stats;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace telvox::modemsim
