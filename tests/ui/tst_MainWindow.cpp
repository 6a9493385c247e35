// The main window: captions, keys, the commands, the player, the outline, the tray, the
// desktop notifications and the wave browser it opens.
#include "platform/media/TestWave.h"
#include "ui/DesktopNotifications.h"
#include "ui/DesktopShell.h"
#include "ui/HotLabel.h"
#include "ui/MainWindowRig.h"
#include "ui/WavePlayer.h"
#include "ui/WindowOutline.h"
#include "ui/frmAbout.h"
#include "ui/frmBrows.h"

#include <QComboBox>
#include <QDialog>
#include <QDBusConnection>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

using namespace telvox;
using namespace telvox::test;

namespace {

void press(frmMain &w, const char *label)
{
    auto *l = w.findChild<HotLabel *>(QString::fromLatin1(label));
    QVERIFY2(l, label);
    QTest::mouseClick(l, Qt::LeftButton);
}

// A desktop's notification server, on a bus of the test's own.
class NotificationServer final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList received;
    QStringList actions; // of the last notification: key, label, key, label ...
signals:
    void ActionInvoked(uint id, const QString &key);
    void NotificationClosed(uint id, uint reason);
public slots:
    uint Notify(const QString &app, uint, const QString &icon, const QString &summary, const QString &body,
                const QStringList &keysAndLabels, const QVariantMap &hints, int)
    {
        received << QStringList{app, icon, summary, body, QString::number(hints.value("urgency").toInt())}.join('|');
        actions = keysAndLabels;
        return uint(received.size());
    }
};

