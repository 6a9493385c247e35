// The two recording lists on the main window: what the user sees and does with them.
#include "audio/RecordingFile.h"
#include "platform/media/TestWave.h"
#include "platform/shell/MailClient.h"
#include "records/MessageLists.h"
#include "telephony/PhoneBookTable.h"
#include "ui/MainWindowRig.h"
#include "ui/MessageColumns.h"
#include "ui/MessageListsBinder.h"
#include "ui/WavePlayer.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QTest>

#include <tuple>

using namespace telvox;
using namespace telvox::test;

namespace {

class Mail final : public MailClient
{
public:
    int composeWithAttachment(const QString &subject, const QString &) override
    {
        subjects << subject;
        return result;
    }
    QStringList subjects;
    int result = 0; // 3: no mail program took it
};

struct Lists : MainWindowRig
{
    explicit Lists(bool programTexts = false, int languageOffset = 0)
        : MainWindowRig(languageOffset)
        , store(dir.file(MessageStore::defaultFileName()))
        , lists(store)
        , binder({lists, *window, *timers.timPlayAll, prompts, statusList, mail, dir.path() + "/",
                  programTexts ? texts.get() : nullptr, dir.file("PhoneBook.txt")})
    {
        // The recordings are in the program folder, saved as the recording folder.
        settings.WriteSetting("Config", "SaveFile", dir.path() + "/");
    }
    QString record(const QString &name, int ms = 1000)
    {
        writeTestWave(dir.file(name), ms);
        lists.addRecording(dir.path(), name);
        return name;
    }
    QStringList column(const char *list, int role = Qt::DisplayRole) const
    {
        return itemTexts(child<QListWidget>(list), role);
    }
    void click(const char *list, int row, bool twice = false)
    {
        auto *w = child<QListWidget>(list);
        const QPoint at = w->visualItemRect(w->item(row)).center();
        QTest::mouseClick(w->viewport(), Qt::LeftButton, {}, at);
        if (twice) // a double-click is a click, then a press the system reports as a double-click
            QTest::mouseDClick(w->viewport(), Qt::LeftButton, {}, at);
    }
    QString shownName() const { return child<QLabel>("lblFileName")->text(); }
    QAction *action(const char *name) const { return window->findChild<QAction *>(QString::fromLatin1(name)); }

    MessageStore store;
    MessageLists lists;
    Mail mail;
    MessageListsBinder binder;
};

} // namespace

class tst_RecordingLists : public QObject
{
    Q_OBJECT
private slots:
    // The current recording follows the lists and the clicks; "Name:" stays on the one playing.
    void listsShowTheRecordingsAndTheCurrentOne()
    {
        Lists l;
        l.record("M2026-03-02~09-05-00.wav", 5000);
        l.record("A2026-03-02~09-00-00~555.wav");
        QCOMPARE(l.column("lstUnread"), QStringList({"A2026-03-02~09-00-00~555.wav"}));
        QCOMPARE(l.column("lstLastTen"), QStringList({"M2026-03-02~09-05-00.wav"}));
        QCOMPARE(l.shownName(), QString("A2026-03-02~09-00-00~555.wav")); // the unread one ends up current
        l.click("lstLastTen", 0);
        QCOMPARE(l.shownName(), QString("M2026-03-02~09-05-00.wav"));
        QVERIFY(!l.lists.currentFromUnread());
        l.window->player()->cmdPlay_Click();
        l.click("lstUnread", 0);
        QCOMPARE(l.shownName(), QString("M2026-03-02~09-05-00.wav"));
        l.window->player()->cmdStop_Click();
        l.click("lstUnread", 0);
        QCOMPARE(l.shownName(), QString("A2026-03-02~09-00-00~555.wav"));
    }

