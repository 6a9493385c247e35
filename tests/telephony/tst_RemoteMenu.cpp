// The telephone menu of remote retrieval: the order of the messages, what each key does to
// the message store, the idle end, the spoken texts per language and the PIN's storage.
#include "core/SecretHash.h"
#include "core/Settings.h"
#include "core/VirtualEventLoop.h"
#include "records/MessageStore.h"
#include "support/FakeShell.h"
#include "telephony/RemoteMenu.h"
#include "telephony/RemotePhrases.h"
#include "telephony/RemotePin.h"

#include <QTest>

using namespace telvox;
using telvox::test::ScratchDir;

namespace {

// Writes down what the menu has the line play.
class LogPlayer final : public RemoteMenuPlayer
{
public:
    void say(const RemotePhrase &p) override
    {
        static const char *const names[] = {"Summary", "Intro", "AfterMessage", "NoMore", "Deleted",
                                            "KeptNew", "Help", "WrongPin", "Locked", "Goodbye",
                                            "GreetingRecord", "GreetingReview", "GreetingKept",
                                            "GreetingDiscarded", "CannotPlay"};
        QString text = QString::fromLatin1(names[int(p.kind)]);
        if (p.kind == RemotePhrase::Kind::Summary)
            text += QStringLiteral(" %1/%2").arg(p.newCount).arg(p.savedCount);
        log << text;
    }
    bool playMessage(const StoredMessage &m, std::int64_t fromMs) override
    {
        if (m.entry == unplayable)
            return false;
        log << QStringLiteral("play %1 %2").arg(m.entry).arg(fromMs);
        return true;
    }
    QString unplayable;
    void stop() override { position = -1; }
    std::int64_t messagePosition() const override { return position; }
    void hangUp() override { log << QStringLiteral("hangup"); }
    bool startGreetingRecording() override
    {
        log << QStringLiteral("record");
        return canRecord;
    }
    void stopGreetingRecording() override { log << QStringLiteral("stop recording"); }
    bool keepGreeting(bool keep) override
    {
        log << (keep ? QStringLiteral("keep") : QStringLiteral("discard"));
        return keep;
    }
    bool canRecord = true;

    QStringList take() { return std::exchange(log, {}); }
    QStringList log;
    std::int64_t position = -1;
};

struct Rig
{
    Rig()
        : store(dir.file(QStringLiteral("messages.db")))
    {
        add(QStringLiteral("A1.wav"), true, 1);
        add(QStringLiteral("M1.wav"), false, 2);
        add(QStringLiteral("A2.wav"), true, 3);
    }
    void add(const QString &name, bool unread, int minute)
    {
        NewMessage m;
        m.entry = name;
        m.path = dir.file(name);
        m.unread = unread;
        m.seconds = 20;
        m.time = QDateTime(QDate(2026, 1, 5), QTime(9, minute));
        QVERIFY(store.addMessage(m));
    }
    QStringList unread() const
    {
        QStringList out;
        for (const StoredMessage &m : store.messages(MessageStore::List::Unread))
            out << m.entry;
        return out;
    }
    QStringList listed() const
    {
        QStringList out = unread();
        for (const StoredMessage &m : store.messages(MessageStore::List::Recent))
            out << m.entry;
        return out;
    }

    ScratchDir dir;
    VirtualEventLoop loop;
    MessageStore store;
    LogPlayer player;
    RemoteMenu menu{loop, store, player};
};

} // namespace

class tst_RemoteMenu : public QObject
{
    Q_OBJECT

private slots:
    void newOldestFirstThenSavedAndReadAtTheEnd()
    {
        Rig r;
        r.menu.start();
        QCOMPARE(r.player.take(), QStringList({"Summary 2/1", "Intro", "play A1.wav 0"}));
        // Cut short by a key: still new.
        r.menu.key(QLatin1Char('2'));
        QCOMPARE(r.unread(), QStringList({"A1.wav", "A2.wav"}));
        QCOMPARE(r.player.take(), QStringList({"Intro", "play A2.wav 0"}));
        // Heard to its end: read; the keys are offered.
        r.menu.played(true);
        QCOMPARE(r.unread(), QStringList({"A1.wav"}));
        QCOMPARE(r.player.take(), QStringList({"AfterMessage"}));
        r.menu.key(QLatin1Char('2'));
        QCOMPARE(r.player.take(), QStringList({"Intro", "play M1.wav 0"}));
        r.menu.key(QLatin1Char('2'));
        QCOMPARE(r.player.take(), QStringList({"NoMore"}));
        r.menu.key(QLatin1Char('4'));
        QCOMPARE(r.player.take(), QStringList({"Intro", "play M1.wav 0"}));
        r.menu.key(QLatin1Char('4'));
        r.menu.key(QLatin1Char('1'));
        QCOMPARE(r.player.take(), QStringList({"Intro", "play A2.wav 0", "play A2.wav 0"}));
        // A message the line cannot play is said so, and the keys are offered.
        r.player.unplayable = "M1.wav";
        r.menu.key(QLatin1Char('2'));
        QCOMPARE(r.player.take(), QStringList({"Intro", "CannotPlay", "AfterMessage"}));
    }

