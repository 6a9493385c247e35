// The program itself on emulated voice modems, as `scripts/run --modem-sim` starts it: the
// emulator on a pseudo-terminal, Telvox pointed at it with --modem, a caller whose call is
// picked up on a parallel telephone, and the conversation recorded through the modem backend,
// until Telvox is told to end in the middle of the call.

#include "support/FakeShell.h"
#include "support/Program.h"

#include <QDir>
#include <QTest>

using namespace telvox::test;

class tst_ModemRun : public QObject
{
    Q_OBJECT

private slots:
    void conversationRecordedThroughEmulatedModem()
    {
        ScratchDir home;
        ModemEmulator modems;
        QVERIFY(modems.start(TELVOX_MODEMSIM, home.path(),
                             "devices 1\n"
                             "at 2s line 0 call number \"5551234\" cid before pickup-after 1 audio talk 4\n"
                             "at 30s line 0 hangup disconnect\n"));
        int code = -1;
        // The first start speaks the locale's language.
        const QString out = runToEnd(TELVOX_EXECUTABLE, {"--modem", modems.port(0), "--echo-status", "--quit-after", "11000"},
                                     programEnvironment(home.path(), "zh_CN.UTF-8"), &code, 60000);
        QCOMPARE(code, 0);
        // The modem's notice in Simplified Chinese too; no probe ran and the virtual exchange
        // was not used.
        QVERIFY2(out.contains(QString::fromUtf8("上的 CX93001")) && out.contains(QString::fromUtf8("已就绪")), qPrintable(out));
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
        ScratchDir home;
        QStringList args;
        for (int i = 0; i < 5; ++i)
            args << "--modem" << QString("/dev/ttyACM%1").arg(i);
        int code = -1;
        QVERIFY(runToEnd(TELVOX_EXECUTABLE, args, programEnvironment(home.path()), &code, 20000).contains("at most four lines"));
        QCOMPARE(code, 2);
    }
};

QTEST_GUILESS_MAIN(tst_ModemRun)
#include "tst_ModemRun.moc"
