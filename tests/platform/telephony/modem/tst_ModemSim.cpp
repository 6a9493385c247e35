// telvox-modemsim on pseudo-terminals, in real time: the port probe against its chips, and the
// chip behaviour the backend's tests on the emulator rely on and would not notice missing (flow
// control, the reports during a call). Its faults are checked by their effect on the backend
// (tst_ModemCall), its identities and caller ID by vgetty (tst_ModemPeer).

#include "EmulatedModems.h"
#include "platform/telephony/modem/ModemPorts.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

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
        port.expect({{"ATE0", "OK"}, {"AT+FCLASS=8", "OK"}, {"AT+VIT=0", "OK"}});
        sim.tell("at 0 line 0 call number \"5551234\" audio talk");
        QVERIFY(port.waitFor("\x10R", 7000)); // in voice class a ring is a shielded code
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

        // The caller hangs up without a disconnection: busy tone, reported and repeated.
        port.expect({{"AT+VRX", "CONNECT"}});
        port.in.clear();
        sim.tell("at 300 line 0 hangup silent");
        QVERIFY(port.waitFor([&] { return shieldedCodes(port.in).count('b') >= 2; }, 8000));
        port.write("\x10!");
        QVERIFY(port.waitFor("OK\r\n", 2000));
    }
};

QTEST_GUILESS_MAIN(tst_ModemSim)
#include "tst_ModemSim.moc"