    // Beside each file name: the time stamp, the length from the wave header and the caller's
    // phonebook name (else the number); a file gone or not a wave file has no length. An edit
    // of the phonebook shows at once.
    void columnsTellWhatAMessageIs()
    {
        Lists l;
        QVERIFY(phonebook::rewrite(l.dir.file("PhoneBook.txt"), {"Alice", "Bob"}, {"555", "777"}));
        l.record("A2026-03-02~09-00-00~555.wav", 65000);
        l.record("A2026-03-02~09-10-00~123.wav", 2500);
        l.record("M2026-03-02~09-05-00.wav", 3000);
        l.record("O2026-03-04~17-45-30~777.wav", 1000);
        QFile::remove(l.dir.file("A2026-03-02~09-10-00~123.wav"));
        QVERIFY(writeBytes(l.dir.file("A2026-03-05~08-00-00~555.wav"), "RIFF not a wave"));
        QVERIFY(l.lists.addRecording(l.dir.path(), "A2026-03-05~08-00-00~555.wav"));
        QCOMPARE(l.column("lstUnread", kWhenRole), QStringList({"2026-03-02 09:00", "2026-03-02 09:10", "2026-03-05 08:00"}));
        QCOMPARE(l.column("lstUnread", kLengthRole), QStringList({"1:05", "", ""}));
        QCOMPARE(l.column("lstUnread", kCallerRole), QStringList({"Alice", "123", "Alice"}));
        QCOMPARE(l.column("lstLastTen", kCallerRole), QStringList({"", "Bob"}));
        QCOMPARE(l.column("lstLastTen", kLengthRole), QStringList({"0:03", "0:01"}));
        QVERIFY(phonebook::rewrite(l.dir.file("PhoneBook.txt"), {"Alice Wu", "Bob", "Carl"}, {"555", "777", "123"}));
        QTRY_COMPARE(l.column("lstUnread", kCallerRole), QStringList({"Alice Wu", "Carl", "Alice Wu"}));

        // Titled columns above the items; the rows are as wide as the columns together.
        auto *unread = l.child<QListWidget>("lstUnread");
        auto *header = unread->findChild<QHeaderView *>("messageColumns");
        QVERIFY(header && header->count() == 4);
        QCOMPARE(header->model()->headerData(2, Qt::Horizontal).toString(), QString("Caller"));
        QVERIFY(header->geometry().bottom() < unread->viewport()->geometry().top());
        QCOMPARE(unread->visualItemRect(unread->item(0)).width(), header->length());
        // A TrueSpeech recording: the length comes from its own byte rate (1067 bytes a second).
        QVERIFY(writeBytes(l.dir.file("M2026-03-08~08-00-00~555.wav"),
                           waveHeader(OutputFormat::TrueSpeech, 1067 * 4) + QByteArray(1067 * 4, '\0')));
        QCOMPARE(messageFacts(l.dir.path(), "M2026-03-08~08-00-00~555.wav", {}).length, QString("0:04"));
        // A folder named like a recording gives no length either, and never blocks.
        QVERIFY(QDir(l.dir.path()).mkdir("M2026-03-07~08-00-00.wav"));
        QCOMPARE(messageFacts(l.dir.path(), "M2026-03-07~08-00-00.wav", {}).length, QString());
    }

