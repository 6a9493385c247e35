// Calls recorded while the recordings folder fails: not writable, made read-only or removed
// or unmounted during the call, full; two recorders on one line number. Every case must keep
// the whole call (or, on a full disk, all that fitted, with a correct header) and say so. (A
// crash: tst_CrashRecovery kills the real program, tst_RecordingJournal checks the bytes.)
#include "audio/RecordingKeeper.h"
#include "core/PrivateFiles.h"
#include "support/AudioHarness.h"
#include "support/DiskFaults.h"
#include "support/StatusTexts.h"
#include "support/Unprivileged.h"

#include <QTest>

#include <climits>
#include <sys/stat.h>

using namespace telvox;
using namespace telvox::test;

namespace {

void setMode(const QString &path, int mode) { ::chmod(QFile::encodeName(path).constData(), mode_t(mode)); }

bool anyLineContains(const QStringList &lines, const QString &text)
{
    return std::any_of(lines.begin(), lines.end(), [&text](const QString &line) { return line.contains(text); });
}

const QString kName = "A2026-12-04~08-30-15~555.wav";

} // namespace

class tst_RecordingFaults : public QObject
{
    Q_OBJECT
private slots:
    void aFolderThatCannotBeWrittenSendsTheCallToTheFallback()
    {
        Harness h;
        Unprivileged user;
        if (!user.effective())
            QSKIP("permissions cannot be made to apply here");
        setMode(h.dir.file("rec"), 0500);
        h.startRecording(CallKind::Message, "555");
        h.loop.advance(3500);
        h.stop();
        h.loop.advance(3000);
        setMode(h.dir.file("rec"), 0700);
        QVERIFY(h.recordings().isEmpty());
        const QString kept = h.fallback() + kName;
        const QByteArray file = readAll(kept);
        QVERIFY2(file.size() >= 44 + 3 * 16000, qPrintable(QString::number(file.size())));
        QVERIFY(pcmHeaderFitsLength(file));
        // Listed with its whole path, so that the list says where it is and the player finds it.
        QCOMPARE(h.lists.unreadEntries(), QStringList({kept}));
        const QString said = "recordings cannot be written to " + h.dir.file("rec") + ": " + systemReason(EACCES)
                             + "; this call is recorded in " + h.dir.file("FallbackRecordings") + " instead";
        QVERIFY2(anyLineContains(statusTexts(h.statusList), said), qPrintable(statusTexts(h.statusList).join(" | ")));
        QCOMPARE(h.prompts.shown.size(), 1);
        QCOMPARE(h.prompts.shown[0].text, said);
        QCOMPARE(h.prompts.shown[0].icon, MessageIcon::Exclamation);
    }

    void aFolderMadeReadOnlyDuringACallKeepsTheWholeCall()
    {
        Harness h;
        Unprivileged user;
        if (!user.effective())
            QSKIP("permissions cannot be made to apply here");
        h.startRecording(CallKind::Message, "555");
        h.loop.advance(2500);
        setMode(h.dir.file("rec"), 0500);
        h.loop.advance(2000);
        h.stop();
        h.loop.advance(3000);
        const QByteArray file = readAll(h.fallback() + kName);
        const auto samples = pcmSamples(file);
        QVERIFY2(samples.size() >= 4480 * 8, qPrintable(QString::number(samples.size())));
        QVERIFY(h.isSpeechFromTheStart(samples)); // nothing lost, nothing twice
        QVERIFY(anyLineContains(statusTexts(h.statusList), "recording saved in " + h.dir.file("FallbackRecordings")));
        QCOMPARE(h.lists.unreadEntries(), QStringList({h.fallback() + kName}));
        // The journal left in the read-only folder holds no audio: a later start removes it
        // instead of making a second copy of the call.
        setMode(h.dir.file("rec"), 0700);
        QCOMPARE(h.engine->recoverRecordings(), 0);
        QCOMPARE(QDir(h.dir.file("rec")).entryList(QDir::Files | QDir::Hidden), QStringList({RecordingKeeper::markerName()}));
    }

