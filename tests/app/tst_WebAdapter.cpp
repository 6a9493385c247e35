// The web server's backend over the message store: the store's ids, moves between the lists,
// delete, audio by id, the block list and the lines, on the real call system.
#include "app/WebAdapter.h"
#include "records/CallBlockList.h"
#include "records/MessageStore.h"
#include "support/CallRig.h"
#include "telephony/PhoneBookTable.h"

#include <QSignalSpy>

using namespace telvox;
using namespace telvox::test;

namespace {

const QString kMessage = QStringLiteral("A2026-12-04~08-00-00~5551234.wav");
const QString kConversation = QStringLiteral("M2026-12-04~07-00-00~5550000.wav");

// The entries of one of the index's lists, oldest first, as the desktop and `telvox --list` read them.
QStringList storedEntries(CallRig &rig, MessageStore::List list)
{
    QStringList out;
    for (const StoredMessage &m : rig.system.messageStore().messages(list))
        out << m.entry;
    return out;
}

// The store's id of a listed entry, 0 when it is not listed.
qint64 storedId(CallRig &rig, const QString &entry)
{
    for (const auto list : {MessageStore::List::Unread, MessageStore::List::Recent})
        for (const StoredMessage &m : rig.system.messageStore().messages(list))
            if (m.entry == entry)
                return m.id;
    return 0;
}

QStringList typesOf(const QSignalSpy &spy)
{
    QStringList types;
    for (const QList<QVariant> &args : spy)
        types << args.at(0).toString();
    return types;
}

} // namespace

class tst_WebAdapter : public QObject
{
    Q_OBJECT

private slots:
    void messagesMoveBetweenTheListsByStableIds()
    {
        CallRig rig;
        rig.settings.WriteSetting("Config", "SaveFile", rig.dir.path() + "/"); // the recordings lie in the rig's folder
        QVERIFY(phonebook::rewrite(rig.dir.file("PhoneBook.txt"), {"Ann"}, {"5551234"}));
        QVERIFY(writeSilentPrompt(rig.dir.file(kMessage), 3000));
        QVERIFY(writeSilentPrompt(rig.dir.file(kConversation), 1000));
        auto adapter = std::make_unique<WebAdapter>(rig.system);
        QSignalSpy events(adapter.get(), &WebBackend::changed);
        QVERIFY(rig.lists.addRecording(rig.dir.path(), kConversation));
        QVERIFY(rig.lists.addRecording(rig.dir.path(), kMessage, false, 2));

        const WebMessagePage unread = adapter->messages(WebBackend::List::Unread, 0, 50);
        QCOMPARE(unread.total, 1);
        const WebMessage m = unread.messages.at(0);
        QCOMPARE(m.id, storedId(rig, kMessage));
        QCOMPARE(m.caller, QStringLiteral("5551234"));
        QCOMPARE(m.name, QStringLiteral("Ann"));
        QCOMPARE(m.time, QDateTime(QDate(2026, 12, 4), QTime(8, 0)));
        QCOMPARE(m.seconds, 3);
        QCOMPARE(m.line, 2);
        QCOMPARE(m.kind, QLatin1Char('A'));
        QVERIFY(m.unread);
        const WebMessage conversation = adapter->messages(WebBackend::List::Recent, 0, 50).messages.at(0);
        QCOMPARE(conversation.kind, QLatin1Char('M'));
        QVERIFY(!conversation.unread && conversation.name.isEmpty());
        QCOMPARE(conversation.line, -1); // listed without a line
        QVERIFY(typesOf(events).contains("message"));
        QCOMPARE(events.at(typesOf(events).indexOf("message")).at(1).toJsonObject().value("id").toInteger(),
                 storedId(rig, kConversation));

        // Read: the message moves to the recent list, in memory and in the store the desktop
        // and `telvox --list` read; unread moves it back.
        QTRY_VERIFY(typesOf(events).contains("messages"));
        events.clear();
        QVERIFY(adapter->setUnread(m.id, false));
        QVERIFY(rig.lists.unreadEntries().isEmpty());
        QCOMPARE(storedEntries(rig, MessageStore::List::Recent), QStringList({kConversation, kMessage}));
        QTRY_VERIFY(typesOf(events).contains("messages"));
        QCOMPARE(typesOf(events), QStringList({"read", "messages"}));
        QCOMPARE(events.at(0).at(1).toJsonObject(), QJsonObject({{"id", m.id}, {"unread", false}}));
        QVERIFY(adapter->setUnread(m.id, false)); // already read: nothing to do
        QVERIFY(adapter->setUnread(m.id, true));
        QCOMPARE(storedEntries(rig, MessageStore::List::Unread), QStringList({kMessage}));
        QCOMPARE(storedEntries(rig, MessageStore::List::Recent), QStringList({kConversation}));
        QVERIFY(!adapter->setUnread(12345, false));
        QCOMPARE(adapter->message(m.id)->id, m.id); // moving between the lists keeps the id

        // The ids are those the index keeps on disk: the next run, opening the same file,
        // finds the message under the same id.
        {
            const MessageStore nextRun(rig.dir.file(MessageStore::defaultFileName()));
            QVERIFY(nextRun.isPersistent());
            QCOMPARE(nextRun.message(m.id)->entry, kMessage);
            QCOMPARE(nextRun.message(storedId(rig, kConversation))->entry, kConversation);
        }
        adapter.reset();
        WebAdapter again(rig.system);

        // Delete takes the entry off its list; the file stays, and its id is unknown from then on.
        QSignalSpy later(&again, &WebBackend::changed);
        QVERIFY(again.remove(m.id));
        QTRY_COMPARE(typesOf(later), QStringList({"deleted", "messages"}));
        QVERIFY(rig.lists.unreadEntries().isEmpty());
        QVERIFY(QFile::exists(rig.dir.file(kMessage)));
        QVERIFY(!again.message(m.id));
        QVERIFY(again.audioFile(m.id).isEmpty());
        QVERIFY(!again.remove(m.id));
    }

