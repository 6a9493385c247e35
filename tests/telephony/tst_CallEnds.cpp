// How calls end, through the whole call path on the virtual exchange in virtual time: however
// a call ends, the line is left clean for the next caller, whose message is kept whole; text
// a caller sends cannot forge lines in the files; a prompt with an impossible header is
// refused for the built-in one.
#include "core/TextFile.h"
#include "core/WaveHeader.h"
#include "records/CallRecords.h"
#include "support/CallRig.h"
#include "support/Files.h"

#include <QTest>

using namespace telvox;
using namespace telvox::test;

namespace {


// A caller on `line` waits through the greeting, speaks for `speakMs` and hangs up. Returns the
// recording the call left ("" with a warning when it left none, or more than one).
QString leaveMessage(CallRig &c, int line, int speakMs, std::uint64_t seed, const QByteArray &number = "5557000")
{
    const QStringList before = c.recordings();
    if (!c.exchange->placeIncomingCall(line, caller(number, seed)) || !c.until(line, 1)) {
        qWarning("the line refused the call, or its recording never started");
        return QString();
    }
    c.loop.advance(speakMs);
    c.exchange->hangUpFarEnd(line, FarEndHangUp::WithDisconnect);
    if (!c.loop.advanceUntil([&] { return c.lineIsClean(line) && c.recordings().size() > before.size(); }, 10000)) {
        qWarning("the message was not written");
        return QString();
    }
    QStringList added = c.recordings();
    for (const QString &name : before)
        added.removeOne(name);
    if (added.size() != 1) {
        qWarning("%s", qPrintable("recordings added: " + added.join(", ")));
        return QString();
    }
    return added.first();
}

QByteArray pcmWave(std::uint32_t rate, const QByteArray &data)
{
    return pcmWaveHeader(1, rate, 16, static_cast<std::uint32_t>(data.size())) + data;
}

} // namespace

class tst_CallEnds : public QObject
{
    Q_OBJECT
private slots:
    // A dialled call that nobody answers leaves no file and a clean line: the next three
    // callers on that line are each recorded whole. Here the far end goes before the recording
    // would start, or only the busy-tone detector ends the call; the far end's hang-up, the
    // pop-up's Hang Up and the dialler's Drop during the call are in tst_Soak's mix.
    void unansweredDialledCallLeavesTheLineClean_data()
    {
        QTest::addColumn<OutgoingBehaviour::Kind>("party");
        QTest::addColumn<bool>("busyDetector"); // nothing ends the call but the busy-tone detector
        QTest::newRow("busy, far end before recording") << OutgoingBehaviour::Kind::Busy << false;
        QTest::newRow("no answer, far end before recording") << OutgoingBehaviour::Kind::NoAnswer << false;
        QTest::newRow("silent party, far end before recording") << OutgoingBehaviour::Kind::Answer << false;
        QTest::newRow("busy, the busy-tone detector") << OutgoingBehaviour::Kind::Busy << true;
    }
    void unansweredDialledCallLeavesTheLineClean()
    {
        QFETCH(OutgoingBehaviour::Kind, party);
        QFETCH(bool, busyDetector);
        CallRig::Options options;
        options.triggers.fastBusy = busyDetector;
        CallRig c(options);
        c.exchange->setOutgoingBehaviour(0, calledParty(party, 4000));
        QVERIFY(c.dialler->Dial("0", "5550100"));
        if (busyDetector) {
            QVERIFY(c.until(0, 2, 5000));
            QVERIFY(c.loop.advanceUntil([&] { return c.lineIsClean(0); }, 20000)); // the tone alone ends it
        } else {
            // Connected, but the far end is gone before the recording of the call would start.
            QVERIFY(c.loop.advanceUntil([&] { return c.core->call(0).timer(CallTimer::Timer4).isEnabled(); }, 5000));
            c.loop.advance(300);
            QVERIFY(c.exchange->hangUpFarEnd(0, FarEndHangUp::WithDisconnect));
        }
        QVERIFY(c.loop.advanceUntil([&] { return c.lineIsClean(0); }, 5000));
        c.loop.advance(3000);
        QVERIFY(c.lineIsClean(0));
        QVERIFY2(c.recordings().isEmpty(), qPrintable(c.recordings().join(", ")));
        QVERIFY(c.lists.lastTenEntries().isEmpty());
        QVERIFY(c.loop.advanceUntil([&] { return c.dialler->buttons() == Dialler::Buttons::Ready; }, 3000));

        // Three messages of 9, 14 and 6 seconds: each one whole, none cut, none missing.
        const int speak[] = {9000, 14000, 6000};
        for (int i = 0; i < 3; ++i) {
            const QString file = leaveMessage(c, 0, speak[i], 40 + std::uint64_t(i));
            QVERIFY2(!file.isEmpty(), qPrintable(QString("message %1").arg(i + 1)));
            QVERIFY(file.startsWith('A'));
            const double seconds = c.seconds(file);
            QVERIFY2(std::abs(seconds - speak[i] / 1000.0) < 1.0,
                     qPrintable(QString("message %1: %2 s of %3").arg(i + 1).arg(seconds).arg(speak[i] / 1000.0)));
        }
        QCOMPARE(c.lists.unreadEntries().size(), 3);
    }

