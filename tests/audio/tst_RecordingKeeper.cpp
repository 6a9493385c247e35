// The end of a recording and the folders as the truth: a kill between the rename and the
// listing, files that appear or vanish behind the program's back, and a recordings folder on
// a disk that is unmounted and comes back.
#include "audio/RecordingKeeper.h"
#include "platform/media/TestWave.h"
#include "support/AudioHarness.h"
#include "support/DiskFaults.h"
#include "support/StatusTexts.h"

#include <QTest>

#include <sys/mount.h>

using namespace telvox;
using namespace telvox::test;

namespace {

const QString kName = "A2026-12-04~08-30-15~555.wav";

int linesContaining(const QStringList &lines, const QString &text)
{
    return int(std::count_if(lines.begin(), lines.end(), [&text](const QString &l) { return l.contains(text); }));
}

// A disk of its own (a small memory file system) mounted on the recordings folder through a
// bind mount, so that it can be taken away and brought back with its files.
class RemovableDisk
{
public:
    RemovableDisk(const QString &disk, const QString &folder)
        : m_fs(disk, "size=4m")
        , m_disk(QFile::encodeName(disk))
        , m_folder(QFile::encodeName(folder))
    {
        m_ok = m_fs.mounted() && attach();
    }
    ~RemovableDisk() { detach(); }
    bool ok() const { return m_ok; }
    bool attach() { return m_attached = ::mount(m_disk.constData(), m_folder.constData(), nullptr, MS_BIND, nullptr) == 0; }
    void detach()
    {
        if (m_attached)
            ::umount2(m_folder.constData(), MNT_DETACH);
        m_attached = false;
    }

private:
    SmallFileSystem m_fs;
    QByteArray m_disk, m_folder;
    bool m_ok = false;
    bool m_attached = false;
};

void recordACall(Harness &h, int seconds = 2)
{
    h.startRecording(CallKind::Message, "555");
    h.loop.advance(seconds * 1000 + 500);
    h.stop();
    h.loop.advance(3000);
}

} // namespace

class tst_RecordingKeeper : public QObject
{
    Q_OBJECT
private slots:
    // Killed after the rename, before the listing: the next start finds the recording and lists
    // it unread, once, however often it starts.
    void aKillBetweenRenameAndListingListsTheRecordingOnce()
    {
        Harness h;
        h.engine->keeper().startUp();
        h.engine->keeper().setAfterRename([] { return false; });
        recordACall(h);
        QCOMPARE(h.recordings(), QStringList({kName}));
        QVERIFY(h.lists.unreadEntries().isEmpty());

        for (int start = 0; start < 2; ++start) {
            h.startEngine();
            h.engine->keeper().startUp();
        }
        QCOMPARE(h.lists.unreadEntries(), QStringList({kName}));
        const QList<StoredMessage> stored = MessageStore(h.dir.file("messages.db")).messages(MessageStore::List::Unread);
        QCOMPARE(stored.size(), 1);
        QCOMPARE(stored[0].origin, MessageOrigin::Found);
        QCOMPARE(stored[0].caller, QString("555"));
        QVERIFY2(stored[0].seconds >= 2 && stored[0].seconds <= 3, qPrintable(QString::number(stored[0].seconds)));
        QCOMPARE(linesContaining(statusTexts(h.statusList), "recording " + kName + " found in " + h.dir.file("rec")), 1);
    }

    // A finished call carries what a web page or the telephone menu shows of it; a second
    // listing of the same file (the same end reported twice) adds nothing.
    void aFinishedCallIsListedWithItsFields()
    {
        Harness h;
        h.engine->keeper().startUp();
        recordACall(h, 3);
        const QList<StoredMessage> unread = h.store.messages(MessageStore::List::Unread);
        QCOMPARE(unread.size(), 1);
        QCOMPARE(unread[0].entry, kName);
        QCOMPARE(unread[0].line, 0);
        QCOMPARE(unread[0].kind, QChar('A'));
        QCOMPARE(unread[0].time, QDateTime(QDate(2026, 12, 4), QTime(8, 30, 15)));
        QVERIFY2(unread[0].seconds >= 3 && unread[0].seconds <= 4, qPrintable(QString::number(unread[0].seconds)));
        QCOMPARE(unread[0].origin, MessageOrigin::Call);
        QCOMPARE(h.engine->keeper().reconcile(), 0);
        QVERIFY(!h.lists.addRecording(h.dir.file("rec"), kName));
        QCOMPARE(h.lists.unreadEntries(), QStringList({kName}));
    }

