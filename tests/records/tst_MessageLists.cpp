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
    // A list as another process reading the index finds it.
    QStringList stored(MessageStore::List list) const
    {
        QStringList values;
        for (const StoredMessage &m : MessageStore(dir.file("messages.db")).messages(list))
            values << m.entry;
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
        QCOMPARE(f.stored(MessageStore::List::Recent), f.lists.lastTenEntries());
        QCOMPARE(f.stored(MessageStore::List::Unread), f.lists.unreadEntries());
        QVERIFY(!QFile::exists(f.dir.file("settings.txt"))); // the options file is not involved
    }

    void theFiftyFirstPushesTheOldestOut()
    {
        Fixture f;
        for (int i = 0; i < 51; ++i)
            f.lists.addRecording(f.dir.path(), f.record(QString("M2026-01-01~09-%1-00.wav").arg(i, 2, 10, QChar('0'))));
        QCOMPARE(f.lists.lastTenEntries().size(), 50);
        QCOMPARE(f.lists.lastTenEntries().first(), QString("M2026-01-01~09-01-00.wav"));
        QCOMPARE(f.stored(MessageStore::List::Recent), f.lists.lastTenEntries());
        // Listing the same file again (a start after a kill) adds nothing.
        QVERIFY(!f.lists.addRecording(f.dir.path(), "M2026-01-01~09-50-00.wav"));
        QCOMPARE(f.lists.lastTenEntries().size(), 50);
    }

    // A change made through the store (a web page, the telephone menu) reaches the models at
    // once; the selected entry stays selected where it moved, a new unread one arrives as an
    // inserted row (the tray announces it by that).
    void changesThroughTheStoreShowInTheLists()
    {
        Fixture f;
        f.lists.addRecording(f.dir.path(), f.record("A1.wav"));
        f.lists.addRecording(f.dir.path(), f.record("A2.wav"));
        f.lists.addRecording(f.dir.path(), f.record("M1.wav"));
        f.lists.lstUnread_Click(1);
        const qint64 a1 = f.store.messageAt(f.dir.file("A1.wav"))->id;
        QVERIFY(f.store.markRead(a1));
        QCOMPARE(f.lists.unreadEntries(), QStringList({"A2.wav"}));
        QCOMPARE(f.lists.lastTenEntries(), QStringList({"M1.wav", "A1.wav"}));
        QCOMPARE(f.lists.selectedUnread(), 0); // A2 is still the selected one
        QSignalSpy inserted(&f.lists.unread(), &QAbstractItemModel::rowsInserted);
        QSignalSpy reset(&f.lists.unread(), &QAbstractItemModel::modelReset);
        QVERIFY(f.store.markUnread(a1));
        QCOMPARE(f.lists.unreadEntries(), QStringList({"A2.wav", "A1.wav"}));
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(reset.size(), 0);
        // A second set of lists on the same store (the service's, the companion's) agrees.
        MessageLists other(f.store);
        other.LoadMessageLists();
        QCOMPARE(other.unreadEntries(), f.lists.unreadEntries());
        QCOMPARE(other.currentRecording(), QString("A1.wav"));
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
        QCOMPARE(f.stored(MessageStore::List::Recent), QStringList({"M1.wav", "A1.wav"}));

        f.lists.lstLastTen_Click(0);
        QVERIFY(!f.lists.currentFromUnread());
        f.lists.mmuDelete_Click();
        QCOMPARE(f.lists.lastTenEntries(), QStringList({"A1.wav"}));
        QVERIFY(QFile::exists(f.dir.file("M1.wav"))); // only the entry goes
        f.lists.lstUnread_Click(0);
        f.lists.mmuDelete1_Click();
        QVERIFY(f.lists.unreadEntries().isEmpty());
        QVERIFY(f.stored(MessageStore::List::Unread).isEmpty());
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
