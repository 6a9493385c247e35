// The message index: what survives a reopen, the options file of an earlier version moved in,
// listing once per file, and the id-based changes a web page or the telephone menu makes.
#include "core/Settings.h"
#include "records/CallRecords.h"
#include "records/MessageStore.h"
#include "support/DiskFlushes.h"
#include "support/FakeShell.h"
#include "support/Files.h"

#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <sqlite3.h>
#include <sys/stat.h>

using namespace telvox;
using telvox::test::ScratchDir;

namespace {

NewMessage message(const ScratchDir &dir, const QString &name, bool unread = false)
{
    NewMessage m;
    m.entry = name;
    m.path = dir.file(name);
    m.unread = unread;
    return m;
}

QStringList entries(const MessageStore &store, MessageStore::List list)
{
    QStringList out;
    for (const StoredMessage &m : store.messages(list))
        out << m.entry;
    return out;
}

// The options file as earlier versions left it: QSettings' INI with the blank-prefixed list
// keys escaped ("%200" is " 0"), every one of the fifty keys written, the empty ones too.
QByteArray oldOptionsFile()
{
    QByteArray ini = "[Config]\nLanguage=0\nSaveFile=rec\nLast_CallerID=5551234\n\n[Data]\n";
    const QList<QByteArray> data = {"M2026-11-30~10-00-00~5550001.wav", "O2026-12-01~11-00-00~777.wav",
                                    "/mnt/elsewhere/A2026-12-01~12-00-00.wav"};
    for (int i = 0; i < 50; ++i)
        ini += "%20" + QByteArray::number(i) + "=" + (i < data.size() ? data[i] : QByteArray()) + "\n";
    ini += "\n[DataUnread]\n";
    for (int i = 0; i < 50; ++i)
        ini += "%20" + QByteArray::number(i) + "=" + (i == 0 ? QByteArray("A2026-12-02~08-30-15~5551234.wav") : "") + "\n";
    ini += "\n[Made]\n%201=5550100\n%202=5550101\n%2010=\n\n[Received]\n%201=UNKNOWN\n%202=5551234\n";
    return ini;
}

} // namespace

class tst_MessageStore : public QObject
{
    Q_OBJECT
private slots:
    // Lists, order, capacity and the id-based changes, all read back through a second
    // connection (as the companion command or the service would see them).
    void listsKeepOrderCapacityAndChangesAcrossConnections()
    {
        ScratchDir dir;
        MessageStore store(dir.file("messages.db"));
        QVERIFY2(store.isPersistent(), qPrintable(store.errorText()));
        QSignalSpy changed(&store, &MessageStore::changed);
        for (int i = 0; i < 52; ++i)
            QVERIFY(store.addMessage(message(dir, QString("M%1.wav").arg(i))));
        const auto a1 = store.addMessage(message(dir, "A1.wav", true));
        const auto a2 = store.addMessage(message(dir, "A2.wav", true));
        QVERIFY(a1 && a2 && *a1 != *a2);
        QCOMPARE(changed.size(), 54);

        MessageStore other(dir.file("messages.db"));
        QStringList recent = entries(other, MessageStore::List::Recent);
        QCOMPARE(recent.size(), 50); // the two oldest were pushed out
        QCOMPARE(recent.first(), QString("M2.wav"));
        QCOMPARE(entries(other, MessageStore::List::Unread), QStringList({"A1.wav", "A2.wav"}));

        QVERIFY(other.markRead(*a1)); // to the bottom of the recent list; M2 leaves it
        QVERIFY(store.markUnread(*a1) && store.markRead(*a1));
        recent = entries(store, MessageStore::List::Recent);
        QCOMPARE(recent.last(), QString("A1.wav"));
        QCOMPARE(recent.size(), 50);
        QVERIFY(!recent.contains("M2.wav"));
        QVERIFY(store.markUnread(*a1));
        QCOMPARE(entries(store, MessageStore::List::Unread), QStringList({"A2.wav", "A1.wav"}));

        QVERIFY(store.removeFromList(*a2));
        QCOMPARE(entries(other, MessageStore::List::Unread), QStringList({"A1.wav"}));
        const std::optional<StoredMessage> gone = other.message(*a2);
        QVERIFY(gone && !gone->listed); // known still, so it is not found again
        QVERIFY(!store.markRead(999999) && !store.removeFromList(999999)); // an unknown id changes nothing
    }

    // One entry per file: the second listing of a file finds the first, whatever it says.
    void listingIsIdempotentByPath()
    {
        ScratchDir dir;
        MessageStore store(dir.file("messages.db"));
        bool known = true;
        const auto first = store.addMessage(message(dir, "A1.wav", true), &known);
        QVERIFY(first && !known);
        NewMessage again = message(dir, "A1.wav", false);
        again.path = dir.file("./sub/../A1.wav"); // the same file, spelt otherwise
        const auto second = store.addMessage(again, &known);
        QVERIFY(second && known);
        QCOMPARE(*second, *first);
        QCOMPARE(store.messages(MessageStore::List::Unread).size(), 1);
        QVERIFY(store.messages(MessageStore::List::Recent).isEmpty());
    }

