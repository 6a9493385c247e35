// Whole calls through the real call flow and audio engine on the voice-modem backend, with
// telvox-modemsim on pseudo-terminals, in real time: what a user finds afterwards (the
// recording file, the lists, the status lines) is what is checked; and the port probe on the
// emulator's chips. (A handset pick-up on the emulator recorded as a conversation: the modem
// run of tst_CrashRecovery. The emulator's pacing, busy-tone reports and caller ID: vgetty
// in tst_ModemPeer.)
#include "EmulatedModems.h"
#include "platform/telephony/LineProgram.h"
#include "platform/telephony/modem/ModemTelephony.h"
#include "support/SignalWav.h"

#include <QTest>

#include <cmath>

using namespace telvox;
using namespace telvox::test;

namespace {

double rms(const std::vector<std::int16_t> &samples, std::size_t from, std::size_t to)
{
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += double(samples[i]) * samples[i];
    return to > from ? std::sqrt(sum / double(to - from)) : 0;
}

// The greeting is the built-in one (2.3 s).
struct System : LineProgram
{
    System(const QString &profiles, int rings, int lines, const modem::LineOptions &options)
        : LineProgram(rings, lines)
        , sim(lines, profiles)
    {
        QFile::copy(QStringLiteral(":/telvox/prompts/greeting.wav"), dir.file("greeting.wav"));
        modems = std::make_unique<modem::ModemTelephony>(loop, sim.ports(options));
        modems->setStatusHandler([this](const modem::ModemNotice &n) { news(n.format(texts)); });
        modems->start();
        identified = modems->waitForIdentification(8000);
        start(*modems);
    }
    ~System() { stop(); }
    void tell(const QByteArray &command) { sim.tell(command); }
    bool recording(int line = 0) const { return slot(line).recState == 1; }

    EmulatedModems sim;
    std::unique_ptr<modem::ModemTelephony> modems;
    bool identified = false;
};

} // namespace

class tst_ModemCall : public QObject
{
    Q_OBJECT

private slots:
    // A voice modem found and identified; one left streaming voice data by a program that died
    // in a call brought back; an absent port.
    void probeFindsTheVoiceModem()
    {
        EmulatedModems sim(2, QStringLiteral("agere,usr"), {"--fault", "1:stuck@0"});
        const modem::ProbeResult r = modem::probePort(sim.portPath(0));
        QVERIFY(r.answered && r.voice && r.recovery.isEmpty());
        QCOMPARE(r.identity, QByteArray("LT V.92 Data+Fax Modem Version 8.30"));
        const modem::ProbeResult stuck = modem::probePort(sim.portPath(1));
        QVERIFY(stuck.answered && stuck.voice);
        QCOMPARE(stuck.identity, QByteArray("U.S. Robotics 56K FAX USB V1.2.23"));
        QVERIFY2(stuck.recovery.english().contains("was still in a call from an earlier run"),
                 qPrintable(stuck.recovery.english()));
        QVERIFY(!modem::probePort(sim.portPath(7)).answered);
    }

