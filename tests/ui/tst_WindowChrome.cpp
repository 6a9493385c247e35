#include "ui/DesktopShell.h"
#include "ui/HotLabel.h"
#include "ui/MainWindowRig.h"
#include "ui/WindowOutline.h"

#include <QListView>
#include <QListWidget>
#include <QTest>

using namespace telvox;
using namespace telvox::test;

class tst_WindowChrome : public QObject
{
    Q_OBJECT
private slots:
    void outlineInPixels()
    {
        QCOMPARE(windowOutlineTwips().front(), QPoint(180, 30));
        QCOMPARE(windowOutlineTwips().back(), QPoint(180, 45));
        // 12 twips per pixel (120 dots per inch): x = 10185 is pixel 849 (848.75 rounded).
        const QPolygon at12 = windowOutlinePixels(12, 12);
        QCOMPARE(at12.size(), 67);
        QCOMPARE(at12.boundingRect().right(), 849);
        QCOMPARE(at12.boundingRect().bottom(), 610);
        const QPolygon at15 = windowOutlinePixels(15, 15);
        QCOMPARE(at15.boundingRect(), QRect(QPoint(7, 2), QPoint(679, 488)));
        // Horizontal and vertical use their own scale.
        QCOMPARE(windowOutlinePixels(15, 7.5).boundingRect().bottom(), 976);

        const QRegion region = windowOutlineRegion(15, 15);
        QVERIFY(region.contains(QPoint(340, 240)));   // the body
        QVERIFY(!region.contains(QPoint(660, 5)));    // the cut top-right corner
        QVERIFY(!region.contains(QPoint(640, 470)));  // below the long slant
        QVERIFY(region.contains(QPoint(400, 480)));   // the tab at the bottom
        QVERIFY(!region.contains(QPoint(100, 480)));  // beside the tab
    }

    void windowUsesTheScreensScale()
    {
        MainWindowRig r;
        const double tpp = twipsPerPixelX(r.window->screen());
        QCOMPARE(r.window->BuildOutline(), windowOutlineRegion(tpp, twipsPerPixelY(r.window->screen())));
        QVERIFY(r.window->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(r.window->width(), qRound(680 * 15.0 / tpp));
    }

    void hidesToTheTrayAndOnlyALeftClickBringsItBack()
    {
        MainWindowRig r;
        r.window->show();
        QTest::mouseClick(r.child<HotLabel>("lblMin"), Qt::LeftButton);
        QVERIFY(r.window->isInTray());
        QVERIFY(!r.window->isVisible());
        QVERIFY(r.tray.shown && r.tray.hasIcon);
        QCOMPARE(r.tray.tip, QString("Telvox"));

        r.tray.click(TrayClick::Right);
        r.tray.click(TrayClick::Double);
        r.tray.click(TrayClick::Middle);
        QVERIFY(!r.window->isVisible());
        QVERIFY(r.tray.shown);

        r.tray.click(TrayClick::Left);
        QVERIFY(r.window->isVisible());
        QVERIFY(!(r.window->windowState() & Qt::WindowMinimized));
        QVERIFY(!r.tray.shown);
        QVERIFY(!r.window->isInTray());

        // Minimising by any other way hides it the same way.
        r.window->setWindowState(Qt::WindowMinimized);
        QVERIFY(r.window->isInTray() && r.tray.shown);
    }

    void withoutATrayItStaysMinimisedAndSaysSoOnce()
    {
        MainWindowRig r(2000, false);
        r.window->show();
        r.window->lblMin_Click();
        QVERIFY(!r.window->isInTray());
        QVERIFY(!r.tray.shown);
        QCOMPARE(r.statusList.lines().size(), 1);
        QVERIFY(r.statusList.lines()[0].endsWith(r.table.text(3302)));
        r.window->setWindowState(Qt::WindowNoState);
        r.window->lblMin_Click();
        QCOMPARE(r.statusList.lines().size(), 1);
    }

    void mousePointerRules()
    {
        MainWindowRig r;
        QCOMPARE(r.window->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(r.child<QWidget>("Frame4")->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(r.child<QListWidget>("lstLastTen")->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(r.child<QListView>("lstStatus")->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(r.child<QWidget>("lblSetup")->cursor().shape(), Qt::PointingHandCursor);
    }

    void volumeControlChoice()
    {
        auto only = [](QStringList installed) {
            return [installed](const QString &name) {
                return installed.contains(name) ? QStringLiteral("/usr/bin/") + name : QString();
            };
        };
        QCOMPARE(volumeControlCommand(only({"pavucontrol", "gnome-control-center"}), "GNOME").program,
                 QString("/usr/bin/pavucontrol"));
        const ProgramCall gnome = volumeControlCommand(only({"gnome-control-center", "mate-volume-control"}), "ubuntu:GNOME");
        QCOMPARE(gnome.program, QString("/usr/bin/gnome-control-center"));
        QCOMPARE(gnome.arguments, QStringList({"sound"}));
        QCOMPARE(volumeControlCommand(only({"gnome-control-center", "mate-volume-control"}), "MATE").program,
                 QString("/usr/bin/mate-volume-control"));
        QCOMPARE(volumeControlCommand(only({"kcmshell5"}), "").arguments, QStringList({"kcm_pulseaudio"}));
        QVERIFY(volumeControlCommand(only({}), "GNOME").program.isEmpty());
    }
};

QTEST_MAIN(tst_WindowChrome)
#include "tst_WindowChrome.moc"
