// The emulator's copies of what real chips do, each seen where a program sees it: on the
// emulator's own pseudo-terminal, in virtual time (the emulator runs on the test's event loop),
// so that every row takes milliseconds. Each row fails when the behaviour it names is undone.
// (Whole calls through the backend and the call flow on the running emulator: tst_ModemCall;
// vgetty on it: tst_ModemPeer.)

#include "ModemSimulator.h"

#include "core/VirtualEventLoop.h"
#include "platform/telephony/modem/DleCodec.h"

#include <QDir>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include <utility>
#include <vector>

using namespace telvox;
using namespace telvox::modemsim;
using modem::kDle;
using modem::kEtx;

namespace {

constexpr char kXon = 0x11;
constexpr char kXoff = 0x13;

sim::Scenario scenarioWith(HangUpTone tone)
{
    sim::Scenario s;
    s.hangUpTone = tone;
    return s;
}

// One emulated modem and the computer's end of its serial line.
struct Bench
{
    explicit Bench(const QString &profile, HangUpTone tone = HangUpTone::Busy)
        : sim(loop, 1, {profile}, {}, scenarioWith(tone), QDir::currentPath())
    {
        fd = ::open(qPrintable(sim.modem(0).slavePath()), O_RDWR | O_NOCTTY | O_NONBLOCK);
        decoder.setHandlers([this](const char *d, qsizetype n) { text.append(d, n); },
                            [this](char code) { events.push_back({loop.now(), code}); });
        at("ATE0"); // a program switches the echo off first
    }
    ~Bench()
    {
        if (fd >= 0)
            ::close(fd);
    }

    // Bytes from the computer; what the pty will not take yet is written as the modem reads.
    void write(const QByteArray &bytes)
    {
        qsizetype at = 0;
        while (at < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.constData() + at, static_cast<size_t>(bytes.size() - at));
            if (n > 0)
                at += n;
            sim.modem(0).readLink();
            if (n <= 0)
                run(10); // held back: the modem plays some and reads on
        }
        sim.modem(0).readLink();
    }
    // A command line; what the modem sent back within `ms` (plain bytes, shielded codes apart).
    QByteArray at(const QByteArray &command, int ms = 300)
    {
        text.clear();
        write(command + '\r');
        run(ms);
        return text;
    }
    void run(int ms)
    {
        for (int t = 0; t < ms; t += 10) {
            loop.advance(10);
            drain();
        }
    }
    void drain()
    {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            decoder.feed(buffer, n);
    }
    void step(const QString &line) { QCOMPARE(sim.command(line), QString()); }
    // The shielded codes received since `from` (virtual ms), in order.
    QByteArray codes(std::int64_t from = 0) const
    {
        QByteArray out;
        for (const auto &[when, code] : events) {
            if (when >= from)
                out += code;
        }
        return out;
    }
    // An incoming call answered in voice mode; the caller then sends `audio`.
    bool answered(const QString &audio = QStringLiteral("silence"))
    {
        at("AT+FCLASS=8");
        step("at 0 line 0 call number \"5551234\" cadence 300/700 audio " + audio);
        run(1200);
        return at("ATA").contains("VCON");
    }

    VirtualEventLoop loop;
    ModemSimulator sim;
    int fd = -1;
    modem::DleDecoder decoder;
    QByteArray text;
    std::vector<std::pair<std::int64_t, char>> events;
};

} // namespace

