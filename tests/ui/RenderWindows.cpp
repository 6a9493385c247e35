// Renders Telvox's windows to PNG files, as the program shows them:
//   telvox_render_windows <output folder>
// Every window is built by the application itself, with the parents it gives it, in each
// language. Run it on a real X server (scripts/screenshots starts one); QT_SCALE_FACTOR=2
// renders at 200 %. The main window is cut to its outline, with transparency outside it.

#include "core/Texts.h"
#include "platform/media/TestWave.h"
#include "records/MessageLists.h"
#include "records/StatusLog.h"
#include "telephony/PhoneBookTable.h"
#include "ui/EveryWindow.h"

#include <QDir>
#include <QPainter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

using namespace telvox;
using namespace telvox::test;

namespace {

bool save(QWidget &w, const QString &file, const QRegion &outline = QRegion())
{
    if (!w.isVisible())
        w.show();
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
        QThread::msleep(15);
    }
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
    for (const auto &[setting, suffix] : {std::pair{"0", "en"}, {"1", "gb"}, {"2", "big5"}}) {
        QTemporaryDir home;
        const QString folder = home.filePath(QStringLiteral("waveFiles"));
        QDir().mkpath(folder);
        // Short recordings, and a phonebook that names two of the callers.
        const std::pair<const char *, int> recordings[] = {
            {"M2026-03-01~16-40-12~5550101.wav", 95000}, {"O2026-03-01~18-05-33~5552468.wav", 12000},
            {"A2026-03-02~09-14-05~5551234.wav", 42000}, {"A2026-03-02~11-02-47~5559876.wav", 7000}};
        for (const auto &[name, ms] : recordings)
            (void)writeTestWave(folder + QLatin1Char('/') + QLatin1String(name), ms);
        (void)phonebook::rewrite(home.filePath(QStringLiteral("PhoneBook.txt")), {"Li Wei", "Ana Ortiz"},
                                 {"5551234", "5550101"});
        presetConfig(home.path(), {{"Language", setting}, {"SaveFile", folder}});

        AppRig rig(home.path());
        QStringList saved;
        openEveryWindow(rig, [&](QWidget &w) {
            // "frmSetup" is saved as setup-en.png, the main window with its outline.
            const QString name = w.objectName().mid(3).toLower();
            if (saved.contains(name))
                return;
            saved << name;
            const QString file = QDir(out).filePath(name + QLatin1Char('-') + QLatin1String(suffix) + ".png");
            auto *main = qobject_cast<frmMain *>(&w);
            if (!main) {
                ok = save(w, file) && ok;
                return;
            }
            // Messages arrive as the program records them: two handled, two unread.
            for (const auto &[recording, ms] : recordings)
                rig.app.messageLists().addRecording(folder, QLatin1String(recording));
            for (const int id : {1021, 1025})
                rig.app.statusLog().AddStatus(rig.app.texts().LoadText(id));
            auto *bar = main->findChild<QScrollBar *>(QStringLiteral("HScroll1"));
            bar->setMaximum(95);
            bar->setValue(31);
            ok = save(*main, file, main->BuildOutline()) && ok;
        });
        rig.app.shutdown();
    }
    return ok ? 0 : 1;
}
