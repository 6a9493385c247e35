#include "app/LineBackendList.h"
#include "app/TelvoxApplication.h"
#include "core/MainTimers.h"
#include "core/Settings.h"
#include "core/Texts.h"
#include "core/VirtualEventLoop.h"
#include "platform/telephony/LineBackends.h"
#include "records/StatusLog.h"
#include "support/FakeShell.h"
#include "support/Files.h"
#include "support/Program.h"
#include "telephony/TelephonyCore.h"
#include "ui/frmMain.h"
#include "ui/frmSetup.h"
#include "ui/frmTip.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QLockFile>
#include <QPushButton>
#include <QTest>

using namespace telvox;
using namespace telvox::test;

namespace {

struct Instance
{
    explicit Instance(const QString &home)
        : app(AppPaths::underHome(home, "telvox"), loop, prompts, printer, {})
    {
        app.setEndProcessHandler([this](int code) { exitCode = code; });
    }
    VirtualEventLoop loop;
    ScriptedPrompts prompts;
    RecordingPrinter printer;
    TelvoxApplication app;
    int exitCode = -1;
};

} // namespace

class tst_Startup : public QObject
{
    Q_OBJECT
private slots:
    // A start draws the splash, the notice and the main window from the pictures rendered while
    // building: Qt SVG (the library, its image format and icon engine plugins) is not loaded.
    // Runs first: later tests open windows that do load it (the browser's icons).
    void startLoadsNoSvg()
    {
        ScratchDir home;
        presetSettings(home.path(), {{"Config/Language", "1"}, {"Config/SaveFile", home.file("waveFiles/")}});
        Instance later(home.path());
        QCOMPARE(later.app.Main(), TelvoxApplication::StartResult::Running);
        QVERIFY(later.app.splashShown());
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->isVisible())
                w->grab(); // paints it
        later.loop.advance(2500);
        QVERIFY(later.app.isLoaded());
        frmMain *w = later.app.mainWindow();
        QTRY_VERIFY(w->isVisible());
        w->grab();
        frmTip notice(later.app.texts(), w);
        notice.grab();
        QFile maps(QStringLiteral("/proc/self/maps"));
        QVERIFY(maps.open(QIODevice::ReadOnly));
        const QString loaded = QString::fromLatin1(maps.readAll());
        for (const char *library : {"libQt6Svg", "libqsvg", "libqsvgicon"})
            QVERIFY2(!loaded.contains(QLatin1String(library)), library);
        later.app.shutdown();
    }

    // A later start shows the splash window for 2.5 s, then the window in the stored language,
    // journaling nothing. A second start is heard from the moment the first holds the lock:
    // during the splash it ends without a message, and the window comes up once loaded even
    // though it was to start in the tray; once the window is there a second start (and a
    // third) brings it to the front. A lock whose holder does not answer gets the message.
    // After the shutdown the program starts again.
    void laterStartSplashAndSecondStarts()
    {
        ScratchDir home;
        presetSettings(home.path(), {{"Config/Language", "2"}, {"Config/SaveFile", home.file("waveFiles/")},
                                     {"Config/MinOnStart", "1"}});
        for (int n = 0; n < 4; ++n) // the lines' device names as the earlier start stored them
            presetSettings(home.path(), {{QString("Modem/Line%1").arg(n), "Telvox Virtual Voice Line  [28]"}});
        Instance first(home.path());
        QCOMPARE(first.app.Main(), TelvoxApplication::StartResult::Running);
        QVERIFY(first.app.splashShown());
        {
            Instance second(home.path());
            QCOMPARE(second.app.Main(), TelvoxApplication::StartResult::AlreadyRunning);
            QVERIFY(second.prompts.shown.isEmpty() && second.app.raisedRunningInstance());
            QVERIFY(!second.app.isLoaded());
        }
        QTest::qWait(100); // the request reaches the first's event loop
        first.loop.advance(2499);
        QVERIFY(!first.app.isLoaded());
        // The splash's idle seconds built the main window's controls, hidden; the loading
        // takes that window when the splash ends.
        frmMain *built = nullptr;
        for (QWidget *top : QApplication::topLevelWidgets())
            if (auto *candidate = qobject_cast<frmMain *>(top))
                built = candidate;
        QVERIFY(built && !built->isVisible());
        first.loop.advance(1);
        QVERIFY(first.app.isLoaded());
        frmMain *w = first.app.mainWindow();
        QCOMPARE(w, built);
        QTRY_VERIFY(w->isVisible() && !(w->windowState() & Qt::WindowMinimized));
        QCOMPARE(w->findChild<QPushButton *>("cmdExit")->text(), QString("離開"));
        QVERIFY(!QFile::exists(home.file("settings.txt")));
        first.app.statusLog().AddStatus(QString("still logging"));
        QVERIFY(first.app.statusLog().isChannelOpen());
        w->hide(); // behind or away
        for (int n = 0; n < 2; ++n) {
            Instance again(home.path());
            QCOMPARE(again.app.Main(), TelvoxApplication::StartResult::AlreadyRunning);
            QVERIFY(again.prompts.shown.isEmpty() && again.app.raisedRunningInstance()); // ends with status 0
            QTRY_VERIFY(w->isVisible());
            w->hide();
        }
        first.app.shutdown();
        {
            Instance third(home.path());
            QCOMPARE(third.app.Main(), TelvoxApplication::StartResult::Running);
            third.app.shutdown();
        }

        QLockFile silent(AppPaths::underHome(home.path(), "telvox").lockFile); // holds it, answers nothing
        QVERIFY(silent.tryLock(0));
        Instance refused(home.path());
        QCOMPARE(refused.app.Main(), TelvoxApplication::StartResult::AlreadyRunning);
        QCOMPARE(refused.prompts.shown.size(), 1);
        QCOMPARE(refused.prompts.shown[0].text, QString("Telvox Is Already Running"));
        QCOMPARE(refused.prompts.shown[0].icon, MessageIcon::Critical);
        QVERIFY(!refused.app.raisedRunningInstance());
    }

    // A later start takes the setup's options from the store without building its window:
    // the ring count, the caller pop-up, manual answering and minimising on start are in
    // force, and a store that never chose a line gets Line0. Opened later, the window shows
    // the same.
    void laterStartReadsTheSetupWithoutItsWindow()
    {
        ScratchDir home;
        presetSettings(home.path(), {{"Config/Language", "0"}, {"Config/SaveFile", home.file("waveFiles/")},
                                     {"Config/Rings", "3"}, {"Config/PopCallId", "1"}, {"Config/ActionMan", "1"},
                                     {"Config/MinOnStart", "1"}});
        Instance i(home.path());
        QCOMPARE(i.app.Main(), TelvoxApplication::StartResult::Running);
        i.loop.advance(2500);
        QVERIFY(i.app.isLoaded() && !i.app.setupDialog());
        const SetupOptions options = i.app.telephony().setupOptions();
        QCOMPARE(options.txtRings, QString("3"));
        QVERIFY(options.popCallId && options.actionMan);
        QVERIFY(i.app.mainWindow()->windowState() & Qt::WindowMinimized);
        QCOMPARE(i.app.settings().ReadSetting("Config", "Line0"), QString("1"));
        i.app.showSetup();
        QVERIFY(i.app.setupDialog() && i.app.setupDialog()->Check1(0)->isChecked());
        QCOMPARE(i.app.setupDialog()->txtRings()->text(), QString("3"));
    }

    // The program's line backends in the order they are asked: those of the build's list of
    // backends, then the virtual exchange, which always builds. The SIP lines alone have a
    // settings page.
    void lineBackendsInTheirOrder()
    {
        LineBackendRegistry registry;
        registerLineBackends(registry);
        QStringList names;
        for (const LineBackendFactory &backend : registry.backends())
            names << backend.name;
        QCOMPARE(names, QStringList({"sip", "modem", "virtual"}));
        const std::vector<LineSettingsPage> pages = registry.settingsPages();
        QCOMPARE(pages.size(), std::size_t(1));
        QCOMPARE(pages.front().section, QString("SIP"));
    }

    // A signal during the splash ends the program at once; the window is never loaded.
    void shutdownDuringTheSplash()
    {
        ScratchDir home;
        presetSettings(home.path(), {{"Config/Language", "0"}, {"Config/SaveFile", home.file("waveFiles/")}});
        Instance i(home.path());
        QCOMPARE(i.app.Main(), TelvoxApplication::StartResult::Running);
        i.loop.advance(1000);
        i.app.shutdown();
        QCOMPARE(i.exitCode, 0);
        i.loop.advance(3000);
        QVERIFY(!i.app.isLoaded() && !i.app.mainWindow());
    }

    // On the main window of a first start: the check boxes journal their options, printing the
    // status list prints every line and says where the PDF went, and Exit runs the shutdown once.
    void mainWindowOptionsPrintingAndExit()
    {
        ScratchDir home;
        Instance i(home.path());
        i.app.Main();
        frmMain *w = i.app.mainWindow();
        QVERIFY(!w->chkLegal()->isChecked());
        QVERIFY(w->chkRingCount()->isChecked());
        w->chkLegal()->click();
        w->chkRingCount()->click();
        QCOMPARE(i.app.settings().ReadSetting("Config", "Legal"), QString("1"));
        QCOMPARE(readAll(home.file("settings.txt")),
                 "Config@Language@0\r\n" + virtualLineNamesJournal() + "Config@Legal@1\r\nConfig@RingCount@0\r\n");

        // The list says, in the language of the first start (the test's locale is English), that
        // no modem was found and that the virtual exchange's Line0 is ready.
        const QStringList before = i.app.statusList().lines();
        QCOMPARE(before.size(), 2);
        QVERIFY2(before[0].endsWith(i.app.texts().LoadText(1607)), qPrintable(before[0]));
        i.printer.pdfFileToReport = home.file("Print-1.pdf");
        w->mmuPrintLog_Click();
        QCOMPARE(i.printer.jobs, QList<QStringList>({before})); // every line, first to last
        QVERIFY(i.app.statusList().lines().last().endsWith(home.file("Print-1.pdf")));

        QVERIFY(i.app.timers().timLog->isEnabled());
        w->cmdExit_Click();
        QCOMPARE(i.exitCode, 0);
        QVERIFY(!i.app.statusLog().isChannelOpen());
        QVERIFY(!i.app.timers().timLog->isEnabled());
        QVERIFY(!w->isVisible());
        i.exitCode = -1;
        i.app.shutdown(); // a second request (a signal during exit) does nothing
        QCOMPARE(i.exitCode, -1);
    }
};

QTEST_MAIN(tst_Startup)
#include "tst_Startup.moc"