    // A new message's notification names the caller and the length in the window's language;
    // its buttons play the message or mark it read, and do nothing once it was handled.
    void notificationSaysWhoCalledAndActs()
    {
        for (const auto &[offset, first, second] :
             {std::tuple{0, "New message: Anna Meyer (5551234), 0:21 [play=Play read=Mark read]",
                         "New message: 777, 0:02 [play=Play read=Mark read]"},
              std::tuple{1000, "新留言: Anna Meyer（5551234），0:21 [play=播放 read=标为已听]",
                         "新留言: 777，0:02 [play=播放 read=标为已听]"},
              std::tuple{2000, "新留言: Anna Meyer（5551234），0:21 [play=播放 read=標為已聽]",
                         "新留言: 777，0:02 [play=播放 read=標為已聽]"}}) {
            Lists l(true, offset);
            QVERIFY(phonebook::rewrite(l.dir.file("PhoneBook.txt"), {"Anna Meyer"}, {"5551234"}));
            l.record("A2026-03-02~09-00-00~5551234.wav", 21000);
            l.record("A2026-03-02~09-10-00~777.wav", 2000);
            l.record("A2026-03-02~09-20-00.wav", 3000);
            QCOMPARE(l.tray.notices.size(), 3);
            QCOMPARE(l.tray.notices[0], QString::fromUtf8(first));
            QCOMPARE(l.tray.notices[1], QString::fromUtf8(second));
            QVERIFY(l.tray.notices[2].contains(offset == 0 ? "Unknown caller, 0:03" : "0:03"));
        }

        Lists l(true);
        l.record("A2026-03-02~09-00-00~555.wav");
        const auto chooseFirst = l.tray.choose;
        l.record("A2026-03-02~09-10-00~777.wav");
        l.tray.choose("read"); // the second one is heard, not played
        QCOMPARE(l.lists.unreadEntries(), QStringList({"A2026-03-02~09-00-00~555.wav"}));
        QCOMPARE(l.lists.lastTenEntries(), QStringList({"A2026-03-02~09-10-00~777.wav"}));
        QVERIFY(l.device.file().isEmpty());
        l.window->hide();
        chooseFirst("play"); // the window comes forward and plays it
        QVERIFY(l.window->isVisible());
        QCOMPARE(l.device.file(), l.dir.file("A2026-03-02~09-00-00~555.wav"));
        QVERIFY(l.lists.unreadEntries().isEmpty());
        l.tray.choose("read"); // handled already: nothing changes
        QCOMPARE(l.lists.lastTenEntries().size(), 2);
    }

    // Both lists' menus offer to block the caller of the chosen recording; a recording
    // without a number has nobody to block.
    void listMenusBlockTheCaller()
    {
        Lists l(true);
        l.record("M2026-03-02~09-05-00.wav");
        l.record("A2026-03-02~09-00-00~5551234.wav");
        QStringList asked;
        QObject::connect(&l.binder, &MessageListsBinder::blockCallerRequested, [&asked](const QString &n) { asked << n; });
        QAction *fromUnread = l.action("mmuBlockFile1");
        QAction *fromHandled = l.action("mmuBlockFile");
        QVERIFY(fromUnread && fromHandled);
        QCOMPARE(fromUnread->text(), QString("Block this caller"));
        l.click("lstUnread", 0);
        emit l.window->findChild<QMenu *>("mmuFile1")->aboutToShow();
        QVERIFY(fromUnread->isEnabled());
        fromUnread->trigger();
        l.click("lstLastTen", 0);
        emit l.window->findChild<QMenu *>("mmuFile")->aboutToShow();
        QVERIFY(!fromHandled->isEnabled());
        fromHandled->trigger();
        QCOMPARE(asked, QStringList({"5551234"}));
    }

