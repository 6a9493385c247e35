// The journal a call is recorded into: what a crash leaves, and the private files and folders
// around it. (A full disk, a name clash and a folder removed or unmounted during the call are
// driven through the audio engine in tst_RecordingFaults.)
#include "audio/RecordingJournal.h"
#include "core/PrivateFiles.h"
#include "support/FakeShell.h"
#include "support/Files.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace telvox;
using namespace telvox::test;

namespace {
// While set, the no-replace rename fails as on a file system that lacks it.
bool g_noReplaceRefused = false;
} // namespace

// The test program's own renameat2 stands in for the C library's (the journal is linked
// statically into it), so that the fallback for such file systems runs here.
extern "C" int renameat2(int oldDir, const char *oldPath, int newDir, const char *newPath, unsigned int flags) noexcept
{
    if (g_noReplaceRefused && (flags & RENAME_NOREPLACE) != 0) {
        errno = EINVAL;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_renameat2, oldDir, oldPath, newDir, newPath, flags));
}

namespace {

QByteArray pcm(int bytes, int seed = 0)
{
    QByteArray b(bytes, '\0');
    for (int i = 0; i < bytes; ++i)
        b[i] = static_cast<char>((i * 7 + seed) & 0xff);
    return b;
}

int mode(const QString &path)
{
    struct stat st = {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

QStringList allFiles(const QString &folder) { return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

} // namespace

class tst_RecordingJournal : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { usePrivateFileMode(); }

    void aCallBecomesItsRecordingWithTheFinalHeader()
    {
        ScratchDir dir;
        RecordingJournal j;
        QVERIFY(j.open(dir.path(), "A2026-12-04~08-30-15~555.wav", OutputFormat::Pcm));
        // While the call runs there is only the hidden, private journal with its audio so far.
        QCOMPARE(allFiles(dir.path()).size(), 1);
        QVERIFY(QFileInfo(j.path()).fileName().startsWith(".A2026-12-04~08-30-15~555.wav."));
        QCOMPARE(mode(j.path()), 0600);
        const QByteArray audio = pcm(3 * 16000 + 10);
        QVERIFY(j.append(audio.constData(), 16000));
        QVERIFY(j.append(audio.constData() + 16000, audio.size() - 16000));
        QCOMPARE(QFileInfo(j.path()).size(), 44 + audio.size()); // written through, not held
        QVERIFY(j.stillInPlace());

        const WriteOutcome out = j.finish();
        QCOMPARE(out.status, WriteOutcome::Status::Written);
        QCOMPARE(out.fileName, QString("A2026-12-04~08-30-15~555.wav"));
        QCOMPARE(allFiles(dir.path()), QStringList({out.fileName}));
        QCOMPARE(mode(dir.file(out.fileName)), 0600);
        // (The recording's bytes, header and audio: tst_RecordingFile::minimumSizeAndExactCopy.)
    }

    // A name already taken is never replaced, also on a file system without the kernel's
    // no-replace rename (the interposed renameat2 below refuses it as such a file system does).
    void aTakenNameGetsANumberWithOrWithoutTheNoReplaceRename_data()
    {
        QTest::addColumn<bool>("noReplaceRefused");
        QTest::newRow("no-replace rename") << false;
        QTest::newRow("plain rename") << true;
    }
    void aTakenNameGetsANumberWithOrWithoutTheNoReplaceRename()
    {
        QFETCH(bool, noReplaceRefused);
        ScratchDir dir;
        QVERIFY(writeBytes(dir.file("A2026-12-04~08-30-15~555.wav"), "an earlier recording"));
        RecordingJournal j;
        QVERIFY(j.open(dir.path(), "A2026-12-04~08-30-15~555.wav", OutputFormat::Pcm));
        QVERIFY(j.append(pcm(16000).constData(), 16000));
        g_noReplaceRefused = noReplaceRefused;
        const WriteOutcome out = j.finish();
        g_noReplaceRefused = false;
        QCOMPARE(out.status, WriteOutcome::Status::Written);
        QCOMPARE(out.fileName, QString("A2026-12-04~08-30-15~555_2.wav"));
        QCOMPARE(readAll(dir.file("A2026-12-04~08-30-15~555.wav")), QByteArray("an earlier recording"));
        QCOMPARE(QFileInfo(dir.file(out.fileName)).size(), 44 + 16000);
    }

    void aJournalLeftByACrashBecomesItsRecording_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("written");
        QTest::addColumn<int>("kept");
        QTest::addColumn<int>("headerBytes");
        // A crash can cut a write anywhere: what is kept ends on a whole sample or codec block.
        QTest::newRow("pcm") << int(OutputFormat::Pcm) << 5 * 16000 + 1 << 5 * 16000 << 44;
        QTest::newRow("truespeech") << int(OutputFormat::TrueSpeech) << 32 * 200 + 17 << 32 * 200 << 90;
    }
    void aJournalLeftByACrashBecomesItsRecording()
    {
        QFETCH(int, format);
        QFETCH(int, written);
        QFETCH(int, kept);
        QFETCH(int, headerBytes);
        ScratchDir dir;
        const QByteArray audio = pcm(written, 3);
        QString journalPath;
        {
            RecordingJournal j;
            QVERIFY(j.open(dir.path(), "O2026-12-04~08-30-15~777.wav", OutputFormat(format)));
            QVERIFY(j.append(audio.constData(), audio.size()));
            journalPath = j.path();
            // While its process holds it, a journal is nobody's leftover.
            QVERIFY(recoverJournals(dir.path()).empty());
            QVERIFY(QFile::exists(journalPath));
        } // the process ends without finishing the call
        QVERIFY(QFile::exists(journalPath));
        const auto recovered = recoverJournals(dir.path());
        QCOMPARE(recovered.size(), std::size_t(1));
        const RecoveredRecording &r = recovered[0];
        QCOMPARE(r.fileName, QString("O2026-12-04~08-30-15~777.wav"));
        QCOMPARE(r.started, QDateTime(QDate(2026, 12, 4), QTime(8, 30, 15)));
        QCOMPARE(r.caller, QString("777"));
        QCOMPARE(r.dataBytes, qint64(kept));
        QCOMPARE(allFiles(dir.path()), QStringList({r.fileName}));
        const QByteArray file = readAll(dir.file(r.fileName));
        QCOMPARE(file.size(), headerBytes + kept);
        QCOMPARE(file.left(headerBytes), waveHeader(OutputFormat(format), kept));
        QCOMPARE(file.mid(headerBytes), audio.left(kept));
        QVERIFY(recoverJournals(dir.path()).empty()); // nothing twice
    }

    void recoveryLeavesOtherFilesAloneAndDropsEmptyJournals()
    {
        ScratchDir dir;
        QVERIFY(writeBytes(dir.file(".A2026-12-04~08-30-15.wav.12-0.part"), "not a wave file at all"));
        QVERIFY(writeBytes(dir.file(".notes.part"), "mine"));
        {
            RecordingJournal j;
            QVERIFY(j.open(dir.path(), "A2026-12-04~09-00-00.wav", OutputFormat::Pcm));
            QVERIFY(j.append("ab", 2)); // a call cut off at once
        }
        QVERIFY(recoverJournals(dir.path()).empty());
        QCOMPARE(allFiles(dir.path()), QStringList({".A2026-12-04~08-30-15.wav.12-0.part", ".notes.part"}));
        QCOMPARE(RecordingJournal::finalNameOf(".A1.wav.12-3.part"), QString("A1.wav"));
        QCOMPARE(RecordingJournal::finalNameOf("A1.wav.12-3.part"), QString());
        QCOMPARE(RecordingJournal::finalNameOf(".A1.wav.12.part"), QString());
    }

    void foldersAreCheckedMadeAndKeptPrivate()
    {
        ScratchDir dir;
        QString reason;
        QVERIFY(checkWritableFolder(dir.file("new/deeper"), &reason)); // made when missing
        QVERIFY(QFileInfo(dir.file("new/deeper")).isDir());
        QVERIFY(writeBytes(dir.file("plain"), "x"));
        QVERIFY(!checkWritableFolder(dir.file("plain/rec"), &reason));
        QCOMPARE(reason, systemReason(ENOTDIR));
        QVERIFY(allFiles(dir.file("new/deeper")).isEmpty()); // the probe is gone

        // Files an earlier version left readable by everyone are tightened; links are not followed.
        QVERIFY(writeBytes(dir.file("new/log.txt"), "x"));
        QVERIFY(QFile::setPermissions(dir.file("new/log.txt"), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                                                   | QFile::ReadOther));
        ::chmod(QFile::encodeName(dir.file("new")).constData(), 0755);
        // Open to the group only is open too.
        QVERIFY(QDir().mkpath(dir.file("new/group")));
        QVERIFY(writeBytes(dir.file("new/group/calls.txt"), "x"));
        ::chmod(QFile::encodeName(dir.file("new/group/calls.txt")).constData(), 0640);
        ::chmod(QFile::encodeName(dir.file("new/group")).constData(), 0750);
        QVERIFY(QFile::link(dir.file("plain"), dir.file("new/link")));
        ::chmod(QFile::encodeName(dir.file("plain")).constData(), 0644);
        QCOMPARE(tightenTree(dir.file("new"), 3, true), 4);
        QCOMPARE(mode(dir.file("new/log.txt")), 0600);
        QCOMPARE(mode(dir.file("new")), 0700);
        QCOMPARE(mode(dir.file("new/group/calls.txt")), 0600);
        QCOMPARE(mode(dir.file("new/group")), 0700);
        QCOMPARE(mode(dir.file("plain")), 0644);
        QCOMPARE(tightenTree(dir.file("new"), 3, true), 0);

        // Two runs get two working folders of their own, removed when the run ends.
        auto first = makePrivateWorkFolder(dir.file("runtime"));
        auto second = makePrivateWorkFolder(dir.file("runtime"));
        QVERIFY(first && second);
        QVERIFY(first->path() != second->path());
        QCOMPARE(mode(first->path()), 0700);
        QCOMPARE(mode(dir.file("runtime")), 0700);
        const QString gone = first->path();
        first.reset();
        QVERIFY(!QFileInfo::exists(gone));
        // A run killed earlier left its folder; the next run clears it, not a live one's.
        QVERIFY(QDir().mkpath(dir.file("runtime/work-killed")));
        QVERIFY(writeBytes(dir.file("runtime/work-killed/.lock"), ""));
        QVERIFY(writeBytes(dir.file("runtime/work-killed/tvxt3"), "a greeting"));
        QVERIFY(QDir().mkpath(dir.file("runtime/work-starting"))); // no lock yet: being made
        auto third = makePrivateWorkFolder(dir.file("runtime"));
        QVERIFY(third);
        QVERIFY(!QFileInfo::exists(dir.file("runtime/work-killed")));
        QVERIFY(QFileInfo::exists(dir.file("runtime/work-starting")));
        QVERIFY(QFileInfo::exists(second->path()));
    }
};

QTEST_GUILESS_MAIN(tst_RecordingJournal)
#include "tst_RecordingJournal.moc"