    // Each change is one transaction: a write that fails half-way leaves nothing behind.
    void aFailedListingLeavesNothing()
    {
        ScratchDir dir;
        MessageStore store(dir.file("messages.db"));
        for (int i = 0; i < 50; ++i)
            QVERIFY(store.addMessage(message(dir, QString("M%1.wav").arg(i))));
        // A trigger that refuses the list's trimming: the insert before it must go too.
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(dir.file("messages.db").toUtf8().constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db,
                              "CREATE TRIGGER refuse BEFORE UPDATE OF listed ON messages "
                              "BEGIN SELECT RAISE(ABORT, 'refused'); END",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
        QVERIFY(!store.addMessage(message(dir, "M50.wav")));
        QVERIFY(store.errorText().contains("refused"));
        QVERIFY(!store.messageAt(dir.file("M50.wav")));
        QCOMPARE(store.messages(MessageStore::List::Recent).size(), 50);
        sqlite3_exec(db, "DROP TRIGGER refuse", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        QVERIFY(store.addMessage(message(dir, "M50.wav")));
    }

    void callRecordsKeepTheLastTenOfEachKind()
    {
        ScratchDir dir;
        MessageStore store(dir.file("messages.db"));
        for (int i = 0; i < 12; ++i)
            AddMadeCall(store, QString::number(100 + i));
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        AddReceivedCall(store, "UNKNOWN");
        AddReceivedCall(store, "UNKNOWN"); // duplicates stay
        // Every kind of record carries the time it was made.
        for (const char *kind : {"Received", "Made"}) {
            const CallRecord newest = store.callRecordEntries(kind).last();
            QVERIFY2(newest.when >= before.addSecs(-60) && newest.when <= QDateTime::currentDateTime(), kind);
        }
        const QStringList made = readCallRecords(MessageStore(dir.file("messages.db")), "Made");
        QCOMPARE(made.size(), 10);
        QCOMPARE(made.first(), QString("102"));
        QCOMPARE(made.last(), QString("111"));
        QCOMPARE(readCallRecords(store, "Received"), QStringList({"UNKNOWN", "UNKNOWN"}));
    }

    // A database of the first version, whose call records held no time or label: its records
    // stay, and records with a time can be added.
    void aFirstVersionDatabaseGainsTimedCallRecords()
    {
        ScratchDir dir;
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(dir.file("messages.db").toUtf8().constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, "CREATE TABLE call_records(id INTEGER PRIMARY KEY AUTOINCREMENT, kind TEXT NOT NULL, "
                                  "number TEXT NOT NULL); INSERT INTO call_records(kind, number) VALUES('Made', '5550100');",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(db);
        const QDateTime when(QDate(2026, 12, 6), QTime(9, 30));
        {
            MessageStore store(dir.file("messages.db"));
            QVERIFY2(store.isPersistent(), qPrintable(store.errorText()));
            QVERIFY(store.addCallRecord("Blocked", "5559999", when, "robot"));
        }
        MessageStore again(dir.file("messages.db"));
        QCOMPARE(readCallRecords(again, "Made"), QStringList{"5550100"});
        const QList<CallRecord> blocked = again.callRecordEntries("Blocked");
        QVERIFY(blocked.size() == 1 && blocked[0].when == when && blocked[0].label == "robot");
    }

    // An earlier version's options file: every entry moves, in order, with what its name says;
    // the old sections leave the file only after the commit, and the options stay.
    void anOldOptionsFileMovesIntoTheStoreOnce()
    {
        ScratchDir dir;
        QVERIFY(test::writeBytes(dir.file("telvox.ini"), oldOptionsFile()));
        SettingsStore settings(dir.file("telvox.ini"), dir.file("settings.txt"));
        MessageStore store(dir.file("messages.db"));
        QCOMPARE(store.migrateFromSettings(settings, dir.file("rec")), 8);

        const QList<StoredMessage> recent = store.messages(MessageStore::List::Recent);
        QCOMPARE(recent.size(), 3);
        QCOMPARE(recent[0].entry, QString("M2026-11-30~10-00-00~5550001.wav"));
        QCOMPARE(recent[0].path(), dir.file("rec/M2026-11-30~10-00-00~5550001.wav"));
        QCOMPARE(recent[0].caller, QString("5550001"));
        QCOMPARE(recent[0].kind, QChar('M'));
        QCOMPARE(recent[0].time, QDateTime(QDate(2026, 11, 30), QTime(10, 0, 0)));
        QCOMPARE(recent[0].origin, MessageOrigin::Migrated);
        QCOMPARE(recent[2].path(), QString("/mnt/elsewhere/A2026-12-01~12-00-00.wav"));
        QVERIFY(!recent[2].unread); // a read message stays read, whatever its letter
        const QList<StoredMessage> unread = store.messages(MessageStore::List::Unread);
        QCOMPARE(unread.size(), 1);
        QCOMPARE(unread[0].caller, QString("5551234"));
        QCOMPARE(store.callRecords("Made"), QStringList({"5550100", "5550101"}));
        QCOMPARE(store.callRecords("Received"), QStringList({"UNKNOWN", "5551234"}));

        // The options stay; the lists are gone from the file.
        const QByteArray after = test::readAll(dir.file("telvox.ini"));
        QVERIFY2(!after.contains("[Data]") && !after.contains("[DataUnread]") && !after.contains("[Made]")
                     && !after.contains("[Received]"),
                 after.constData());
        QCOMPARE(settings.ReadSetting("Config", "Last_CallerID"), QString("5551234"));
        QCOMPARE(settings.ReadSetting("Data", " 0"), QString());

        // Once only: lists an earlier version wrote again later are not taken twice.
        QVERIFY(test::writeBytes(dir.file("telvox.ini"), oldOptionsFile()));
        QCOMPARE(MessageStore(dir.file("messages.db")).migrateFromSettings(settings, dir.file("rec")), 0);
        QCOMPARE(store.messages(MessageStore::List::Recent).size(), 3);
    }

    // A database that cannot take the lists: the options file keeps them for the next try.
    void anOldOptionsFileStaysWhenTheStoreCannotTakeIt()
    {
        ScratchDir dir;
        QVERIFY(test::writeBytes(dir.file("telvox.ini"), oldOptionsFile()));
        SettingsStore settings(dir.file("telvox.ini"), dir.file("settings.txt"));
        QVERIFY(QDir().mkpath(dir.file("blocked/messages.db"))); // a folder where the file should be
        MessageStore inMemory(dir.file("blocked/messages.db"));
        QVERIFY(!inMemory.isPersistent() && !inMemory.errorText().isEmpty());
        QCOMPARE(inMemory.migrateFromSettings(settings, dir.file("rec")), -1);
        {
            MessageStore store(dir.file("messages.db"));
            sqlite3 *db = nullptr;
            sqlite3_open(dir.file("messages.db").toUtf8().constData(), &db);
            sqlite3_exec(db, "CREATE TRIGGER refuse BEFORE INSERT ON call_records BEGIN SELECT RAISE(ABORT, 'no'); END",
                         nullptr, nullptr, nullptr);
            sqlite3_close(db);
            QCOMPARE(store.migrateFromSettings(settings, dir.file("rec")), -1);
            QVERIFY(store.messages(MessageStore::List::Recent).isEmpty()); // rolled back
        }
        QCOMPARE(test::readAll(dir.file("telvox.ini")), oldOptionsFile());
    }

    void theIndexIsPrivateAndInWalMode()
    {
        ScratchDir dir;
        MessageStore store(dir.file("messages.db"));
        QVERIFY(store.addMessage(message(dir, "A1.wav", true)));
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(dir.file("messages.db")).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        QVERIFY(QFile::exists(dir.file("messages.db-wal")));
    }

    // Closing an index this process made waits for the disk only when the index holds what no
    // start works out again: a message, a call record, a mail, or another process's writes.
    void closingANewIndexFlushesOnlyWhatIsNotWorkedOutAgain_data()
    {
        QTest::addColumn<QString>("content");
        QTest::addColumn<bool>("flushed");
        QTest::newRow("values a start works out") << "values" << false;
        QTest::newRow("a message") << "message" << true;
        QTest::newRow("a call record") << "record" << true;
        QTest::newRow("a mail") << "mail" << true;
        QTest::newRow("another process's value") << "other" << true;
        QTest::newRow("an index that was there") << "reopened" << true;
    }
    void closingANewIndexFlushesOnlyWhatIsNotWorkedOutAgain()
    {
        QFETCH(QString, content);
        QFETCH(bool, flushed);
        ScratchDir dir;
        const QString path = dir.file("messages.db");
        if (content == "reopened")
            MessageStore(path).setValue("baseline:/r", "1");
        int before = 0;
        {
            MessageStore store(path);
            QVERIFY(store.setValue("baseline:/r", "1"));
            if (content == "message")
                QVERIFY(store.addMessage(message(dir, "A1.wav")));
            else if (content == "record")
                QVERIFY(store.addCallRecord("Received", "5551234"));
            else if (content == "mail")
                QVERIFY(store.addMailJob(dir.file("A1.wav"), "job"));
            else if (content == "other" || content == "reopened")
                QVERIFY(MessageStore(path).setValue("recordings-folder", "/r"));
            before = telvox::test::diskFlushes();
        }
        QCOMPARE(telvox::test::diskFlushes() > before, flushed);
        // Either way the index is whole and closed: reopened, it holds what was written.
        QVERIFY(!QFile::exists(path + "-wal"));
        MessageStore again(path);
        QVERIFY(again.isPersistent());
        QCOMPARE(again.value("baseline:/r"), QString("1"));
    }
};

QTEST_GUILESS_MAIN(tst_MessageStore)
#include "tst_MessageStore.moc"
