// The user's files as the service meets them: hostile lines named and never obeyed, files
// edited while it runs read again at once, and runtime names another account took first.

#include "support/DiskFaults.h"
#include "support/FakeShell.h"
#include "support/Files.h"
#include "support/Program.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace telvox::test;

namespace {

// Replaces a file the way editors save: a new file renamed over the old one.
bool saveLikeAnEditor(const QString &path, const QByteArray &bytes)
{
    const QString fresh = path + ".edit~";
    return writeBytes(fresh, bytes) && ::rename(qPrintable(fresh), qPrintable(path)) == 0;
}

// The service's output until `text` appears (or `ms` pass).
bool waitFor(QProcess &service, QString &out, const QString &text, int ms = 30000)
{
    QElapsedTimer clock;
    clock.start();
    while (!out.contains(text) && clock.elapsed() < ms) {
        service.waitForReadyRead(200);
        out += QString::fromUtf8(service.readAllStandardOutput());
    }
    return out.contains(text);
}

void stop(QProcess &service)
{
    service.terminate();
    if (!service.waitForFinished(30000)) {
        service.kill();
        service.waitForFinished();
    }
}

} // namespace

class tst_ServiceUserFiles : public QObject
{
    Q_OBJECT

private slots:
    // A block list of "*" lines and a junk Rings.txt: every line is named, none stops a call
    // being answered and recorded. Edited while the service runs, the files are read again
    // and the new entries apply to the next call.
    void hostileFilesAreNamedAndEditsApplyWhileRunning()
    {
        ScratchDir home;
        presetSettings(home.path(), {{"Config/Language", "0"}, {"Config/Line0", "1"}, {"Config/Line1", "1"},
                                     {"Config/Rings", "2"}, {"VoiceModem/Probe", "0"}});
        QVERIFY(writeBytes(home.file("BlockList.txt"), "*\n-*\n(*\tall of them\n"));
        QVERIFY(writeBytes(home.file("Rings.txt"), "0xxxxxxxxxxxxxxxxxxxxxxxxxx,1,2,3,4,5,6,7\r\n\x01\x02\r\n"));
        QCOMPARE(::mkfifo(qPrintable(home.file("AllowList.txt")), 0600), 0); // would never end reading
        QVERIFY(writeBytes(home.file("call.scn"), "at 500 line 0 call number \"5551234\" audio talk 5\n"
                                                  "at 6000 line 1 call number \"5559999\" audio talk 5\n"));
        QProcess service;
        service.setProcessEnvironment(programEnvironment(home.path()));
        service.start(TELVOX_EXECUTABLE, {"--service", "--scenario", home.file("call.scn")});
        QVERIFY(service.waitForStarted());
        QString out;
        QVERIFY2(waitFor(service, out, "Rings.txt, line 2"), qPrintable(out));
        QVERIFY2(out.contains("BlockList.txt, line 1: \"*\" is not used: it would match every caller")
                     && out.contains("BlockList.txt, line 2: \"-*\" is not used")
                     && out.contains("AllowList.txt cannot be read: Invalid argument")
                     && out.contains("BlockList.txt, line 3: \"(*\" is not used")
                     && out.contains("Rings.txt, line 1: \"0xxxxxxxxxxxxxxxxxxxxxxxxxx,1,2,3,4,5,6,7\" is not used: it is "
                                     "not a rule of the form"),
                 qPrintable(out));

        // Edited while it runs: read again within a second, and said so.
        QVERIFY(saveLikeAnEditor(home.file("BlockList.txt"), "5559999\tsurvey\n"));
        QVERIFY2(waitFor(service, out, "BlockList.txt reread: 1 rules", 8000), qPrintable(out));
        QVERIFY(writeBytes(home.file("PhoneBook.txt"), QByteArray("ANNA").leftJustified(30, ' ')
                                                           + QByteArray("5551234").leftJustified(20, ' ')
                                                           + QByteArray(78, '\0')));
        QVERIFY2(waitFor(service, out, "PhoneBook.txt reread: 1 entries", 8000), qPrintable(out));

        QVERIFY2(waitFor(service, out, "Line0 Start Recording"), qPrintable(out));
        QVERIFY2(waitFor(service, out, "Blocked: 5559999 (survey)"), qPrintable(out));
        QTest::qWait(2000); // two seconds of the message
        stop(service);
        out += QString::fromUtf8(service.readAllStandardOutput());
        const QString files = QDir(home.file("waveFiles")).entryList(QDir::Files).join(' ');
        QVERIFY2(!QDir(home.file("waveFiles")).entryList({"A*~5551234.wav"}, QDir::Files).isEmpty(), qPrintable(files + "\n" + out));
        QVERIFY(QDir(home.file("waveFiles")).entryList({"*5559999*.wav"}, QDir::Files).isEmpty());
    }