    // A caller's number and name full of line breaks and terminal escapes: every text file
    // gets one line for the call, and nothing in them or on screen carries a control character.
    void callerIdTextCannotForgeLines()
    {
        CallRig c;
        // The number field ends at its first zero byte; the name is not cut.
        const QByteArray number = QByteArray("555\r\n08:30:16 Line1 forged\x1b[2J\x07\0tail", 36);
        IncomingCall in = caller(number, 3);
        in.name = "EVE\r\nCallerID:1234\x1b]0;owned\x07\x85" + QByteArray(300, 'x');
        QVERIFY(c.exchange->placeIncomingCall(0, in));
        const QString shown = "555??08:30:16 Line1 forged?[2J?";
        QVERIFY(c.loop.advanceUntil([&] { return !c.core->callerNumber().isEmpty(); }, 10000));
        QCOMPARE(c.core->callerNumber(), shown);
        QCOMPARE(c.core->callerName(), "EVE??CallerID:1234?]0;owned??" + QString(300, 'x'));
        QCOMPARE(c.core->popup().row(0).callerId, shown + ' ');
        QCOMPARE(c.core->popup().row(0).callerName, c.core->callerName() + ' ');
        QVERIFY(c.until(0, 1));
        c.loop.advance(6000);
        QVERIFY(c.exchange->hangUpFarEnd(0, FarEndHangUp::WithDisconnect));
        QVERIFY(c.loop.advanceUntil([&] { return !c.recordings().isEmpty(); }, 10000));

        QCOMPARE(readAll(c.dir.file("callerid.txt")), (shown + "\r\n").toUtf8());
        QVERIFY(c.statusTexts().contains("CallerID:" + shown));
        QCOMPARE(c.settings.ReadSetting("Config", "Last_CallerID"), shown);
        QCOMPARE(readCallRecords(c.store, "Received"), QStringList({shown}));

        // The day log: every line is one status line with its time stamp, none of them forged.
        const QStringList log = readLocalLines(c.dir.file("LogFiles/" + QDir(c.dir.file("LogFiles")).entryList(QDir::Files).value(0)));
        QVERIFY(log.size() > 5);
        QCOMPARE(log.size(), c.statusList.lines().size());
        for (const QString &line : log) {
            QVERIFY2(!line.startsWith("08:30:16 Line1") && !line.startsWith("CallerID:1234"), qPrintable(line));
            for (const QChar ch : line)
                QVERIFY2(ch.unicode() >= 0x20 && ch.unicode() != 0x7f, qPrintable(line));
        }
        // The recording's name carries the number with everything unsafe replaced.
        QCOMPARE(c.recordings().size(), 1);
        QVERIFY2(c.recordings()[0].endsWith("~555__08_30_16 Line1 forged_[2J_.wav"), qPrintable(c.recordings()[0]));
    }

    // A greeting whose header claims 1 Hz (or anything else unusable) is refused with a status
    // line, and the caller hears the built-in greeting instead, at once and in full.
    void unusableGreetingIsReplacedByTheBuiltInOne_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("why");
        const QByteArray second(16000, '\x11');
        QTest::newRow("1 Hz") << pcmWave(1, QByteArray(200 * 1024, '\x11'))
                              << "its header claims 1 samples per second, outside 4000 to 48000";
        QTest::newRow("not a wave file") << QByteArray("RIFX not at all") << "it is not a wave file";
        QByteArray alaw = pcmWave(8000, second);
        alaw[20] = 6;
        QTest::newRow("a-law") << alaw << "it is not PCM audio of 8 or 16 bits";
    }
    void unusableGreetingIsReplacedByTheBuiltInOne()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, why);
        CallRig c;
        QVERIFY(writeBytes(c.dir.file("greeting.wav"), file));
        QVERIFY(c.exchange->placeIncomingCall(0, caller({}, 4)));
        QVERIFY(c.loop.advanceUntil([&] { return c.exchange->view(0).digitsHeard.contains('*'); }, 30000));
        QVERIFY2(c.statusTexts().contains("greeting.wav cannot be played (" + why + "); the default prompt is used instead"),
                 qPrintable(c.statusTexts().join('\n')));
        // The built-in greeting lasts about 2.3 s; the tone after it adds 150 ms.
        const double heard = double(c.exchange->heardSampleCount(0)) / 8000.0;
        QVERIFY2(heard > 2.2 && heard < 2.7, qPrintable(QString::number(heard)));
    }
};

QTEST_GUILESS_MAIN(tst_CallEnds)
#include "tst_CallEnds.moc"
