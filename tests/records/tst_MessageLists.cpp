#include "support/Files.h"
#include "support/ProgramFolder.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace telvox;
using telvox::test::ScratchDir;

namespace {

struct Fixture : telvox::test::ProgramFolder
{
    QString record(const QString &name) { return telvox::test::writeBytes(dir.file(name), "RIFF") ? name : QString(); }
    QStringList stored(const char *section)
    {
        QStringList values;
        for (int i = 0; i < 50; ++i)
            values << settings.ReadSetting(section, QString(" %1").arg(i), "<missing>");
        return values;
    }
};

} // namespace

class tst_MessageLists : public QObject
{
    Q_OBJECT
private slots:
    void recordingsEnterTheirListByModeLetter()
    {
        Fixture f;
        QSignalSpy current(&f.lists, &MessageLists::currentRecordingChanged);
        QVERIFY(f.lists.addRecording(f.dir.path(), f.record("A2026-01-01~09-00-00~555.wav")));
        QVERIFY(f.lists.addRecording(f.dir.path(), f.record("M2026-01-01~09-05-00.wav")));
        QVERIFY(f.lists.addRecording(f.dir.path(), f.record("O2026-01-01~09-10-00~777.wav")));
        QVERIFY(!f.lists.addRecording(f.dir.path(), "A2026-01-01~10-00-00.wav")); // no file: not listed
        QCOMPARE(f.lists.unreadEntries(), QStringList({"A2026-01-01~09-00-00~555.wav"}));
        QCOMPARE(f.lists.lastTenEntries(), QStringList({"M2026-01-01~09-05-00.wav", "O2026-01-01~09-10-00~777.wav"}));
        // Maintenance selects the last of lstLastTen, then the last of lstUnread.
        QCOMPARE(f.lists.currentRecording(), QString("A2026-01-01~09-00-00~555.wav"));
        QVERIFY(f.lists.currentFromUnread());
        QVERIFY(!current.isEmpty());
        QCOMPARE(f.settings.ReadSetting("Data", " 1"), QString("O2026-01-01~09-10-00~777.wav"));
        QCOMPARE(f.settings.ReadSetting("DataUnread", " 0"), QString("A2026-01-01~09-00-00~555.wav"));
        QCOMPARE(f.settings.ReadSetting("DataUnread", " 1", "<missing>"), QString()); // all fifty keys written
        QVERIFY(!QFile::exists(f.dir.file("settings.txt"))); // neither list is journaled
    }

    void theFiftyFirstPushesTheOldestOut()
    {
        Fixture f;
        for (int i = 0; i < 51; ++i)
            f.lists.addRecording(f.dir.path(), f.record(QString("M2026-01-01~09-%1-00.wav").arg(i, 2, 10, QChar('0'))));
        QCOMPARE(f.lists.lastTenEntries().size(), 50);
        QCOMPARE(f.lists.lastTenEntries().first(), QString("M2026-01-01~09-01-00.wav"));
        const QStringList stored = f.stored("Data");
        QVERIFY(!stored.contains(QString()) && !stored.contains("<missing>"));
        QCOMPARE(stored.last(), QString("M2026-01-01~09-50-00.wav"));
    }

    void gapsCloseUpOnLoadAndSave()
    {
        Fixture f;
        f.settings.WriteSetting("Data", " 0", "M1.wav");
        f.settings.WriteSetting("Data", " 5", "M2.wav");
        f.settings.WriteSetting("Data", "7", "not a list key");
        f.settings.WriteSetting("DataUnread", " 49", "A9.wav");
        f.lists.LoadMessageLists();
        QCOMPARE(f.lists.lastTenEntries(), QStringList({"M1.wav", "M2.wav"}));
        QCOMPARE(f.lists.unreadEntries(), QStringList({"A9.wav"}));
        QCOMPARE(f.lists.selectedLastTen(), 1);
        QCOMPARE(f.lists.currentRecording(), QString("A9.wav"));
        f.lists.MaintainLists();
        QCOMPARE(f.settings.ReadSetting("Data", " 1"), QString("M2.wav"));
        QCOMPARE(f.settings.ReadSetting("Data", " 5"), QString());
        QCOMPARE(f.settings.ReadSetting("DataUnread", " 0"), QString("A9.wav"));
        QCOMPARE(f.settings.ReadSetting("DataUnread", " 49"), QString());
    }

    void deleteAndMarkAsHeard()
    {
        Fixture f;
        f.lists.addRecording(f.dir.path(), f.record("A1.wav"));
        f.lists.addRecording(f.dir.path(), f.record("A2.wav"));
        f.lists.addRecording(f.dir.path(), f.record("M1.wav"));
        f.lists.lstUnread_Click(0);
        f.lists.markSelectedUnreadAsHeard();
        QCOMPARE(f.lists.unreadEntries(), QStringList({"A2.wav"}));
        QCOMPARE(f.lists.lastTenEntries(), QStringList({"M1.wav", "A1.wav"}));
        QCOMPARE(f.settings.ReadSetting("Data", " 1"), QString("A1.wav"));

        f.lists.lstLastTen_Click(0);
        QVERIFY(!f.lists.currentFromUnread());
        f.lists.mmuDelete_Click();
        QCOMPARE(f.lists.lastTenEntries(), QStringList({"A1.wav"}));
        QVERIFY(QFile::exists(f.dir.file("M1.wav"))); // only the entry goes
        f.lists.lstUnread_Click(0);
        f.lists.mmuDelete1_Click();
        QVERIFY(f.lists.unreadEntries().isEmpty());
        QCOMPARE(f.stored("DataUnread"), QStringList(50, QString()));
        f.lists.mmuDelete1_Click(); // nothing selected: nothing happens
        QCOMPARE(f.lists.lastTenEntries(), QStringList({"A1.wav"}));
    }

    void callerNumberFromAStatusLine()
    {
        QCOMPARE(callerNumberFromStatusLine("10:00:00 CallerID:5551234"), std::optional<QString>("5551234"));
        QCOMPARE(callerNumberFromStatusLine("10:00:00 CallerID: 5551234 Bob"), std::optional<QString>("5551234"));
        QCOMPARE(callerNumberFromStatusLine("10:00:00 Line0 Ring..."), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(tst_MessageLists)
#include "tst_MessageLists.moc"
