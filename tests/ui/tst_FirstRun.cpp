#include "app/TelvoxApplication.h"
#include "core/Settings.h"
#include "core/Texts.h"
#include "core/VirtualEventLoop.h"
#include "platform/media/VirtualMediaDevice.h"
#include "support/FakeShell.h"
#include "ui/UiFakes.h"
#include "ui/frmMain.h"
#include "ui/frmTip.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace telvox;
using namespace telvox::test;

namespace {

struct Instance
{
    explicit Instance(const QString &home)
        : app(AppPaths::underHome(home, "telvox"), loop, prompts, printer, options())
    {
        app.setEndProcessHandler([this](int code) { exitCode = code; });
        app.setFirstSetupHandler([this] { ++setupOpened; });
    }
    TelvoxApplication::Options options()
    {
        TelvoxApplication::Options o;
        o.mediaDevice = &device;
        o.tray = &tray;
        o.shell = &shell;
        o.modal = &modal;
        return o;
    }
    VirtualEventLoop loop;
    ScriptedPrompts prompts;
    RecordingPrinter printer;
    VirtualMediaDevice device{loop};
    FakeTray tray{true};
    RecordingShell shell;
    ScriptedModal modal;
    TelvoxApplication app;
    int exitCode = -1;
    int setupOpened = 0;
};

// The user's locale for the life of the object.
struct LocaleAs
{
    explicit LocaleAs(const char *name)
        : saved(qgetenv("LC_ALL"))
    {
        qputenv("LC_ALL", name);
    }
    ~LocaleAs() { qputenv("LC_ALL", saved); }
    QByteArray saved;
};

} // namespace

class tst_FirstRun : public QObject
{
    Q_OBJECT
private slots:
    void exitBeforeAgreeingEndsTheProgram()
    {
        ScratchDir home;
        {
            Instance i(home.path());
            i.modal.answer = [](QDialog &d) { static_cast<frmTip &>(d).cmdOK()->click(); };
            i.app.Main();
            QCOMPARE(i.modal.shown, QStringList({"frmTip"}));
            QVERIFY(i.app.firstRunRefused());
            QCOMPARE(i.exitCode, 0);
            QCOMPARE(i.setupOpened, 0);
            QVERIFY(!i.app.isLoaded());
            QVERIFY(!i.app.mainWindow()->isVisible());
            QVERIFY(i.app.settings().ReadSetting("Config", "SaveFile").isEmpty());
        }
        Instance again(home.path()); // the notice comes back at the next start
        again.app.Main();
        again.loop.advance(2500); // the splash window first: the language is chosen by now
        QCOMPARE(again.modal.shown, QStringList({"frmTip"}));
    }

    void firstStartSpeaksTheLanguageOfTheLocale_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("exitCaption");
        QTest::newRow("zh_CN") << "zh_CN.UTF-8" << "1" << "退出";
        QTest::newRow("zh_SG") << "zh_SG.UTF-8" << "1" << "退出";
        QTest::newRow("zh_TW") << "zh_TW.UTF-8" << "2" << "離開";
        QTest::newRow("zh_HK") << "zh_HK.UTF-8" << "2" << "離開";
        QTest::newRow("zh_MO") << "zh_MO" << "2" << "離開";
        QTest::newRow("en_GB") << "en_GB.UTF-8" << "0" << "Exit";
        QTest::newRow("de_DE") << "de_DE.UTF-8" << "0" << "Exit";
        QTest::newRow("C") << "C.UTF-8" << "0" << "Exit";
    }

    void firstStartSpeaksTheLanguageOfTheLocale()
    {
        QFETCH(QString, locale);
        QFETCH(QString, setting);
        QFETCH(QString, exitCaption);
        const LocaleAs as(locale.toLatin1().constData());
        ScratchDir home;
        Instance i(home.path());
        QString shownCaption;
        i.modal.answer = [&](QDialog &d) { shownCaption = static_cast<frmTip &>(d).cmdOK()->text(); };
        i.app.Main();
        QCOMPARE(shownCaption, exitCaption);
        QCOMPARE(i.app.settings().ReadSetting("Config", "Language"), setting);
    }

    void agreeShowsTheNotesThenOkGoesOnToTheSetup()
    {
        const LocaleAs as("zh_CN.UTF-8");
        ScratchDir home;
        Instance i(home.path());
        QString before;
        QString after;
        bool agreeDisabled = false;
        i.modal.answer = [&](QDialog &d) {
            auto &tip = static_cast<frmTip &>(d);
            QCOMPARE(tip.windowTitle(), QString("Telvox"));
            QCOMPARE(tip.cmdOK()->text(), QString("退出")); // first start: Simplified Chinese
            QCOMPARE(tip.cmdNextTip()->text(), QString("同意"));
            before = tip.lblTipText()->text();
            tip.cmdNextTip()->click();
            agreeDisabled = !tip.cmdNextTip()->isEnabled();
            after = tip.lblTipText()->text();
            QCOMPARE(tip.cmdOK()->text(), QString("确定"));
            tip.cmdOK()->click();
        };
        i.app.Main();
        const Texts &t = i.app.texts();
        QCOMPARE(before, t.LoadText(1054) + "\r\n" + t.LoadText(1059));
        QCOMPARE(after, t.LoadText(1051) + "\r\n" + t.LoadText(1052) + "\r\n" + t.LoadText(1053));
        QVERIFY(agreeDisabled);
        QCOMPARE(i.setupOpened, 1);
        QVERIFY(i.app.isLoaded());
        QCOMPARE(i.exitCode, -1);
        QVERIFY(i.app.mainWindow()->isVisible());
    }

    void closingTheNoticeIsNotAgreeing()
    {
        ScratchDir home;
        Instance i(home.path());
        i.modal.answer = [](QDialog &d) { static_cast<frmTip &>(d).cmdNextTip()->click(); }; // then closed
        i.app.Main();
        QVERIFY(i.app.firstRunRefused());
        QCOMPARE(i.setupOpened, 0);
    }

    void laterStartsShowNoNoticeAndCanStartInTheTray()
    {
        ScratchDir home;
        {
            SettingsStore s(home.file("telvox.ini"), home.file("settings.txt"));
            s.WriteSetting("Config", "Language", "0");
            s.WriteSetting("Config", "SaveFile", home.path());
        }
        Instance i(home.path());
        i.app.Main();
        i.loop.advance(2500);
        QVERIFY(i.app.isLoaded());
        QVERIFY(i.modal.shown.isEmpty());
        // The MinOnStart step minimises the window, which then lives in the tray.
        i.app.minimiseWindow();
        QVERIFY(i.app.mainWindow()->isInTray());
        QVERIFY(!i.app.mainWindow()->isVisible());
        QCOMPARE(i.tray.tip, QString("Telvox"));
        i.app.shutdown(); // closes the media device among the rest
        QCOMPARE(i.exitCode, 0);
    }
};

QTEST_MAIN(tst_FirstRun)
#include "tst_FirstRun.moc"
