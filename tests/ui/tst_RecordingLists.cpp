// The two recording lists on the main window: what the user sees and does with them.
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
#include <QPushButton>
#include <QTest>

using namespace telvox;
using namespace telvox::test;

namespace {

class NoMail final : public MailClient
{
public:
    int composeWithAttachment(const QString &subject, const QString &) override
    {
        subjects << subject;
        return 0;
    }
    QStringList subjects;
};

struct Lists : MainWindowRig
{
    Lists()
        : lists(settings)
        , binder({lists, *window, *timers.timPlayAll, prompts, statusList, mail, dir.path() + "/", nullptr,
                 dir.file("PhoneBook.txt")})
    {
    }
    QString record(const QString &name, int ms = 1000)
    {
        writeTestWave(dir.file(name), ms);
        lists.addRecording(dir.path(), name);
        return name;
    }
    QStringList items(const char *list) const
    {
        QStringList out;
        auto *w = child<QListWidget>(list);
        for (int i = 0; i < w->count(); ++i)
            out << w->item(i)->text();
        return out;
    }
    QStringList column(const char *list, int role) const
    {
        QStringList out;
        auto *w = child<QListWidget>(list);
        for (int i = 0; i < w->count(); ++i)
            out << w->item(i)->data(role).toString();
        return out;
    }
    QAction *action(const char *name) const { return window->findChild<QAction *>(QString::fromLatin1(name)); }

    MessageLists lists;
    NoMail mail;
    MessageListsBinder binder;
};

} // namespace

class tst_RecordingLists : public QObject
{
    Q_OBJECT
private slots:
    void listsShowTheRecordingsAndTheCurrentOne()
    {
        Lists l;
        l.record("A2026-03-02~09-00-00~555.wav");
        l.record("M2026-03-02~09-05-00.wav");
        QCOMPARE(l.items("lstUnread"), QStringList({"A2026-03-02~09-00-00~555.wav"}));
        QCOMPARE(l.items("lstLastTen"), QStringList({"M2026-03-02~09-05-00.wav"}));
        // The maintenance selects the last entries; the unread one ends up current.
        QCOMPARE(l.child<QLabel>("lblFileName")->text(), QString("A2026-03-02~09-00-00~555.wav"));
        auto *lastTen = l.child<QListWidget>("lstLastTen");
        QTest::mouseClick(lastTen->viewport(), Qt::LeftButton, {}, lastTen->visualItemRect(lastTen->item(0)).center());
        QCOMPARE(l.child<QLabel>("lblFileName")->text(), QString("M2026-03-02~09-05-00.wav"));
        QVERIFY(!l.lists.currentFromUnread());
        // The mail entry is shown and can be used.
        QVERIFY(l.action("mmumailto") && l.action("mmumailto")->isVisible() && l.action("mmumailto")->isEnabled());
    }

    // Beside each file name: the time stamp, the length from the wave header and the caller's
    // phonebook name (else the number); a file gone or not a wave file has no length.
    void columnsTellWhatAMessageIs()
    {
        Lists l;
        QVERIFY(phonebook::rewrite(l.dir.file("PhoneBook.txt"), {"Alice", "Bob"}, {"555", "777"}));
        l.record("A2026-03-02~09-00-00~555.wav", 65000);
        l.record("A2026-03-02~09-10-00~123.wav", 2500);
        l.record("M2026-03-02~09-05-00.wav", 3000);
        l.record("O2026-03-04~17-45-30~777.wav", 1000);
        QFile::remove(l.dir.file("A2026-03-02~09-10-00~123.wav"));
        QFile broken(l.dir.file("A2026-03-05~08-00-00~555.wav"));
        QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("RIFF not a wave") > 0);
        broken.close();
        QVERIFY(l.lists.addRecording(l.dir.path(), "A2026-03-05~08-00-00~555.wav"));
        l.record("A2026-03-06~08-00-00.wav", 500); // refills the lists

        QCOMPARE(l.items("lstUnread"), QStringList({"A2026-03-02~09-00-00~555.wav", "A2026-03-02~09-10-00~123.wav",
                                                    "A2026-03-05~08-00-00~555.wav", "A2026-03-06~08-00-00.wav"}));
        QCOMPARE(l.column("lstUnread", kWhenRole),
                 QStringList({"2026-03-02 09:00", "2026-03-02 09:10", "2026-03-05 08:00", "2026-03-06 08:00"}));
        QCOMPARE(l.column("lstUnread", kLengthRole), QStringList({"1:05", "", "", "0:00"}));
        QCOMPARE(l.column("lstUnread", kCallerRole), QStringList({"Alice", "123", "Alice", ""}));
        QCOMPARE(l.column("lstLastTen", kCallerRole), QStringList({"", "Bob"}));
        QCOMPARE(l.column("lstLastTen", kLengthRole), QStringList({"0:03", "0:01"}));