    void deleteAndKeepAsNewChangeTheStore()
    {
        Rig r;
        r.menu.start();
        r.menu.played(true); // A1 heard: read
        r.player.take();
        r.menu.key(QLatin1Char('5'));
        QCOMPARE(r.unread(), QStringList({"A2.wav", "A1.wav"}));
        QCOMPARE(r.player.take(), QStringList({"KeptNew", "Intro", "play A2.wav 0"}));
        r.menu.key(QLatin1Char('3'));
        QCOMPARE(r.listed(), QStringList({"A1.wav", "M1.wav"}));
        QCOMPARE(r.player.take(), QStringList({"Deleted", "Intro", "play M1.wav 0"}));
        QCOMPARE(r.menu.order(), QList<qint64>({r.store.messageAt(r.dir.file("A1.wav"))->id,
                                                r.store.messageAt(r.dir.file("M1.wav"))->id}));
    }

    void skipsMoveFiveSecondsWithinTheMessage()
    {
        Rig r;
        r.menu.start();
        r.player.take();
        r.player.position = 2000;
        r.menu.key(QLatin1Char('9'));
        r.player.position = 3000;
        r.menu.key(QLatin1Char('7'));
        QCOMPARE(r.player.take(), QStringList({"play A1.wav 7000", "play A1.wav 0"}));
        // Past the end (20 s): nothing more of it plays.
        r.player.position = 17000;
        r.menu.key(QLatin1Char('9'));
        QCOMPARE(r.player.take(), QStringList({"AfterMessage"}));
        // After the end the skip back counts from the end.
        r.menu.key(QLatin1Char('7'));
        QCOMPARE(r.player.take(), QStringList({"play A1.wav 15000"}));
        r.menu.key(QLatin1Char('8'));
        QCOMPARE(r.player.take(), QStringList({"Help"}));
    }

    void endsByHashOrThirtySecondsWithoutAKey()
    {
        Rig r;
        r.menu.start();
        r.menu.played(false);
        r.player.take();
        r.loop.advance(RemoteMenu::kIdleMs - 100);
        r.menu.key(QLatin1Char('0')); // a key restarts the wait
        r.menu.played(false);
        r.loop.advance(RemoteMenu::kIdleMs - 100);
        QCOMPARE(r.player.take(), QStringList({"Help"}));
        r.loop.advance(200);
        QCOMPARE(r.player.take(), QStringList({"Goodbye"}));
        r.menu.key(QLatin1Char('2')); // too late: nothing
        r.menu.played(false);
        QCOMPARE(r.player.take(), QStringList({"hangup"}));
        QVERIFY(r.menu.isOver());

        Rig h;
        h.menu.start();
        h.menu.key(QLatin1Char('#'));
        h.menu.played(false);
        QCOMPARE(h.player.take().mid(3), QStringList({"Goodbye", "hangup"}));
    }

    void sixRecordsAGreetingThatIsHeardBeforeItIsKept()
    {
        Rig r;
        r.menu.start();
        r.player.take();
        r.menu.key(QLatin1Char('6'));
        r.menu.key(QLatin1Char('#')); // before the recording starts: nothing
        QCOMPARE(r.player.take(), QStringList({"GreetingRecord"}));
        r.menu.played(false);
        r.menu.key(QLatin1Char('3')); // while recording, only # counts
        QCOMPARE(r.listed().size(), 3);
        r.menu.key(QLatin1Char('#'));
        r.menu.key(QLatin1Char('1')); // still being written
        r.menu.greetingRecorded(true);
        r.menu.key(QLatin1Char('1'));
        QCOMPARE(r.player.take(), QStringList({"record", "stop recording", "GreetingReview", "keep", "GreetingKept"}));

        // Any other key after hearing it throws it away; a session that ends while recording
        // throws it away too.
        r.menu.key(QLatin1Char('6'));
        r.menu.played(false);
        r.menu.key(QLatin1Char('#'));
        r.menu.greetingRecorded(true);
        r.menu.key(QLatin1Char('9'));
        QCOMPARE(r.player.take(), QStringList({"GreetingRecord", "record", "stop recording", "GreetingReview", "discard",
                                               "GreetingDiscarded"}));
        r.menu.key(QLatin1Char('6'));
        r.menu.played(false);
        r.loop.advance(RemoteMenu::kIdleMs);
        QCOMPARE(r.player.take(), QStringList({"GreetingRecord", "record", "stop recording", "discard", "Goodbye"}));

        Rig failing;
        failing.player.canRecord = false;
        failing.menu.start();
        failing.menu.key(QLatin1Char('6'));
        failing.menu.played(false);
        QCOMPARE(failing.player.take().mid(3), QStringList({"GreetingRecord", "record", "GreetingDiscarded"}));
    }

