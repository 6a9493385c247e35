// The message index on the real program: killed between a recording's rename and its listing
// (strace holds the program right after the rename), the lists of an earlier version's options
// file, and a recordings folder whose disk is not mounted.

#include "platform/media/TestWave.h"
#include "records/MessageStore.h"
#include "support/FakeShell.h"
#include "support/Files.h"
#include "support/Program.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include <csignal>
#include <sys/mount.h>
#include <unistd.h>

using namespace telvox;
using namespace telvox::test;

namespace {

QString runTelvox(const ScratchDir &home, const QStringList &args, int *exitCode)
{
    return runToEnd(TELVOX_EXECUTABLE, args, programEnvironment(home.path()), exitCode);
}

// The first child of `pid` (the program that strace started).
pid_t childOf(qint64 pid)
{
    const QDir tasks(QString("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray children = readAll(tasks.filePath(task + "/children")).trimmed();
        if (!children.isEmpty())
            return pid_t(children.split(' ').first().toInt());
    }
    return 0;
}

QList<StoredMessage> unreadIn(const ScratchDir &home)
{
    return MessageStore(home.file("messages.db")).messages(MessageStore::List::Unread);
}

void presetLines(const ScratchDir &home)
{
    presetSettings(home.path(), {{"Config/Language", "0"}, {"Config/Line0", "1"}, {"Config/Rings", "2"},
                                 {"VoiceModem/Probe", "0"}});
}

} // namespace

class tst_MessageIndex : public QObject
{
    Q_OBJECT

private slots:
    // The mail of the recording is queued when the next start finds it (nobody takes mail
    // here: it waits in the queue).
    void killedBetweenTheRenameAndTheListing()
    {
        ScratchDir home;
        presetLines(home);
        presetSettings(home.path(), {{"Forward/Enabled", "1"}, {"Forward/To", "me@example.org"},
                                     {"Forward/Host", "127.0.0.1"}, {"Forward/Port", "9"}, {"Forward/Security", "none"}});
        int code = 0;
        runTelvox(home, {"--echo-status", "--quit-after", "300"}, &code); // the folders as a user has them
        QVERIFY(writeBytes(home.file("call.scn"), "at 500 line 0 call number \"5551234\" audio talk 3\n"
                                                  "at 16000 line 0 hangup disconnect\n"));
        // Every rename returns only after three seconds: time to kill the program between the
        // recording's rename and its listing.
        QProcess service;
        service.setProcessEnvironment(programEnvironment(home.path()));
        service.start("strace", QStringList{"-f", "-qq", "-o", "/dev/null", "-e", "trace=renameat2", "-e",
                                 "inject=renameat2:delay_exit=3000000", TELVOX_EXECUTABLE, "--service", "--scenario",
                                 home.file("call.scn")});
        if (!service.waitForStarted())
            QSKIP("strace cannot be started here");
        // Should a check fail before the kill, the program under strace does not outlive the test.
        const qint64 tracer = service.processId();
        const auto endProgram = qScopeGuard([tracer] {
            if (const pid_t child = childOf(tracer); child > 0)
                ::kill(child, SIGKILL);
        });
        QStringList recorded;
        QTRY_VERIFY_WITH_TIMEOUT(!(recorded = QDir(home.file("waveFiles")).entryList({"A*~5551234.wav"}, QDir::Files)).isEmpty(),
                                 60000);
        const pid_t telvox = childOf(service.processId());
        QVERIFY(telvox > 0);
        QCOMPARE(::kill(telvox, SIGKILL), 0);
        QVERIFY(service.waitForFinished(10000));
        QVERIFY2(unreadIn(home).isEmpty(), "the kill came after the listing");

        // The next starts list it, once, and say so once.
        const QString said = runTelvox(home, {"--echo-status", "--quit-after", "300"}, &code);
        QVERIFY2(said.contains("recording " + recorded[0] + " found in " + home.file("waveFiles")), qPrintable(said));
        runTelvox(home, {"--echo-status", "--quit-after", "300"}, &code);
        QByteArray log;
        for (const QString &day : QDir(home.file("LogFiles")).entryList({"*.txt"}, QDir::Files))
            log += readAll(home.file("LogFiles/" + day));
        QCOMPARE(log.count(" found in "), 1);
        const QList<StoredMessage> unread = unreadIn(home);
        QCOMPARE(unread.size(), 1);
        QCOMPARE(unread[0].entry, recorded[0]);
        QCOMPARE(unread[0].caller, QString("5551234"));
        const QList<MailJobState> mails = MessageStore(home.file("messages.db")).mailJobs();
        QCOMPARE(mails.size(), 1);
        QCOMPARE(mails[0].recording, home.file("waveFiles/" + recorded[0]));
        const QString listing = runTelvox(home, {"--list"}, &code);
        QVERIFY2(code == 0 && listing.contains("Unread messages (1)") && listing.contains(recorded[0]), qPrintable(listing));
    }

