#include "support/DiskFaults.h"
#include "support/Files.h"
#include "support/ProgramFolder.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

using namespace telvox;
using namespace telvox::test;

namespace {

struct Fixture : ProgramFolder
{
    explicit Fixture(const QDateTime &start = QDateTime(QDate(2026, 12, 4), QTime(9, 15, 0)))
        : ProgramFolder(start)
    {
    }
    QString logFile(const char *name) const { return dir.file(QString("LogFiles/") + name); }
};

} // namespace

class tst_StatusLog : public QObject
{
    Q_OBJECT
private slots:
    // A second start of the day shows the day's lines and appends; each line comes back stamped,
    // is listed and is on disk at once, in UTF-8 with CR LF.
    void addStatusStampsListsAndWrites()
    {
        Fixture f;
        QVERIFY(writeBytes(f.logFile("26-12-04.txt"), "08:00:00 first\r\n"));
        f.status.OpenDayLog();
        QCOMPARE(f.statusList.lines(), QStringList({"08:00:00 first"}));
        QSignalSpy selected(&f.statusList, &StatusListModel::statusAdded);
        QString message = "Line0 Start Recording";
        f.status.AddStatus(message);
        QCOMPARE(message, QString("09:15:00 Line0 Start Recording"));
        f.loop.advance(61000);
        f.status.AddStatus(QString("Line1 开始录音"));
        QCOMPARE(f.statusList.lines(),
                 QStringList({"08:00:00 first", "09:15:00 Line0 Start Recording", "09:16:01 Line1 开始录音"}));
        QCOMPARE(selected.size(), 2);
        QCOMPARE(selected.at(1).at(0).toInt(), 2);
        QCOMPARE(readAll(f.logFile("26-12-04.txt")),
                 QString("08:00:00 first\r\n09:15:00 Line0 Start Recording\r\n09:16:01 Line1 开始录音\r\n").toUtf8());
    }

    void midnightRolloverInVirtualTime()
    {
        // Ticks every 60 s from 23:58:30: 23:59:30, 00:00:30 (in the window), 00:01:30 (not).
        Fixture f(QDateTime(QDate(2026, 12, 4), QTime(23, 58, 30)));
        f.status.OpenDayLog();
        auto timLog = f.loop.createTimer(60000, [&] { f.status.timLog_Timer(); });
        timLog->setEnabled(true);
        f.loop.advance(60000);
        f.status.AddStatus(QString("before midnight"));
        f.loop.advance(45000); // 00:00:15, before the tick at 00:00:30
        f.status.AddStatus(QString("after midnight, before the tick"));
        f.loop.advance(20000); // the tick at 00:00:30 switches files
        f.status.AddStatus(QString("new day"));
        f.loop.advance(60000); // 00:01:35: the tick at 00:01:30 is outside the window
        f.status.AddStatus(QString("still new day"));
        QCOMPARE(readAll(f.logFile("26-12-04.txt")),
                 QByteArray("23:59:30 before midnight\r\n00:00:15 after midnight, before the tick\r\n"));
        QCOMPARE(readAll(f.logFile("26-12-05.txt")), QByteArray("00:00:35 new day\r\n00:01:35 still new day\r\n"));
        QCOMPARE(f.statusList.rowCount(), 4); // the old day's lines stay above the new ones
        QCOMPARE(f.status.channelPath(), f.logFile("26-12-05.txt"));
    }

    void twoTicksInTheWindowReloadTheNewFile()
    {
        // A tick at 00:00:10 and another at 00:01:10 both fall inside the window: the second
        // repeats the step on the file the first created, listing its lines a second time.
        Fixture f(QDateTime(QDate(2026, 12, 4), QTime(23, 59, 50)));
        f.status.OpenDayLog();
        f.loop.advance(20000);
        f.status.timLog_Timer();
        f.status.AddStatus(QString("a"));
        f.loop.advance(60000);
        f.status.timLog_Timer();
        QCOMPARE(f.statusList.lines(), QStringList({"00:00:10 a", "00:00:10 a"}));
        f.status.AddStatus(QString("b"));
        QCOMPARE(readAll(f.logFile("26-12-05.txt")), QByteArray("00:00:10 a\r\n00:01:10 b\r\n"));
        // Exactly 00:00:01 is not strictly later than the start of the window.
        f.loop.setCurrentDateTime(QDateTime(QDate(2026, 12, 6), QTime(0, 0, 1)));
        f.status.timLog_Timer();
        QCOMPARE(f.status.channelPath(), f.logFile("26-12-05.txt"));
    }

