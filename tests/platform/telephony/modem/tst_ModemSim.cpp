// telvox-modemsim on pseudo-terminals, in real time: its chips as a program of our own sees
// them, byte by byte (what each answers, flow control, the reports during a call, dialling, the
// injected faults), and the port probe against them. The emulator must behave like the chips,
// or the tests against it prove nothing. The backend on the emulator: tst_ModemCall.

#include "EmulatedModems.h"
#include "platform/telephony/modem/ModemPorts.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace telvox;
using namespace telvox::modem;
using telvox::test::EmulatedModems;
using telvox::test::waitFor;

namespace {

// The emulator's pseudo-terminal, raw and non-blocking.
class RawPort
{
public:
    explicit RawPort(const QString &path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        termios tio{};
        tcgetattr(m_fd, &tio);
        cfmakeraw(&tio);
        tcsetattr(m_fd, TCSANOW, &tio);
    }
    ~RawPort() { ::close(m_fd); }
    // Writes everything, waiting while the other side holds it back; false after `ms`.
    bool write(const QByteArray &bytes, int ms = 20000)
    {
        QElapsedTimer clock;
        clock.start();
        for (qsizetype at = 0; at < bytes.size();) {
            const ssize_t n = ::write(m_fd, bytes.constData() + at, size_t(bytes.size() - at));
            if (n > 0) {
                at += n;
                continue;
            }
            if (clock.elapsed() > ms)
                return false;
            pollfd p{m_fd, POLLOUT, 0};
            ::poll(&p, 1, 20);
            drain();
        }
        return true;
    }
    void drain()
    {
        char buffer[4096];
        for (ssize_t n; (n = ::read(m_fd, buffer, sizeof buffer)) > 0;)
            in.append(buffer, n);
    }
    bool waitFor(const QByteArray &needle, int ms) { return waitFor([&] { return in.contains(needle); }, ms); }
    bool waitFor(const std::function<bool()> &done, int ms)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            drain();
            if (done())
                return true;
            if (clock.elapsed() > ms)
                return false;
            pollfd p{m_fd, POLLIN, 0};
            ::poll(&p, 1, 10);
        }
    }
    // A command and its final result ("OK", "ERROR", "CONNECT", ...); the text before it in `reply`.
    QByteArray command(const QByteArray &line, QByteArray *reply = nullptr, int ms = 3000)
    {
        in.clear();
        write(line + '\r');
        static const QList<QByteArray> finals = {"OK", "ERROR", "CONNECT", "VCON", "NO DIALTONE"};
        QByteArray found;
        waitFor([&] {
            for (const QByteArray &l : in.split('\n')) {
                if (finals.contains(l.trimmed()))
                    found = l.trimmed();
            }
            return !found.isEmpty();
        }, ms);
        if (reply)
            *reply = in;
        return found;
    }
    // Each command with the result it must get.
    void expect(const QList<std::pair<QByteArray, QByteArray>> &commands)
    {
        for (const auto &[line, result] : commands)
            QVERIFY2(command(line) == result, line.constData());
    }
    QByteArray in;

private:
    int m_fd;
};

// The shielded codes in a stream from the modem, in order (doubled DLE and DLE SUB are audio).
QByteArray shieldedCodes(const QByteArray &stream)
{
    QByteArray codes;
    for (qsizetype i = 0; i + 1 < stream.size(); ++i) {
        if (stream[i] == '\x10' && stream[++i] != '\x10' && stream[i] != '\x1A')
            codes += stream[i];
    }
    return codes;
}

} // namespace

class tst_ModemSim : public QObject
{
    Q_OBJECT

private slots:
    void probeFindsTheVoiceModem()
    {
        QTemporaryDir dir;
        QProcess sim;
        // Line 1 was left streaming voice data by a program that died in a call.
        sim.start(QStringLiteral(TELVOX_MODEMSIM), {"--lines", "2", "--profile", "agere,usr", "--link-dir", dir.path(),
                                                    "--fault", "1:stuck@0"});
        QVERIFY(sim.waitForReadyRead(5000));
        const ProbeResult r = probePort(dir.filePath("modem0"));
        QVERIFY(r.answered && r.voice && r.recovery.isEmpty());
        QCOMPARE(r.identity, QByteArray("LT V.92 Data+Fax Modem Version 8.30"));
        const ProbeResult stuck = probePort(dir.filePath("modem1"));
        QVERIFY(stuck.answered && stuck.voice);
        QCOMPARE(stuck.identity, QByteArray("U.S. Robotics 56K FAX USB V1.2.23"));
        QVERIFY2(stuck.recovery.english().contains("was still in a call from an earlier run"),
                 qPrintable(stuck.recovery.english()));
        QVERIFY(!probePort(dir.filePath("modem7")).answered);
        sim.write("quit\n");
        sim.waitForFinished(3000);
    }

