// Call blocking in the real program with real far ends: on an emulated voice modem (a listed
// caller whose caller ID arrives after the first ring, a withheld "P" caller, then an ordinary
// caller), and on a SIP line called by baresip over the loopback interface.

#include "../platform/telephony/sip/SipTestSupport.h"
#include "support/FakeShell.h"
#include "support/Files.h"
#include "support/Program.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <functional>
#include <memory>

using telvox::test::ScratchDir;

namespace {

// Runs the program in `home` for `ms` with the given arguments, `meanwhile` 3 s after its start;
// what it printed.
QString runTelvox(const ScratchDir &home, QStringList arguments, int ms, const std::function<void()> &meanwhile = {})
{
    QProcess telvox;
    telvox.setProcessEnvironment(telvox::test::programEnvironment(home.path()));
    telvox.start(TELVOX_EXECUTABLE, arguments << "--echo-status" << "--quit-after" << QString::number(ms));
    if (meanwhile && telvox.waitForStarted()) {
        QTest::qWait(3000);
        meanwhile();
    }
    if (!telvox.waitForFinished(ms + 40000) || telvox.exitCode() != 0)
        return QStringLiteral("telvox failed: ") + telvox.readAllStandardError();
    return QString::fromUtf8(telvox.readAllStandardOutput() + telvox.readAllStandardError());
}

bool hasRecordings(const ScratchDir &home)
{
    return QDirIterator(home.path(), {"A*.wav", "M*.wav"}, QDir::Files, QDirIterator::Subdirectories).hasNext();
}

} // namespace

class tst_ModemBlocking : public QObject
{
    Q_OBJECT

private slots:
    void blockedCallerIsHungUpAndTheLineIsFreeForTheNext()
    {
        ScratchDir home;
        QVERIFY(telvox::test::writeBytes(home.file("BlockList.txt"), "# sales\n0900*\tpremium\n"));
        QVERIFY(telvox::test::writeBytes(home.file("telvox.ini"), "[Blocking]\nWithheld=1\n"));
        telvox::test::ModemEmulator modems;
        QVERIFY(modems.start(TELVOX_MODEMSIM, home.path(),
                             "devices 1\n"
                             "at 2s line 0 call number \"0900123\" cid after\n"
                             // Each call is refused unless the one before has ended.
                             "at 9s line 0 call number \"P\" cid after\n"
                             "at 16s line 0 call number \"5551234\" cid after rings 2 giveup idle\n"));
        const QString out = runTelvox(home, {"--modem", modems.port(0)}, 21000);
        modems.stop();

        for (const char *seen : {"Blocked: 0900123 (premium)", "Blocked: withheld", "CallerID:5551234"})
            QVERIFY2(out.contains(seen), qPrintable(out));
        QVERIFY2(!out.contains("CallerID:0900123") && out.count("Blocked: ") == 2 && !hasRecordings(home), qPrintable(out));
    }

    // A SIP line refuses a blocked call unanswered, with 603 Decline unless 486 is chosen.
    void sipLineRefusesABlockedCall()
    {
        QVERIFY2(!QStandardPaths::findExecutable("baresip").isEmpty(), "baresip is not installed: run scripts/setup");
        for (const int code : {603, 486}) {
            ScratchDir home;
            const quint16 port = telvox::test::freePort(); // for the line
            QVERIFY(telvox::test::writeBytes(home.file("BlockList.txt"), "5551234\trobot\n"));
            QVERIFY(telvox::test::writeBytes(
                home.file("telvox.ini"),
                QStringLiteral("[SIP]\nLine0Listen=127.0.0.1:%1\n[Config]\nRings=2\n%2")
                    .arg(port)
                    .arg(code == 486 ? "[Blocking]\nSipReject=486\n" : "")
                    .toUtf8()));
            telvox::test::BaresipCall call;
            call.target = QStringLiteral("sip:telvox@127.0.0.1:%1").arg(port);
            call.voiceWav = qEnvironmentVariable("TELVOX_SOURCE_DIR") + "/tests/data/speech_en_female_8k.wav";
            call.quitAfterSeconds = 6;
            std::unique_ptr<telvox::test::BaresipPeer> peer; // dials once the program listens
            const QString out = runTelvox(home, {}, 10000, [&] {
                peer = std::make_unique<telvox::test::BaresipPeer>(call);
            });
            QVERIFY(peer);
            peer->finished(5000);
            const QString heard = peer->output();
            QVERIFY2(out.contains("Blocked: 5551234 (robot)") && !hasRecordings(home), qPrintable(out));
            QVERIFY2(heard.contains(code == 486 ? "session closed: 486 Busy Here" : "session closed: 603 Decline")
                         && !heard.contains("Call established"),
                     qPrintable(heard));
        }
    }
};

QTEST_GUILESS_MAIN(tst_ModemBlocking)
#include "tst_ModemBlocking.moc"