    void phrasesReadNumbersDatesAndCallersPerLanguage()
    {
        RemotePhrase summary = RemotePhrase::of(RemotePhrase::Kind::Summary);
        summary.newCount = 2;
        summary.savedCount = 1;
        QCOMPARE(phraseText(summary, SpeechLanguage::English), QString("You have 2 new messages and 1 saved message."));
        QCOMPARE(phraseText(summary, SpeechLanguage::Mandarin), QString("您有两条新留言，一条已保存的留言。"));
        QCOMPARE(phraseText(summary, SpeechLanguage::Cantonese), QString("你有兩個新留言，一個已儲存嘅留言。"));

        RemotePhrase intro = RemotePhrase::of(RemotePhrase::Kind::Intro);
        intro.time = QDateTime(QDate(2026, 12, 25), QTime(15, 7)); // a Friday
        intro.caller = QStringLiteral("5510");
        QCOMPARE(phraseText(intro, SpeechLanguage::English),
                 QString("Message of Friday, December 25, at 3:07 PM. From five five one zero."));
        QCOMPARE(phraseText(intro, SpeechLanguage::Mandarin), QString("十二月二十五日，星期五，下午三点零七分的留言。来电：五五幺零。"));
        QCOMPARE(phraseText(intro, SpeechLanguage::Cantonese), QString("十二月二十五號，星期五，下晝三點零七分嘅留言。來電：五五一零。"));
        intro.callerName = QStringLiteral("ANNA");
        QVERIFY(phraseText(intro, SpeechLanguage::English).endsWith("From ANNA."));
        intro.callerName.clear();
        intro.caller.clear();
        intro.time = QDateTime(QDate(2026, 1, 4), QTime(0, 0));
        QCOMPARE(phraseText(intro, SpeechLanguage::Mandarin), QString("一月四日，星期日，上午十二点整的留言。来电号码不明。"));

        QCOMPARE(chineseNumber(10, SpeechLanguage::Mandarin), QString("十"));
        QCOMPARE(chineseNumber(105, SpeechLanguage::Mandarin), QString("一百零五"));
        QCOMPARE(chineseNumber(2, SpeechLanguage::Mandarin, true), QString("两"));
        QCOMPARE(chineseNumber(2, SpeechLanguage::Mandarin), QString("二"));
        QCOMPARE(speechLanguageFor("2"), SpeechLanguage::Cantonese);
        QCOMPARE(voiceName(SpeechLanguage::Mandarin), QString("cmn"));
    }

    void pinIsKeptOnlyAsItsHash()
    {
        ScratchDir dir;
        SettingsStore settings(dir.file("telvox.ini"), dir.file("settings.txt"));
        using R = remotepin::Result;
        QCOMPARE(remotepin::store(settings, "123"), R::WrongLength);
        QCOMPARE(remotepin::store(settings, "123456789"), R::WrongLength);
        QCOMPARE(remotepin::store(settings, "12a4"), R::NotDigits);
        QVERIFY(remotepin::storedHash(settings).isEmpty());
        QCOMPARE(remotepin::store(settings, " 4711\n"), R::Stored);
        const QByteArray hash = remotepin::storedHash(settings);
        QVERIFY(hash.startsWith("$argon2id$"));
        QVERIFY(!hash.contains("4711"));
        QVERIFY(secrethash::verify(hash, "4711"));
        QVERIFY(!secrethash::verify(hash, "4712"));
        QCOMPARE(remotepin::store(settings, ""), R::Cleared);
        QVERIFY(remotepin::storedHash(settings).isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_RemoteMenu)
#include "tst_RemoteMenu.moc"