    // A damaged options file: put aside and the last good copy restored, with a status line
    // (the English of the restored options proves it; without them a first start runs in the
    // locale's language). On a disk that is full the file is left as it was and that is said.
    void damagedOptionsRestoredAndFullDiskSaid()
    {
        ScratchDir home;
        presetSettings(home.path(), {{"Config/Language", "0"}, {"Config/Line0", "1"}, {"VoiceModem/Probe", "0"}});
        int code = 0;
        QString out = runToEnd(TELVOX_EXECUTABLE, {"--service", "--quit-after", "200"}, programEnvironment(home.path()),
                               &code);
        QVERIFY2(code == 0 && QFile::exists(home.file("telvox.ini.bak")), qPrintable(out));
        const QByteArray junk("\x00\xff[Config\nLanguage=\n=\n[[[\n\x01\x02garbage", 36);
        QVERIFY(writeBytes(home.file("telvox.ini"), junk));
        out = runToEnd(TELVOX_EXECUTABLE, {"--service", "--quit-after", "200"}, programEnvironment(home.path()), &code);
        QVERIFY2(code == 0 && out.contains("the options file " + home.file("telvox.ini") + " could not be read (its "
                                           "content is not in the form of an options file); the last good copy was "
                                           "restored and the unreadable file kept as " + home.file("telvox.ini.damaged-")),
                 qPrintable(out));
        QVERIFY2(out.contains("service started"), qPrintable(out)); // English: the options are back
        const QStringList aside = QDir(home.path()).entryList({"telvox.ini.damaged-*"}, QDir::Files);
        QCOMPARE(aside.size(), 1);
        QCOMPARE(readAll(home.file(aside[0])), junk);

        if (::geteuid() != 0)
            QSKIP("mounting a small file system needs root");
        QVERIFY(QDir().mkpath(home.file("disk")));
        SmallFileSystem disk(home.file("disk"), "size=256k");
        QVERIFY(disk.mounted());
        QVERIFY(QFile::copy(home.file("telvox.ini"), home.file("disk/telvox.ini")));
        const QByteArray before = readAll(home.file("disk/telvox.ini"));
        writeBytes(home.file("disk/filler"), QByteArray(256 * 1024, 'x')); // as much as fits
        out = runToEnd(TELVOX_EXECUTABLE, {"--service", "--quit-after", "200"}, programEnvironment(home.file("disk")),
                       &code);
        QVERIFY2(out.contains("the options could not be saved in " + home.file("disk/telvox.ini")
                              + " (No space left on device); the file keeps the options saved before"),
                 qPrintable(out));
        QCOMPARE(readAll(home.file("disk/telvox.ini")), before);
    }

    // The companion commands meeting a damaged options file restore it as the program does
    // and say so on stderr and in the day log; their output and exit codes stay as they were.
    void companionCommandsSayTheyRestoredTheOptions()
    {
        ScratchDir home;
        presetSettings(home.path(), {{"Config/Language", "0"}, {"Config/Line0", "1"}, {"VoiceModem/Probe", "0"}});
        int code = 0;
        runToEnd(TELVOX_EXECUTABLE, {"--service", "--quit-after", "200"}, programEnvironment(home.path()), &code);
        QVERIFY(QFile::exists(home.file("telvox.ini.bak")));
        const QString said = "the options file " + home.file("telvox.ini") + " could not be read (";
        // Damaged in three ways: not in the file's form, binary junk that holds no option, empty.
        const struct
        {
            QStringList args;
            int code;
            QByteArray junk;
        } commands[] = {{{"--list"}, 0, QByteArray("\x00\xff[Config\nLanguage=\n=\n[[[\n\x01\x02garbage", 36)},
                        {{"--mark-read", "A2026-01-01~00-00-00.wav"}, 1, QByteArray("\x00\xff[[garbage", 11)},
                        {{"--status"}, 0, QByteArray()}};
        for (const auto &c : commands) {
            QVERIFY(writeBytes(home.file("telvox.ini"), c.junk));
            QProcess p;
            p.setProcessEnvironment(programEnvironment(home.path()));
            p.start(TELVOX_EXECUTABLE, c.args);
            QVERIFY(p.waitForFinished(30000));
            const QString out = QString::fromUtf8(p.readAllStandardOutput());
            const QString err = QString::fromUtf8(p.readAllStandardError());
            QVERIFY2(p.exitCode() == c.code && err.contains(said) && !out.contains(said),
                     qPrintable(c.args.join(' ') + "\n" + out + "\n" + err));
            QVERIFY2(readAll(home.file("telvox.ini")).contains("Language=0"), qPrintable(c.args.join(' ')));
        }
        QByteArray log;
        for (const QString &day : QDir(home.file("LogFiles")).entryList({"*.txt"}, QDir::Files))
            log += readAll(home.file("LogFiles/" + day));
        QCOMPARE(log.count(said.toUtf8()), 3);
    }

