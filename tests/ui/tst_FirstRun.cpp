#include "core/Texts.h"
#include "ui/AppRig.h"
#include "ui/frmMain.h"
#include "ui/frmTip.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace telvox;
using namespace telvox::test;

namespace {

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

} // namespace

class tst_FirstRun : public QObject
{
    Q_OBJECT
private slots:
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

    void agreeShowsTheNotesThenOkGoesOnToTheSetup()
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
        i.app.Main();
        const Texts &t = i.app.texts();
        QCOMPARE(seen, QStringList({"退出|同意", t.LoadText(1054) + "\r\n" + t.LoadText(1059),
                                    t.LoadText(1051) + "\r\n" + t.LoadText(1052) + "\r\n" + t.LoadText(1053) + "|off",
                                    "确定"}));
        QCOMPARE(i.setupOpened, 1);
        QVERIFY(i.app.isLoaded() && i.app.mainWindow()->isVisible());
        QCOMPARE(i.exitCode, -1);
    }

    void laterStartsShowNoNoticeAndCanStartInTheTray()
    {
        ScratchDir home;
        presetConfig(home.path(), {{"Language", "0"}, {"SaveFile", home.path()}});
        AppRig i(home.path());
        i.app.Main();
        i.loop.advance(2500);
        QVERIFY(i.app.isLoaded() && i.modal.shown.isEmpty());
        i.app.minimiseWindow(); // the MinOnStart step: the window then lives in the tray
        QVERIFY(i.app.mainWindow()->isInTray() && !i.app.mainWindow()->isVisible());
        QCOMPARE(i.tray.tip, QString("Telvox"));
        i.app.shutdown();
        QCOMPARE(i.exitCode, 0);
    }
};

QTEST_MAIN(tst_FirstRun)
#include "tst_FirstRun.moc"