    void aFolderThatGoesAwayDuringACall_data()
    {
        QTest::addColumn<bool>("unmount");
        QTest::newRow("removed") << false;
        QTest::newRow("unmounted") << true;
    }
    void aFolderThatGoesAwayDuringACall()
    {
        QFETCH(bool, unmount);
        Harness h;
        const QString rec = h.dir.file("rec");
        std::unique_ptr<SmallFileSystem> disk;
        if (unmount) {
            disk = std::make_unique<SmallFileSystem>(rec, "size=8m");
            if (!disk->mounted())
                QSKIP("no file system can be mounted here");
        }
        h.startRecording(CallKind::Message, "555");
        h.loop.advance(2500);
        if (disk)
            disk->unmount();
        QVERIFY(QDir(rec).removeRecursively()); // after an unmount the desktop removes the mount point
        h.loop.advance(6000);
        QVERIFY2(anyLineContains(statusTexts(h.statusList), "the recordings folder " + rec + " is gone; the recording goes on in "
                                                                + h.dir.file("FallbackRecordings")),
                 qPrintable(statusTexts(h.statusList).join('\n')));
        h.stop();
        h.loop.advance(3000);
        const auto samples = pcmSamples(readAll(h.fallback() + kName));
        QVERIFY2(samples.size() >= 8480 * 8, qPrintable(QString::number(samples.size())));
        QVERIFY(h.isSpeechFromTheStart(samples));

        // A folder removed from its own disk is made again for the next call; one whose disk
        // went away is not made on the disk beneath: the next call goes to the fallback folder.
        h.loop.advance(60000);
        h.spoken = 0;
        h.startRecording(CallKind::Handset);
        h.loop.advance(2000);
        h.stop();
        h.loop.advance(3000);
        if (unmount) {
            QVERIFY(!QFileInfo::exists(rec));
            const QStringList there = QDir(h.fallback()).entryList({"M2026-12-04~08-31-*"}, QDir::Files);
            QVERIFY2(there.size() == 1, qPrintable(there.join(' ')));
            return;
        }
        const QStringList again = h.recordings();
        QVERIFY2(again.size() == 1 && again[0].startsWith("M2026-12-04~08-31-"), qPrintable(again.join(' ')));
    }

    void aFullDiskEndsTheCaptureWithACorrectHeader_data()
    {
        QTest::addColumn<bool>("mounted");
        QTest::newRow("size limit") << false;
        QTest::newRow("small file system") << true;
    }
    void aFullDiskEndsTheCaptureWithACorrectHeader()
    {
        QFETCH(bool, mounted);
        Harness h;
        const QString rec = h.dir.file("rec");
        std::unique_ptr<SmallFileSystem> disk;
        std::unique_ptr<FileSizeLimit> limit;
        if (mounted) {
            disk = std::make_unique<SmallFileSystem>(rec, "size=40k");
            if (!disk->mounted())
                QSKIP("no file system can be mounted here");
        } else {
            limit = std::make_unique<FileSizeLimit>(44 + 40000);
        }
        h.startRecording(CallKind::Message, "555");
        h.loop.advance(6000);
        // The capture stopped by itself when the write failed, and said why.
        QCOMPARE(h.lines[0].recState, 0);
        QVERIFY(!h.engine->isCapturing(0));
        const QString reason = systemReason(mounted ? ENOSPC : EFBIG);
        QVERIFY2(anyLineContains(statusTexts(h.statusList), "recording on line 0 stopped: cannot write to " + rec + " ("
                                                                + reason + "); what was recorded is kept"),
                 qPrintable(statusTexts(h.statusList).join('\n')));
        h.loop.advance(3000);
        limit.reset();
        // A size limit holds for the message index too: the listing waits for the watch timer.
        h.loop.advance(mounted ? 0 : RecordingKeeper::kWatchMs);
        QCOMPARE(h.recordings(), QStringList({kName}));
        QCOMPARE(h.lists.unreadEntries(), QStringList({kName}));
        const QByteArray file = readAll(rec + "/" + kName);
        QVERIFY2(file.size() >= 44 + 2 * 16000, qPrintable(QString::number(file.size())));
        QVERIFY(pcmHeaderFitsLength(file));
        const auto samples = pcmSamples(file);
        QVERIFY(h.isSpeechFromTheStart(samples));
        // The stop, and (with the index held back too) that the listing had to wait.
        QCOMPARE(h.prompts.shown.size(), mounted ? 1 : 2);
        if (!mounted)
            QVERIFY(h.prompts.shown[1].text.contains("is kept but could not be listed in the message index"));
    }

