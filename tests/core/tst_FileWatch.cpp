#include "core/FileWatch.h"
#include "core/QtEventLoop.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace telvox;

namespace {

// The inotify watches this process holds, as the system lists them ("inotify wd:" lines of
// every descriptor's fdinfo).
int inotifyWatches()
{
    int count = 0;
    const QDir fdinfo(QStringLiteral("/proc/self/fdinfo"));
    for (const QString &fd : fdinfo.entryList(QDir::Files)) {
        QFile info(fdinfo.filePath(fd));
        if (info.open(QIODevice::ReadOnly))
            count += int(info.readAll().count("inotify wd:"));
    }
    return count;
}

void touch(const QString &path, const QByteArray &text)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

} // namespace

class tst_FileWatch : public QObject
{
    Q_OBJECT

private slots:
    // An edit is reported once the file is quiet; after stop() the system holds no watch of
    // ours any more (closing a watch that still has some waits out a grace period of the
    // system's) and nothing is reported.
    void reportsEditsUntilStopped()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("BlockList.txt"));
        touch(file, "5551234\n");
        QtEventLoop loop;
        QStringList changed;
        const int before = inotifyWatches();
        FileWatch watch(loop, {file}, [&](const QString &f) { changed << f; });
        QCOMPARE(inotifyWatches(), before + 2); // the file and its folder

        touch(file, "5551234\n5550000\n");
        QTRY_COMPARE_WITH_TIMEOUT(changed, QStringList{file}, 3000);

        watch.stop();
        QCOMPARE(inotifyWatches(), before);
        touch(file, "changed again, longer than before\n");
        QTest::qWait(FileWatch::kSettleMs * 2);
        watch.check(); // nothing to compare once stopped
        QCOMPARE(changed, QStringList{file});
    }

    // On a local folder the change notices see everything and nothing polls (an idle program
    // is not woken every few seconds); a folder that cannot be watched is polled until it can.
    void pollsOnlyWhereNoticesCannotSee()
    {
        QTemporaryDir dir;
        QtEventLoop loop;
        const QString here = dir.filePath(QStringLiteral("Rings.txt"));
        const QString later = dir.filePath(QStringLiteral("later/Rings.txt"));
        QVERIFY(FileWatch::noticesCoverFolder(dir.path()));
        QVERIFY(!FileWatch::noticesCoverFolder(dir.filePath(QStringLiteral("missing"))));
        FileWatch local(loop, {here}, [](const QString &) {});
        QVERIFY(!local.polling());

        QStringList changed;
        FileWatch waiting(loop, {later}, [&](const QString &f) { changed << f; });
        QVERIFY(waiting.polling());
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("later")));
        touch(later, "Mon 08:00-18:00 3\n");
        waiting.check(); // what the poll does
        QCOMPARE(changed, QStringList{later});
        QVERIFY(!waiting.polling());
    }
};

QTEST_GUILESS_MAIN(tst_FileWatch)
#include "tst_FileWatch.moc"
