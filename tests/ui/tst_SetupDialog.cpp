// The setup dialog, the first start that leads to it, and the prompt recorders it opens.
// Over 600 lines because the three share one fixture; the prompt recorders (the last four
// tests) are the part to move into a file of their own when it grows again.
#include "audio/PromptRecording.h"
#include "core/PrivateFiles.h"
#include "core/SecretHash.h"
#include "core/Texts.h"
#include "platform/media/MediaControl.h"
#include "platform/media/SoundRecorder.h"
#include "platform/media/VirtualMediaDevice.h"
#include "platform/media/WaveFileInfo.h"
#include "platform/telephony/sip/SipSettingsPage.h"
#include "records/RingSchedule.h"
#include "records/StatusLog.h"
#include "support/AudioHarness.h"
#include "support/Files.h"
#include "support/ProgramFolder.h"
#include "support/Unprivileged.h"
#include "telephony/RemotePin.h"
#include "telephony/TelephonyCore.h"
#include "ui/AppRig.h"
#include "ui/frmDialOut.h"
#include "ui/frmGreeting.h"
#include "ui/frmMain.h"
#include "ui/frmSetRings.h"
#include "ui/frmSetup.h"
#include "ui/frmTip.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QComboBox>
#include <QGroupBox>
#include <QWheelEvent>
#include <QDir>
#include <QFileInfo>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace telvox;
using namespace telvox::test;

namespace {

void loseFocus(QWidget *w)
{
    QFocusEvent out(QEvent::FocusOut);
    QCoreApplication::sendEvent(w, &out);
}

struct Rig : ProgramFolder
{
    Rig()
    {
        for (int n = 0; n < 4; ++n)
            devices.txtLine[std::size_t(n)] = QString("Voice Line %1  [28]").arg(n);
        window = std::make_unique<frmSetup>(frmSetup::Services{
            texts, settings, prompts, modal, folders, autostart, dir.path(), "/opt/telvox/telvox",
            [this] { return devices; }, {"Virtual exchange", "Virtual exchange", "", ""},
            [this](const QString &prompt, bool capture) { recorded << prompt + (capture ? "/capture" : "/media"); },
            [this](const PublishedSetup &p) { published = p; }, [this] { ++ended; }, false, {sip::sipSettingsPage()}});
    }
    void save(const QString &folder) // saves with line 0 and the folder
    {
        window->Check1(0)->setChecked(true);
        window->txtSaveFile()->setText(folder);
        window->cmdSave_Click();
    }
    QString said(int id) const { return texts.LoadText(id); }
    ScriptedModal modal;
    FakeFolders folders;
    AutostartEntry autostart{dir.file("autostart")};
    DeviceClassification devices;
    std::optional<PublishedSetup> published;
    QStringList recorded;
    int ended = 0;
    std::unique_ptr<frmSetup> window;
};

// The user's locale for the life of the object.
struct LocaleAs
{
    explicit LocaleAs(const QString &name)
        : saved(qgetenv("LC_ALL"))
    {
        qputenv("LC_ALL", name.toLatin1());
    }
    ~LocaleAs() { qputenv("LC_ALL", saved); }
    QByteArray saved;
};

// The capture recorder on a harness whose default input is a paced test microphone.
struct RecorderRig
{
    explicit RecorderRig(bool microphone = true)
    {
        if (microphone) {
            h.paced.addInput(-1, [](std::span<std::int16_t> out) { std::fill(out.begin(), out.end(), 1234); });
            h.devices.addProvider(h.paced, true);
        }
    }
    frmGreeting::Services services(ProgramCall desktop = {})
    {
        return {*h.engine, h.lines, h.timers, h.loop, media, h.prompts, h.texts, h.dir.path(), desktop,
                [this](const ProgramCall &call) {
                    launched << call.program;
                    return true;
                }};
    }
    Harness h;
    VirtualMediaDevice device{h.loop};
    MediaControl media{device};
    QStringList launched;
};

} // namespace

