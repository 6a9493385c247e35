// `telvox --service` as a home server runs it: the real program without windows on the virtual
// exchange, a caller whose message is being recorded when the service is told to stop, the
// companion commands beside it, and a desktop start that finds the lines taken.

#include "platform/media/TestWave.h"
#include "support/FakeShell.h"
#include "support/Files.h"
#include "support/Peers.h"
#include "support/Program.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

using namespace telvox::test;

namespace {

// Runs a short-lived telvox command in `home` to its end; standard output and error together.
QString runTelvox(const ScratchDir &home, const QStringList &args, int *exitCode)
{
    return runToEnd(TELVOX_EXECUTABLE, args, programEnvironment(home.path()), exitCode);
}

} // namespace

class tst_Service : public QObject
{
    Q_OBJECT

private slots:
    // An alarm is both a status line and a message box: the desktop program with
    // --echo-status and the service each print it once.
    void anAlarmIsPrintedOnce()
    {
        ScratchDir home;
        presetSettings(home.path(), {{"Config/Language", "0"}, {"VoiceModem/Probe", "0"}});
        QVERIFY(writeBytes(home.file("waveFiles"), "a file where the recordings folder belongs"));
        const QString alarm = "recordings cannot be written to " + home.file("waveFiles");
        int code = 0;
        for (const QStringList &args : {QStringList{"--echo-status", "--quit-after", "300"},
                                        QStringList{"--service", "--quit-after", "300"}}) {
            const QString said = runTelvox(home, args, &code);
            QVERIFY2(said.count(alarm) == 1, qPrintable(args.join(' ') + ":\n" + said));
        }
    }

    void messageRecordedHeadlessAndKeptOnSigterm()
    {
        ScratchDir home;
        presetSettings(home.path(), {{"Config/Language", "0"}, {"Config/Line0", "1"}, {"Config/Rings", "2"},
                                     {"VoiceModem/Probe", "0"}, {"DataUnread/ 0", "A2026-03-02~09-15-00~5550000.wav"}});
        // A service-only install keeps its recordings in waveFiles/ (no setup ever chose a folder).
        QVERIFY(QDir().mkpath(home.file("waveFiles")));
        QVERIFY(writeTestWave(home.file("waveFiles/A2026-03-02~09-15-00~5550000.wav"), 1000));
        QVERIFY(writeBytes(home.file("call.scn"), "at 500 line 0 call number \"5551234\" audio talk 5\n"));
        QProcess service;
        service.setProcessEnvironment(programEnvironment(home.path()));
        service.start(TELVOX_EXECUTABLE, {"--service", "--scenario", home.file("call.scn")});
        QVERIFY(service.waitForStarted());
        QString out;
        QTRY_VERIFY2_WITH_TIMEOUT((out += QString::fromUtf8(service.readAllStandardOutput()))
                                      .contains("Line0 Start Recording"),
                                  qPrintable(out), 30000);

        // While the message is being recorded: the status command sees it, a second service
        // and a desktop start find the lines taken.
        int code = 0;
        const QString status = runTelvox(home, {"--status"}, &code);
        QCOMPARE(code, 0);
        QVERIFY2(status.contains("Line0: recording a message") && status.contains("Line1: not open")
                     && status.contains(QRegularExpression("Calls received: 5551234 \\(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\)")),
                 qPrintable(status));
        const QString second = runTelvox(home, {"--service"}, &code);
        QCOMPARE(code, 1);
        QVERIFY2(second.contains("Telvox Is Already Running"), qPrintable(second));
        const QString desktop = runTelvox(home, {}, &code);
        QCOMPARE(code, 1);
        QVERIFY2(desktop.contains("Telvox is running as a service (lines in use)")
                     && desktop.contains("A2026-03-02~09-15-00~5550000.wav"),
                 qPrintable(desktop));
        // The service keeps the lists: it moves the message itself, and its later changes
        // (the new recording) keep that move.
        const QString marked = runTelvox(home, {"--mark-read", "A2026-03-02~09-15-00~5550000.wav"}, &code);
        QVERIFY2(code == 0 && marked.contains("marked as read"), qPrintable(marked));

        QTest::qWait(2000);
        service.terminate(); // SIGTERM in the middle of the message
        QVERIFY(service.waitForFinished(30000));
        out += QString::fromUtf8(service.readAllStandardOutput());
        const QString complaints = QString::fromUtf8(service.readAllStandardError());
        QCOMPARE(service.exitStatus(), QProcess::NormalExit);
        QCOMPARE(service.exitCode(), 0);

        // Every line carries the date and time; the day's log has the same lines.
        const QStringList lines = out.split('\n', Qt::SkipEmptyParts);
        static const QRegularExpression stamped("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} .");
        for (const QString &line : lines)
            QVERIFY2(stamped.match(line).hasMatch(), qPrintable(line + complaints));
        QVERIFY2(out.contains("CallerID:5551234") && out.contains("service stopping"), qPrintable(out));
        const QStringList logs = QDir(home.file("LogFiles")).entryList(QDir::Files);
        QCOMPARE(logs.size(), 1);
        QVERIFY(readAll(home.file("LogFiles/" + logs[0])).contains("Line0 Start Recording"));

        // What was captured before the stop, at least the two seconds waited, is in the file,
        // and it is listed as unread.
        const QString folder = home.file("waveFiles/");
        const QStringList recordings = QDir(folder).entryList({"A*~5551234.wav"}, QDir::Files);
        QVERIFY2(recordings.size() == 1, qPrintable(out + QDir(folder).entryList().join(" ")));
        QVERIFY2(QFileInfo(folder + recordings[0]).size() > 44 + 2 * 16000,
                 qPrintable(QString::number(QFileInfo(folder + recordings[0]).size())));
        QVERIFY(QDir(home.path()).entryList({"A*.wav"}, QDir::Files).isEmpty()); // none beside the prompts
        const QString listing = runTelvox(home, {"--list"}, &code);
        QVERIFY2(listing.contains(recordings[0] + "  5551234"), qPrintable(listing));
        QVERIFY2(listing.contains("Recent recordings (1):\n  2026-03-02 09:15:00    0:01  A2026-03-02~09-15-00~5550000.wav"),
                 qPrintable(listing));
        QVERIFY(!QFile::exists(home.file("telvox.sock")));
    }

