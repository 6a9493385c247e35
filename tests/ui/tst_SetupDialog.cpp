#include "app/TelvoxApplication.h"
#include "core/Settings.h"
#include "core/Texts.h"
#include "core/VirtualEventLoop.h"
#include "platform/media/VirtualMediaDevice.h"
#include "platform/shell/AutostartEntry.h"
#include "platform/shell/FolderPicker.h"
#include "records/StatusLog.h"
#include "telephony/TelephonyCore.h"
#include "core/PrivateFiles.h"
#include "support/Unprivileged.h"
#include "support/FakeShell.h"
#include "support/Files.h"
#include "ui/UiFakes.h"
#include "ui/frmMain.h"
#include "ui/frmSetup.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace telvox;
using namespace telvox::test;

namespace {

class FakeFolders final : public FolderPicker
{
public:
    std::optional<QString> browseForFolder(const QString &title, const QString &startFolder) override
    {
        titles << title + "|" + startFolder;
        return answer;
    }
    std::optional<QString> answer;
    QStringList titles;
};

void loseFocus(QWidget *w)
{
    QFocusEvent out(QEvent::FocusOut);
    QCoreApplication::sendEvent(w, &out);
}

struct Rig
{
    Rig()
    {
        table.loadBuiltIn();
        for (int n = 0; n < 4; ++n)
            devices.txtLine[std::size_t(n)] = QString("Voice Line %1  [28]").arg(n);
        window = std::make_unique<frmSetup>(frmSetup::Services{
            texts, settings, prompts, modal, folders, autostart, dir.path(), "/opt/telvox/telvox",
            [this] { return devices; }, {"Virtual exchange", "Virtual exchange", "", ""},
            [this](const QString &prompt, bool capture) { recorded << prompt + (capture ? "/capture" : "/media"); },
            [this](const PublishedSetup &p) { published = p; },
            [this] { ++ended; }});
    }
    ScratchDir dir;
    StringTable table;
    Texts texts{table, 0};
    SettingsStore settings{dir.file("telvox.ini"), dir.file("settings.txt")};
    ScriptedPrompts prompts;
    ScriptedModal modal;
    FakeFolders folders;
    AutostartEntry autostart{dir.file("autostart")};
    DeviceClassification devices;
    std::optional<PublishedSetup> published;
    QStringList recorded;
    int ended = 0;
    std::unique_ptr<frmSetup> window;
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
        r.settings.WriteSetting("Config", "Line1", "1");
        r.settings.WriteSetting("Config", "Line3", "1");
        r.settings.WriteSetting("Config", "WaveFileFormat", "1");
        r.settings.WriteSetting("Config", "PopCallId", "1");
        r.settings.WriteSetting("Config", "ActionMan", "1");
        r.window->Form_Load();
        QVERIFY(!r.window->isVisible());
        QVERIFY(!r.window->Check1(1)->isEnabled());
        QVERIFY(!r.window->Check1(1)->isChecked());
        QCOMPARE(r.settings.ReadSetting("Config", "Line1"), QString("0")); // never opened
        QVERIFY(r.window->Check1(3)->isChecked());
        QCOMPARE(r.window->txtLine(1)->text(), r.devices.txtLine[1]);
        QCOMPARE(r.window->lblService(0)->text(), QString("Virtual exchange"));
        QCOMPARE(r.window->txtSaveFile()->text(), r.dir.path() + "/waveFiles/");
        QVERIFY(r.window->Option2(1)->isChecked() && r.window->Option1(0)->isChecked());
        QVERIFY(r.published);
        QCOMPARE(r.published->outputFormat, 1);
        QVERIFY(r.published->popCallId && r.published->actionMan && !r.published->minOnStart);
        QCOMPARE(r.published->txtRings, QString("8"));
    }

    void atMostTwoLinesAndAnUntickedLineForgetsItsTiming()
    {
        Rig r;
        r.window->Form_Load();
        r.settings.WriteSetting("Line2", "Param4", "9100");
        r.window->Check1(0)->setChecked(true);
        r.window->Check1(1)->setChecked(true);
        r.window->Check1(2)->setChecked(true);
        loseFocus(r.window->Check1(2));
        QVERIFY(!r.window->Check1(2)->isChecked());
        QVERIFY(r.window->Check1(0)->isChecked() && r.window->Check1(1)->isChecked());
        QCOMPARE(r.settings.ReadSetting("Line2", "Param4"), QString("6500"));
        QCOMPARE(r.settings.ReadSetting("Line2", "Calls"), QString("50"));
        QVERIFY(r.settings.ReadSetting("Line0", "Calls").isEmpty()); // ticked lines keep theirs
        QCOMPARE(r.prompts.shown.size(), 1); // and the user is told why the line was unticked
        QCOMPARE(r.prompts.shown.at(0).text, r.texts.LoadText(1702));
    }

