// The program itself on emulated voice modems, as `scripts/run --modem-sim` starts it: the
// emulator on a pseudo-terminal, Telvox pointed at it with --modem, a caller whose call is
// picked up on a parallel telephone, and the conversation recorded through the modem backend,
// until Telvox is told to end in the middle of the call.

#include "support/FakeShell.h"

#include <QDir>
#include <QProcess>
#include <QTest>

using telvox::test::ScratchDir;

class tst_ModemRun : public QObject
{
    Q_OBJECT

private slots:
    void conversationRecordedThroughEmulatedModem()
    {
        ScratchDir home;
        QFile scenario(home.file("call.scn"));
        QVERIFY(scenario.open(QIODevice::WriteOnly));
        scenario.write("devices 1\n"
                       "at 2s line 0 call number \"5551234\" cid before pickup-after 1 audio talk 4\n"
                       "at 30s line 0 hangup disconnect\n");
        scenario.close();

        QProcess modems;
        modems.start(TELVOX_MODEMSIM, {"--link-dir", home.file("modems"), "--scenario", home.file("call.scn")});
        QVERIFY(modems.waitForStarted());
        QByteArray announced;
        QTRY_VERIFY_WITH_TIMEOUT((announced += modems.readAllStandardOutput()).contains("ready\n"), 10000);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TELVOX_HOME", home.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("LC_ALL", "zh_CN.UTF-8"); // the first start speaks the locale's language
        QProcess telvox;
        telvox.setProcessEnvironment(env);
        telvox.start(TELVOX_EXECUTABLE,
                     {"--modem", home.file("modems/modem0"), "--echo-status", "--quit-after", "11000"});
        QVERIFY(telvox.waitForFinished(60000));
        modems.kill();
        modems.waitForFinished();
        const QString out = QString::fromUtf8(telvox.readAllStandardOutput() + telvox.readAllStandardError());
        QCOMPARE(telvox.exitCode(), 0);

        // A first start in a Simplified Chinese locale speaks it, the modem's notice included; no probe ran
        // and the virtual exchange was not used.
        QVERIFY2(out.contains(QString::fromUtf8("上的 CX93001")) && out.contains(QString::fromUtf8("已就绪")),
                 qPrintable(out));
        QVERIFY2(!out.contains(QString::fromUtf8("虚拟交换机")), qPrintable(out));
        QVERIFY2(out.contains("CallerID:5551234"), qPrintable(out));

        // The recording began about 8.5 s in (the parallel handset: one learned ring gap after
        // the ring) and Telvox ended at about 11 s: the call was still on, and what it had
        // captured, at least a second and a half at 16000 bytes a second, is in the file.
        const QStringList recordings = QDir(home.path()).entryList({"M*~5551234.wav"}, QDir::Files);
        QVERIFY2(recordings.size() == 1, qPrintable(out + QDir(home.path()).entryList().join(" ")));
        QVERIFY2(QFileInfo(home.file(recordings[0])).size() > 44 + 24000,
                 qPrintable(QString::number(QFileInfo(home.file(recordings[0])).size())));
    }

    void tooManyModemsIsRefusedInWords()
    {
        QProcess telvox;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        telvox.setProcessEnvironment(env);
        QStringList args;
        for (int i = 0; i < 5; ++i)
            args << "--modem" << QString("/dev/ttyACM%1").arg(i);
        telvox.start(TELVOX_EXECUTABLE, args);
        QVERIFY(telvox.waitForFinished(20000));
        QCOMPARE(telvox.exitCode(), 2);
        QVERIFY(telvox.readAllStandardError().contains("at most four lines"));
    }
};

QTEST_GUILESS_MAIN(tst_ModemRun)
#include "tst_ModemRun.moc"