        // Titled columns above the items; the rows are as wide as the columns together.
        auto *unread = l.child<QListWidget>("lstUnread");
        auto *header = unread->findChild<QHeaderView *>("messageColumns");
        QVERIFY(header && header->count() == 4);
        QCOMPARE(header->model()->headerData(2, Qt::Horizontal).toString(), QString("Caller"));
        QVERIFY(header->geometry().bottom() < unread->viewport()->geometry().top());
        QCOMPARE(unread->visualItemRect(unread->item(0)).width(), header->length());
        // A TrueSpeech recording: the length comes from its own byte rate.
        {
            QByteArray wave("RIFF\0\0\0\0WAVEfmt ", 16);
            const auto put = [&wave](quint32 v, int bytes) {
                for (int i = 0; i < bytes; ++i)
                    wave.append(char((v >> (8 * i)) & 0xff));
            };
            put(50, 4);
            for (const auto &[v, n] : {std::pair{0x22u, 2}, {1u, 2}, {8000u, 4}, {1067u, 4}, {32u, 2}, {1u, 2}, {32u, 2}})
                put(v, n);
            wave.append(QByteArray(32, '\0'));
            wave.append("data");
            put(1067 * 4, 4);
            wave.append(QByteArray(1067 * 4, '\0'));
            QFile ts(l.dir.file("M2026-03-08~08-00-00~555.wav"));
            QVERIFY(ts.open(QIODevice::WriteOnly) && ts.write(wave) == wave.size());
        }
        QCOMPARE(messageFacts(l.dir.path(), "M2026-03-08~08-00-00~555.wav", {}).length, QString("0:04"));
        // A folder named like a recording gives no length either, and never blocks.
        QVERIFY(QDir(l.dir.path()).mkdir("M2026-03-07~08-00-00.wav"));
        QCOMPARE(messageFacts(l.dir.path(), "M2026-03-07~08-00-00.wav", {}).length, QString());
    }

    void nameStaysOnTheRecordingPlaying()
    {
        Lists l;
        l.record("M2026-03-02~09-05-00.wav", 5000);
        l.record("A2026-03-02~09-00-00~555.wav");
        auto *lastTen = l.child<QListWidget>("lstLastTen");
        auto *unread = l.child<QListWidget>("lstUnread");
        QTest::mouseClick(lastTen->viewport(), Qt::LeftButton, {}, lastTen->visualItemRect(lastTen->item(0)).center());
        l.window->player()->cmdPlay_Click();
        QTest::mouseClick(unread->viewport(), Qt::LeftButton, {}, unread->visualItemRect(unread->item(0)).center());
        QCOMPARE(l.child<QLabel>("lblFileName")->text(), QString("M2026-03-02~09-05-00.wav"));
        l.window->player()->cmdStop_Click();
        QTest::mouseClick(unread->viewport(), Qt::LeftButton, {}, unread->visualItemRect(unread->item(0)).center());
        QCOMPARE(l.child<QLabel>("lblFileName")->text(), QString("A2026-03-02~09-00-00~555.wav"));
    }

    // Closing hides to the tray (saying so once); the tray counts and announces new messages,
    // and its menu plays the newest and quits.
    void trayCountsAnnouncesAndQuits()
    {
        Lists l;
        l.window->show();
        l.window->close();
        QVERIFY(l.window->isInTray() && l.tray.shown && !l.window->isVisible());
        QCOMPARE(l.shutdowns, 0);
        QCOMPARE(l.tray.messages.size(), 1);
        QVERIFY(l.tray.messages[0].contains("Ctrl+Q"));

        l.record("A2026-03-02~09-00-00~555.wav");
        QCOMPARE(l.tray.messages.size(), 2);
        QVERIFY2(l.tray.messages[1].endsWith("A2026-03-02~09-00-00~555.wav"), qPrintable(l.tray.messages.join("|")));
        QCOMPARE(l.tray.tip, QString("Telvox: 1 unread messages"));

        QVERIFY(l.tray.menu);
        l.tray.menu->findChild<QAction *>("mmuTrayPlayNewest")->trigger();
        QCOMPARE(l.device.file(), l.dir.file("A2026-03-02~09-00-00~555.wav"));
        QCOMPARE(l.tray.tip, QString("Telvox")); // heard: none unread

        l.tray.menu->findChild<QAction *>("mmuTrayShow")->trigger();
        QVERIFY(l.window->isVisible());
        l.window->close(); // the hint is not repeated
        QCOMPARE(l.tray.messages.size(), 2);
        l.tray.menu->findChild<QAction *>("mmuTrayQuit")->trigger();
        QCOMPARE(l.shutdowns, 1);
    }

    // With the program's texts the menus speak the interface language, and a desktop without
    // a mail program is told so in the program's words.
    void mailToWithoutAMailProgram()
    {
        MainWindowRig r;
        MessageLists lists(r.settings);
        NoMail mail;
        struct FailingMail final : MailClient
        {
            int composeWithAttachment(const QString &, const QString &) override { return 3; }
        } failing;
        MessageListsBinder binder({lists, *r.window, *r.timers.timPlayAll, r.prompts, r.statusList, failing,
                                   r.dir.path() + "/", r.texts.get()});
        writeTestWave(r.dir.file("A2026-03-02~09-00-00~555.wav"), 500);
        lists.addRecording(r.dir.path(), "A2026-03-02~09-00-00~555.wav");
        auto *mailTo = r.window->findChild<QAction *>("mmumailto");
        QCOMPARE(mailTo->text(), QString("Mail To..."));
        QCOMPARE(r.window->findChild<QAction *>("mmuPlayAll")->text(), QString("Play All"));
        mailTo->trigger();
        QCOMPARE(r.prompts.shown.size(), 1);
        QCOMPARE(r.prompts.shown[0].text, r.texts->LoadText(1710));
        QVERIFY(!r.prompts.shown[0].text.contains("MAPI"));
    }

    void playingAnUnreadMessageMovesIt()
    {
        Lists l;
        l.record("A2026-03-02~09-00-00.wav");
        l.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(l.window.get()));
        auto *unread = l.child<QListWidget>("lstUnread");
        // A double-click is a click, then a second press the system reports as a double-click.
        const QPoint at = unread->visualItemRect(unread->item(0)).center();
        QTest::mouseClick(unread->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(unread->viewport(), Qt::LeftButton, {}, at);
        l.loop.advance(100);
        QVERIFY(l.items("lstUnread").isEmpty());
        QCOMPARE(l.items("lstLastTen"), QStringList({"A2026-03-02~09-00-00.wav"}));
        QCOMPARE(l.settings.ReadSetting("Data", " 0"), QString("A2026-03-02~09-00-00.wav"));
    }

    void playAllPlaysTheUnreadOldestFirst()
    {
        Lists l;
        l.record("A1.wav", 1500);
        l.record("A2.wav", 1500);
        l.record("A3.wav", 1500);
        l.action("mmuPlayAll")->trigger();
        QVERIFY(l.timers.timPlayAll->isEnabled());
        l.loop.advance(2000);
        QCOMPARE(l.items("lstLastTen"), QStringList({"A1.wav"}));
        l.loop.advance(20000);
        QVERIFY(l.items("lstUnread").isEmpty());
        QCOMPARE(l.items("lstLastTen"), QStringList({"A1.wav", "A2.wav", "A3.wav"}));
        l.loop.advance(4000);
        QVERIFY(!l.timers.timPlayAll->isEnabled()); // stopped on the first idle tick with nothing left
    }

    void deleteFromTheMenusKeepsTheFiles()
    {
        Lists l;
        l.record("A1.wav");
        l.record("M1.wav");
        l.action("mmuDelete1")->trigger();
        l.action("mmuDelete")->trigger();
        QVERIFY(l.items("lstUnread").isEmpty() && l.items("lstLastTen").isEmpty());
        QVERIFY(QFile::exists(l.dir.file("A1.wav")) && QFile::exists(l.dir.file("M1.wav")));
    }

    void addCallerToPhonebookNeedsACallerIdLine()
    {
        Lists l;
        l.statusLog.AddStatus(QString("Line0 Ring..."));
        l.statusLog.AddStatus(QString("CallerID:5551234 Bob"));
        QCOMPARE(l.binder.mmuAddPB_Click(0), QString());
        QCOMPARE(l.prompts.shown.size(), 1);
        QCOMPARE(l.prompts.shown[0].text, QString("Plese select a Caller ID entry"));
        QCOMPARE(l.prompts.shown[0].title, QString("Add Caller ID To Phonebook"));
        QCOMPARE(l.binder.mmuAddPB_Click(1), QString("5551234"));
        QCOMPARE(l.prompts.shown.size(), 1);
    }
};

QTEST_MAIN(tst_RecordingLists)
#include "tst_RecordingLists.moc"