    void companionCommandsOnAPreparedFolder()
    {
        ScratchDir home;
        QDir().mkpath(home.file("calls"));
        const QString message = "A2026-03-02~09-15-00~5551234.wav";
        const QString talk = "M2026-03-01~18-00-05~5559876.wav";
        QVERIFY(writeTestWave(home.file("calls/" + message), 3000));
        QVERIFY(writeTestWave(home.file("calls/" + talk), 65000));
        presetSettings(home.path(), {{"Config/Language", "0"}, {"Config/SaveFile", home.file("calls")},
                                     {"DataUnread/ 0", message}, {"Data/ 0", talk}, {"Received/ 1", "5559876"},
                                     {"Received/ 2", "5551234"}, {"Made/ 1", "5550000"}});
        QByteArray phoneBook = QByteArray("ANNA").leftJustified(30, ' ') + QByteArray("5551234").leftJustified(20, ' ');
        QVERIFY(writeBytes(home.file("PhoneBook.txt"), phoneBook.leftJustified(128, '\0')));

        int code = 0;
        QString listing = runTelvox(home, {"--list"}, &code);
        QCOMPARE(code, 0);
        QVERIFY2(listing.contains("Unread messages (1):\n  2026-03-02 09:15:00    0:03  " + message + "  5551234  ANNA\n"),
                 qPrintable(listing));
        QVERIFY2(listing.contains("Recent recordings (1):\n  2026-03-01 18:00:05    1:05  " + talk + "  5559876\n"),
                 qPrintable(listing));
        QVERIFY2(listing.contains("Recordings are in " + home.file("calls/")), qPrintable(listing));

        // Marked as read (by path or by name): it moves to the recent recordings, once.
        QString said = runTelvox(home, {"--mark-read", home.file("calls/" + message)}, &code);
        QCOMPARE(code, 0);
        QVERIFY2(said.contains("marked as read: " + message), qPrintable(said));
        said = runTelvox(home, {"--mark-read", message}, &code);
        QCOMPARE(code, 1);
        QVERIFY2(said.contains("not among the unread messages: " + message), qPrintable(said));
        listing = runTelvox(home, {"--list"}, &code);
        QVERIFY2(listing.contains("Unread messages (0):\n  (none)\nRecent recordings (2):\n  2026-03-02 09:15:00"),
                 qPrintable(listing));

        const QString status = runTelvox(home, {"--status"}, &code);
        QCOMPARE(code, 0);
        QVERIFY2(status.contains("Telvox is not running\nCalls received: 5551234, 5559876\nNumbers dialled: 5550000"),
                 qPrintable(status));

        // Two commands at once and more than four modems are refused; a file that is no
        // recording cannot be played.
        runTelvox(home, {"--list", "--status"}, &code);
        QCOMPARE(code, 2);
        QStringList modems;
        for (int i = 0; i < 5; ++i)
            modems << "--modem" << QString("/dev/ttyACM%1").arg(i);
        said = runTelvox(home, modems, &code);
        QVERIFY2(code == 2 && said.contains("at most four lines"), qPrintable(said));
        said = runTelvox(home, {"--play", "nothing.wav"}, &code);
        QCOMPARE(code, 1);
        QVERIFY2(said.contains("cannot play"), qPrintable(said));
    }

    void playsOnTheSoundCard()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            TELVOX_SKIP_WITHOUT_PEER("no sound server (scripts/test starts one)");
        ScratchDir home;
        // A recording of the default recordings folder, named as the lists name it.
        QVERIFY(QDir().mkpath(home.file("waveFiles")));
        QVERIFY(writeTestWave(home.file("waveFiles/one.wav"), 1000));
        QElapsedTimer clock;
        clock.start();
        int code = 0;
        const QString said = runTelvox(home, {"--play", "one.wav"}, &code);
        QVERIFY2(code == 0, qPrintable(said));
        QVERIFY2(said.contains("playing one.wav (0:01)"), qPrintable(said));
        // It waits for the sound to be played, not longer than the limit.
        QVERIFY2(clock.elapsed() >= 900 && clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_GUILESS_MAIN(tst_Service)

#include "tst_Service.moc"