    // An options file an earlier version wrote: its lists and call records are what the
    // companion commands and the program show, and the options file keeps only options.
    void theListsOfAnEarlierVersionMoveIntoTheIndex()
    {
        ScratchDir home;
        presetSettings(home.path(),
                       {{"Config/Language", "0"}, {"VoiceModem/Probe", "0"},
                        {"Data/ 0", "M2026-03-01~10-00-00~5550001.wav"}, {"DataUnread/ 0", "A2026-03-02~09-15-00~5550000.wav"},
                        {"DataUnread/ 1", ""}, {"Made/ 1", "5550100"}, {"Received/ 1", "5550000"}});
        QVERIFY(writeTestWave(home.file("M2026-03-01~10-00-00~5550001.wav"), 1000));
        QVERIFY(writeTestWave(home.file("A2026-03-02~09-15-00~5550000.wav"), 1000));
        int code = 0;
        const QString listing = runTelvox(home, {"--list"}, &code);
        QVERIFY2(code == 0 && listing.contains("Unread messages (1)") && listing.contains("A2026-03-02~09-15-00~5550000.wav")
                     && listing.contains("M2026-03-01~10-00-00~5550001.wav"),
                 qPrintable(listing));
        const QByteArray ini = readAll(home.file("telvox.ini"));
        QVERIFY2(!ini.contains("[Data") && !ini.contains("[Made]") && !ini.contains("[Received]")
                     && ini.contains("Language=0"),
                 ini.constData());
        const QString status = runTelvox(home, {"--status"}, &code);
        QVERIFY2(status.contains("Calls received: 5550000") && status.contains("5550100"), qPrintable(status));
        // The program itself finds them where the companion left them, and lists nothing new.
        const QString said = runTelvox(home, {"--echo-status", "--quit-after", "300"}, &code);
        QVERIFY2(!said.contains(" found in ") && !said.contains("no longer"), qPrintable(said));
        QCOMPARE(unreadIn(home).size(), 1);
    }

    // The recordings folder on a disk that is not mounted when a call comes: the call is kept
    // in the fallback folder, the user is told, and no folder is made on the disk beneath.
    void aRecordingsFolderWhoseDiskIsNotMounted()
    {
        ScratchDir home;
        const QString rec = home.file("calls");
        QVERIFY(QDir().mkpath(rec) && QDir().mkpath(home.file("disk")));
        const QByteArray disk = QFile::encodeName(home.file("disk")), folder = QFile::encodeName(rec);
        if (::geteuid() != 0 || ::mount("tmpfs", disk.constData(), "tmpfs", 0, "size=2m") != 0)
            QSKIP("no file system can be mounted here");
        const bool bound = ::mount(disk.constData(), folder.constData(), nullptr, MS_BIND, nullptr) == 0;
        presetLines(home);
        presetSettings(home.path(), {{"Config/SaveFile", rec + "/"}});
        int code = 0;
        if (bound)
            runTelvox(home, {"--echo-status", "--quit-after", "300"}, &code); // remembers the disk
        const bool marked = QFile::exists(rec + "/.telvox-recordings");
        ::umount2(folder.constData(), MNT_DETACH);
        ::umount2(disk.constData(), MNT_DETACH);
        QVERIFY(bound && marked);
        QVERIFY(QDir().rmdir(rec)); // the mount point goes too

        QVERIFY(writeBytes(home.file("call.scn"), "at 500 line 0 call number \"5551234\" audio talk 2\n"
                                                  "at 16000 line 0 hangup disconnect\n"));
        QProcess service;
        service.setProcessEnvironment(programEnvironment(home.path()));
        service.start(TELVOX_EXECUTABLE, QStringList{"--service", "--scenario", home.file("call.scn")});
        QVERIFY(service.waitForStarted());
        QString out;
        QTRY_VERIFY2_WITH_TIMEOUT(!QDir(home.file("FallbackRecordings")).entryList({"A*.wav"}, QDir::Files).isEmpty()
                                      && !unreadIn(home).isEmpty(),
                                  qPrintable(out += QString::fromUtf8(service.readAllStandardOutput())), 60000);
        service.terminate();
        QVERIFY(service.waitForFinished(30000));
        out += QString::fromUtf8(service.readAllStandardOutput());
        QVERIFY2(out.contains("the recordings folder " + rec + " is not there (is its disk mounted?)"), qPrintable(out));
        QVERIFY(!QFileInfo::exists(rec));
        QVERIFY(unreadIn(home)[0].entry.startsWith(home.file("FallbackRecordings/A")));
    }
};

QTEST_GUILESS_MAIN(tst_MessageIndex)
#include "tst_MessageIndex.moc"