    // Both ways: a recording put into the folder is listed, an entry whose file went leaves
    // the lists with a word; an entry deleted from the lists is not brought back while its
    // file stays.
    void reconciliationFollowsTheFolderBothWays()
    {
        Harness h;
        h.engine->keeper().startUp();
        recordACall(h);
        h.lists.lstUnread_Click(0);
        h.lists.mmuDelete1_Click(); // the entry goes, the file stays
        QVERIFY(writeTestWave(h.dir.file("rec/M2026-12-01~09-00-00~777.wav"), 1000));
        QVERIFY(writeTestWave(h.dir.file("rec/holiday.wav"), 1000)); // not a recording of ours
        QVERIFY(QDir().mkpath(h.fallback()));
        QVERIFY(writeTestWave(h.dir.file("FallbackRecordings/O2026-12-02~10-00-00.wav"), 1000));
        QCOMPARE(h.engine->keeper().reconcile(), 2);
        QCOMPARE(h.lists.unreadEntries(),
                 QStringList({"M2026-12-01~09-00-00~777.wav", h.fallback() + "O2026-12-02~10-00-00.wav"}));
        QCOMPARE(h.store.messageAt(h.fallback() + "O2026-12-02~10-00-00.wav")->origin, MessageOrigin::Fallback);

        QVERIFY(QFile::remove(h.dir.file("rec/M2026-12-01~09-00-00~777.wav")));
        QVERIFY(QFile::remove(h.dir.file("rec/" + kName))); // unlisted: it goes without a word
        QCOMPARE(h.engine->keeper().reconcile(), 1);
        QCOMPARE(h.lists.unreadEntries(), QStringList({h.fallback() + "O2026-12-02~10-00-00.wav"}));
        QVERIFY(!h.store.messageAt(h.dir.file("rec/" + kName)));
        const QStringList said = statusTexts(h.statusList);
        QCOMPARE(linesContaining(said, "M2026-12-01~09-00-00~777.wav is no longer in " + h.dir.file("rec")), 1);
        QCOMPARE(linesContaining(said, kName + " is no longer"), 0);
    }

    // The first look at a folder (an earlier version's, or one just chosen) takes its
    // recordings in as known, without listing them all as news.
    void theFirstLookAtAFolderListsNothingNew()
    {
        Harness h;
        for (int i = 0; i < 60; ++i)
            QVERIFY(writeTestWave(h.dir.file(QString("rec/M2026-11-01~09-%1-00.wav").arg(i, 2, 10, QChar('0'))), 100));
        h.engine->keeper().startUp();
        QVERIFY(h.lists.unreadEntries().isEmpty() && h.lists.lastTenEntries().isEmpty());
        QVERIFY(h.store.messageAt(h.dir.file("rec/M2026-11-01~09-00-00.wav")));
        QCOMPARE(h.engine->keeper().reconcile(), 0);
    }

    // The recordings folder on a disk that goes away: never made again on the disk beneath,
    // calls go to the fallback folder with a word, and when the disk is back what is on it is
    // reconciled.
    void aRecordingsFolderOnAnUnmountedDisk()
    {
        Harness h;
        const QString rec = h.dir.file("rec");
        QVERIFY(QDir().mkpath(h.dir.file("disk")));
        RemovableDisk disk(h.dir.file("disk"), rec);
        if (!disk.ok())
            QSKIP("no file system can be mounted here");
        h.engine->keeper().startUp();
        QVERIFY(QFile::exists(rec + "/" + RecordingKeeper::markerName()));

        disk.detach(); // the empty mount point is left on the disk beneath
        recordACall(h);
        QVERIFY(QDir(rec).entryList(QDir::Files | QDir::Hidden).isEmpty());
        QCOMPARE(h.lists.unreadEntries(), QStringList({h.fallback() + kName}));
        QVERIFY(pcmHeaderFitsLength(readAll(h.fallback() + kName)));
        const QString away = "the recordings folder " + rec + " is not there (is its disk mounted?); calls are "
                             "recorded in " + h.dir.file("FallbackRecordings") + " until it comes back";
        QCOMPARE(linesContaining(statusTexts(h.statusList), away), 1);
        QCOMPARE(h.prompts.shown.size(), 1);

        // The mount point removed as well: still not made again.
        QVERIFY(QDir().rmdir(rec));
        h.startEngine();
        h.engine->keeper().startUp();
        QVERIFY(!QFileInfo::exists(rec));

        // The disk comes back (a recording was left on it by a run killed before its
        // listing); within the watch interval the folder is back and reconciled.
        QVERIFY(QDir().mkpath(rec));
        QVERIFY(writeTestWave(h.dir.file("disk/M2026-12-03~07-00-00.wav"), 1000));
        QVERIFY(disk.attach());
        h.loop.advance(RecordingKeeper::kWatchMs + 100);
        const QStringList said = statusTexts(h.statusList);
        QCOMPARE(linesContaining(said, "the recordings folder " + rec + " is back"), 1);
        QCOMPARE(h.lists.unreadEntries(), QStringList({h.fallback() + kName, "M2026-12-03~07-00-00.wav"}));
        h.spoken = 0;
        h.loop.advance(60000);
        recordACall(h);
        QCOMPARE(h.recordings().size(), 2); // the next call goes to the disk again
    }
};

QTEST_GUILESS_MAIN(tst_RecordingKeeper)
#include "tst_RecordingKeeper.moc"
