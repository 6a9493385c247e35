#include "core/PrivateFiles.h"
#include "core/Texts.h"
#include "records/StatusLog.h"
#include "support/Files.h"
#include "support/Unprivileged.h"
#include "telephony/TelephonyCore.h"
#include "ui/AppRig.h"
#include "ui/frmMain.h"
#include "ui/frmSetup.h"

#include <QCheckBox>
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
            [this](const PublishedSetup &p) { published = p; }, [this] { ++ended; }});
    }
    void save(const QString &folder) // saves with line 0 and the folder
    {
        window->Check1(0)->setChecked(true);
        window->txtSaveFile()->setText(folder);
        window->cmdSave_Click();
    }
    QString said(int id) const { return texts.LoadText(id); }
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
        for (const char *key : {"Line1", "Line3", "WaveFileFormat", "PopCallId", "ActionMan"})
            r.settings.WriteSetting("Config", key, "1");
        r.window->Form_Load();
        QVERIFY(!r.window->isVisible());
        QVERIFY(!r.window->Check1(1)->isEnabled() && !r.window->Check1(1)->isChecked());
        QCOMPARE(r.settings.ReadSetting("Config", "Line1"), QString("0")); // never opened
        QVERIFY(r.window->Check1(3)->isChecked());
        QCOMPARE(r.window->txtLine(1)->text(), r.devices.txtLine[1]);
        QCOMPARE(r.window->lblService(0)->text(), QString("Virtual exchange"));
        QCOMPARE(r.window->txtSaveFile()->text(), r.dir.path() + "/waveFiles/");
        QVERIFY(r.window->Option2(1)->isChecked() && r.window->Option1(0)->isChecked());
        QVERIFY(r.published && r.published->popCallId && r.published->actionMan && !r.published->minOnStart);
        QCOMPARE(r.published->outputFormat, 1);
        QCOMPARE(r.published->txtRings, QString("8"));
    }

    // At most two lines: a third is unticked with a reason and forgets its timing.
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
        QCOMPARE(r.prompts.shown.size(), 1);
        QCOMPARE(r.prompts.shown.at(0).text, r.said(1702));
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
        QCOMPARE(r.prompts.shown.size(), 1);
        QCOMPARE(r.prompts.shown[0].text, r.said(1081));
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
        r.window->cmdSave_Click();
        QCOMPARE(readAll(r.dir.file("settings.txt")),
                 QByteArray("Config@Line0@0\r\nConfig@Line1@0\r\nConfig@Line2@0\r\nConfig@Line3@0\r\n"));
        QCOMPARE(r.prompts.texts(), QStringList({r.said(1078), r.said(1080)}));
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

    // In the program: the setup is the main window's, its values reach the call flow, and
    // saving it ends the program, which starts itself again once; leaving without saving
    // starts nothing.
    void programRestartsOnlyAfterSaving()
    {
        for (const bool saving : {true, false}) {
            ScratchDir home;
            presetConfig(home.path(), {{"Language", "0"}, {"SaveFile", home.path() + "/rec/"}, {"Rings", "3"},
                                       {"MinOnStart", "1"}});
            AppRig i(home.path());
            i.app.Main();
            i.loop.advance(2500);
            QVERIFY(i.app.isLoaded() && i.app.mainWindow()->isInTray()); // minimised on start
            QCOMPARE(i.app.telephony().setupOptions().txtRings, QString("3"));
            i.modal.answer = [saving](QDialog &d) {
                if (auto *setup = qobject_cast<frmSetup *>(&d); setup && saving)
                    setup->cmdSave()->click();
            };
            emit i.app.mainWindow()->backupRequested();
            emit i.app.mainWindow()->setupRequested();
            QCOMPARE(i.modal.shown, QStringList({"frmBackup", "frmSetup"}));
            if (saving) {
                QCOMPARE(i.prompts.shown.last().text, i.app.texts().LoadText(1081));
                QVERIFY(!i.app.statusLog().isChannelOpen());
            }
            i.app.shutdown();
            QCOMPARE(i.ends, saving ? QStringList({"restart", "exit"}) : QStringList({"exit"}));
        }
    }
};

QTEST_MAIN(tst_SetupDialog)
#include "tst_SetupDialog.moc"
