// Renders Telvox's windows to PNG files, for looking at the artwork and the layout:
//   telvox_render_windows <output folder>
// Run it on a real X server (scripts/screenshots starts one); QT_SCALE_FACTOR=2 renders at 200 %.
// The main window is cut to its outline, with transparency outside it.

#include "core/MainTimers.h"
#include "core/QtEventLoop.h"
#include "core/Settings.h"
#include "core/Texts.h"
#include "platform/media/MediaControl.h"
#include "platform/media/VirtualMediaDevice.h"
#include "records/StatusLog.h"
#include "support/FakeShell.h"
#include "ui/UiFakes.h"
#include "ui/WindowOutline.h"
#include "ui/frmAbout.h"
#include "ui/frmBrows.h"
#include "ui/frmMain.h"
#include "ui/frmSplash.h"
#include "ui/frmTip.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

using namespace telvox;
using namespace telvox::test;

namespace {

void settle()
{
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
        QThread::msleep(15);
    }
}

bool save(QWidget &w, const QString &file, bool cutToOutline = false)
{
    w.show();
    settle();
    QImage image = w.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    if (cutToOutline) {
        const qreal dpr = image.devicePixelRatio();
        image.setDevicePixelRatio(1.0); // work in device pixels
        const double tpp = twipsPerPixelX(w.screen());
        QImage shaped(image.size(), QImage::Format_ARGB32);
        shaped.fill(Qt::transparent);
        QPainter p(&shaped);
        QPainterPath outline;
        outline.addPolygon(QPolygonF(windowOutlinePixels(tpp / dpr, tpp / dpr)));
        p.setRenderHint(QPainter::Antialiasing);
        p.setClipPath(outline);
        p.drawImage(0, 0, image);
        p.end();
        image = shaped;
    }
    w.hide();
    const bool ok = image.save(file);
    QTextStream(stdout) << (ok ? "wrote " : "FAILED ") << file << Qt::endl;
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        QTextStream(stderr) << "usage: telvox_render_windows <output folder>" << Qt::endl;
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    QTemporaryDir home;
    QDir(home.path()).mkpath(QStringLiteral("waveFiles"));
    for (const char *name : {"A2026-03-02~09-14-05~5551234.wav", "A2026-03-02~11-02-47~5559876.wav",
                             "M2026-03-01~16-40-12~5550101.wav", "O2026-03-01~18-05-33~5552468.wav"}) {
        QFile f(home.filePath(QStringLiteral("waveFiles/") + QLatin1String(name)));
        (void)f.open(QIODevice::WriteOnly);
    }

    StringTable table;
    table.loadBuiltIn();
    QtEventLoop loop;
    SettingsStore settings(home.filePath(QStringLiteral("telvox.ini")), home.filePath(QStringLiteral("settings.txt")));
    settings.WriteSetting(QStringLiteral("Config"), QStringLiteral("SaveFile"), home.filePath(QStringLiteral("waveFiles")));
    ScriptedPrompts prompts;
    RecordingPrinter printer;
    MainTimers timers(loop);
    VirtualMediaDevice device(loop);
    MediaControl media(device);
    FakeTray tray(false);
    RecordingShell shell;
    ScriptedModal modal;
    bool ok = true;

    const struct
    {
        int offset;
        const char *file;
    } languages[] = {{0, "main-en.png"}, {1000, "main-gb.png"}, {2000, "main-big5.png"}};
    for (const auto &lang : languages) {
        Texts texts(table, lang.offset);
        StatusListModel list;
        StatusLog log(loop, home.filePath(QStringLiteral("LogFiles")), list);
        frmMain w({texts, settings, list, log, prompts, printer});
        w.setDesktopServices({timers, media, tray, shell, modal, loop, home.path()});
        w.setCheckBoxes(true, true);
        w.setCaptions();
        w.paintBackground();
        for (const int id : {1021, 1025}) {
            QString line = texts.LoadText(id);
            log.AddStatus(line);
        }
        auto *unread = w.findChild<QListWidget *>(QStringLiteral("lstUnread"));
        unread->addItems({QStringLiteral("A2026-03-02~11-02-47   5559876"), QStringLiteral("A2026-03-02~09-14-05   5551234")});
        auto *handled = w.findChild<QListWidget *>(QStringLiteral("lstLastTen"));
        handled->addItems({QStringLiteral("O2026-03-01~18-05-33   5552468"), QStringLiteral("M2026-03-01~16-40-12   5550101")});
        w.findChild<QLabel *>(QStringLiteral("lblFileName"))->setText(QStringLiteral("M2026-03-01~16-40-12~5550101.wav"));
        w.findChild<QLabel *>(QStringLiteral("lblFileSize"))->setText(QStringLiteral("95s   [104 KBytes]"));
        auto *bar = w.findChild<QScrollBar *>(QStringLiteral("HScroll1"));
        bar->setMaximum(95);
        bar->setValue(31);
        ok = save(w, QDir(out).filePath(QLatin1String(lang.file)), true) && ok;
    }

    Texts english(table, 0);
    frmBrows browser({english, settings, prompts, media, loop, shell, home.path()});
    ok = save(browser, QDir(out).filePath(QStringLiteral("browser.png"))) && ok;
    frmAbout about(shell);
    ok = save(about, QDir(out).filePath(QStringLiteral("about.png"))) && ok;
    Texts chinese(table, 1000);
    frmTip tip(chinese, nullptr);
    ok = save(tip, QDir(out).filePath(QStringLiteral("first-run-gb.png"))) && ok;
    frmTip tipEn(english, nullptr);
    tipEn.cmdNextTip_Click();
    ok = save(tipEn, QDir(out).filePath(QStringLiteral("first-run-en-agreed.png"))) && ok;
    frmSplash splash(english);
    ok = save(splash, QDir(out).filePath(QStringLiteral("splash.png"))) && ok;
    return ok ? 0 : 1;
}