    void pagesAreNewestFirst()
    {
        CallRig rig;
        rig.settings.WriteSetting("Config", "SaveFile", rig.dir.path() + "/"); // the recordings lie in the rig's folder
        for (int i = 0; i < 5; ++i) {
            const QString name = QStringLiteral("A2026-12-04~08-00-0%1~555000%1.wav").arg(i);
            QVERIFY(writeSilentPrompt(rig.dir.file(name), 100));
            QVERIFY(rig.lists.addRecording(rig.dir.path(), name));
        }
        WebAdapter adapter(rig.system);
        const WebMessagePage page = adapter.messages(WebBackend::List::Unread, 1, 2);
        QCOMPARE(page.total, 5);
        QCOMPARE(page.messages.size(), 2);
        QCOMPARE(page.messages[0].caller, QStringLiteral("5550003"));
        QCOMPARE(page.messages[1].caller, QStringLiteral("5550002"));
        QVERIFY(adapter.messages(WebBackend::List::Unread, 5, 50).messages.isEmpty());
    }

    // A listed entry whose file is gone, or is not a file, has no audio.
    void audioOnlyForListedFiles()
    {
        CallRig rig;
        rig.settings.WriteSetting("Config", "SaveFile", rig.dir.path() + "/"); // the recordings lie in the rig's folder
        const QString name = QStringLiteral("A2026-12-04~08-00-00~1.wav");
        QVERIFY(writeSilentPrompt(rig.dir.file(name), 100));
        QVERIFY(rig.lists.addRecording(rig.dir.path(), name));
        WebAdapter adapter(rig.system);
        const qint64 id = storedId(rig, name);
        QVERIFY(!adapter.audioFile(id).isEmpty());
        QVERIFY(QFile::remove(rig.dir.file(name)));
        QVERIFY(QDir().mkpath(rig.dir.file(name)));
        QVERIFY(adapter.audioFile(id).isEmpty());
        for (const qint64 other : {qint64(0), qint64(-1), id + 1})
            QVERIFY(adapter.audioFile(other).isEmpty() && !adapter.message(other));
    }

    // A message deleted from the lists keeps its entry in the index (unlisted): the web must
    // not reach it by its old id, though its file is still there.
    void deletedMessagesAreUnknown()
    {
        CallRig rig;
        rig.settings.WriteSetting("Config", "SaveFile", rig.dir.path() + "/"); // the recordings lie in the rig's folder
        const QString name = QStringLiteral("A2026-12-04~08-00-00~1.wav");
        QVERIFY(writeSilentPrompt(rig.dir.file(name), 100));
        QVERIFY(rig.lists.addRecording(rig.dir.path(), name));
        const qint64 id = storedId(rig, name);
        QVERIFY(rig.system.messageStore().removeFromList(id)); // the desktop's Delete
        QVERIFY(rig.system.messageStore().message(id).has_value());
        WebAdapter adapter(rig.system);
        QVERIFY(!adapter.message(id));
        QVERIFY(adapter.audioFile(id).isEmpty());
        QVERIFY(!adapter.setUnread(id, false) && !adapter.setUnread(id, true) && !adapter.remove(id));
        QCOMPARE(adapter.messages(WebBackend::List::Unread, 0, 50).total, 0);
    }

    // The lists the page writes are the lists call screening reads.
    void numberListsReachCallScreening()
    {
        CallRig rig;
        rig.settings.WriteSetting("Config", "SaveFile", rig.dir.path() + "/"); // the recordings lie in the rig's folder
        WebAdapter adapter(rig.system);
        QSignalSpy events(&adapter, &WebBackend::changed);
        QString error;
        QVERIFY(adapter.setNumberList(false, {{"5551234", "Ann"}, {"0900*", {}}}, &error));
        QVERIFY(adapter.setNumberList(true, {{"09001", {}}}, &error));
        const CallBlockList &lists = rig.system.blockList();
        QVERIFY(lists.check(CallerKind::Number, "5551234", false).blocked);
        QVERIFY(lists.check(CallerKind::Number, "0900777", false).blocked);
        QVERIFY(!lists.check(CallerKind::Number, "09001", false).blocked);
        QCOMPARE(readAll(rig.dir.file("BlockList.txt")), QByteArray("5551234\tAnn\n0900*\n"));
        QCOMPARE(adapter.numberList(false).at(0).label, QStringLiteral("Ann"));
        QCOMPARE(typesOf(events), QStringList({"lists", "lists"}));
    }

    void linesAndTheirChanges()
    {
        CallRig rig;
        rig.settings.WriteSetting("Config", "SaveFile", rig.dir.path() + "/"); // the recordings lie in the rig's folder
        WebAdapter adapter(rig.system);
        const QList<WebLine> lines = adapter.lines();
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines[0].open && lines[0].state == QLatin1String("idle"));
        QVERIFY(!lines[1].open && lines[1].state == QLatin1String("closed"));
        QSignalSpy events(&adapter, &WebBackend::changed);
        QVERIFY(rig.exchange->placeIncomingCall(0, callFrom("5551234")));
        rig.loop.advance(2500);
        QTRY_VERIFY(typesOf(events).contains("ring"));
        QTRY_VERIFY(typesOf(events).contains("callerid"));
        rig.loop.advance(30000);
        QTRY_VERIFY(typesOf(events).contains("line"));
    }
};

QTEST_GUILESS_MAIN(tst_WebAdapter)
#include "tst_WebAdapter.moc"
