#pragma once

#include "SimProfiles.h"

#include "platform/telephony/TelephonyService.h"
#include "platform/telephony/modem/DleCodec.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;
class QTimer;

namespace telvox {
class VirtualExchange;
}

namespace telvox::modemsim {

// One voice modem on a pseudo-terminal. The telephone line behind it is a device of the
// virtual exchange, on which the emulator is the application: rings, caller ID, the far end's
// audio, touch tones and hang-ups come from the exchange (driven by scenario steps) and are
// reported the way the chosen chip reports them; AT commands turn into the exchange's line
// functions (answer, drop, make call, generate digits).
class EmulatedModem
{
public:
    EmulatedModem(VirtualExchange &exchange, int line, HLine hLine, const SimProfile &profile, QString linkPath);
    ~EmulatedModem();
    EmulatedModem(const EmulatedModem &) = delete;
    EmulatedModem &operator=(const EmulatedModem &) = delete;

    // Creates the pseudo-terminal; returns the path of its slave side, empty on failure.
    QString plugIn();
    QString slavePath() const { return m_slavePath; }
    // An event of the exchange for this line.
    void lineEvent(std::uint32_t device, std::uint32_t message, std::uint32_t p1, std::uint32_t p2);

    // Faults
    void injectGarbage(int bytes);
    void stopAnswering(int ms);      // ignores everything for `ms`, then comes back reset
    void unplug(int ms);             // the device disappears for `ms`
    void dropNextEtx() { m_dropEtx = true; }

    struct Stats
    {
        std::int64_t bytesPlayed = 0;
        std::int64_t largestChunkGapMs = 0; // between two chunks of playback data
        int overruns = 0;                   // bytes that did not fit the transmit buffer
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
    QTimer *m_audioTimer = nullptr;
    QElapsedTimer m_clock;

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
};

} // namespace telvox::modemsim
