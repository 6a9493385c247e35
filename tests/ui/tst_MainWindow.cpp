#include "platform/media/TestWave.h"
#include "ui/HotLabel.h"
#include "ui/MainWindowRig.h"
#include "ui/WavePlayer.h"
#include "ui/frmAbout.h"
#include "ui/frmBrows.h"

#include <QListWidget>
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

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT
private slots:
    void captionsInEveryLanguage_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<QString>("exit");
        QTest::addColumn<QString>("name");
        QTest::newRow("English") << 0 << "Exit" << "Name:";
        QTest::newRow("Simplified Chinese") << 1000 << "退出" << "文件名：";
        QTest::newRow("Traditional Chinese") << 2000 << "離開" << "檔名：";
    }
    void captionsInEveryLanguage()
    {
        QFETCH(int, offset);
        QFETCH(QString, exit);
        QFETCH(QString, name);
        MainWindowRig r(offset);
        QCOMPARE(r.child<QLabel>("lblExit")->text(), exit);
        QCOMPARE(r.child<QLabel>("Label1")->text(), name);
        // Every text of the window's table comes from the string table of the language.
        const struct
        {
            const char *control;
            int id;
            bool toolTip;
        } rows[] = {{"lblSetup", 1009, false}, {"lblLog", 1010, false},     {"lblBackup", 1011, false},
                    {"lblSearch", 1017, true}, {"lblDial", 1083, true},     {"lblHelp", 1013, false},
                    {"cmdPlay", 1015, true},   {"cmdStop", 1016, true},     {"Label2", 1057, false},
                    {"lblLegal", 1114, false}, {"lblRingCount", 1120, false}, {"lstLastTen", 1005, true},
                    {"lstUnread", 1100, true}, {"lstStatus", 1006, true}};
        for (const auto &row : rows) {
            auto *w = r.window->findChild<QWidget *>(QString::fromLatin1(row.control));
            QVERIFY2(w, row.control);
            const QString expected = r.table.text(row.id + offset);
            QVERIFY(!expected.isEmpty());
            const QString shown = row.toolTip ? w->toolTip()
                : qobject_cast<QLabel *>(w) ? qobject_cast<QLabel *>(w)->text()
                                             : qobject_cast<QPushButton *>(w)->text();
            // A command's tool tip may name its key after the text.
            QVERIFY2(shown == expected || (row.toolTip && shown.startsWith(expected + "  (")), row.control);
        }
        // The face's own texts are in the language too.
        QVERIFY(r.child<QWidget>("lblMin")->toolTip().startsWith(r.table.text(1718 + offset)));
        QVERIFY(r.child<QWidget>("lblSpeaker")->toolTip().startsWith(r.table.text(1719 + offset)));
        QVERIFY(r.child<QLabel>("Label3")->text().startsWith(r.table.text(1715 + offset)));
        QCOMPARE(r.child<QLabel>("lblSeek")->text(), r.table.text(1717 + offset));
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
        QCOMPARE(dial.size(), 1);
        QTest::keyClick(unread, 'd'); // not taken by the list's type-ahead
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

    void eachLabelPressesItsCommand()
    {
        MainWindowRig r;
        r.window->show();
        QSignalSpy setup(r.window.get(), &frmMain::setupRequested);
        QSignalSpy backup(r.window.get(), &frmMain::backupRequested);
        QSignalSpy dial(r.window.get(), &frmMain::dialOutRequested);
        press(*r.window, "lblSetup");
        press(*r.window, "lblBackup");
        press(*r.window, "lblDial");
        QCOMPARE(setup.size(), 1);
        QCOMPARE(backup.size(), 1);
        QCOMPARE(dial.size(), 1);

        press(*r.window, "lblSpeaker");
        QCOMPARE(r.shell.volumeControls, 1);

        press(*r.window, "lblSearch");
        press(*r.window, "lblSearch"); // the browser is made once and shown again
        QCOMPARE(r.modal.shown, QStringList({"frmBrows", "frmBrows"}));
        QCOMPARE(r.window->findChildren<frmBrows *>().size(), 1);

        // Help: the page of the language in the program folder, opened by the desktop, then About.
        press(*r.window, "lblHelp");
        QCOMPARE(r.shell.urls.size(), 1);
        QCOMPARE(r.shell.urls[0], QUrl::fromLocalFile(r.dir.file("helpen.htm")));
        QVERIFY(QFile::exists(r.dir.file("helpen.htm")));
        QCOMPARE(r.modal.shown.last(), QString("frmAbout"));

        press(*r.window, "lblExit");
        QCOMPARE(r.shutdowns, 1);
    }

    void helpFollowsTheLanguage_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("lang");
        QTest::newRow("English") << 0 << "helpen.htm" << "lang=\"en\"";
        QTest::newRow("GB") << 1000 << "helpgb.htm" << "lang=\"zh-Hans\"";
        QTest::newRow("BIG5") << 2000 << "helpbig5.htm" << "lang=\"zh-Hant\"";
    }
    void helpFollowsTheLanguage()
    {
        QFETCH(int, offset);
        QFETCH(QString, file);
        QFETCH(QString, lang);
        MainWindowRig r(offset);
        r.window->cmdHelp_Click();
        QCOMPARE(r.shell.urls.value(0), QUrl::fromLocalFile(r.dir.file(file)));
        QFile page(r.dir.file(file));
        QVERIFY(page.open(QIODevice::ReadOnly));
        QVERIFY(page.readAll().contains(lang.toUtf8()));
    }

    void aDesktopWithoutTheProgramIsReported()
    {
        MainWindowRig r;
        r.shell.hasPrograms = false;
        r.window->cmdHelp_Click();
        QCOMPARE(r.prompts.shown.size(), 1);
        QCOMPARE(r.prompts.shown[0].text, r.texts->LoadText(1708).arg(r.dir.file("helpen.htm")));
        r.window->lblSpeaker_Click();
        QCOMPARE(r.prompts.shown.size(), 2);
        QCOMPARE(r.prompts.shown[1].text, r.texts->LoadText(1709));
    }

    void aboutWindowSpeaksTheInterfaceLanguage()
    {
        StringTable table;
        table.loadBuiltIn();
        const Texts english(table, 0);
        frmAbout about(english);
        QCOMPARE(about.windowTitle(), QString("About Telvox"));
        QCOMPARE(about.findChild<QLabel *>("lblVersion")->text(), QString("Version: 2.4.5"));
        QCOMPARE(about.findChild<QWidget *>("Frame1")->cursor().shape(), Qt::ArrowCursor);
        const Texts chinese(table, 2000);
        frmAbout big5(chinese);
        QCOMPARE(big5.windowTitle(), QString("關於 Telvox"));
        QCOMPARE(big5.findChild<QPushButton *>("cmdOK")->text(), QString("確定"));
    }

    // Play, the label rules, pause against the position timer, stop, and play from the start.
    void playerStateMachine()
    {
        MainWindowRig r;
        r.window->show();
        r.settings.WriteSetting("Config", "SaveFile", r.dir.path());
        QVERIFY(writeTestWave(r.dir.file("A2026-03-02~09-00-00~5551234.wav"), 12700));
        auto *play = r.child<QPushButton>("cmdPlay");
        auto *pause = r.child<QPushButton>("cmdPause");
        auto *bar = r.child<QScrollBar>("HScroll1");
        QSignalSpy heard(r.window.get(), &frmMain::unreadPlayed);

        press(*r.window, "lblPlay"); // no recording chosen: nothing happens
        QVERIFY(play->isEnabled() && !r.media.isOpen());

        r.window->setCurrentRecording("A2026-03-02~09-00-00~5551234.wav", true);
        press(*r.window, "lblPlay");
        QVERIFY(!play->isEnabled() && pause->isEnabled());
        QVERIFY(r.child<HotLabel>("lblPlay")->isDimmed());
        QCOMPARE(r.child<QLabel>("lblFileName")->text(), QString("A2026-03-02~09-00-00~5551234.wav"));
        QCOMPARE(r.child<QLabel>("lblFileSize")->text(), QString("12s   [198 KBytes]"));
        QCOMPARE(bar->maximum(), 13);
        QCOMPARE(bar->singleStep(), 1);
        QCOMPARE(bar->pageStep(), 1);
        QCOMPARE(heard.size(), 1);

        r.loop.advance(3000);
        QCOMPARE(bar->value(), 3);
        press(*r.window, "lblPlay"); // playing: the label does nothing, playback goes on
        QCOMPARE(r.mediaSays("status MyMedia position"), QString("3000"));
        QCOMPARE(heard.size(), 1);

        press(*r.window, "lblPause");
        QVERIFY(play->isEnabled() && !pause->isEnabled());
        r.loop.advance(20000); // the position timer leaves a paused player alone
        QVERIFY(r.media.isOpen());
        QCOMPARE(r.mediaSays("status MyMedia mode"), QString("paused"));
        QCOMPARE(bar->value(), 3);

        press(*r.window, "lblStop");
        QVERIFY(play->isEnabled() && pause->isEnabled() && !r.media.isOpen());
        QCOMPARE(bar->value(), 0);
        press(*r.window, "lblPlay"); // after Stop, Play starts from the beginning
        r.loop.advance(500);
        QCOMPARE(r.mediaSays("status MyMedia position"), QString("500"));

        // Played to the end: the position timer presses Stop.
        r.loop.advance(13000);
        QVERIFY(play->isEnabled() && pause->isEnabled() && !r.media.isOpen());
    }

    void seekingThroughTheFocus()
    {
        MainWindowRig r;
        r.settings.WriteSetting("Config", "SaveFile", r.dir.path());
        QVERIFY(writeTestWave(r.dir.file("M1.wav"), 100, 8000, 250000));
        r.window->setCurrentRecording("M1.wav", false);
        r.window->player()->cmdPlay_Click();
        auto *bar = r.child<QScrollBar>("HScroll1");
        QCOMPARE(bar->maximum(), 250);
        QCOMPARE(bar->singleStep(), 2);
        QCOMPARE(bar->pageStep(), 25);

        r.window->player()->HScroll1_GotFocus();
        QVERIFY(!r.timers.tmMMTIMER->isEnabled());
        bar->setValue(200);
        QCOMPARE(r.mediaSays("status MyMedia position"), QString("200000"));
        r.loop.advance(1000); // tmPlay gives the focus back and playback goes on from there
        QVERIFY(!r.timers.tmPlay->isEnabled());
        QVERIFY(r.timers.tmMMTIMER->isEnabled());
        QCOMPARE(r.mediaSays("status MyMedia mode"), QString("playing"));
        r.loop.advance(2000);
        QCOMPARE(bar->value(), 202);
        QVERIFY(!r.child<QPushButton>("cmdPlay")->isEnabled());
    }

    // Pause, a click on the bar, and playing to the end: the player ends idle, not "playing".
    void aSeekAfterPausePlaysOnAndEndsIdle()
    {
        MainWindowRig r;
        r.window->show();
        r.settings.WriteSetting("Config", "SaveFile", r.dir.path());
        QVERIFY(writeTestWave(r.dir.file("M2.wav"), 100, 8000, 20000));
        r.window->setCurrentRecording("M2.wav", false);
        auto *play = r.child<QPushButton>("cmdPlay");
        auto *pause = r.child<QPushButton>("cmdPause");
        auto *bar = r.child<QScrollBar>("HScroll1");
        r.window->player()->cmdPlay_Click();
        r.loop.advance(2000);
        r.window->player()->cmdPause_Click();
        QVERIFY(play->isEnabled() && !pause->isEnabled());

        // The click lands three quarters along the bar, and the bar goes there.
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() * 3 / 4, bar->height() / 2));
        QVERIFY2(qAbs(bar->value() - 15) <= 2, qPrintable(QString::number(bar->value())));
        r.window->player()->HScroll1_GotFocus();
        r.window->player()->HScroll1_LostFocus(); // the bar lets go: playback goes on from there
        QCOMPARE(r.mediaSays("status MyMedia mode"), QString("playing"));
        QVERIFY(!play->isEnabled() && pause->isEnabled());
        QVERIFY(!r.window->player()->isPaused());

        r.loop.advance(8000); // to the end
        QVERIFY(r.window->player()->isIdle());
        QVERIFY(!r.media.isOpen());
    }

    void tenHourRecordingSeeksPastNineHours()
    {
        MainWindowRig r;
        r.settings.WriteSetting("Config", "SaveFile", r.dir.path());
        QVERIFY(writeTestWave(r.dir.file("A-long.wav"), 100, 8000, 10LL * 3600 * 1000));
        r.window->setCurrentRecording("A-long.wav", false);
        r.window->player()->cmdPlay_Click();
        auto *bar = r.child<QScrollBar>("HScroll1");
        QCOMPARE(bar->maximum(), 36000);
        r.window->player()->HScroll1_GotFocus();
        bar->setValue(35000); // past 32767 seconds
        QCOMPARE(r.mediaSays("status MyMedia position"), QString("35000000"));
    }

    void recordingsThatCannotBePlayed()
    {
        MainWindowRig r;
        r.settings.WriteSetting("Config", "SaveFile", r.dir.path());
        r.window->setCurrentRecording("gone.wav", true);
        QSignalSpy heard(r.window.get(), &frmMain::unreadPlayed);
        r.window->player()->cmdPlay_Click();
        QCOMPARE(r.prompts.shown.size(), 1);
        QCOMPARE(r.prompts.shown[0].text, QString("File not found"));
        QCOMPARE(r.prompts.shown[0].title, QString("Play wave file"));
        QCOMPARE(r.prompts.shown[0].icon, MessageIcon::Critical);

        QVERIFY(writeBytes(r.dir.file("broken.wav"), QByteArray(3000, 'z')));
        r.window->setCurrentRecording("broken.wav", true);
        r.window->player()->cmdPlay_Click();
        QCOMPARE(r.prompts.shown.size(), 2);
        QCOMPARE(r.prompts.shown[1].text, QString("This recording cannot be played: broken.wav"));
        QVERIFY(r.window->player()->isIdle()); // usable at once for the next recording
        QCOMPARE(heard.size(), 0);
    }

    void stopEndsPlayAllAndBrowserPlaybackEndsWithTheMainPlayer()
    {
        MainWindowRig r;
        r.settings.WriteSetting("Config", "SaveFile", r.dir.path());
        QVERIFY(writeTestWave(r.dir.file("one.wav"), 4000));
        QVERIFY(writeTestWave(r.dir.file("two.wav"), 4000));
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
        QVERIFY(!r.timers.timPlayAll->isEnabled());
        QVERIFY(!r.media.isOpen());
    }

    void theDialKeyIsLowerCaseOnly()
    {
        MainWindowRig r;
        QSignalSpy dial(r.window.get(), &frmMain::dialOutRequested);
        QTest::keyClick(r.window.get(), 'D', Qt::ShiftModifier);
        QCOMPARE(dial.size(), 0);
        QTest::keyClick(r.window.get(), 'd');
        QCOMPARE(dial.size(), 1);
    }
};

QTEST_MAIN(tst_MainWindow)
#include "tst_MainWindow.moc"