    // A missing file reads as nothing (the viewer borrowing today's channel: tst_LogViewer); a
    // log folder that cannot be written keeps the list going.
    void missingFileAndUnwritableFolder()
    {
        Fixture f;
        QStringList none;
        QVERIFY(!f.status.readLogFile(f.logFile("missing.txt"), none) && none.isEmpty());
        StatusLog broken(f.loop, f.dir.file("no/such/folder"), f.statusList);
        broken.OpenDayLog();
        QVERIFY(!broken.isChannelOpen());
        broken.AddStatus(QString("still shown"));
        QCOMPARE(f.statusList.lines(), QStringList({"09:15:00 still shown"}));
    }

    // Only the newest lines stay in memory however many come, also when a long day's log is
    // read back; the view is told of every removal, so its rows stay right.
    void memoryKeepsAWindowOfTheNewestLines()
    {
        Fixture f;
        QStringList day;
        for (int i = 0; i < 5000; ++i)
            day << QString("08:00:00 old %1").arg(i);
        f.statusList.append(day);
        QCOMPARE(f.statusList.rowCount(), int(StatusListModel::kWindow));
        QCOMPARE(f.statusList.lines().last(), QString("08:00:00 old 4999"));
        QSignalSpy removed(&f.statusList, &QAbstractItemModel::rowsRemoved);
        for (int i = 0; i < 3000; ++i)
            f.status.AddStatus(QString("new %1").arg(i));
        QVERIFY(f.statusList.rowCount() <= StatusListModel::kWindow + StatusListModel::kTrimStep);
        QVERIFY(f.statusList.rowCount() >= StatusListModel::kWindow);
        QCOMPARE(f.statusList.lines().last(), QString("09:15:00 new 2999"));
        int rows = int(StatusListModel::kWindow) + 3000;
        for (const QList<QVariant> &r : removed)
            rows -= r.at(2).toInt() - r.at(1).toInt() + 1;
        QCOMPARE(rows, f.statusList.rowCount());
    }

    // A day log that stops taking lines (here a file size limit, as a full disk) is told once
    // with the system's reason; the lines meanwhile wait and reach the file once it takes
    // them again, which is told as well.
    void writeFailureIsToldOnceAndNothingIsLost()
    {
        Fixture f;
        QStringList told;
        f.status.setWriteFailureHandler([&](const QString &path, const QString &reason) { told << path + "|" + reason; });
        f.status.OpenDayLog();
        f.status.AddStatus(QString("before"));
        const QString file = f.logFile("26-12-04.txt");
        {
            FileSizeLimit limit(QFileInfo(file).size());
            for (int i = 0; i < 3; ++i)
                f.status.AddStatus(QString("during %1").arg(i));
        }
        QCOMPARE(told.size(), 1);
        QVERIFY2(told[0].startsWith(file + "|") && told[0].contains("large"), qPrintable(told[0]));
        QVERIFY(f.status.isFailing());
        f.status.AddStatus(QString("after"));
        QCOMPARE(told.size(), 2);
        QCOMPARE(told[1], file + "|");
        const QByteArray log = readAll(file);
        for (const char *line : {"before", "during 0", "during 1", "during 2", "after"})
            QCOMPARE(log.count(QByteArray("09:15:00 ") + line + "\r\n"), 1);
        QCOMPARE(f.statusList.rowCount(), 5);
    }
};

QTEST_GUILESS_MAIN(tst_StatusLog)
#include "tst_StatusLog.moc"