    void emulatedChipHoldsBackAndReports()
    {
        EmulatedModems sim(1, QStringLiteral("usr"));
        RawPort port(sim.portPath(0));
        QByteArray reply;
        port.expect({{"ATE0", "OK"}, {"AT+FCLASS=8", "OK"}});
        QCOMPARE(port.command("AT+VSM=?", &reply), QByteArray("OK"));
        QVERIFY2(reply.contains("\r\n128,\"8-BIT LINEAR\"") && !reply.contains("+VSM:"), reply.constData());
        port.expect({{"AT+VCID=1", "OK"}, {"AT+VDR=1,0", "OK"}});

        // A withheld number, with distinctive-ring reports of the cadence the line rings with (in
        // tenths of a second: the silence before the ring, none before the first, then the ring).
        sim.tell("at 0 line 0 call number \"P\" cadence 300/700 audio talk");
        QVERIFY(port.waitFor("NMBR=P", 5000));
        QVERIFY(port.waitFor("\r\nDROF=7\r\n\r\nDRON=3\r\n", 3000));
        QVERIFY2(port.in.contains("\r\nDROF=0\r\n\r\nDRON=3\r\n"), port.in.constData());
        port.expect({{"AT+VLS=1", "OK"}, {"AT+IFC=2,2", "OK"}, {"AT+VSM=128,8000", "OK"}});

        // Three seconds of audio written in one burst: the chip takes what its buffer holds and
        // holds the rest back; every byte is played.
        QCOMPARE(port.command("AT+VTX"), QByteArray("CONNECT"));
        port.in.clear();
        QElapsedTimer clock;
        clock.start();
        QVERIFY(port.write(QByteArray(24000, '\x81') + "\x10\x03"));
        QVERIFY(port.waitFor("OK\r\n", 8000));
        QVERIFY2(clock.elapsed() >= 2800, QByteArray::number(clock.elapsed()));
        QCOMPARE(sim.figure(0, "played"), qint64(24000));
        QVERIFY(sim.figure(0, "holds") > 0);

        // XON/XOFF when asked for.
        port.expect({{"AT+IFC=1,1", "OK"}, {"AT+VTX", "CONNECT"}});
        port.in.clear();
        QVERIFY(port.write(QByteArray(12000, '\x81') + "\x10\x03"));
        QVERIFY(port.waitFor("OK\r\n", 5000));
        QVERIFY(port.in.indexOf('\x13') >= 0 && port.in.indexOf('\x11') > port.in.indexOf('\x13'));

        // Touch tones in simple mode: one code per key press.
        port.expect({{"AT+VIT=3", "OK"}, {"AT+VSD=128,10", "OK"}, {"AT+VRX", "CONNECT"}});
        port.in.clear();
        sim.tell("at 0 line 0 digits \"55\"");
        sim.tell("at 700 line 0 audio silence");
        // The caller falls silent: "quiet" after a second of it; the computer sends nothing, so
        // after three seconds the inactivity timer ends voice mode.
        QVERIFY(port.waitFor([&] { return shieldedCodes(port.in).contains('\x03'); }, 6000));
        const QByteArray codes = shieldedCodes(port.in);
        QCOMPARE(codes.count('5'), 2);
        QVERIFY2(codes.contains('q') && codes.indexOf('q') < codes.indexOf('\x03'), codes.toHex().constData());
        QCOMPARE(port.command("AT+FCLASS?", &reply), QByteArray("OK"));
        QVERIFY(reply.contains("\r\n0\r\n"));

        // The next caller hangs up without a disconnection: busy tone, reported and repeated.
        port.expect({{"AT+FCLASS=8", "OK"}, {"AT+VIT=0", "OK"}});
        sim.tell("at 0 line 0 call number \"5551234\" audio talk");
        QVERIFY(port.waitFor("\x10R", 7000));
        // No cadence of its own: the line rings as the exchange's country rings (2 s on, 4 s off).
        QVERIFY2(port.in.contains("\r\nDRON=20\r\n"), port.in.constData());
        port.expect({{"AT+VLS=1", "OK"}, {"AT+VRX", "CONNECT"}});
        port.in.clear();
        sim.tell("at 300 line 0 hangup silent");
        QVERIFY(port.waitFor([&] { return shieldedCodes(port.in).count('b') >= 2; }, 8000));
        port.write("\x10!");
        QVERIFY(port.waitFor("OK\r\n", 2000));
    }

