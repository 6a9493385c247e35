// Builds every window the way the program does: through the application, with the parents it
// gives them, in each language. Checks what a person sees: each visible label's and check box's
// text against what is drawn behind it (contrast at least 4.5 : 1), and each window within a
// 1280x720 screen. TELVOX_SCREEN_SCALE=2 runs the same at 200 %.

#include "core/Texts.h"
#include "ui/EveryWindow.h"

#include <QCheckBox>
#include <QDir>
#include <QHash>
#include <QLabel>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>

using namespace telvox;
using namespace telvox::test;

namespace {

double luminance(QColor c)
{
    auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double contrast(QColor a, QColor b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

// The contrast of the text colour against what is drawn in the widget's area: the median over
// its pixels. Text covers less than half of a label, so the median is a pixel of the background
// (a gradient behind the face's labels included); text drawn in the colour of its background
// gives about 1 : 1 everywhere.
double medianContrast(const QImage &image, const QRect &area, QColor text, QColor *behind)
{
    QList<QPair<double, QRgb>> pixels;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const QRgb rgb = image.pixel(x, y) | 0xff000000u;
            pixels.append({contrast(text, QColor::fromRgb(rgb)), rgb});
        }
    if (pixels.isEmpty())
        return 0;
    std::nth_element(pixels.begin(), pixels.begin() + pixels.size() / 2, pixels.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    *behind = QColor::fromRgb(pixels.at(pixels.size() / 2).second);
    return pixels.at(pixels.size() / 2).first;
}

// Every label and check box of the window that a person can see and that says something.
void checkWindow(QWidget &window)
{
    if (!window.isVisible())
        window.show();
    settle();
    const QString where = window.objectName();
    const QSize room = window.screen()->availableGeometry().size();
    QVERIFY2(window.width() <= room.width() && window.height() <= room.height(),
             qPrintable(QStringLiteral("%1 is %2x%3 on a %4x%5 screen")
                            .arg(where).arg(window.width()).arg(window.height()).arg(room.width()).arg(room.height())));

    // Content scrolled out of view is checked as drawn in its scroll area's body.
    QHash<QWidget *, QImage> canvases;
    auto canvasOf = [&](QWidget *w) {
        QWidget *canvas = &window;
        for (QWidget *p = w->parentWidget(); p && p != &window; p = p->parentWidget())
            if (p->objectName() == QLatin1String("scrollBody")) {
                canvas = p;
                break;
            }
        if (!canvases.contains(canvas))
            canvases.insert(canvas, canvas->grab().toImage());
        return canvas;
    };
    for (QWidget *w : window.findChildren<QWidget *>()) {
        const auto *label = qobject_cast<QLabel *>(w);
        const auto *box = qobject_cast<QCheckBox *>(w);
        const QString text = label ? label->text() : box ? box->text() : QString();
        if (w->window() != &window || !w->isVisibleTo(&window) || !w->isEnabled() || text.trimmed().isEmpty())
            continue;
        QWidget *canvas = canvasOf(w);
        const QImage &image = canvases[canvas];
        const qreal dpr = image.devicePixelRatio();
        const QRect logical(w->mapTo(canvas, QPoint(0, 0)), w->size());
        const QRect device(QPoint(qFloor(logical.left() * dpr), qFloor(logical.top() * dpr)),
                           QSize(qCeil(logical.width() * dpr), qCeil(logical.height() * dpr)));
        const QColor fore = w->palette().color(QPalette::Active, w->foregroundRole());
        QColor back;
        const double ratio = medianContrast(image, device, fore, &back);
        QVERIFY2(ratio >= 4.5, qPrintable(QStringLiteral("%1: \"%2\" (%3) is %4 on %5, contrast %6 : 1")
                                              .arg(where, text.left(40), w->objectName(), fore.name(), back.name())
                                              .arg(ratio, 0, 'f', 2)));
    }
}

} // namespace

class tst_WindowsAsShown : public QObject
{
    Q_OBJECT
private slots:
    void everyWindowIsReadableAndFits()
    {
        for (const char *language : {"0", "1", "2"}) {
            ScratchDir home;
            QDir().mkpath(home.file("waveFiles"));
            presetConfig(home.path(), {{"Language", language}, {"SaveFile", home.file("waveFiles")}});
            (void)QFile(home.file("waveFiles/A2026-03-02~09-14-05~5551234.wav")).open(QIODevice::WriteOnly);
            AppRig rig(home.path());
            QStringList checked;
            openEveryWindow(rig, [&checked](QWidget &w) {
                checked << w.objectName();
                checkWindow(w);
            });
            QVERIFY(rig.app.isLoaded());
            for (const char *expected : {"frmMain", "frmTip", "frmSetup", "frmSetRings", "frmSetTime", "frmGreeting",
                                         "frmGreeting1", "frmBackup", "frmDialOut", "frmPBAdd", "frmDialRecords",
                                         "frmBrows", "frmAbout", "frmViewLog", "frmVirtualExchange", "frmPopCallID"})
                QVERIFY2(checked.contains(QLatin1String(expected)),
                         qPrintable(QStringLiteral("language %1: %2 was not shown; shown: %3")
                                        .arg(language, expected, checked.join(' '))));
            rig.app.shutdown();
        }
    }
};

int main(int argc, char *argv[])
{
    // A 1280x720 screen; at TELVOX_SCREEN_SCALE=2 the same screen at 200 %.
    QTemporaryDir config;
    const QString file = config.filePath(QStringLiteral("screen.json"));
    QFile json(file);
    if (!json.open(QIODevice::WriteOnly))
        return 2;
    json.write(R"({"screens":[{"name":"Test","x":0,"y":0,"width":1280,"height":720,)"
               R"("logicalDpi":96,"logicalBaseDpi":96,"dpr":1}]})");
    json.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + file.toLocal8Bit());
    const QByteArray scale = qgetenv("TELVOX_SCREEN_SCALE");
    qputenv("QT_SCALE_FACTOR", scale.isEmpty() ? QByteArray("1") : scale);
    QApplication app(argc, argv);
    tst_WindowsAsShown test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_WindowsAsShown.moc"