    // A modem fault before or during a message: what was said is kept and listed, the status
    // list says what happened, and the line takes the next message by itself. Before the
    // message, the greeting went out whole (mu-law: a byte a sample) and paced: never held back.
    // (A modem that stops sending or was left streaming: tst_ModemLine on the scripted modem.)
    void faultyModemLosesNoMessage_data()
    {
        QTest::addColumn<QByteArray>("before"); // told the emulator before the call
        QTest::addColumn<QByteArray>("during"); // told 2.5 s into the message (else the caller hangs up)
        QTest::addColumn<QString>("status");
        QTest::newRow("unplugged") << QByteArray() << QByteArray("fault 0 unplug 2500") << "gone";
        QTest::newRow("reset itself, caller ID forgotten")
            << QByteArray("fault 0 self-reset") << QByteArray() << "reset itself";
    }
    void faultyModemLosesNoMessage()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, during);
        QFETCH(QString, status);
        modem::LineOptions options;
        options.keepAliveMs = 500;
        System s(QStringLiteral("conexant"), 2, 1, options);
        QVERIFY(s.identified);
        if (!before.isEmpty()) {
            s.tell(before);
            QVERIFY(waitFor([&] { return s.statusText().contains(status); }, 5000));
            QVERIFY(waitFor([&] { return s.statusList().lines().back().contains("ready"); }, 10000)); // set up again
        }
        s.tell("at 0 line 0 call number \"5551234\" cadence 300/700 audio talk");
        QVERIFY(waitFor([&] { return s.recording(); }, 10000));
        QCOMPARE(s.slot().mode, QStringLiteral("A"));
        QVERIFY(s.sim.figure(0, QStringLiteral("played")) >= 18400);
        QCOMPARE(s.sim.figure(0, QStringLiteral("holds")), qint64(0));
        QVERIFY(s.modems->line(0).stats().largestSendGapMs < 100);
        QTest::qWait(2500);
        s.tell(during.isEmpty() ? QByteArray("at 0 line 0 hangup disconnect") : during);
        QVERIFY(waitFor([&] { return !s.recordings().isEmpty(); }, 10000));
        QVERIFY2(s.statusText().contains(status), qPrintable(s.statusText()));
        const QStringList files = s.recordings();
        QCOMPARE(files.size(), 1);
        QVERIFY2(files[0].startsWith("A") && files[0].endsWith("~5551234.wav"), qPrintable(files[0]));
        QCOMPARE(s.lists().unreadEntries(), files);
        QVERIFY(QFileInfo(s.dir.file("waveFiles/" + files[0])).size() > 44 + 2 * 16000);
        QVERIFY(s.statusText().contains("CallerID:5551234"));
        QVERIFY(waitFor([&] { return s.slot().hCall == 0 && s.modems->line(0).ready(); }, 20000));
        s.tell("at 0 line 0 call number \"5550001\" cadence 300/700 audio talk");
        QVERIFY(waitFor([&] { return s.recording(); }, 15000));
        QTest::qWait(1500);
        s.tell("at 0 line 0 hangup disconnect");
        QVERIFY(waitFor([&] { return s.recordings().size() == 2; }, 6000));
    }

    // A chip that leaves voice receive after its silence report (two seconds of quiet, as the
    // U.S. Robotics manual describes): a caller who pauses and talks on is recorded to the end,
    // and the status list says what the modem did.
    void modemThatLeavesReceiveAfterSilence()
    {
        System s(QStringLiteral("usr-silence-ends"), 2, 1, {});
        QVERIFY(s.identified);
        s.tell("at 0 line 0 call number \"5551234\" cadence 300/700 audio talk 3");
        QVERIFY(waitFor([&] { return s.recording(); }, 10000));
        QTest::qWait(1500);
        s.tell("at 0 line 0 audio silence");
        QVERIFY(waitFor([&] { return s.statusText().contains("left voice receive by itself; recording again"); }, 5000));
        s.tell("at 0 line 0 audio talk 5");
        QTest::qWait(3000);
        s.tell("at 0 line 0 hangup disconnect");
        QVERIFY(waitFor([&] { return !s.recordings().isEmpty(); }, 10000));
        const QString file = s.dir.file("waveFiles/" + s.recordings()[0]);
        const std::vector<std::int16_t> audio = readLineWav(file.toStdString());
        // Talk, two seconds of quiet, then three seconds of talk up to the hang-up: the last
        // seconds of the recording hold the caller, each of them.
        QVERIFY2(audio.size() >= 6 * 8000, qPrintable(QString::number(audio.size())));
        const std::size_t end = audio.size() - 4000;
        for (std::size_t from = end - 2 * 8000; from < end; from += 8000)
            QVERIFY2(rms(audio, from, from + 8000) > 300, qPrintable(QString::number(from)));
        QCOMPARE(s.modems->line(0).stats().receiveResumed, 1);
        QCOMPARE(s.modems->line(0).stats().stalls, 0);
    }

    // One modem that stops answering is reset; the message on the other line goes on whole.
    void modemThatStopsAnsweringLeavesOtherLinesAlone()
    {
        modem::LineOptions options;
        options.keepAliveMs = 500;
        options.commandTimeoutMs = 1000;
        System s(QStringLiteral("conexant,usr"), 2, 2, options);
        QVERIFY(s.identified);
        s.tell("at 0 line 0 call number \"5551234\" cadence 300/700 audio talk");
        QVERIFY(waitFor([&] { return s.recording(); }, 10000));
        s.tell("fault 1 mute 3000");
        QVERIFY(waitFor([&] { return s.statusText().contains("Line1 the modem on"); }, 5000));
        QVERIFY(waitFor([&] { return s.statusList().lines().back().contains("Line1") && s.modems->line(1).ready(); }, 10000));
        QTest::qWait(4500);
        s.tell("at 0 line 0 hangup disconnect");
        QVERIFY(waitFor([&] { return !s.recordings().isEmpty(); }, 6000));
        QCOMPARE(s.statusText().count("does not answer"), 1);
        QVERIFY(s.modems->line(1).stats().resets >= 1);
        QCOMPARE(s.modems->line(0).stats().resets, 0);
        // About nine seconds of message: the line recorded all along, at the modem's pace.
        const qint64 size = QFileInfo(s.dir.file("waveFiles/" + s.recordings()[0])).size();
        QVERIFY2(size > 44 + 7 * 16000, qPrintable(QString::number(size)));
    }
};

QTEST_GUILESS_MAIN(tst_ModemCall)
#include "tst_ModemCall.moc"
