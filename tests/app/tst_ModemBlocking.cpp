// Call blocking through the real modem backend: the program on an emulated voice modem, a
// listed caller whose caller ID arrives after the first ring, a caller who withheld the
// number (reported by the modem as "P"), then an ordinary caller.

#include "support/FakeShell.h"
#include "support/Files.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTest>

using telvox::test::ScratchDir;

class tst_ModemBlocking : public QObject
{
    Q_OBJECT

private slots:
    void blockedCallerIsHungUpAndTheLineIsFreeForTheNext()
    {
        ScratchDir home;
        QVERIFY(telvox::test::writeBytes(home.file("BlockList.txt"), "# sales\n0900*\tpremium\n"));
        QVERIFY(telvox::test::writeBytes(home.file("telvox.ini"), "[Blocking]\nWithheld=1\n"));
        QVERIFY(telvox::test::writeBytes(home.file("call.scn"),
                                         "devices 1\n"
                                         "at 2s line 0 call number \"0900123\" cid after\n"
                                         // Each call is refused unless the one before has ended.
                                         "at 9s line 0 call number \"P\" cid after\n"
                                         "at 16s line 0 call number \"5551234\" cid after rings 2 giveup idle\n"));

        QProcess modems;
        modems.start(TELVOX_MODEMSIM, {"--link-dir", home.file("modems"), "--scenario", home.file("call.scn")});
        QVERIFY(modems.waitForStarted());
        QByteArray announced;
        QTRY_VERIFY_WITH_TIMEOUT((announced += modems.readAllStandardOutput()).contains("ready\n"), 10000);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TELVOX_HOME", home.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        QProcess telvox;
        telvox.setProcessEnvironment(env);
        telvox.start(TELVOX_EXECUTABLE,
                     {"--modem", home.file("modems/modem0"), "--echo-status", "--quit-after", "21000"});
        QVERIFY(telvox.waitForFinished(60000));
        modems.kill();
        modems.waitForFinished();
        const QString out = QString::fromUtf8(telvox.readAllStandardOutput() + telvox.readAllStandardError());
        QCOMPARE(telvox.exitCode(), 0);

        QVERIFY2(out.contains("Blocked: 0900123 (premium)"), qPrintable(out));
        QVERIFY2(!out.contains("CallerID:0900123"), qPrintable(out));
        QVERIFY2(out.contains("CallerID:5551234"), qPrintable(out));
        QVERIFY2(out.contains("Blocked: withheld"), qPrintable(out));
        QVERIFY2(out.count("Blocked: ") == 2, qPrintable(out));
        QDirIterator recordings(home.path(), {"A*.wav", "M*.wav"}, QDir::Files, QDirIterator::Subdirectories);
        QVERIFY2(!recordings.hasNext(), qPrintable(out));
    }
};

QTEST_GUILESS_MAIN(tst_ModemBlocking)
#include "tst_ModemBlocking.moc"