class tst_SetupDialog : public QObject
{
    Q_OBJECT
private slots:
    void loadingClassifiesDevicesAndPublishes()
    {
        Rig r;
        r.devices.enabled[1] = false;
        r.devices.txtLine[1] = "  [20 Line does not support voice]Data Modem";
        for (const char *key : {"Line1", "Line3", "WaveFileFormat", "PopCallId", "ActionMan"})
            r.settings.WriteSetting("Config", key, "1");
        r.window->Form_Load();
        QVERIFY(!r.window->isVisible());
        QVERIFY(!r.window->Check1(1)->isEnabled() && !r.window->Check1(1)->isChecked());
        QCOMPARE(r.settings.ReadSetting("Config", "Line1"), QString("0")); // never opened
        QVERIFY(r.window->Check1(3)->isChecked());
        QCOMPARE(r.window->txtLine(1)->text(), r.devices.txtLine[1]);
        QCOMPARE(r.window->txtSaveFile()->text(), r.dir.path() + "/waveFiles/");
        QVERIFY(r.window->Option2(1)->isChecked() && r.window->Option1(0)->isChecked());
        QVERIFY(r.published && r.published->popCallId && r.published->actionMan && !r.published->minOnStart);
        QCOMPARE(r.published->outputFormat, 1);
        QCOMPARE(r.published->txtRings, QString("8"));
    }

    // At most two analog lines: a third is unticked with a reason and forgets its timing.
    void atMostTwoLines()
    {
        Rig r;
        r.window->Form_Load();
        r.settings.WriteSetting("Line2", "Param4", "9100");
        for (int n : {0, 1, 2})
            r.window->Check1(n)->setChecked(true);
        loseFocus(r.window->Check1(2));
        QVERIFY(!r.window->Check1(2)->isChecked() && r.window->Check1(0)->isChecked() && r.window->Check1(1)->isChecked());
        QCOMPARE(r.settings.ReadSetting("Line2", "Param4"), QString("6500"));
        QCOMPARE(r.settings.ReadSetting("Line2", "Calls"), QString("50"));
        QVERIFY(r.settings.ReadSetting("Line0", "Calls").isEmpty()); // ticked lines keep theirs
        QCOMPARE(r.prompts.texts(), QStringList({r.said(1702)}));

        // Lines whose audio is data (SIP, the virtual exchange) may all four record at once.
        r.window->setLinesAtOnce(4);
        for (int n : {0, 1, 2, 3}) {
            r.window->Check1(n)->setChecked(true);
            loseFocus(r.window->Check1(n));
        }
        for (int n : {0, 1, 2, 3})
            QVERIFY(r.window->Check1(n)->isChecked());
        QCOMPARE(r.prompts.texts().size(), 1);
    }