    // The index refuses a finished recording for a while (a size limit holds for the database
    // too): the user is told once, not at every retry, and the recording is listed once it can.
    void anUnlistedRecordingIsSaidOnceWhileItWaits()
    {
        Harness h;
        auto limit = std::make_unique<FileSizeLimit>(44 + 40000);
        h.startRecording(CallKind::Message, "555");
        h.loop.advance(9000 + 4 * RecordingKeeper::kWatchMs);
        const auto told = [&] {
            return statusTexts(h.statusList).filter("could not be listed in the message index").size();
        };
        QCOMPARE(told(), qsizetype(1));
        QVERIFY(h.lists.unreadEntries().isEmpty());
        limit.reset();
        h.loop.advance(RecordingKeeper::kWatchMs);
        QCOMPARE(h.lists.unreadEntries(), QStringList({kName}));
        QCOMPARE(told(), qsizetype(1));
    }

    void lowSpaceIsSaidOncePerCall()
    {
        Harness h;
        h.engine->setLowSpaceThreshold(LLONG_MAX);
        h.startRecording(CallKind::Handset);
        h.loop.advance(12000);
        h.stop();
        h.loop.advance(3000);
        int said = 0;
        for (const QString &line : statusTexts(h.statusList))
            said += line.contains(" MB free for recordings in " + h.dir.file("rec")) ? 1 : 0;
        QCOMPARE(said, 1);
        QCOMPARE(h.recordings().size(), 1); // a warning only: the call was recorded
        QVERIFY(h.prompts.shown.isEmpty());
    }

    // Two programs (two users, two test runs) record their line 0 at the same moment into one
    // folder: each recording holds its own caller only.
    void twoRecordersOnOneLineKeepTheirOwnCallers()
    {
        Harness a, b;
        b.engine->setFolders({b.dir.path(), b.dir.file("tmp") + "/", a.dir.file("rec") + "/", b.fallback()});
        b.speak = [&b](std::span<std::int16_t> out) {
            for (auto &s : out)
                s = static_cast<std::int16_t>(-((b.spoken++ * 53) % 9000) - 100);
        };
        a.startRecording(CallKind::Message, "555");
        b.startRecording(CallKind::Message, "555");
        for (int t = 0; t < 40; ++t) {
            a.loop.advance(100);
            b.loop.advance(100);
        }
        a.stop();
        b.stop();
        a.loop.advance(3000);
        b.loop.advance(3000);
        QCOMPARE(a.recordings(), QStringList({kName, "A2026-12-04~08-30-15~555_2.wav"}));
        const auto first = pcmSamples(readAll(a.dir.file("rec/" + kName)));
        const auto second = pcmSamples(readAll(a.dir.file("rec/A2026-12-04~08-30-15~555_2.wav")));
        QVERIFY(first.size() >= 3900 * 8 && second.size() >= 3900 * 8);
        QVERIFY(a.isSpeechFromTheStart(first));
        for (const std::int16_t s : second)
            QVERIFY(s < 0);
        QCOMPARE(a.lists.unreadEntries(), QStringList({kName}));
        QCOMPARE(b.lists.unreadEntries(), QStringList({"A2026-12-04~08-30-15~555_2.wav"}));
    }
};

QTEST_GUILESS_MAIN(tst_RecordingFaults)
#include "tst_RecordingFaults.moc"