// The wave browser over a recordings folder "rec" with two recordings, a note and a sub-folder,
// and a recording in the program folder.
struct BrowserRig : MainWindowRig
{
    BrowserRig()
    {
        QDir(dir.path()).mkpath("rec/sub");
        writeTestWave(dir.file("rec/a.wav"), 2000);
        writeTestWave(dir.file("rec/B.WAV"), 1000);
        writeBytes(dir.file("rec/notes.txt"), "x");
        writeTestWave(dir.file("home.wav"), 500);
        for (const char *prompt : {"greeting.wav", "Legal.wav", "blocked.wav", "03.wav"}) // never listed
            writeTestWave(dir.file(prompt), 500);
    }
    std::unique_ptr<frmBrows> open(const QString &saveFile = {})
    {
        if (!saveFile.isEmpty())
            settings.WriteSetting("Config", "SaveFile", dir.file(saveFile));
        return std::make_unique<frmBrows>(frmBrows::Services{*texts, settings, prompts, media, loop, shell, dir.path()});
    }
};

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT
private slots:
    // Every text of the window, its help page and the About window in each language.
    void captionsInEveryLanguage()
    {
        const struct
        {
            int offset;
            const char *exit, *help, *lang, *about, *ok;
        } languages[] = {{0, "Exit", "helpen.htm", "lang=\"en\"", "About Telvox", "Ok"},
                         {1000, "退出", "helpgb.htm", "lang=\"zh-Hans\"", "关于 Telvox", "确定"},
                         {2000, "離開", "helpbig5.htm", "lang=\"zh-Hant\"", "關於 Telvox", "確定"}};
        for (const auto &l : languages) {
            MainWindowRig r(l.offset);
            QCOMPARE(r.child<QLabel>("lblExit")->text(), QString::fromUtf8(l.exit));
            // Every text and tool tip the window shows is one of the language's texts (a tool tip
            // may name the command's key after it); the headings name their lists.
            QSet<QString> language;
            for (int id = 1001; id <= 1999; ++id)
                language.insert(r.table.text(id + l.offset));
            for (QWidget *w : r.window->findChildren<QWidget *>()) {
                const auto *label = qobject_cast<QLabel *>(w);
                const auto *button = qobject_cast<QAbstractButton *>(w);
                for (const QString &text : {label ? label->text() : button ? button->text() : QString(),
                                            w->toolTip().section("  (", 0, 0)})
                    QVERIFY2(text.isEmpty() || language.contains(text), qPrintable(w->objectName() + ": " + text));
            }
            QCOMPARE(r.child<QLabel>("Label3")->text() + "|" + r.child<QLabel>("Label4")->text(),
                     r.table.text(1100 + l.offset) + "|" + r.table.text(1005 + l.offset));
            r.window->cmdHelp_Click(); // the page of the language in the program folder, then About
            QCOMPARE(r.shell.urls.value(0), QUrl::fromLocalFile(r.dir.file(l.help)));
            QFile page(r.dir.file(l.help));
            QVERIFY(page.open(QIODevice::ReadOnly) && page.readAll().contains(l.lang));
            frmAbout about(*r.texts);
            QCOMPARE(about.windowTitle(), QString::fromUtf8(l.about));
            QCOMPARE(about.findChild<QLabel *>("lblVersion")->text(), r.texts->LoadText(1712).arg("2.4.5"));
            QCOMPARE(about.findChild<QPushButton *>("cmdOK")->text(), QString::fromUtf8(l.ok));
            QCOMPARE(about.findChild<QWidget *>("Frame1")->cursor().shape(), Qt::ArrowCursor);
        }
    }

    // The face's colours are on the window's own lists and nowhere else: a dialog opened over
    // the window keeps the desktop's colours and is not run through the style sheet engine.
    void faceColoursStayOnTheWindow()
    {
        MainWindowRig r;
        const auto lists = r.window->findChildren<QListView *>(Qt::FindDirectChildrenOnly);
        QVERIFY(lists.size() >= 3);
        for (QListView *list : lists) {
            const QImage shot = list->grab().toImage();
            QCOMPARE(shot.pixelColor(shot.width() / 2, shot.height() - 4).name(), QStringLiteral("#f3f8fd"));
        }
        QDialog dialog(r.window.get());
        auto *other = new QListWidget(&dialog);
        other->resize(120, 80);
        const QImage shot = other->grab().toImage();
        QVERIFY(shot.pixelColor(60, 70).name() != QStringLiteral("#f3f8fd"));
        QVERIFY(!other->style()->inherits("QStyleSheetStyle"));
        QVERIFY(!dialog.style()->inherits("QStyleSheetStyle"));
    }

    // Every command is reachable from the keyboard, wherever the focus is in the window.
    void everyCommandHasAKey()
    {
        MainWindowRig r;
        r.window->show();
        r.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(r.window.get()));
        QSignalSpy setup(r.window.get(), &frmMain::setupRequested);
        QSignalSpy dial(r.window.get(), &frmMain::dialOutRequested);
        auto *unread = r.child<QListWidget>("lstUnread");
        unread->addItems({"alpha", "delta"});
        unread->setFocus();
        unread->setCurrentRow(0);
        QTest::keyClick(unread, Qt::Key_D, Qt::ControlModifier);
        QTest::keyClick(unread, 'd'); // not taken by the list's type-ahead
        QTest::keyClick(r.window.get(), 'D', Qt::ShiftModifier); // only lower case
        QCOMPARE(dial.size(), 2);
        QCOMPARE(unread->currentRow(), 0); // type-ahead would have gone to "delta"
        QTest::keyClick(unread, Qt::Key_T, Qt::ControlModifier);
        QCOMPARE(setup.size(), 1);
        QTest::keyClick(unread, Qt::Key_F1); // help, then About
        QCOMPARE(r.modal.shown.last(), QString("frmAbout"));
        QVERIFY(r.child<QWidget>("lblDial")->toolTip().endsWith("(Ctrl+D)"));
        // Tab reaches the commands; Space presses the one with the focus.
        auto *setupLabel = r.child<HotLabel>("lblSetup");
        QCOMPARE(setupLabel->focusPolicy(), Qt::StrongFocus);
        setupLabel->setFocus();
        QTest::keyClick(setupLabel, Qt::Key_Space);
        QCOMPARE(setup.size(), 2);
        QTest::keyClick(unread, Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(r.shutdowns, 1);
    }

    // Each label presses its command; a desktop without the program needed says so.
    void eachLabelPressesItsCommand()
    {
        MainWindowRig r;
        r.window->show();
        QSignalSpy setup(r.window.get(), &frmMain::setupRequested);
        QSignalSpy backup(r.window.get(), &frmMain::backupRequested);
        QSignalSpy dial(r.window.get(), &frmMain::dialOutRequested);
        for (const char *label : {"lblSetup", "lblBackup", "lblDial", "lblSpeaker", "lblSearch", "lblSearch", "lblHelp"})
            press(*r.window, label);
        QCOMPARE(setup.size() + backup.size() + dial.size() + r.shell.volumeControls, 4);
        // The browser is made once and shown again; help opens the page, then About.
        QCOMPARE(r.modal.shown, QStringList({"frmBrows", "frmBrows", "frmAbout"}));
        QCOMPARE(r.window->findChildren<frmBrows *>().size(), 1);
        QCOMPARE(r.shell.urls, QList<QUrl>({QUrl::fromLocalFile(r.dir.file("helpen.htm"))}));

        r.shell.hasPrograms = false;
        r.window->cmdHelp_Click();
        r.window->lblSpeaker_Click();
        QCOMPARE(r.prompts.texts(), QStringList({r.texts->LoadText(1708).arg(r.dir.file("helpen.htm")),
                                                 r.texts->LoadText(1709)}));
        press(*r.window, "lblExit");
        QCOMPARE(r.shutdowns, 1);
    }

    // Play, the label rules, pause against the position timer, stop, play from the start; then
    // pause, a click on the bar and playing to the end: the player ends idle, not "playing".
    void playerStateMachine()
    {
        MainWindowRig r;
        r.window->show();
        r.settings.WriteSetting("Config", "SaveFile", r.dir.path());
        QVERIFY(writeTestWave(r.dir.file("A2026-03-02~09-00-00~5551234.wav"), 12700));
        auto *play = r.child<QPushButton>("cmdPlay");
        auto *pause = r.child<QPushButton>("cmdPause");
        auto *bar = r.child<QScrollBar>("HScroll1");
        WavePlayer &player = *r.window->player();
        QSignalSpy heard(r.window.get(), &frmMain::unreadPlayed);
        press(*r.window, "lblPlay"); // no recording chosen: nothing happens
        QVERIFY(play->isEnabled() && !r.media.isOpen());

        r.window->setCurrentRecording("A2026-03-02~09-00-00~5551234.wav", true);
        press(*r.window, "lblPlay");
        QVERIFY(!play->isEnabled() && pause->isEnabled() && r.child<HotLabel>("lblPlay")->isDimmed());
        QCOMPARE(r.child<QLabel>("lblFileName")->text(), QString("A2026-03-02~09-00-00~5551234.wav"));
        QCOMPARE(r.child<QLabel>("lblFileSize")->text(), QString("12s   [198 KBytes]"));
        QCOMPARE(heard.size(), 1);
        r.loop.advance(3000);
        QCOMPARE(bar->value(), 3);
        press(*r.window, "lblPlay"); // playing: the label does nothing, playback goes on
        QCOMPARE(r.mediaSays("status MyMedia position"), QString("3000"));
        QCOMPARE(heard.size(), 1);

        press(*r.window, "lblPause");
        QVERIFY(play->isEnabled() && !pause->isEnabled());
        r.loop.advance(20000); // the position timer leaves a paused player alone
        QCOMPARE(r.mediaSays("status MyMedia mode"), QString("paused"));
        QCOMPARE(bar->value(), 3);
        press(*r.window, "lblStop");
        QVERIFY(play->isEnabled() && pause->isEnabled() && !r.media.isOpen());
        QCOMPARE(bar->value(), 0);
        press(*r.window, "lblPlay"); // after Stop, Play starts from the beginning
        r.loop.advance(500);
        QCOMPARE(r.mediaSays("status MyMedia position"), QString("500"));
        r.loop.advance(13000); // played to the end: the position timer presses Stop
        QVERIFY(play->isEnabled() && pause->isEnabled() && !r.media.isOpen());

        player.cmdPlay_Click();
        r.loop.advance(2000);
        player.cmdPause_Click();
        // The click lands three quarters along the bar, and the bar goes there.
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() * 3 / 4, bar->height() / 2));
        QVERIFY2(qAbs(bar->value() - 10) <= 2, qPrintable(QString::number(bar->value())));
        player.HScroll1_GotFocus();
        player.HScroll1_LostFocus(); // the bar lets go: playback goes on from there
        QCOMPARE(r.mediaSays("status MyMedia mode"), QString("playing"));
        QVERIFY(!play->isEnabled() && !player.isPaused());
        r.loop.advance(8000);
        QVERIFY(player.isIdle() && !r.media.isOpen());
    }

    // The bar's range and steps follow the length (seconds, past 32767 too); a seek through the
    // focus plays on from there once tmPlay gives the focus back.
    void seekingThroughTheFocus()
    {
        const struct
        {
            qint64 ms;
            int maximum, single, page, seekTo;
        } rows[] = {{12700, 13, 1, 1, 10}, {250000, 250, 2, 25, 200}, {10LL * 3600 * 1000, 36000, 360, 3600, 35000}};
        for (const auto &row : rows) {
            MainWindowRig r;
            r.settings.WriteSetting("Config", "SaveFile", r.dir.path());
            QVERIFY(writeTestWave(r.dir.file("M1.wav"), 100, 8000, row.ms));
            r.window->setCurrentRecording("M1.wav", false);
            r.window->player()->cmdPlay_Click();
            auto *bar = r.child<QScrollBar>("HScroll1");
            QCOMPARE(QList<int>({bar->maximum(), bar->singleStep(), bar->pageStep()}),
                     QList<int>({row.maximum, row.single, row.page}));
            r.window->player()->HScroll1_GotFocus();
            QVERIFY(!r.timers.tmMMTIMER->isEnabled());
            bar->setValue(row.seekTo);
            QCOMPARE(r.mediaSays("status MyMedia position"), QString::number(row.seekTo * 1000LL));
            r.loop.advance(1000);
            QVERIFY(!r.timers.tmPlay->isEnabled() && r.timers.tmMMTIMER->isEnabled());
            QCOMPARE(r.mediaSays("status MyMedia mode"), QString("playing"));
            r.loop.advance(2000);
            QCOMPARE(bar->value(), qMin(row.seekTo + 2, row.maximum));
        }
    }

    void recordingsThatCannotBePlayed()
    {
        MainWindowRig r;
        r.settings.WriteSetting("Config", "SaveFile", r.dir.path());
        QVERIFY(writeBytes(r.dir.file("broken.wav"), QByteArray(3000, 'z')));
        QSignalSpy heard(r.window.get(), &frmMain::unreadPlayed);
        for (const char *name : {"gone.wav", "broken.wav"}) {
            r.window->setCurrentRecording(name, true);
            r.window->player()->cmdPlay_Click();
            QVERIFY(r.window->player()->isIdle()); // usable at once for the next recording
        }
        QCOMPARE(r.prompts.texts(), QStringList({"File not found", "This recording cannot be played: broken.wav"}));
        QCOMPARE(r.prompts.shown[0].title, QString("Play wave file"));
        QCOMPARE(r.prompts.shown[0].icon, MessageIcon::Critical);
        QCOMPARE(heard.size(), 0);
    }

    void stopEndsPlayAllAndBrowserPlaybackEndsWithTheMainPlayer()
    {
        MainWindowRig r;
        r.settings.WriteSetting("Config", "SaveFile", r.dir.path());
        QVERIFY(writeTestWave(r.dir.file("one.wav"), 4000) && writeTestWave(r.dir.file("two.wav"), 4000));
        r.modal.answer = [](QDialog &d) {
            auto &browser = static_cast<frmBrows &>(d);
            browser.File1()->setCurrentItem(browser.File1()->findItems("two.wav", Qt::MatchExactly).value(0));
            browser.mmuPlay_Click();
        };
        r.window->cmdBrows_Click(); // the browser plays two.wav and is closed while playing
        QCOMPARE(r.device.file(), r.dir.file("two.wav"));
        QCOMPARE(r.mediaSays("status MyMedia mode"), QString("playing"));
        r.window->setCurrentRecording("one.wav", false);
        r.window->player()->cmdPlay_Click();
        QCOMPARE(r.device.file(), r.dir.file("one.wav"));
        r.timers.timPlayAll->setEnabled(true);
        press(*r.window, "lblStop");
        QVERIFY(!r.timers.timPlayAll->isEnabled() && !r.media.isOpen());
    }

    // The outline at the screen's twips per pixel, and the mouse pointers.
    void outlineScaleAndPointers()
    {
        // 12 twips per pixel (120 dots per inch): x = 10185 is pixel 849 (848.75 rounded).
        const QPolygon at12 = windowOutlinePixels(12, 12);
        QCOMPARE(at12.size(), 67);
        QCOMPARE(at12.boundingRect().bottomRight(), QPoint(849, 610));
        QCOMPARE(windowOutlinePixels(15, 15).boundingRect(), QRect(QPoint(7, 2), QPoint(679, 488)));
        QCOMPARE(windowOutlinePixels(15, 7.5).boundingRect().bottom(), 976); // each direction its own scale
        const QRegion region = windowOutlineRegion(15, 15);
        // the body and the tab at the bottom; the cut corner, below the slant, beside the tab
        for (const QPoint in : {QPoint(340, 240), QPoint(400, 480)})
            QVERIFY(region.contains(in));
        for (const QPoint out : {QPoint(660, 5), QPoint(640, 470), QPoint(100, 480)})
            QVERIFY(!region.contains(out));

        MainWindowRig r;
        const double tpp = twipsPerPixelX(r.window->screen());
        QCOMPARE(r.window->BuildOutline(), windowOutlineRegion(tpp, twipsPerPixelY(r.window->screen())));
        QVERIFY(r.window->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(r.window->width(), qRound(680 * 15.0 / tpp));
        for (const char *arrow : {"Frame4", "lstLastTen", "lstStatus"})
            QCOMPARE(r.child<QWidget>(arrow)->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(r.window->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(r.child<QWidget>("lblSetup")->cursor().shape(), Qt::PointingHandCursor);
    }

    // The icon is in the tray while the window is shown too; minimising hides the window there
    // and only a left click brings it back, the icon staying.
    void trayIconAndHidingToTheTray()
    {
        MainWindowRig r;
        r.window->show();
        QVERIFY(r.tray.shown && r.tray.hasIcon);
        QCOMPARE(r.tray.tip, QString("Telvox"));
        QTest::mouseClick(r.child<HotLabel>("lblMin"), Qt::LeftButton);
        QVERIFY(r.window->isInTray() && !r.window->isVisible() && r.tray.shown);
        for (const TrayClick click : {TrayClick::Right, TrayClick::Double, TrayClick::Middle})
            r.tray.click(click);
        QVERIFY(!r.window->isVisible());
        r.tray.click(TrayClick::Left);
        QVERIFY(r.window->isVisible() && !(r.window->windowState() & Qt::WindowMinimized));
        QVERIFY(!r.window->isInTray() && r.tray.shown);
        r.window->setWindowState(Qt::WindowMinimized); // minimised any other way: the same
        QVERIFY(r.window->isInTray());

        MainWindowRig bare(2000, false); // no tray: stays minimised, says so once
        bare.window->show();
        bare.window->lblMin_Click();
        bare.window->setWindowState(Qt::WindowNoState);
        bare.window->lblMin_Click();
        QVERIFY(!bare.window->isInTray() && !bare.tray.shown);
        QCOMPARE(bare.statusList.lines().size(), 1);
        QVERIFY(bare.statusList.lines()[0].endsWith(bare.table.text(3302)));
    }

    // A notification reaches the desktop's notification service on the session bus, with the
    // information icon; without a service the fallback runs.
    void notificationsGoThroughTheSessionBus()
    {
        QProcess daemon;
        daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
        QVERIFY2(daemon.waitForStarted() && daemon.waitForReadyRead(5000), "dbus-daemon did not start");
        const QByteArray address = daemon.readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address); // before the program first asks for the bus
        QDBusConnection serverBus = QDBusConnection::connectToBus(QString::fromUtf8(address), "notification-server");
        NotificationServer server;
        QVERIFY(serverBus.registerObject("/org/freedesktop/Notifications", &server,
                                         QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        QVERIFY(serverBus.registerService("org.freedesktop.Notifications"));

        QtSystemTray tray;
        tray.notify("Telvox", "New message: A2026-03-02~09-00-00~555.wav");
        QTRY_COMPARE(server.received,
                     QStringList({"Telvox|dialog-information|Telvox|New message: A2026-03-02~09-00-00~555.wav|1"}));

        // With buttons: the server gets keys and labels; a press of one (on this notification,
        // not on another program's) comes back; a closed notification forgets its buttons.
        QStringList chosen;
        tray.notifyWithActions("New message", "Anna Meyer (5551234), 0:21",
                               {{"play", "Play"}, {"read", "Mark read"}}, [&chosen](const QString &key) { chosen << key; });
        QTRY_COMPARE(server.received.size(), 2);
        QCOMPARE(server.actions, QStringList({"play", "Play", "read", "Mark read"}));
        QTest::qWait(100); // the reply with the number has reached the program
        emit server.ActionInvoked(7, "play");
        emit server.ActionInvoked(2, "read");
        QTRY_COMPARE(chosen, QStringList({"read"}));
        emit server.NotificationClosed(2, 2);
        emit server.ActionInvoked(2, "play");
        QTest::qWait(200);
        QCOMPARE(chosen, QStringList({"read"}));

        serverBus.unregisterService("org.freedesktop.Notifications");
        DesktopNotifications notifications;
        bool fellBack = false;
        notifications.send("Telvox", "x", [&fellBack] { fellBack = true; });
        QTRY_VERIFY(fellBack);
        QCOMPARE(server.received.size(), 2);
        QDBusConnection::disconnectFromBus("notification-server");
        daemon.kill();
        daemon.waitForFinished();
    }

    void volumeControlChoice()
    {
        auto only = [](QStringList installed) {
            return [installed](const QString &name) { return installed.contains(name) ? "/usr/bin/" + name : QString(); };
        };
        const QStringList gnomeAndMate{"gnome-control-center", "mate-volume-control"};
        QCOMPARE(volumeControlCommand(only({"pavucontrol", "gnome-control-center"}), "GNOME").program,
                 QString("/usr/bin/pavucontrol"));
        const ProgramCall gnome = volumeControlCommand(only(gnomeAndMate), "ubuntu:GNOME");
        QCOMPARE(gnome.program + " " + gnome.arguments.join(" "), QString("/usr/bin/gnome-control-center sound"));
        QCOMPARE(volumeControlCommand(only(gnomeAndMate), "MATE").program, QString("/usr/bin/mate-volume-control"));
        QCOMPARE(volumeControlCommand(only({"kcmshell5"}), "").arguments, QStringList({"kcm_pulseaudio"}));
        QVERIFY(volumeControlCommand(only({}), "GNOME").program.isEmpty());
    }
    // The browser starts in the recordings folder, else the program folder; each opening shows
    // the folder as it is now, and a folder that cannot be read or went away is left. The
    // filter and the file manager work, and a desktop without one says so.
    void foldersFilterAndFileManager()
    {
        BrowserRig r;
        auto first = r.open();
        QCOMPARE(first->windowTitle(), QString("Browse Wave File"));
        QCOMPARE(first->dirPath(), QDir::cleanPath(r.dir.path()));
        QCOMPARE(itemTexts(first->File1()), QStringList({"home.wav"}));
        // Before a folder is saved the recordings are in waveFiles/, where it starts once there.
        QVERIFY(QDir(r.dir.path()).mkdir("waveFiles"));
        writeTestWave(r.dir.file("waveFiles/A2026-03-02~09-00-00.wav"), 500);
        QCOMPARE(itemTexts(r.open()->File1()), QStringList({"A2026-03-02~09-00-00.wav"}));
        auto b = r.open("rec/");
        QCOMPARE(b->dirPath(), r.dir.file("rec"));
        QCOMPARE(b->filePattern(), QString("*.wav"));
        QCOMPARE(itemTexts(b->File1()), QStringList({"a.wav", "B.WAV"}));
        QCOMPARE(itemTexts(b->Dir1()), QStringList({"..", "sub"}));
        QVERIFY(b->Drive1()->count() >= 1);
        b->setDirPath(r.dir.file("rec/sub"));
        QCOMPARE(b->File1()->count(), 0);
        emit b->Dir1()->itemActivated(b->Dir1()->item(0)); // ".." goes back up
        QCOMPARE(b->dirPath(), r.dir.file("rec"));

        b->show();
        b->hide();
        writeTestWave(r.dir.file("rec/C.wav"), 500); // a new message arrived meanwhile
        QFile::remove(r.dir.file("rec/a.wav"));
        QDir(r.dir.path()).mkpath("rec/newer");
        b->show();
        QCOMPARE(itemTexts(b->File1()), QStringList({"B.WAV", "C.wav"}));
        QVERIFY(itemTexts(b->Dir1()).contains("newer"));
        b->setDirPath(r.dir.file("no such folder"));
        QCOMPARE(b->dirPath(), r.dir.file("rec"));
        QCOMPARE(r.prompts.texts(), QStringList({r.texts->LoadText(1706).arg(r.dir.file("no such folder"))}));
        b->setDirPath(r.dir.file("rec/newer")); // gone by the next opening: back to the recordings
        b->hide();
        QDir(r.dir.file("rec/newer")).removeRecursively();
        b->show();
        QCOMPARE(b->dirPath(), r.dir.file("rec"));

        b->Text1()->setText("  note ");
        b->Command2_Click();
        QCOMPARE(b->filePattern(), QString("*note*"));
        QCOMPARE(itemTexts(b->File1()), QStringList({"notes.txt"}));
        b->Text1()->clear();
        b->Command2_Click(); // "**": everything
        QCOMPARE(itemTexts(b->File1()), QStringList({"B.WAV", "C.wav", "notes.txt"}));

        QCOMPARE(b->findChild<QPushButton *>("Command1")->text(), QString("Show in File Manager"));
        b->Command1_Click();
        QCOMPARE(r.shell.explored, QStringList({r.dir.file("rec")}));
        r.shell.hasPrograms = false;
        b->Command1_Click();
        QCOMPARE(r.prompts.texts().last(), r.texts->LoadText(1707));
    }

    void playFromTheMenuAndDelete()
    {
        BrowserRig r;
        auto b = r.open("rec");
        const auto select = [&b](const char *name) {
            b->File1()->setCurrentItem(b->File1()->findItems(name, Qt::MatchExactly).value(0));
        };
        b->mmuPlay_Click(); // nothing selected
        QVERIFY(!r.media.isOpen());
        select("a.wav");
        b->mmuPlay_Click();
        QCOMPARE(r.device.file(), r.dir.file("rec/a.wav"));
        QCOMPARE(b->findChild<QLabel *>("lblFileSize")->text(), QString("2s  [31 KBytes]"));
        QVERIFY(!b->findChild<QPushButton *>("cmdPlay")->isEnabled());
        r.loop.advance(2500); // played to the end
        QVERIFY(b->player().isIdle());
        select("B.WAV");
        b->mmuDelete_Click();
        QVERIFY(!QFile::exists(r.dir.file("rec/B.WAV")));
        QCOMPARE(itemTexts(b->File1()), QStringList({"a.wav"}));
        b->File1()->setCurrentItem(nullptr);
        b->mmuDelete_Click(); // nothing selected: nothing deleted
        QVERIFY(QFile::exists(r.dir.file("rec/a.wav")));
    }
};

QTEST_MAIN(tst_MainWindow)
#include "tst_MainWindow.moc"