    // Closing hides to the tray (saying so once). Every new message is notified, the window
    // shown or not; the tray counts them, and its menu plays the newest, shows and quits.
    void trayCountsAnnouncesAndQuits()
    {
        Lists l;
        l.window->show();
        l.record("A2026-03-02~09-00-00~555.wav");
        QCOMPARE(l.tray.notices, QStringList({"New message: A2026-03-02~09-00-00~555.wav [play=Play read=Mark read]"}));
        QCOMPARE(l.tray.tip, QString("Telvox: 1 unread messages"));
        l.window->close();
        QVERIFY(l.window->isInTray() && l.tray.shown && !l.window->isVisible());
        QCOMPARE(l.shutdowns, 0);
        QCOMPARE(l.tray.notices.size(), 2);
        QVERIFY(l.tray.notices[1].contains("Ctrl+Q"));
        l.record("A2026-03-02~09-30-00~555.wav");
        QCOMPARE(l.tray.notices.size(), 3);
        QCOMPARE(l.tray.tip, QString("Telvox: 2 unread messages"));

        l.tray.menu->findChild<QAction *>("mmuTrayPlayNewest")->trigger();
        QCOMPARE(l.device.file(), l.dir.file("A2026-03-02~09-30-00~555.wav"));
        QCOMPARE(l.tray.tip, QString("Telvox: 1 unread messages")); // heard
        l.tray.menu->findChild<QAction *>("mmuTrayShow")->trigger();
        QVERIFY(l.window->isVisible());
        l.window->close(); // the hint is not repeated
        QCOMPARE(l.tray.notices.size(), 3);
        QVERIFY(l.tray.messages.isEmpty()); // the warning balloon is the alarms' only
        l.tray.menu->findChild<QAction *>("mmuTrayQuit")->trigger();
        QCOMPARE(l.shutdowns, 1);
    }

    // With the program's texts the menus speak the interface language, and a desktop without
    // a mail program is told so in the program's words.
    void mailToWithoutAMailProgram()
    {
        Lists l(true);
        l.mail.result = 3;
        l.record("A2026-03-02~09-00-00~555.wav", 500);
        QAction *mailTo = l.action("mmumailto");
        QVERIFY(mailTo->isVisible() && mailTo->isEnabled());
        QCOMPARE(mailTo->text(), QString("Mail To..."));
        QCOMPARE(l.action("mmuPlayAll")->text(), QString("Play All"));
        mailTo->trigger();
        QCOMPARE(l.prompts.texts(), QStringList({l.texts->LoadText(1710)}));
    }

    // A double-click plays an unread message, which moves it; Play All plays the unread ones
    // oldest first and stops when none is left; Delete keeps the files.
    void playingMovesAndDeleteKeepsTheFiles()
    {
        Lists l;
        for (const char *name : {"A1.wav", "A2.wav", "A3.wav"})
            l.record(name, 1500);
        l.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(l.window.get()));
        l.click("lstUnread", 0, true);
        l.loop.advance(100);
        QCOMPARE(l.column("lstLastTen"), QStringList({"A1.wav"}));
        QCOMPARE(MessageStore(l.dir.file("messages.db")).messages(MessageStore::List::Recent).at(0).entry, QString("A1.wav"));
        l.action("mmuPlayAll")->trigger();
        l.loop.advance(20000);
        QVERIFY(l.column("lstUnread").isEmpty());
        QCOMPARE(l.column("lstLastTen"), QStringList({"A1.wav", "A2.wav", "A3.wav"}));
        l.loop.advance(4000);
        QVERIFY(!l.timers.timPlayAll->isEnabled()); // stopped on the first idle tick with nothing left
        l.record("A4.wav");
        l.action("mmuDelete1")->trigger();
        l.action("mmuDelete")->trigger();
        QVERIFY(l.column("lstUnread").isEmpty() && l.column("lstLastTen").size() == 2);
        QVERIFY(QFile::exists(l.dir.file("A4.wav")) && QFile::exists(l.dir.file("A3.wav")));
    }

    void addCallerToPhonebookNeedsACallerIdLine()
    {
        Lists l;
        l.statusLog.AddStatus(QString("Line0 Ring..."));
        l.statusLog.AddStatus(QString("CallerID:5551234 Bob"));
        QCOMPARE(l.binder.mmuAddPB_Click(0), QString());
        QCOMPARE(l.binder.mmuAddPB_Click(1), QString("5551234"));
        QCOMPARE(l.prompts.texts(), QStringList({"Plese select a Caller ID entry"}));
        QCOMPARE(l.prompts.shown[0].title, QString("Add Caller ID To Phonebook"));
    }
};

QTEST_MAIN(tst_RecordingLists)
#include "tst_RecordingLists.moc"