    // The control socket's name for a program folder too deep for a socket path, with the
    // program and its commands run by an ordinary account: another account that took the
    // names it could guess first (the fixed name in /tmp of earlier versions among them) is
    // never asked anything, and the owner's commands reach the real service.
    void runtimeNamesTakenFirstByAnotherAccount()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to act as two other accounts (setpriv)");
        const QStringList asOwner{"--reuid=daemon", "--regid=daemon", "--clear-groups"};
        QTemporaryDir base("/tmp/telvox-owner-XXXXXX");
        QVERIFY(base.isValid());
        const QString home = base.filePath(QString("deep/").repeated(20) + "home");
        QVERIFY(QDir().mkpath(home));
        presetSettings(home, {{"Config/Language", "0"}, {"Config/Line0", "1"}, {"VoiceModem/Probe", "0"}});
        int code = 0;
        runToEnd("chown", {"-R", "daemon:daemon", base.path()}, QProcessEnvironment::systemEnvironment(), &code);
        QCOMPARE(code, 0);
        const QString lock = home + "/telvox.lock";
        const QString guessed = "/tmp/telvox-"
                                + QCryptographicHash::hash(lock.toUtf8(), QCryptographicHash::Sha1).toHex().left(16)
                                + ".sock";
        // The squatter's name goes with the test, also when it fails.
        const std::unique_ptr<const QString, void (*)(const QString *)> removeGuessed(
            &guessed, [](const QString *path) { QFile::remove(*path); });
        QTemporaryDir spyFolder("/tmp/telvox-spy-XXXXXX");
        QVERIFY(spyFolder.isValid());
        ::chmod(qPrintable(spyFolder.path()), 0777);
        const QString heard = spyFolder.filePath("heard");
        // The squatter answers anything with a reply of its own and notes every connection.
        const QString squat = QString(R"(
import os, socket, sys
path, heard = sys.argv[1], sys.argv[2]
try: os.unlink(path)
except OSError: pass
s = socket.socket(socket.AF_UNIX); s.bind(path); os.chmod(path, 0o777); s.listen(8)
open(heard + ".ready", "w").close()
while True:
    c, _ = s.accept()
    open(heard, "a").write("connection\n")
    c.sendall(b"telvox-service 1\nSQUATTER\n"); c.close()
)");
        QProcess squatter;
        squatter.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups", "/usr/bin/python3", "-c", squat,
                                   guessed, heard});
        QVERIFY(squatter.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(heard + ".ready"), 10000);

        QProcess service;
        service.setProcessEnvironment(programEnvironment(home));
        service.start("setpriv", asOwner + QStringList{TELVOX_EXECUTABLE, "--service"});
        QVERIFY(service.waitForStarted());
        QString out;
        QVERIFY2(waitFor(service, out, "Line0"), qPrintable(out));
        QVERIFY2(!out.contains("control socket unavailable"), qPrintable(out));

        // The socket opens just after the start-up lines; asked until the service answers.
        QString status;
        for (int attempt = 0; attempt < 50; ++attempt) {
            status = runToEnd("setpriv", asOwner + QStringList{TELVOX_EXECUTABLE, "--status"}, programEnvironment(home),
                              &code);
            if (!status.contains("not running"))
                break;
            QTest::qWait(100);
        }
        QVERIFY2(code == 0 && status.contains("Line0: idle") && !status.contains("SQUATTER"), qPrintable(status));
        const QString marked = runToEnd("setpriv", asOwner + QStringList{TELVOX_EXECUTABLE, "--mark-read", "A2026.wav"},
                                        programEnvironment(home), &code);
        QVERIFY2(!marked.contains("SQUATTER") && !marked.contains("marked as read"), qPrintable(marked));
        // The short folder the socket lives in is the owner's alone.
        const QString folder = QString::fromUtf8(readAll(lock + ".rundir")).trimmed();
        struct stat st = {};
        QVERIFY(::lstat(qPrintable(folder), &st) == 0);
        QVERIFY(S_ISDIR(st.st_mode) && st.st_uid == 1 && (st.st_mode & 0777) == 0700);
        QVERIFY(QFile::exists(folder + "/telvox.sock"));

        stop(service);
        squatter.kill();
        squatter.waitForFinished();
        QVERIFY2(!QFile::exists(heard), qPrintable(readAll(heard)));
        QDir(folder).removeRecursively();
    }
};

QTEST_GUILESS_MAIN(tst_ServiceUserFiles)

#include "tst_ServiceUserFiles.moc"