class tst_ModemSim : public QObject
{
    Q_OBJECT

private slots:
    // +VSD: quiet for the interval brings <DLE>s (silence from the start) or <DLE>q (quiet
    // after voice); an interval of 0 switches it off; a chip may take it and do nothing; the
    // chip of the U.S. Robotics manual then leaves voice receive by itself (<DLE><ETX>, OK),
    // off-hook still, and records again when told.
    void silenceReports_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QByteArray>("vsd");
        QTest::addColumn<bool>("talkFirst");
        QTest::addColumn<QByteArray>("expected"); // codes heard in receive
        QTest::newRow("silence from the start") << "usr" << QByteArray("AT+VSD=128,10") << false << QByteArray("s");
        QTest::newRow("quiet after voice") << "usr" << QByteArray("AT+VSD=128,10") << true << QByteArray("q");
        QTest::newRow("interval 0: off") << "usr" << QByteArray("AT+VSD=128,0") << true << QByteArray();
        QTest::newRow("no q on this chip") << "agere" << QByteArray("AT+VSD=128,10") << true << QByteArray("s");
        QTest::newRow("taken, not done") << "conexant" << QByteArray("AT+VSD=128,10") << false << QByteArray();
        QTest::newRow("leaves receive after its report")
            << "usr-silence-ends" << QByteArray("AT+VSD=128,0") << true << QByteArray("q\x03");
    }

    void silenceReports()
    {
        QFETCH(QString, profile);
        QFETCH(QByteArray, vsd);
        QFETCH(bool, talkFirst);
        QFETCH(QByteArray, expected);
        Bench b(profile);
        QVERIFY(b.answered(talkFirst ? QStringLiteral("talk 3") : QStringLiteral("silence")));
        QVERIFY(b.at(vsd).contains("OK"));
        QVERIFY(b.at("AT+VRX").contains("CONNECT"));
        if (talkFirst) {
            b.run(1000);
            b.step(QStringLiteral("at 0 line 0 audio silence"));
        }
        const std::int64_t quietFrom = b.loop.now();
        b.text.clear();
        b.run(2600);
        QCOMPARE(b.codes(quietFrom), expected);
        if (expected.contains(kEtx)) {
            // The report came after two seconds of quiet, and the stream ended with it.
            QVERIFY(b.events.back().first - quietFrom >= 2000);
            QVERIFY(b.text.endsWith("\r\nOK\r\n"));
            QCOMPARE(b.at("AT"), QByteArray("\r\nOK\r\n"));
            QVERIFY(b.at("AT+VRX").contains("CONNECT"));
        } else {
            QVERIFY(b.text.size() >= 2000 * 8); // still streaming
        }
    }

    // +VIT: a computer silent for the timer's seconds takes the modem out of voice mode (a
    // stream ends with <DLE><ETX>); 0 leaves it on.
    void inactivityTimer_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<bool>("receiving");
        QTest::newRow("off") << 0 << true;
        QTest::newRow("2 s, idle in voice mode") << 2 << false;
        QTest::newRow("2 s, in voice receive") << 2 << true;
    }

    void inactivityTimer()
    {
        QFETCH(int, seconds);
        QFETCH(bool, receiving);
        Bench b(QStringLiteral("usr"));
        if (receiving) {
            QVERIFY(b.answered());
            QVERIFY(b.at("AT+VIT=" + QByteArray::number(seconds)).contains("OK"));
            QVERIFY(b.at("AT+VRX").contains("CONNECT"));
        } else {
            b.at("AT+FCLASS=8");
            b.at("AT+VIT=" + QByteArray::number(seconds));
        }
        const std::int64_t from = b.loop.now();
        b.run(2500);
        QCOMPARE(b.codes(from), QByteArray(seconds > 0 && receiving ? "\x03" : ""));
        if (receiving && seconds == 0)
            b.write(modem::dleCode('!'));
        b.run(100);
        QVERIFY(b.at("AT+FCLASS?").startsWith(seconds > 0 ? "\r\n0\r\n" : "\r\n8\r\n"));
    }

    // Touch tones: one code per key press, or (shielded) <DLE>/, the key repeated while held,
    // <DLE>~; the same key twice is two presses either way.
    void touchTones_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("one code per key") << "usr" << QByteArray("55");
        QTest::newRow("shielded, repeated while held") << "conexant" << QByteArray("/55~/55~");
    }

    void touchTones()
    {
        QFETCH(QString, profile);
        QFETCH(QByteArray, expected);
        Bench b(profile);
        QVERIFY(b.answered());
        QVERIFY(b.at("AT+VRX").contains("CONNECT"));
        const std::int64_t from = b.loop.now();
        b.step(QStringLiteral("at 0 line 0 digits \"55\""));
        b.run(1000);
        QCOMPARE(b.codes(from), expected);
    }

    // Caller ID as the chips give it: formatted (spaced or not; the number as NMBR, DDN_NMBR
    // or an MDMF parameter in hex), unformatted (the MDMF packet in hex, checksum included);
    // "P" for a withheld number; a NAME line only when there is a name.
    void callerIdForms_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QByteArray>("mode"); // AT+VCID=
        QTest::addColumn<QString>("style");
        QTest::addColumn<QString>("caller"); // the call step's caller-ID options
        QTest::addColumn<QByteArrayList>("lines");
        QTest::newRow("formatted, spaced") << "conexant" << QByteArray("1") << "nmbr" << "number \"5551234\" name \"ANNA\""
                                           << QByteArrayList{"NMBR = 5551234", "NAME = ANNA"};
        QTest::newRow("formatted") << "usr" << QByteArray("1") << "nmbr" << "number \"5551234\""
                                   << QByteArrayList{"NMBR=5551234"};
        QTest::newRow("withheld") << "usr" << QByteArray("1") << "nmbr" << "number \"private\" name \"ANNA\""
                                  << QByteArrayList{"NMBR=P", "NAME=ANNA"};
        QTest::newRow("DDN_NMBR") << "usr" << QByteArray("1") << "ddn" << "number \"5551234\""
                                  << QByteArrayList{"DDN_NMBR=5551234"};
        QTest::newRow("MESG") << "usr" << QByteArray("1") << "mesg" << "number \"5551234\""
                              << QByteArrayList{"MESG=0307353535313233348D"};
        QTest::newRow("unformatted") << "usr" << QByteArray("2") << "nmbr" << "number \"5551234\" name \"ANNA\""
                                     << QByteArrayList{"0207353535313233340704414E4E41"};
        QTest::newRow("unformatted, withheld") << "usr" << QByteArray("2") << "nmbr" << "number \"private\""
                                               << QByteArrayList{"040150"};
    }

    void callerIdForms()
    {
        QFETCH(QString, profile);
        QFETCH(QByteArray, mode);
        QFETCH(QString, style);
        QFETCH(QString, caller);
        QFETCH(QByteArrayList, lines);
        Bench b(profile);
        QCOMPARE(b.sim.command("cid-style 0 " + style), QString());
        QVERIFY(b.at("AT+VCID=" + mode).contains("OK"));
        b.text.clear();
        b.step("at 0 line 0 call " + caller + " cadence 300/700");
        b.run(1500);
        const QByteArrayList heard = b.text.split('\n');
        for (const QByteArray &line : lines) {
            const auto found = std::find_if(heard.begin(), heard.end(), [&](const QByteArray &l) {
                return mode == "1" ? l.trimmed() == line : l.contains(line);
            });
            QVERIFY2(found != heard.end(), qPrintable(line + " not in " + b.text));
        }
        QCOMPARE(b.text.contains("NAME"), caller.contains("name") && mode == "1");
        if (mode == "2") {
            // One hex line: the MDMF packet whose bytes add up to 0 (its checksum).
            const auto packet = std::find_if(heard.begin(), heard.end(), [](const QByteArray &l) { return l.startsWith("80"); });
            QVERIFY(packet != heard.end());
            const QByteArray bytes = QByteArray::fromHex(packet->trimmed());
            QCOMPARE(std::uint8_t(bytes[1]) + 3, int(bytes.size()));
            std::uint8_t sum = 0;
            for (const char c : bytes)
                sum = std::uint8_t(sum + std::uint8_t(c));
            QCOMPARE(sum, std::uint8_t{0});
        }
    }

    // A far end gone without a disconnection: the chip reports the tone it hears once it has
    // recognised it (1.5 s), then again every 4 s (busy: b) or 3 s (reorder: d).
    void farEndGoneToneRepeats_data()
    {
        QTest::addColumn<int>("tone");
        QTest::addColumn<char>("code");
        QTest::addColumn<int>("repeatMs");
        QTest::newRow("busy") << int(HangUpTone::Busy) << 'b' << 4000;
        QTest::newRow("reorder") << int(HangUpTone::Reorder) << 'd' << 3000;
    }

    void farEndGoneToneRepeats()
    {
        QFETCH(int, tone);
        QFETCH(char, code);
        QFETCH(int, repeatMs);
        Bench b(QStringLiteral("usr"), HangUpTone(tone));
        QVERIFY(b.answered());
        const std::int64_t from = b.loop.now();
        b.step(QStringLiteral("at 0 line 0 hangup silent"));
        b.run(1500 + 2 * repeatMs + 250);
        QCOMPARE(b.codes(from), QByteArray(3, code));
        const auto at = [&](int i) { return b.events[b.events.size() - 3 + std::size_t(i)].first; };
        QVERIFY(std::abs(at(0) - from - 1550) <= 150);
        QCOMPARE(at(1) - at(0), std::int64_t(repeatMs));
        QCOMPARE(at(2) - at(1), std::int64_t(repeatMs));
    }

    // +VDR: distinctive-ring reports before each ring: the silence before it (none before the
    // first) and the ring, in tenths of a second, as the line rings them.
    void distinctiveRing_data()
    {
        QTest::addColumn<QByteArray>("vdr");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("on") << QByteArray("AT+VDR=1,0")
                            << QByteArray("DROF=0\nDRON=4\nRING\nDROF=18\nDRON=4\nRING\n");
        QTest::newRow("off") << QByteArray("AT+VDR=0,0") << QByteArray("RING\nRING\n");
    }

    void distinctiveRing()
    {
        QFETCH(QByteArray, vdr);
        QFETCH(QByteArray, expected);
        Bench b(QStringLiteral("usr"));
        QVERIFY(b.at(vdr).contains("OK"));
        b.text.clear();
        b.step(QStringLiteral("at 0 line 0 call cid none cadence 400/1800"));
        b.run(2500);
        QCOMPARE(b.text.replace("\r", "").replace("\n\n", "\n").mid(1), expected);
    }

    // Flow control of a greeting written in one burst: XON/XOFF when asked for (XOFF at three
    // quarters of the chip's buffer, XON at a quarter), and either way the computer is held
    // back (as behind CTS) rather than anything dropped.
    void flowControl_data()
    {
        QTest::addColumn<QByteArray>("ifc");
        QTest::addColumn<QByteArray>("expected"); // flow-control bytes from the modem
        QTest::newRow("XON/XOFF") << QByteArray("AT+IFC=1,1") << QByteArray("\x13\x11");
        QTest::newRow("RTS/CTS") << QByteArray("AT+IFC=2,2") << QByteArray();
    }

    void flowControl()
    {
        QFETCH(QByteArray, ifc);
        QFETCH(QByteArray, expected);
        Bench b(QStringLiteral("usr")); // 8-bit linear: a byte a sample, a 4096-byte buffer
        QVERIFY(b.answered());
        QVERIFY(b.at(ifc).contains("OK"));
        QVERIFY(b.at("AT+VTX").contains("CONNECT"));
        b.text.clear();
        QByteArray greeting(16000, '\x90'); // two seconds
        b.write(greeting + modem::dleCode(kEtx));
        for (int i = 0; i < 30 && !b.text.endsWith("\r\nOK\r\n"); ++i)
            b.run(100);
        QByteArray control = b.text;
        control.replace("\r\nOK\r\n", "");
        QCOMPARE(control, expected);
        QVERIFY(b.text.endsWith("\r\nOK\r\n")); // played to the end, then OK
        QCOMPARE(b.sim.modem(0).stats().bytesPlayed, qint64(greeting.size()));
        QVERIFY(b.sim.modem(0).stats().holds > 0);
    }
};

QTEST_GUILESS_MAIN(tst_ModemSim)
#include "tst_ModemSim.moc"
