// A program killed with SIGKILL in the middle of a recording, then started again: the call is
// recovered, listed as unread and announced, at most a second short (the real executable on
// the emulated voice modem, which is also the check of the program pointed at a modem with
// --modem). Every file the program made is its owner's alone; a recordings folder that cannot
// be written is said at the start.
#include "ui/AppRig.h"
#include "core/Settings.h"
#include "records/MessageStore.h"
#include "records/StatusLog.h"
#include "support/FakeShell.h"
#include "support/Files.h"
#include "support/Program.h"
#include "support/StatusTexts.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/stat.h>

using namespace telvox;
using namespace telvox::test;

namespace {

struct Instance : AppRig
{
    using AppRig::AppRig;
    bool start() // through the splash window
    {
        const bool running = app.Main() == TelvoxApplication::StartResult::Running;
        loop.advance(2600);
        return running && app.isLoaded();
    }
};

// Files and folders below `folder` that another account could read, write or enter.
QStringList notPrivate(const QString &folder)
{
    QStringList open;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st = {};
        if (::lstat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISLNK(st.st_mode) && (st.st_mode & 077) != 0)
            open << QString("%1 %2").arg(path).arg(st.st_mode & 0777, 0, 8);
    }
    return open;
}

} // namespace

class tst_CrashRecovery : public QObject
{
    Q_OBJECT
private slots:
    void filesLeftOpenByEarlierVersionsAreMadePrivate()
    {
        ScratchDir home;
        presetSettings(home.path(), {{"Config/Language", "0"}, {"Config/SaveFile", home.file("waveFiles/")}});
        QDir().mkpath(home.file("LogFiles"));
        QDir().mkpath(home.file("waveFiles"));
        for (const char *name : {"callerid.txt", "PhoneBook.txt", "waveFiles/A2026-01-01~00-00-00.wav"})
            QVERIFY(writeBytes(home.file(name), "private"));
        for (const char *name : {"callerid.txt", "PhoneBook.txt", "waveFiles/A2026-01-01~00-00-00.wav", "telvox.ini"})
            ::chmod(QFile::encodeName(home.file(name)).constData(), 0644);
        for (const char *name : {"", "LogFiles", "waveFiles"})
            ::chmod(QFile::encodeName(home.file(name)).constData(), 0755);
        Instance i(home.path());
        QVERIFY(i.start());
        QVERIFY2(notPrivate(home.path()).isEmpty(), qPrintable(notPrivate(home.path()).join('\n')));
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(home.path()).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0700);
        const QStringList said = statusTexts(i.app.statusList());
        // Six: two text files, the options, the recording and two folders; the program folder
        // itself is made private before anything else happens. (The options' last good copy
        // comes with the loading's save, after this, as a link to the file already private;
        // the check above finds it private too.)
        QVERIFY2(said.contains("6 files and folders made private (readable only by this account)"), qPrintable(said.join('\n')));
    }

    void aRecordingsFolderThatCannotBeWrittenIsReportedAtStart()
    {
        ScratchDir home;
        presetSettings(home.path(), {{"Config/Language", "0"}, {"Config/SaveFile", home.file("plain/rec/")}});
        QVERIFY(writeBytes(home.file("plain"), "a file, not a folder"));
        Instance i(home.path());
        QVERIFY(i.start());
        const QString said = QString("recordings cannot be written to %1: %2; this call is recorded in %3 instead")
                                 .arg(home.file("plain/rec"), QString::fromLocal8Bit(std::strerror(ENOTDIR)),
                                      home.file("FallbackRecordings"));
        QVERIFY2(statusTexts(i.app.statusList()).contains(said), qPrintable(statusTexts(i.app.statusList()).join('\n')));
        QCOMPARE(i.prompts.shown.size(), 1);
        QCOMPARE(i.prompts.shown[0].text, said);
    }

    void killedOnTheModemEmulatorAndStartedAgain()
    {
        ScratchDir home;
        ModemEmulator modems;
        QVERIFY(modems.start(TELVOX_MODEMSIM, home.path(),
                             "devices 1\n"
                             "at 2s line 0 call number \"5551234\" cid before pickup-after 1 audio talk 4\n"
                             "at 60s line 0 hangup disconnect\n"));
        // The first start speaks the Simplified Chinese of its locale.
        const QProcessEnvironment env = programEnvironment(home.path(), "zh_CN.UTF-8");
        QProcess telvox;
        telvox.setProcessEnvironment(env);
        telvox.start(TELVOX_EXECUTABLE, {"--modem", modems.port(0), "--echo-status"});
        QVERIFY(telvox.waitForStarted());
        // The journal appears when the recording starts; four seconds later the power goes.
        // No folder was saved: the recordings are in waveFiles/.
        const QString recordings = home.file("waveFiles");
        QString journal;
        QTRY_VERIFY_WITH_TIMEOUT(
            !(journal = QDir(recordings).entryList({".M*.part"}, QDir::Files | QDir::Hidden).value(0)).isEmpty(), 40000);
        QElapsedTimer recording;
        recording.start();
        QTest::qWait(4000);
        const qint64 captured = QFileInfo(recordings + "/" + journal).size();
        ::kill(static_cast<pid_t>(telvox.processId()), SIGKILL);
        const qint64 recordedMs = recording.elapsed();
        QVERIFY(telvox.waitForFinished(10000));
        modems.stop();
        // Until then: the modem's notice and the caller ID in Simplified Chinese too; no probe
        // ran and the virtual exchange was not used.
        const QString before = QString::fromUtf8(telvox.readAllStandardOutput());
        QVERIFY2(before.contains(QString::fromUtf8("上的 CX93001")) && before.contains(QString::fromUtf8("已就绪"))
                     && !before.contains(QString::fromUtf8("虚拟交换机")) && before.contains("CallerID:5551234")
                     && before.contains("Telvox folder: " + home.path()), // which program folder is used
                 qPrintable(before));

        int code = -1;
        const QString said = runToEnd(TELVOX_EXECUTABLE, {"--echo-status", "--quit-after", "500"}, env, &code, 60000);
        const QStringList files = QDir(recordings).entryList({"M*~5551234.wav"}, QDir::Files);
        QVERIFY2(files.size() == 1, qPrintable(said));
        // "M2026-12-04~08-30-15~5551234.wav" was recorded at 2026-12-04 08:30:15.
        const QString when =
            QDateTime::fromString(files[0].mid(1, 19), "yyyy-MM-dd~HH-mm-ss").toString("yyyy-MM-dd HH:mm:ss");
        QVERIFY2(said.contains(QString::fromUtf8("已恢复 %1 的录音（5551234）").arg(when)),
                 qPrintable(said));
        // Nobody has heard a recovered call yet: the conversation is listed as unread.
        const QList<StoredMessage> unread = MessageStore(home.file("messages.db")).messages(MessageStore::List::Unread);
        QCOMPARE(unread.size(), 1);
        QCOMPARE(unread[0].entry, files[0]);
        QCOMPARE(unread[0].origin, MessageOrigin::Recovered);
        const qint64 size = QFileInfo(recordings + "/" + files[0]).size();
        qInfo("recorded %lld ms before SIGKILL; journal %lld bytes; recovered %lld bytes of audio (%lld ms)",
              recordedMs, captured, size - 44, (size - 44) / 16);
        QVERIFY2((size - 44) / 16 >= recordedMs - 1000 - 500, qPrintable(QString::number(size)));
        QVERIFY(QDir(recordings).entryList({".*.part"}, QDir::Files | QDir::Hidden).isEmpty());
        QVERIFY2(notPrivate(home.path()).isEmpty(), qPrintable(notPrivate(home.path()).join('\n')));
    }
};

QTEST_MAIN(tst_CrashRecovery)

#include "tst_CrashRecovery.moc"