    // What the user types: Enter opens nothing, the ring count takes digits only and may not be
    // empty, the silence level is clamped on leaving the field.
    void typingIsValidated()
    {
        Rig r;
        r.window->Form_Load();
        r.window->show();
        for (QLineEdit *field : {r.window->txtRings(), r.window->txtSaveFile(), r.window->txtSilenceLevel()}) {
            field->setFocus();
            QTest::keyClick(field, Qt::Key_Return);
            QTest::keyClick(field, Qt::Key_Enter);
        }
        QVERIFY(r.modal.shown.isEmpty() && r.window->isVisible());
        r.window->txtRings()->clear();
        QTest::keyClicks(r.window->txtRings(), "a5b");
        QCOMPARE(r.window->txtRings()->text(), QString("5"));
        r.window->txtRings()->clear();
        r.window->cmdSave()->click();
        QCOMPARE(r.prompts.shown.value(0).text, r.said(1701));
        QVERIFY(r.settings.ReadSetting("Config", "SaveFile").isEmpty()); // nothing was saved
        QCOMPARE(r.ended, 0);
        for (const auto &[typed, kept] :
             {std::pair{"7", "20"}, {"20", "20"}, {"900", "500"}, {"500", "500"}, {"abc", "20"}, {"250", "250"}}) {
            r.window->txtSilenceLevel()->setText(typed);
            loseFocus(r.window->txtSilenceLevel());
            QCOMPARE(r.window->txtSilenceLevel()->text(), QString(kept));
        }

        // Turning the wheel over a choice while scrolling the window leaves it alone; once the
        // choice has the focus, the wheel changes it.
        auto *line = r.window->findChild<QGroupBox *>("frameSip")->findChild<QComboBox *>();
        const auto turn = [](QWidget *w) {
            QWheelEvent wheel(QPointF(5, 5), w->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(w, &wheel);
        };
        QApplication::setActiveWindow(r.window.get());
        r.window->txtRings()->setFocus();
        turn(line);
        QCOMPARE(line->currentIndex(), 0);
        line->setFocus();
        QVERIFY(line->hasFocus());
        turn(line);
        QCOMPARE(line->currentIndex(), 1);
    }

    void saveJournalsEveryValueCreatesTheFolderAndEnds()
    {
        Rig r;
        r.window->Form_Load();
        r.window->chkStartUp()->setChecked(true);
        const QString folder = r.dir.file("a/b c/rec");
        r.save(folder);
        QVERIFY(QFileInfo(folder).isDir());
        QByteArray expected = "Config@Line0@1\r\nConfig@Line1@0\r\nConfig@Line2@0\r\nConfig@Line3@0\r\nConfig@SaveFile@"
                              + folder.toUtf8() + "/\r\nConfig@Rings@8\r\nConfig@Language@0\r\nConfig@WaveFileFormat@0\r\n";
        for (int n = 0; n < 4; ++n)
            expected += "Modem@Line" + QByteArray::number(n) + "@Voice Line " + QByteArray::number(n) + "  [28]\r\n";
        expected += "Config@PopCallID@0\r\nConfig@MinOnStart@0\r\nConfig@ActionMan@0\r\nConfig@AutoStart@1\r\n"
                    "Config@Silence@0\r\nConfig@SilenceLevel@100\r\nConfig@SilenceD@5\r\nConfig@FBS@0\r\n";
        QCOMPARE(readAll(r.dir.file("settings.txt")), expected);
        QCOMPARE(r.autostart.program(), QString("/opt/telvox/telvox"));
        QCOMPARE(r.prompts.texts(), QStringList({r.said(1081)}));
        QCOMPARE(r.ended, 1);
        QVERIFY(!r.window->isFormLoaded());
    }

    // No folder: no line is said, the lines alone are saved. A folder under a plain file or one
    // that takes no files is said and nothing is saved.
    void saveWithoutAUsableFolder()
    {
        Rig r;
        r.window->Form_Load();
        r.window->txtSaveFile()->clear();
        // No line ticked: asked first; "No" goes back to the boxes with nothing saved.
        r.prompts.answers.push_back(MessageResult::No);
        r.window->cmdSave_Click();
        QCOMPARE(r.prompts.shown.value(0).buttons, MessageButtons::YesNo);
        QVERIFY(readAll(r.dir.file("settings.txt")).isEmpty());
        r.window->cmdSave_Click();
        QCOMPARE(readAll(r.dir.file("settings.txt")),
                 QByteArray("Config@Line0@0\r\nConfig@Line1@0\r\nConfig@Line2@0\r\nConfig@Line3@0\r\n"));
        const QString noLine = r.said(1078) + "\n\n" + r.said(1871);
        QCOMPARE(r.prompts.texts(), QStringList({noLine, noLine, r.said(1080)}));
        QVERIFY(QFile(r.dir.file("plain")).open(QIODevice::WriteOnly));
        r.save(r.dir.file("plain/rec/"));
        QCOMPARE(r.prompts.shown.last().text, r.said(1501) + r.dir.file("plain/rec/"));
        Unprivileged user;
        if (user.effective()) {
            QVERIFY(QDir().mkpath(r.dir.file("locked")));
            QVERIFY(QFile::setPermissions(r.dir.file("locked"), QFile::ReadOwner | QFile::ExeOwner));
            r.save(r.dir.file("locked/"));
            QFile::setPermissions(r.dir.file("locked"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QCOMPARE(r.prompts.shown.last().text, QString("recordings cannot be written to %1: %2")
                                                      .arg(r.dir.file("locked/"), systemReason(EACCES)));
        }
        QVERIFY(r.settings.ReadSetting("Config", "SaveFile").isEmpty());
        QCOMPARE(r.ended, 0);
    }

    // The PIN for calling in: too short is said and nothing is saved; a good one is kept only
    // as its hash, outside settings.txt; an empty field keeps the PIN there is.
    void remotePinIsKeptAsItsHash()
    {
        Rig r;
        r.window->Form_Load();
        auto *pin = r.window->findChild<QLineEdit *>("txtRemotePin");
        QCOMPARE(pin->placeholderText(), r.said(1518));
        pin->setText("471");
        r.save(r.dir.file("rec"));
        QCOMPARE(r.prompts.texts(), QStringList({r.said(1517)}));
        QVERIFY(readAll(r.dir.file("settings.txt")).isEmpty());
        pin->setText("4711");
        r.save(r.dir.file("rec"));
        const QByteArray hash = remotepin::storedHash(r.settings);
        QVERIFY(secrethash::verify(hash, "4711"));
        QVERIFY(!readAll(r.dir.file("settings.txt")).contains("4711"));
        QCOMPARE(r.ended, 1);
        r.window->Form_Load();
        QCOMPARE(pin->placeholderText(), r.said(1519));
        r.save(r.dir.file("rec"));
        QCOMPARE(remotepin::storedHash(r.settings), hash);
    }

    void folderPickerRecordersAndRingRules()
    {
        Rig r;
        r.window->Form_Load();
        const QString before = r.window->txtSaveFile()->text();
        r.window->Command6_Click();
        QCOMPARE(r.window->txtSaveFile()->text(), before); // cancelled
        r.folders.answer = r.dir.file("chosen") + QChar(0) + "junk";
        r.window->Command6_Click();
        QCOMPARE(r.window->txtSaveFile()->text(), r.dir.file("chosen"));
        QCOMPARE(r.folders.titles[0], "Please select your folder: |" + before);
        for (const char *name : {"Command1", "cmdRecLegal", "Command2", "Command5", "cmdRings"})
            r.window->findChild<QPushButton *>(name)->click();
        QCOMPARE(r.recorded, QStringList({"Greeting.wav/capture", "legal.wav/capture", "01.wav/media", "04.wav/media"}));
        QCOMPARE(r.modal.shown, QStringList({"frmSetRings"}));
    }

    // In the program: the setup is the main window's and names each line's backend, its values
    // reach the call flow, and saving it ends the program, which starts itself again once;
    // leaving without saving starts nothing.
    void programRestartsOnlyAfterSaving()
    {
        for (const bool saving : {true, false}) {
            ScratchDir home;
            presetSettings(home.path(), {{"Config/Language", "0"}, {"Config/SaveFile", home.path() + "/rec/"},
                                         {"Config/Rings", "3"}, {"Config/MinOnStart", "1"}});
            AppRig i(home.path());
            i.app.settings().WriteSetting("SIP", "Line0Listen", saving ? "" : "127.0.0.1:0");
            i.app.Main();
            i.loop.advance(2500);
            // A later start shows no notice; MinOnStart puts the window in the tray.
            QVERIFY(i.app.isLoaded() && i.modal.shown.isEmpty());
            QVERIFY(i.app.mainWindow()->isInTray() && !i.app.mainWindow()->isVisible());
            QCOMPARE(i.tray.tip, QString("Telvox"));
            QCOMPARE(i.app.telephony().setupOptions().txtRings, QString("3"));
            i.modal.answer = [saving](QDialog &d) { // four lines on the virtual exchange, or one SIP line
                if (auto *setup = qobject_cast<frmSetup *>(&d)) {
                    QCOMPARE(setup->lblService(0)->text() + "|" + setup->lblService(1)->text(),
                             QString(saving ? "Virtual exchange|Virtual exchange" : "SIP line|"));
                    if (saving)
                        setup->cmdSave()->click();
                }
            };
            emit i.app.mainWindow()->backupRequested();
            emit i.app.mainWindow()->setupRequested();
            QCOMPARE(i.modal.shown, QStringList({"frmBackup", "frmSetup"}));
            if (saving) {
                QCOMPARE(i.prompts.shown.last().text, i.app.texts().LoadText(1873)); // it starts again
                QVERIFY(!i.app.statusLog().isChannelOpen());
            }
            i.app.shutdown();
            QCOMPARE(i.ends, saving ? QStringList({"restart", "exit"}) : QStringList({"exit"}));
            QCOMPARE(i.exitCode, 0);
        }
    }
    // Exit ends the program and the notice comes back next time; closing it after Agree is not
    // agreeing either.
    void refusingTheNotice()
    {
        ScratchDir home;
        for (const bool agreeFirst : {false, true}) {
            AppRig i(home.path());
            i.modal.answer = [agreeFirst](QDialog &d) {
                auto &tip = static_cast<frmTip &>(d);
                agreeFirst ? tip.cmdNextTip()->click() : tip.cmdOK()->click(); // then closed
            };
            i.app.Main();
            i.loop.advance(2500); // the splash window first
            QCOMPARE(i.modal.shown, QStringList({"frmTip"}));
            QVERIFY(i.app.firstRunRefused() && !i.app.isLoaded());
            QCOMPARE(i.exitCode, 0);
            QCOMPARE(i.setupOpened, 0);
            QVERIFY(!i.app.mainWindow()->isVisible());
            QVERIFY(i.app.settings().ReadSetting("Config", "SaveFile").isEmpty());
        }
    }

    // The ring rules read as words; Delete removes the chosen one from the file. The rule
    // editor opens with the typing in its first field.
    void ringRulesInWordsAndTheEditorsFocus()
    {
        ProgramFolder f;
        const QString rings = f.dir.file("Rings.txt");
        QVERIFY(writeBytes(rings, "6,00:00:00-23:59:00,1,2\r\n2,08:30:00-17:00:00,2,3,4,5,6\r\n"));
        frmSetRings list(rings, f.prompts, f.texts);
        QCOMPARE(list.lstRingEntry()->item(0)->text(), QString("Rings To Answer: 6   00:00 - 23:59   SUN MON"));
        QCOMPARE(list.lstRingEntry()->item(1)->text(),
                 QString("Rings To Answer: 2   08:30 - 17:00   MON TUE WED THU FRI"));
        list.lstRingEntry()->setCurrentRow(0);
        list.cmdDeleteEntry_Click();
        QCOMPARE(readRingRuleLines(rings), QStringList({"2,08:30:00-17:00:00,2,3,4,5,6"}));

        frmSetTime editor(rings, f.prompts, f.texts);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        QCOMPARE(editor.focusWidget(), editor.Text(1));
    }

    // Enter agrees; the focus then rests on OK, which a second Enter presses.
    void noticeAnsweredFromTheKeyboard()
    {
        ProgramFolder f;
        frmTip tip(f.texts);
        tip.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tip));
        QCOMPARE(tip.focusWidget(), tip.cmdNextTip());
        QTest::keyClick(tip.focusWidget(), Qt::Key_Return);
        QVERIFY(!tip.cmdNextTip()->isEnabled());
        QCOMPARE(tip.focusWidget(), tip.cmdOK());
        QTest::keyClick(tip.focusWidget(), Qt::Key_Return);
        QCOMPARE(tip.result(), int(QDialog::Accepted));
    }

    void firstStartSpeaksTheLanguageOfTheLocale()
    {
        const struct
        {
            const char *locale, *setting, *exit;
        } rows[] = {{"zh_CN.UTF-8", "1", "退出"}, {"zh_SG.UTF-8", "1", "退出"}, {"zh_TW.UTF-8", "2", "離開"},
                    {"zh_HK.UTF-8", "2", "離開"}, {"zh_MO", "2", "離開"},        {"en_GB.UTF-8", "0", "Exit"},
                    {"de_DE.UTF-8", "0", "Exit"}, {"C.UTF-8", "0", "Exit"}};
        for (const auto &row : rows) {
            const LocaleAs as(row.locale);
            ScratchDir home;
            AppRig i(home.path());
            QString shown;
            i.modal.answer = [&](QDialog &d) { shown = static_cast<frmTip &>(d).cmdOK()->text(); };
            i.app.Main();
            QCOMPARE(shown, QString::fromUtf8(row.exit));
            QCOMPARE(i.app.settings().ReadSetting("Config", "Language"), QString(row.setting));
        }
    }

    void firstStartAgreedGoesOnToTheSetup()
    {
        const LocaleAs as("zh_CN.UTF-8");
        ScratchDir home;
        AppRig i(home.path());
        QStringList seen;
        i.modal.answer = [&](QDialog &d) {
            auto &tip = static_cast<frmTip &>(d);
            seen << tip.cmdOK()->text() + "|" + tip.cmdNextTip()->text() << tip.lblTipText()->text();
            tip.cmdNextTip()->click();
            seen << tip.lblTipText()->text() + (tip.cmdNextTip()->isEnabled() ? "" : "|off") << tip.cmdOK()->text();
            tip.cmdOK()->click();
        };
        QCOMPARE(i.app.Main(), TelvoxApplication::StartResult::Running);
        const Texts &t = i.app.texts();
        QCOMPARE(seen, QStringList({"退出|同意", t.LoadText(1054) + "\r\n" + t.LoadText(1059),
                                    t.LoadText(1051) + "\r\n" + t.LoadText(1052) + "\r\n" + t.LoadText(1053) + "|off",
                                    "确定"}));
        QCOMPARE(i.setupOpened, 1);
        QVERIFY(i.app.isLoaded() && i.app.mainWindow()->isVisible());
        QCOMPARE(i.exitCode, -1);
        // No splash window on a first start; it journals its language and the lines' device
        // names and writes the default prompts.
        QVERIFY(i.app.isFirstStart() && !i.app.splashShown());
        QCOMPARE(i.app.mainWindow()->findChild<QPushButton *>("cmdExit")->text(), QString("退出"));
        QCOMPARE(readAll(home.file("settings.txt")), "Config@Language@1\r\n" + virtualLineNamesJournal());
        QVERIFY(QFile::exists(home.file("greeting.wav")) && QFile::exists(home.file("legal.wav")));
    }

    // The first setup shows the line in use. Left with Escape, the recordings go to waveFiles/
    // (not beside the prompts), the line answers, and a dialled call in the try-out is answered
    // audibly, kept as an "O" file and followed by the dialler.
    void firstSetupLeftWithEscapeStillAnswersAndRecords()
    {
        ScratchDir home;
        AppRig i(home.path());
        i.app.setFirstSetupHandler({}); // the real setup
        QStringList seen;
        i.modal.answer = [&seen](QDialog &d) {
            if (auto *tip = qobject_cast<frmTip *>(&d)) {
                tip->cmdNextTip()->click();
                tip->cmdOK()->click();
            } else if (auto *setup = qobject_cast<frmSetup *>(&d)) {
                for (int n = 0; n < 4; ++n)
                    seen << (setup->Check1(n)->isChecked() ? "ticked" : "-");
                // The backends' own pages come from the program's registry, whichever carries the lines.
                seen << (setup->findChild<QGroupBox *>("frameSip") ? "SIP page" : "no SIP page");
            }
        };
        QCOMPARE(i.app.Main(), TelvoxApplication::StartResult::Running);
        QCOMPARE(i.modal.shown, QStringList({"frmTip", "frmSetup"}));
        QCOMPARE(seen, QStringList({"ticked", "-", "-", "-", "SIP page"}));
        QVERIFY(i.app.isLoaded() && i.app.settings().ReadSetting("Config", "SaveFile").isEmpty());
        QVERIFY(i.app.telephony().lineTable()[0].hLine != 0);
        const QString recordings = home.file("waveFiles") + "/";
        QCOMPARE(i.app.loadedState().recordingFolder, recordings);
        QVERIFY(!i.app.statusList().lines().join('|').contains(i.app.texts().LoadText(1872)));
        // The virtual exchange's window is offered in the tray's menu and the status list's.
        auto *exchange = i.app.mainWindow()->findChild<QAction *>("mmuVirtualExchange");
        QVERIFY(exchange && exchange->isVisible() && i.tray.menu->actions().contains(exchange));
        QVERIFY(i.app.mainWindow()->findChild<QMenu *>("mmuLog")->actions().contains(exchange));
        exchange->trigger();
        const QWidgetList tops = QApplication::topLevelWidgets();
        QVERIFY(std::any_of(tops.begin(), tops.end(),
                            [](QWidget *w) { return w->objectName() == "frmVirtualExchange" && w->isVisible(); }));

        QStringList states;
        i.modal.answer = [&](QDialog &d) {
            auto &dialler = static_cast<frmDialOut &>(d);
            const auto state = [&dialler] { return dialler.findChild<QLabel *>("lblCallState")->text(); };
            states << state();
            dialler.txtDialOut()->setText("5551234");
            dialler.cmdDial()->click();
            i.loop.advance(3000);
            states << state();
            i.loop.advance(15000); // the called party answered after eight seconds of ring-back
            states << state();
            dialler.cmdDrop()->click();
            i.loop.advance(5000);
            states << state();
            dialler.cmdExit()->click();
        };
        i.app.showDialOut();
        const Texts &t = i.app.texts();
        QCOMPARE(states, QStringList({"", t.LoadText(1895).arg("5551234"), t.LoadText(1896), t.LoadText(1897)}));
        const QStringList made = QDir(recordings).entryList({"O*~5551234.wav"}, QDir::Files);
        QCOMPARE(made.size(), 1);
        QVERIFY(QFileInfo(recordings + made[0]).size() > 16044);
        QVERIFY(QDir(home.path()).entryList({"O*.wav"}, QDir::Files).isEmpty());
        i.app.shutdown();
    }

    // Saved without any line, the program says at its next start that calls go unanswered.
    void noLineInUseIsSaid()
    {
        ScratchDir home;
        presetSettings(home.path(), {{"Config/Language", "0"}, {"Config/SaveFile", home.path() + "/rec/"},
                                     {"Config/Line0", "0"}});
        AppRig i(home.path());
        i.app.Main();
        i.loop.advance(2600);
        QVERIFY(i.app.isLoaded());
        QVERIFY(i.app.statusList().lines().join('|').contains(i.app.texts().LoadText(1872)));
        i.app.shutdown();
    }

    // A prompt shorter than 4956 bytes is not written; longer ones are copied in 5120-byte
    // blocks behind a wave header, replacing an older, longer prompt.
    void promptFileSizesAndBlocks()
    {
        const QList<std::pair<int, QList<qint64>>> rows{
            {4955, {}}, {4956, {4956}}, {5119, {5119}}, {10240, {5120, 5120}}, {12000, {5120, 5120, 1760}}};
        for (const auto &[working, blocks] : rows) {
            ScratchDir dir;
            QByteArray samples(working, '\0');
            for (int i = 0; i < working; ++i)
                samples[i] = char(i * 7);
            const QByteArray old(30000, 'o');
            QVERIFY(writeBytes(dir.file("tvxt3"), samples) && writeBytes(dir.file("Greeting.wav"), old));
            const PromptWrite result = writePromptRecording(dir.file("tvxt3"), dir.file("Greeting.wav"));
            QCOMPARE(result.written, !blocks.isEmpty());
            QCOMPARE(result.blocks, blocks);
            QCOMPARE(readAll(dir.file("Greeting.wav")),
                     blocks.isEmpty() ? old : waveHeader(OutputFormat::Pcm, std::uint32_t(working)) + samples);
        }
    }

    // The legal notice is captured under the capture name "Greeting.wav" and written one
    // tick of Timer1 after Stop, into the program folder's existing "legal.wav".
    void captureRecorderWritesTheLegalNotice()
    {
        RecorderRig r;
        QVERIFY(writeBytes(r.h.dir.file("LEGAL.WAV"), "old"));
        frmGreeting w(r.services(), "legal.wav");
        QCOMPARE(w.targetPath(), r.h.dir.file("LEGAL.WAV"));
        QVERIFY(w.Label2()->text().endsWith("LEGAL.WAV"));
        QVERIFY(!w.Command1()->isEnabled() && w.Command1()->toolTip() == r.h.texts.LoadText(1502));
        w.cmdRecord()->click();
        QVERIFY(!w.cmdRecord()->isEnabled() && !w.cmdPlay()->isEnabled());
        QCOMPARE(r.h.engine->captureName(3), QString("Greeting.wav"));
        QVERIFY(!r.h.timers.timWriteFile[3].isEnabled());
        // The window says what it records, how long so far and how loud (1234 is -28.5 dBFS).
        QVERIFY(w.windowTitle().endsWith(r.h.texts.LoadText(1915)));
        r.h.loop.advance(2500);
        QCOMPARE(w.lblElapsed()->text(), QString("0:02"));
        QCOMPARE(w.barLevel()->value(), 32); // 60 dB above the floor, less 28.5
        w.cmdStop()->click();
        QVERIFY(w.cmdRecord()->isEnabled() && w.cmdPlay()->isEnabled());
        r.h.loop.advance(999);
        QCOMPARE(readAll(w.targetPath()), QByteArray("old"));
        r.h.loop.advance(1);
        QVERIFY(!w.Timer1().isEnabled());
        const QByteArray file = readAll(w.targetPath());
        const QByteArray working = readAll(r.h.engine->workingFile(3));
        QVERIFY(working.size() >= 2 * 16000);
        QCOMPARE(file, waveHeader(OutputFormat::Pcm, std::uint32_t(working.size())) + working);
        QCOMPARE(std::int16_t(quint8(file[44]) | quint8(file[45]) << 8), std::int16_t(1234));
        w.cmdPlay()->click();
        QVERIFY(w.isPlaying() && !w.cmdRecord()->isEnabled());
        QCOMPARE(r.device.file(), w.targetPath());
        w.cmdStop()->click();
        QVERIFY(!r.media.isOpen());
    }

    // No microphone and no file are said; the desktop's recorder is the one found.
    void absentMicrophoneAndMissingFileAreReported()
    {
        RecorderRig r(false);
        frmGreeting w(r.services({"/usr/bin/gnome-sound-recorder", {}}), "Greeting.wav");
        w.cmdRecord()->click();
        QVERIFY(w.cmdRecord()->isEnabled() && w.cmdPlay()->isEnabled());
        QCOMPARE(r.h.lines[3].recState, 0);
        w.cmdPlay()->click();
        QCOMPARE(r.h.prompts.texts(), QStringList({r.h.texts.LoadText(1504), r.h.texts.LoadText(1002)}));
        QCOMPARE(r.h.prompts.shown[1].title, r.h.texts.LoadText(1003));
        QVERIFY(!w.isPlaying());
        w.Command1()->click();
        QCOMPARE(r.launched, QStringList({"/usr/bin/gnome-sound-recorder"}));
        const auto found = [](const QString &name) { return name == "audacity" ? "/usr/bin/" + name : QString(); };
        QCOMPARE(soundRecorderCommand(found).program, QString("/usr/bin/audacity"));
        QVERIFY(soundRecorderCommand([](const QString &) { return QString(); }).program.isEmpty());
    }

    void mediaRecorderSavesElevenKilohertzPrompts()
    {
        RecorderRig r(false);
        VirtualSoundRecorder recorder{r.h.loop};
        r.media.setRecorder(&recorder);
        frmGreeting1 w({r.media, r.h.prompts, r.h.texts, r.h.dir.path()}, "03.wav");
        w.cmdRecord()->click();
        QVERIFY(w.isRecording() && !w.cmdPlay()->isEnabled());
        r.h.loop.advance(2000);
        w.cmdStop()->click();
        const WaveFileInfo info = readWaveFileInfo(r.h.dir.file("03.wav"));
        QCOMPARE(QList<qint64>({info.samplesPerSec, info.channels, info.bitsPerSample, info.lengthMs()}),
                 QList<qint64>({11025, 1, 16, 2000}));
        w.cmdPlay()->click();
        QCOMPARE(r.device.file(), r.h.dir.file("03.wav"));
        QVERIFY(!w.cmdRecord()->isEnabled());
        w.cmdStop()->click();
        recorder.setInputPresent(false);
        w.cmdRecord()->click();
        QVERIFY(!w.isRecording() && w.cmdRecord()->isEnabled());
        QCOMPARE(r.h.prompts.shown.last().text, r.h.texts.LoadText(1504));
        QCOMPARE(readWaveFileInfo(r.h.dir.file("03.wav")).lengthMs(), qint64(2000)); // kept
    }
};

QTEST_MAIN(tst_SetupDialog)
#include "tst_SetupDialog.moc"
