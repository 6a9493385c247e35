// What the call system tells the house, in whole calls on the virtual exchange in virtual
// time: the line states, the caller (blocked or not), the message kept and the unread count.

#include "support/CallRig.h"

#include "app/HomeLink.h"
#include "records/CallBlockList.h"
#include "records/MessageStore.h"

#include <QTest>

using namespace telvox;
using namespace telvox::test;

namespace {

// Every event as a line of text; line states and the count only when they change.
struct Recorder final : HomeEvents
{
    void lineState(int line, LineActivity activity) override
    {
        auto &known = lines[static_cast<std::size_t>(line)];
        if (known != activity)
            log << QStringLiteral("line%1 %2").arg(line).arg(activityName(activity));
        known = activity;
    }
    void callerIdentified(const CallerEvent &e) override
    {
        log << QStringLiteral("call %1 %2 line%3%4").arg(e.number, e.name).arg(e.line).arg(e.blocked ? " blocked" : "");
        callTimes << e.time;
    }
    void messageKept(const MessageEvent &e) override
    {
        log << QStringLiteral("message %1").arg(e.caller);
        messages << e;
    }
    void unreadCount(int count) override
    {
        if (count != unread)
            log << QStringLiteral("unread %1").arg(count);
        unread = count;
    }

    std::array<LineActivity, 4> lines{};
    int unread = -1;
    QStringList log;
    QList<QDateTime> callTimes;
    QList<MessageEvent> messages;
};

IncomingCall namedCaller(const QByteArray &number, const QByteArray &name)
{
    IncomingCall c = caller(number, 11);
    c.name = name;
    return c;
}

} // namespace

class tst_HomeLink : public QObject
{
    Q_OBJECT

private slots:
    void messageCall()
    {
        CallRig f({.before = [](CallRig &r) {
            r.settings.WriteSetting("Web", "Enabled", "1");
            r.settings.WriteSetting("Web", "Listen", "0.0.0.0:9000");
        }});
        Recorder house;
        HomeLink link(f.system, &house);
        QVERIFY(f.exchange->placeIncomingCall(0, namedCaller("5551234", "ANNA")));
        QVERIFY(f.until(0, 1));
        f.loop.advance(3000);
        QVERIFY(f.exchange->hangUpFarEnd(0, FarEndHangUp::WithDisconnect));
        f.loop.advance(10000);

        QCOMPARE(house.log, QStringList({"unread 0", "line0 ringing", "call 5551234 ANNA line0", "line0 answered",
                                         "line0 recording", "line0 idle", "unread 1", "message 5551234"}));
        // The caller ID's time is the moment it came, after the first ring.
        const QDateTime start(QDate(2026, 12, 4), QTime(8, 30, 15));
        QVERIFY2(house.callTimes.first() >= start && house.callTimes.first() <= start.addSecs(6),
                 qPrintable(house.callTimes.first().toString(Qt::ISODate)));
        const MessageEvent &m = house.messages.first();
        const QStringList files = f.recordings();
        QCOMPARE(files.size(), 1);
        QCOMPARE(m.id, files.first());
        QVERIFY2(m.seconds >= 3 && m.seconds <= 4, qPrintable(QString::number(m.seconds)));
        QCOMPARE(m.time, QDateTime::fromString(files.first().mid(1, 19), "yyyy-MM-dd~HH-mm-ss"));
        // Listening on every address: the link names this computer, and the message by its
        // number in the index, as the web interface knows it.
        const auto stored = f.system.messageStore().messages(MessageStore::List::Unread);
        QCOMPARE(stored.size(), 1);
        QCOMPARE(m.link, QString("http://%1:9000/api/messages/%2/audio").arg(QSysInfo::machineHostName()).arg(stored.first().id));
    }

    void blockedCallIsOnlyACaller()
    {
        CallRig f({.before = [](CallRig &r) {
            writeBytes(r.dir.file(CallBlockList::blockFileName()), "555-1234\tDouble glazing\n");
        }});
        Recorder house;
        HomeLink link(f.system, &house);
        QVERIFY(f.exchange->placeIncomingCall(0, namedCaller("5551234", "ANNA")));
        f.loop.advance(20000);
        QCOMPARE(house.log, QStringList({"unread 0", "line0 ringing", "call 5551234 Double glazing line0 blocked",
                                         "line0 idle"}));
        QVERIFY(house.messages.isEmpty());
    }

    void webLinkOnlyWhenTheWebInterfaceRuns()
    {
        ScratchDir dir;
        SettingsStore settings(dir.file("telvox.ini"), dir.file("settings.txt"));
        QCOMPARE(webAudioLink(settings, "A.wav"), QString());
        settings.WriteSetting("Web", "Enabled", "1");
        // The default address; a name that needs it is percent-encoded.
        QCOMPARE(webAudioLink(settings, "A 1#.wav"), QString("http://127.0.0.1:8780/api/messages/A%201%23.wav/audio"));
    }
};

QTEST_GUILESS_MAIN(tst_HomeLink)
#include "tst_HomeLink.moc"
