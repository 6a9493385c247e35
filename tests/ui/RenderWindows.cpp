// Renders Telvox's windows to PNG files, as the program shows them:
//   telvox_render_windows <output folder>
// Every window is built by the application itself, with the parents it gives it, in each
// language. Run it on a real X server (scripts/screenshots starts one); QT_SCALE_FACTOR=2
// renders at 200 %. The main window is cut to its outline, with transparency outside it.

#include "app/TelvoxApplication.h"
#include "core/Settings.h"
#include "core/Texts.h"
#include "platform/media/TestWave.h"
#include "records/MessageLists.h"
#include "records/StatusLog.h"
#include "telephony/PhoneBookTable.h"
#include "ui/AppRig.h"
#include "ui/frmMain.h"
#include "ui/frmTip.h"
#include "ui/frmVirtualExchange.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>

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

bool save(QWidget &w, const QString &file, const QRegion &outline = QRegion())
{
    if (!w.isVisible())
        w.show();
    settle();
    QImage image = w.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    if (!outline.isEmpty()) {
        const qreal dpr = image.devicePixelRatio();
        image.setDevicePixelRatio(1.0); // work in device pixels
        QImage shaped(image.size(), QImage::Format_ARGB32);
        shaped.fill(Qt::transparent);
        QPainter p(&shaped);
        p.setClipRegion(QTransform::fromScale(dpr, dpr).map(outline));
        p.drawImage(0, 0, image);
        p.end();
        image = shaped;
    }
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
    bool ok = true;

    const struct
    {
        const char *setting;
        const char *suffix;
    } languages[] = {{"0", "en"}, {"1", "gb"}, {"2", "big5"}};
    for (const auto &lang : languages) {
        QTemporaryDir home;
        const QString folder = home.filePath(QStringLiteral("waveFiles"));
        QDir().mkpath(folder);
        // Short recordings, and a phonebook that names two of the callers.
        const struct
        {
            const char *name;
            int ms;
        } recordings[] = {{"A2026-03-02~09-14-05~5551234.wav", 42000}, {"A2026-03-02~11-02-47~5559876.wav", 7000},
                          {"M2026-03-01~16-40-12~5550101.wav", 95000}, {"O2026-03-01~18-05-33~5552468.wav", 12000}};
        for (const auto &r : recordings)
            (void)writeTestWave(folder + QLatin1Char('/') + QLatin1String(r.name), r.ms);
        (void)phonebook::rewrite(home.filePath(QStringLiteral("PhoneBook.txt")), {QStringLiteral("Li Wei"), QStringLiteral("Ana Ortiz")},
                                 {QStringLiteral("5551234"), QStringLiteral("5550101")});
        {
            SettingsStore s(home.filePath(QStringLiteral("telvox.ini")), home.filePath(QStringLiteral("settings.txt")));
            s.WriteSetting(QStringLiteral("Config"), QStringLiteral("Language"), QLatin1String(lang.setting));
            s.WriteSetting(QStringLiteral("Config"), QStringLiteral("SaveFile"), folder);
        }
        const QString suffix = QLatin1String(lang.suffix);
        auto file = [&](const QString &window) { return QDir(out).filePath(window + QLatin1Char('-') + suffix + QStringLiteral(".png")); };

        AppRig rig(home.path());
        QStringList saved;
        rig.modal.answer = [&](QDialog &d) {
            QString name = d.objectName();
            if (name.startsWith(QLatin1String("frm")))
                name = name.mid(3).toLower();
            if (saved.contains(name))
                return;
            saved << name;
            ok = save(d, file(name)) && ok;
            auto press = [&d](const char *button) {
                if (auto *b = d.findChild<QPushButton *>(QString::fromLatin1(button)); b && b->isEnabled())
                    b->click();
            };
            if (d.objectName() == QLatin1String("frmSetup")) {
                press("cmdRings");
                press("Command1");
            } else if (d.objectName() == QLatin1String("frmDialOut")) {
                press("cmdAdd");
            }
        };
        rig.app.Main();
        for (QWidget *top : QApplication::topLevelWidgets())
            if (top->objectName() == QLatin1String("frmSplash") && top->isVisible())
                ok = save(*top, file(QStringLiteral("splash"))) && ok;
        rig.loop.advance(2600);
        settle();
        frmMain &main = *rig.app.mainWindow();
        // Messages arrive as the program records them: two unread, two handled.
        for (const char *name : {"M2026-03-01~16-40-12~5550101.wav", "O2026-03-01~18-05-33~5552468.wav",
                                 "A2026-03-02~09-14-05~5551234.wav", "A2026-03-02~11-02-47~5559876.wav"})
            rig.app.messageLists().addRecording(folder, QLatin1String(name));
        for (const int id : {1021, 1025})
            rig.app.statusLog().AddStatus(rig.app.texts().LoadText(id));
        auto *bar = main.findChild<QScrollBar *>(QStringLiteral("HScroll1"));
        bar->setMaximum(95);
        bar->setValue(31);
        ok = save(main, file(QStringLiteral("main")), main.BuildOutline()) && ok;

        frmTip tip(rig.app.texts(), &main);
        ok = save(tip, file(QStringLiteral("first-run"))) && ok;
        tip.hide();
        rig.app.showSetup();
        rig.app.showBackup();
        rig.app.showDialOut();
        main.findChild<QPushButton *>(QStringLiteral("cmdBrows"))->click();
        main.findChild<QPushButton *>(QStringLiteral("cmdHelp"))->click();
        ok = save(*rig.app.showVirtualExchange(), file(QStringLiteral("virtual-exchange"))) && ok;
        rig.app.shutdown();
    }
    return ok ? 0 : 1;
}