    void enterInAFieldOpensNoOtherWindow()
    {
        Rig r;
        r.window->Form_Load();
        r.window->show();
        for (QLineEdit *field : {r.window->txtRings(), r.window->txtSaveFile(), r.window->txtSilenceLevel()}) {
            field->setFocus();
            QTest::keyClick(field, Qt::Key_Return);
            QTest::keyClick(field, Qt::Key_Enter);
        }
        QVERIFY(r.modal.shown.isEmpty());
        QVERIFY(r.window->isVisible());
        QCOMPARE(r.ended, 0);
    }

    void ringCountTakesOnlyANumberAndAnEmptyOneIsNotSaved()
    {
        Rig r;
        r.window->Form_Load();
        r.window->txtRings()->clear();
        QTest::keyClicks(r.window->txtRings(), "a5b");
        QCOMPARE(r.window->txtRings()->text(), QString("5"));
        r.window->txtRings()->clear();
        r.window->cmdSave()->click();
        QCOMPARE(r.prompts.shown.size(), 1);
        QCOMPARE(r.prompts.shown.at(0).text, r.texts.LoadText(1701));
        QVERIFY(r.settings.ReadSetting("Config", "SaveFile").isEmpty()); // nothing was saved
        QCOMPARE(r.ended, 0);
    }

    void silenceLevelIsClampedOnLeavingTheField()
    {
        Rig r;
        r.window->Form_Load();
        const QList<QPair<QString, QString>> cases{{"7", "20"}, {"900", "500"}, {"abc", "20"}, {"20", "20"},
                                                   {"500", "500"}, {"250", "250"}};
        for (const auto &[typed, kept] : cases) {
            r.window->txtSilenceLevel()->setText(typed);
            loseFocus(r.window->txtSilenceLevel());
            QCOMPARE(r.window->txtSilenceLevel()->text(), kept);
        }
    }

    void saveJournalsEveryValueCreatesTheFolderAndEnds()
    {
        Rig r;
        r.window->Form_Load();
        r.window->Check1(0)->setChecked(true);
        r.window->chkStartUp()->setChecked(true);
        const QString folder = r.dir.file("a/b c/rec");
        r.window->txtSaveFile()->setText(folder);
        r.window->cmdSave_Click();
        QVERIFY(QFileInfo(folder).isDir());
        QByteArray expected = "Config@Line0@1\r\nConfig@Line1@0\r\nConfig@Line2@0\r\nConfig@Line3@0\r\n";
        expected += "Config@SaveFile@" + folder.toUtf8() + "/\r\nConfig@Rings@8\r\nConfig@Language@0\r\n"
                    "Config@WaveFileFormat@0\r\n";
        for (int n = 0; n < 4; ++n)
            expected += "Modem@Line" + QByteArray::number(n) + "@Voice Line " + QByteArray::number(n) + "  [28]\r\n";
        expected += "Config@PopCallID@0\r\nConfig@MinOnStart@0\r\nConfig@ActionMan@0\r\nConfig@AutoStart@1\r\n"
                    "Config@Silence@0\r\nConfig@SilenceLevel@100\r\nConfig@SilenceD@5\r\nConfig@FBS@0\r\n";
        QCOMPARE(readAll(r.dir.file("settings.txt")), expected);
        QCOMPARE(r.autostart.program(), QString("/opt/telvox/telvox"));
        QCOMPARE(r.prompts.shown.size(), 1);
        QCOMPARE(r.prompts.shown[0].text, r.texts.LoadText(1081));
        QCOMPARE(r.ended, 1);
        QVERIFY(!r.window->isFormLoaded());
    }