    void emulatedChipFaultsAndIdentities()
    {
        EmulatedModems sim(3, QStringLiteral("conexant,agere,generic"));
        RawPort cx(sim.portPath(0));
        RawPort agere(sim.portPath(1));
        RawPort generic(sim.portPath(2));
        QByteArray reply;
        cx.expect({{"ATI9", "ERROR"}, {"AT+IFC=2,2", "ERROR"}});
        agere.expect({{"AT+VCID=1", "OK"}});
        generic.expect({{"AT+FCLASS=8", "OK"}});

        // Dialling in voice mode: OK once dialled, then ring-back and the called party's voice.
        sim.tell("at 0 line 2 outgoing answer-after 1s audio talk 4");
        QCOMPARE(generic.command("ATD5556789;", nullptr, 8000), QByteArray("OK"));
        QCOMPARE(generic.command("AT+VRX"), QByteArray("CONNECT"));
        QVERIFY(generic.waitFor([&] { return generic.in.size() > 32000; }, 6000));
        const auto heard = std::count_if(generic.in.begin(), generic.in.end(), [](char c) { return std::abs(int(quint8(c)) - 128) > 4; });
        QVERIFY2(heard > 8000, QByteArray::number(qlonglong(heard))); // 8-bit unsigned: 128 is silence
        generic.write("\x10!");
        QVERIFY(generic.waitFor("OK\r\n", 2000));
        generic.expect({{"ATH0", "OK"}});

        // Caller ID in the forms other firmware uses.
        agere.expect({{"ATE0", "OK"}});
        agere.in.clear();
        sim.tell("cid-style 1 mesg");
        sim.tell("at 0 line 1 call number \"5551234\" cadence 300/700");
        QVERIFY(agere.waitFor("MESG=0307353535313233348D", 5000));
        sim.tell("cid-style 1 ddn");
        sim.tell("at 0 line 1 hangup disconnect");
        sim.tell("at 500 line 1 call number \"5550000\" cadence 300/700");
        QVERIFY(agere.waitFor("DDN_NMBR=5550000", 5000));
        sim.tell("at 0 line 1 hangup disconnect");
        sim.tell("at 500 line 1 call number \"O\" cadence 300/700");
        QVERIFY(agere.waitFor("NMBR=O", 5000));

        // Reset on its own: the echo is back and caller ID is forgotten.
        cx.expect({{"ATE0", "OK"}, {"AT+VCID=1", "OK"}});
        sim.tell("fault 0 self-reset");
        QTest::qWait(200);
        QCOMPARE(cx.command("AT+VCID?", &reply), QByteArray("OK"));
        QVERIFY2(reply.startsWith("AT+VCID?") && reply.contains("\r\n0\r\n"), reply.constData());

        // Stuck in voice receive: commands are taken for audio; <DLE>! still ends it.
        sim.tell("fault 0 stuck");
        QVERIFY(cx.waitFor([&] { return cx.in.size() > 2000; }, 2000));
        QCOMPARE(cx.command("ATZ", nullptr, 700), QByteArray());
        cx.in.clear();
        cx.write("\x10!");
        QVERIFY(cx.waitFor("\x10\x03\r\nOK\r\n", 2000));

        // DTR dropped while recording: the call is gone, the stream stops, commands work.
        cx.expect({{"ATE0", "OK"}, {"AT+FCLASS=8", "OK"}});
        sim.tell("at 0 line 0 call cadence 300/700 audio talk");
        QVERIFY(cx.waitFor("\x10R", 5000)); // in voice class a ring is a shielded code
        cx.expect({{"AT+VLS=1", "OK"}, {"AT+VRX", "CONNECT"}});
        QVERIFY(cx.waitFor([&] { return cx.in.size() > 1000; }, 2000));
        sim.tell("fault 0 dtr-drop");
        QTest::qWait(300);
        cx.drain();
        cx.in.clear();
        QTest::qWait(300);
        cx.drain();
        QVERIFY2(cx.in.isEmpty(), QByteArray::number(cx.in.size()).constData());
        QCOMPARE(cx.command("AT"), QByteArray("OK"));
    }

    // A far end that hangs up silently on an exchange giving the reorder tone: the chip reports it
    // with <DLE>d (not b), and again every 3 s while the tone lasts.
    void reorderToneIsReportedAndRepeated()
    {
        QTemporaryDir dir;
        QFile scenario(dir.filePath("reorder.scn"));
        QVERIFY(scenario.open(QIODevice::WriteOnly) && scenario.write("hangup-tone reorder\n") > 0);
        scenario.close();
        EmulatedModems sim(1, QStringLiteral("conexant"), {QStringLiteral("--scenario"), scenario.fileName()});
        RawPort port(sim.portPath(0));
        port.expect({{"AT+FCLASS=8", "OK"}, {"AT+VIT=0", "OK"}});
        sim.tell("at 0 line 0 call number \"5551234\" audio talk");
        QVERIFY(port.waitFor("\x10R", 7000));
        port.expect({{"AT+VLS=1", "OK"}, {"AT+VRX", "CONNECT"}});
        port.in.clear();
        sim.tell("at 300 line 0 hangup silent");
        QElapsedTimer clock;
        clock.start();
        QVERIFY(port.waitFor([&] { return shieldedCodes(port.in).count('d') >= 1; }, 5000));
        const qint64 first = clock.elapsed();
        QVERIFY(port.waitFor([&] { return shieldedCodes(port.in).count('d') >= 2; }, 5000));
        const qint64 gap = clock.elapsed() - first;
        QVERIFY2(gap > 2000, qPrintable(QString::number(gap))); // a repeat, not a burst
        QVERIFY(!shieldedCodes(port.in).contains('b'));
        port.write("\x10!");
        QVERIFY(port.waitFor("OK\r\n", 2000));
    }
};

QTEST_GUILESS_MAIN(tst_ModemSim)
#include "tst_ModemSim.moc"