    void saveWithoutFolderWritesOnlyTheLines()
    {
        Rig r;
        r.window->Form_Load();
        r.window->txtSaveFile()->clear();
        r.window->cmdSave_Click();
        QCOMPARE(readAll(r.dir.file("settings.txt")),
                 QByteArray("Config@Line0@0\r\nConfig@Line1@0\r\nConfig@Line2@0\r\nConfig@Line3@0\r\n"));
        QCOMPARE(r.prompts.shown.size(), 2);
        QCOMPARE(r.prompts.shown[0].text, r.texts.LoadText(1078)); // no line: said, then saved anyway
        QCOMPARE(r.prompts.shown[1].text, r.texts.LoadText(1080));
        QCOMPARE(r.ended, 0);

        // A folder below a plain file can never hold recordings: said, and not saved.
        QVERIFY(QFile(r.dir.file("plain")).open(QIODevice::WriteOnly));
        r.window->Check1(0)->setChecked(true);
        r.window->txtSaveFile()->setText(r.dir.file("plain/rec/"));
        r.window->cmdSave_Click();
        QCOMPARE(r.prompts.shown.last().text, r.texts.LoadText(1501) + r.dir.file("plain/rec/"));
        QVERIFY(r.settings.ReadSetting("Config", "SaveFile").isEmpty());
        QCOMPARE(r.ended, 0);

        // A folder that exists but takes no files: said with the system's reason, not saved.
        Unprivileged user;
        if (!user.effective())
            return;
        QVERIFY(QDir().mkpath(r.dir.file("locked")));
        QVERIFY(QFile::setPermissions(r.dir.file("locked"), QFile::ReadOwner | QFile::ExeOwner));
        r.window->txtSaveFile()->setText(r.dir.file("locked/"));
        r.window->cmdSave_Click();
        QFile::setPermissions(r.dir.file("locked"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(r.prompts.shown.last().text, QString("recordings cannot be written to %1: %2")
                                                  .arg(r.dir.file("locked/"), systemReason(EACCES)));
        QVERIFY(r.settings.ReadSetting("Config", "SaveFile").isEmpty());
        QCOMPARE(r.ended, 0);
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

        for (const char *name : {"Command1", "cmdRecLegal", "Command2", "Command5"})
            r.window->findChild<QPushButton *>(name)->click();
        QCOMPARE(r.recorded, QStringList({"Greeting.wav/capture", "legal.wav/capture", "01.wav/media", "04.wav/media"}));
        r.window->findChild<QPushButton *>("cmdRings")->click();
        QCOMPARE(r.modal.shown, QStringList({"frmSetRings"}));
    }

    // In the program: the setup is the main window's, its values reach the call flow, and
    // saving it ends the program.
    void programShowsTheSetupAndEndsAfterSaving()
    {
        ScratchDir home;
        {
            SettingsStore s(home.file("telvox.ini"), home.file("settings.txt"));
            s.WriteSetting("Config", "Language", "0");
            s.WriteSetting("Config", "SaveFile", home.path() + "/rec/");
            s.WriteSetting("Config", "Rings", "3");
            s.WriteSetting("Config", "MinOnStart", "1");
        }
        VirtualEventLoop loop;
        ScriptedPrompts prompts;
        RecordingPrinter printer;
        VirtualMediaDevice device{loop};
        FakeTray tray{true};
        RecordingShell shell;
        ScriptedModal modal;
        FakeFolders folders;
        AutostartEntry autostart{home.file("autostart")};
        TelvoxApplication::Options o;
        o.mediaDevice = &device;
        o.tray = &tray;
        o.shell = &shell;
        o.modal = &modal;
        o.folders = &folders;
        o.autostart = &autostart;
        TelvoxApplication app(AppPaths::underHome(home.path(), "telvox"), loop, prompts, printer, o);
        int exitCode = -1;
        QStringList ends;
        app.setEndProcessHandler([&](int code) {
            exitCode = code;
            ends << "exit";
        });
        app.setRestartHandler([&] { ends << "restart"; });
        app.Main();
        loop.advance(2500);
        QVERIFY(app.isLoaded());
        QVERIFY(app.mainWindow()->isInTray()); // minimised on start
        QCOMPARE(app.telephony().setupOptions().txtRings, QString("3"));

        modal.answer = [](QDialog &d) {
            if (auto *setup = qobject_cast<frmSetup *>(&d))
                setup->cmdSave()->click();
        };
        emit app.mainWindow()->backupRequested();
        emit app.mainWindow()->setupRequested();
        QCOMPARE(modal.shown, QStringList({"frmBackup", "frmSetup"}));
        QCOMPARE(prompts.shown.last().text, app.texts().LoadText(1081));
        QCOMPARE(exitCode, 0);
        QVERIFY(!app.statusLog().isChannelOpen());
        // After the message the program starts itself again, once, as this run ends.
        QCOMPARE(ends, QStringList({"restart", "exit"}));
        app.shutdown();
        QCOMPARE(ends.count("restart"), 1);
    }

    // Leaving without saving starts nothing again.
    void endingWithoutSavingDoesNotRestart()
    {
        ScratchDir home;
        {
            SettingsStore s(home.file("telvox.ini"), home.file("settings.txt"));
            s.WriteSetting("Config", "Language", "0");
            s.WriteSetting("Config", "SaveFile", home.path() + "/rec/");
        }
        VirtualEventLoop loop;
        ScriptedPrompts prompts;
        RecordingPrinter printer;
        VirtualMediaDevice device{loop};
        FakeTray tray{true};
        RecordingShell shell;
        ScriptedModal modal;
        TelvoxApplication::Options o;
        o.mediaDevice = &device;
        o.tray = &tray;
        o.shell = &shell;
        o.modal = &modal;
        TelvoxApplication app(AppPaths::underHome(home.path(), "telvox"), loop, prompts, printer, o);
        int restarts = 0;
        app.setRestartHandler([&] { ++restarts; });
        app.Main();
        loop.advance(2500);
        emit app.mainWindow()->setupRequested(); // closed unanswered
        app.shutdown();
        QCOMPARE(restarts, 0);
    }
};

QTEST_MAIN(tst_SetupDialog)
#include "tst_SetupDialog.moc"
