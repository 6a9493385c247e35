// Builds every window the way the program does: through the application, with the parents it
// gives them, in each language. Checks what a person sees: each visible label's and check box's
// text against what is drawn behind it (contrast at least 4.5 : 1), and each window within a
// 1280x720 screen. TELVOX_SCREEN_SCALE=2 runs the same at 200 %.
// With TELVOX_SCREENSHOTS=<folder> it runs on the display it is given (scripts/screenshots
// starts an X server) and also saves each window there as <window>-<language>.png, the main
// window cut to its outline.

#include "core/Texts.h"
#include "platform/media/TestWave.h"
#include "records/MessageLists.h"
#include "records/StatusLog.h"
#include "telephony/PhoneBookTable.h"
#include "ui/AppRig.h"
#include "ui/frmMain.h"
#include "ui/frmTip.h"
#include "ui/frmVirtualExchange.h"

#include <QAccessible>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QDir>
#include <QHash>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>

using namespace telvox;
using namespace telvox::test;

namespace {

void settle()
{
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
    if (qEnvironmentVariableIsSet("TELVOX_SCREENSHOTS")) // a real X server draws later
        QTest::qWait(250);
}

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

    // The main window places itself: wholly on the free part of the screen.
    if (qobject_cast<frmMain *>(&window))
        QVERIFY2(window.screen()->availableGeometry().contains(window.frameGeometry()),
                 qPrintable(QStringLiteral("the main window at %1,%2 %3x%4 leaves the screen")
                                .arg(window.frameGeometry().x()).arg(window.frameGeometry().y())
                                .arg(window.frameGeometry().width()).arg(window.frameGeometry().height())));
    // A text field shows what it holds: eight characters at least, two for a field made
    // narrow on purpose (a port, a ring count).
    for (const QLineEdit *field : window.findChildren<QLineEdit *>()) {
        if (field->window() != &window || !field->isVisibleTo(&window) || qobject_cast<QComboBox *>(field->parent()))
            continue;
        const bool narrow = field->maximumWidth() < QWIDGETSIZE_MAX;
        const int least = field->fontMetrics().horizontalAdvance(narrow ? QStringLiteral("00") : QStringLiteral("00000000"));
        QVERIFY2(field->contentsRect().width() >= least,
                 qPrintable(QStringLiteral("%1: the field %2 is %3 px wide")
                                .arg(where, field->objectName()).arg(field->contentsRect().width())));
    }

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

// The window as a picture; the main window cut to its outline, transparent outside it.
void savePicture(QWidget &w, const QString &file)
{
    QImage image = w.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    if (auto *main = qobject_cast<frmMain *>(&w)) {
        const qreal dpr = image.devicePixelRatio();
        image.setDevicePixelRatio(1.0); // work in device pixels
        QImage shaped(image.size(), QImage::Format_ARGB32);
        shaped.fill(Qt::transparent);
        QPainter p(&shaped);
        p.setClipRegion(QTransform::fromScale(dpr, dpr).map(main->BuildOutline()));
        p.drawImage(0, 0, image);
        p.end();
        image = shaped;
    }
    QVERIFY2(image.save(file), qPrintable(file));
}

// Starts the program in `rig` and opens every window the way a user reaches it, with the
// parents the program gives it; `visit` sees each one while it is shown. The ring rules and
// the greeting recorder are opened from the setup, the time editor from the ring rules, the
// phonebook editor and the dialled numbers from the dialler.
void openEveryWindow(AppRig &rig, const std::function<void(QWidget &)> &visit)
{
    // The windows a modal one opens run their own event loops: visited from the first turn.
    const auto visitNextModal = [&visit] {
        QTimer::singleShot(0, [&visit] {
            if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
                visit(*d);
                d->reject();
            }
        });
    };
    rig.modal.answer = [&visit, visitNextModal](QDialog &d) {
        visit(d);
        const auto press = [&d](std::initializer_list<const char *> names) {
            for (const char *name : names)
                if (auto *b = d.findChild<QPushButton *>(QString::fromLatin1(name)); b && b->isEnabled())
                    b->click();
        };
        if (d.objectName() == QLatin1String("frmSetup"))
            press({"cmdRings", "Command1"});
        else if (d.objectName() == QLatin1String("frmSetRings")) {
            visitNextModal();
            press({"cmdAddEntry"});
        } else if (d.objectName() == QLatin1String("frmDialOut"))
            press({"cmdAdd", "cmdRecords"});
    };
    rig.app.Main();
    for (QWidget *top : QApplication::topLevelWidgets())
        if (top->objectName() == QLatin1String("frmSplash") && top->isVisible())
            visit(*top);
    rig.loop.advance(2600);
    settle();
    frmMain &main = *rig.app.mainWindow();
    visit(main);
    frmTip tip(rig.app.texts(), &main); // the first-start notice, as the program parents it
    visit(tip);
    tip.hide();
    rig.app.showSetup();
    rig.app.recordPrompt(QStringLiteral("Msg.wav"), false);
    rig.app.showBackup();
    rig.app.showDialOut();
    for (const char *command : {"cmdBrows", "cmdHelp", "cmdLog"}) {
        if (QLatin1String(command) == QLatin1String("cmdLog"))
            visitNextModal(); // the log viewer runs on its own event loop
        main.findChild<QPushButton *>(QString::fromLatin1(command))->click();
    }
    visit(*rig.app.showLineControls());
    for (QWidget *top : QApplication::topLevelWidgets())
        if (top->objectName() == QLatin1String("frmPopCallID"))
            visit(*top);
}

// The controls of a window that a screen reader reaches but cannot name, walking the window's
// accessibility tree as the AT-SPI bridge does. A control is anything with a control's role or
// anything Tab reaches; its name must say something, and a combo box's name must be more than
// the entry it shows. The items of lists, and the scroll bars of scrolled areas, need no names.
QStringList unnamedControls(QWidget &window)
{
    using R = QAccessible::Role;
    static const QList<R> controlRoles = {R::Button, R::CheckBox, R::RadioButton, R::ComboBox, R::EditableText,
                                          R::SpinBox, R::Slider, R::ScrollBar, R::List, R::Table, R::Tree,
                                          R::PageTabList, R::ProgressBar, R::ButtonMenu, R::ButtonDropDown,
                                          R::Link, R::Dial, R::HotkeyField};
    QStringList unnamed;
    const std::function<void(QAccessibleInterface *)> walk = [&](QAccessibleInterface *node) {
        auto *w = qobject_cast<QWidget *>(node->object());
        if (!w || !w->isVisibleTo(&window))
            return;
        const R role = node->role();
        const bool inScrollArea = w->parentWidget() && w->parentWidget()->objectName().startsWith("qt_scrollarea_");
        // Containers (a scrolled page, a frame) may take the focus to scroll; they are no control.
        const bool container = role == R::Client || role == R::Grouping || role == R::Pane;
        const bool control = controlRoles.contains(role) || ((w->focusPolicy() & Qt::TabFocus) && !container);
        if (control && !inScrollArea && w != &window) {
            const QString name = node->text(QAccessible::Name).trimmed();
            // On Linux a combo box's name is the entry it shows; what it is for comes from its
            // own accessible name or from a label pointing at it.
            const bool comboUnlabelled = role == R::ComboBox && w->accessibleName().isEmpty()
                                         && node->relations(QAccessible::Label).isEmpty();
            if (name.isEmpty() || comboUnlabelled)
                unnamed << QStringLiteral("%1 (%2, role %3)")
                               .arg(w->objectName(), QLatin1String(w->metaObject()->className()))
                               .arg(int(role));
        }
        if (qobject_cast<QAbstractItemView *>(w) || role == R::ComboBox)
            return; // items, and a combo box's list
        for (int i = 0; i < node->childCount(); ++i)
            if (QAccessibleInterface *child = node->child(i))
                walk(child);
    };
    if (QAccessibleInterface *top = QAccessible::queryAccessibleInterface(&window))
        walk(top);
    return unnamed;
}

} // namespace

class tst_WindowsAsShown : public QObject
{
    Q_OBJECT
private slots:
    void everyWindowIsReadableAndFits()
    {
        const QString pictures = qEnvironmentVariable("TELVOX_SCREENSHOTS");
        for (const auto &[language, suffix] : {std::pair{"0", "en"}, {"1", "gb"}, {"2", "big5"}}) {
            ScratchDir home;
            const QString folder = home.file("waveFiles");
            QDir().mkpath(folder);
            // Short recordings, and a phonebook that names two of the callers.
            const std::pair<const char *, int> recordings[] = {
                {"M2026-03-01~16-40-12~5550101.wav", 95000}, {"O2026-03-01~18-05-33~5552468.wav", 12000},
                {"A2026-03-02~09-14-05~5551234.wav", 42000}, {"A2026-03-02~11-02-47~5559876.wav", 7000}};
            for (const auto &[name, ms] : recordings)
                QVERIFY(writeTestWave(folder + '/' + name, ms));
            QVERIFY(phonebook::rewrite(home.file("PhoneBook.txt"), {"Li Wei", "Ana Ortiz"}, {"5551234", "5550101"}));
            presetSettings(home.path(), {{"Config/Language", language}, {"Config/SaveFile", folder}});
            AppRig rig(home.path());
            QStringList checked;
            openEveryWindow(rig, [&](QWidget &w) {
                if (auto *main = qobject_cast<frmMain *>(&w)) {
                    // Messages arrive as the program records them: two handled, two unread.
                    for (const auto &[name, ms] : recordings)
                        rig.app.messageLists().addRecording(folder, QLatin1String(name));
                    for (const int id : {1021, 1025})
                        rig.app.statusLog().AddStatus(rig.app.texts().LoadText(id));
                    main->findChild<QScrollBar *>("HScroll1")->setMaximum(95);
                    main->findChild<QScrollBar *>("HScroll1")->setValue(31);
                }
                if (w.objectName() == QLatin1String("frmSetup")) { // forwarding unfolded once shown
                    w.show();
                    settle();
                    w.findChild<QGroupBox *>("fraForward")->setChecked(true);
                }
                checkWindow(w);
                // "frmSetup" is saved as setup-en.png.
                const QString name = w.objectName().mid(3).toLower();
                if (!pictures.isEmpty() && !checked.contains(w.objectName()))
                    savePicture(w, QDir(pictures).filePath(name + '-' + suffix + ".png"));
                checked << w.objectName();
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

    // A screen reader names every control of every window, in each language.
    void everyControlHasAnAccessibleName()
    {
        if (!qEnvironmentVariableIsEmpty("TELVOX_SCREEN_SCALE") || qEnvironmentVariableIsSet("TELVOX_SCREENSHOTS"))
            QSKIP("names do not depend on the scale; checked once, at 100 %");
        QAccessible::setActive(true);
        for (const char *language : {"0", "1", "2"}) {
            ScratchDir home;
            presetSettings(home.path(), {{"Config/Language", language}, {"Config/SaveFile", home.file("waveFiles")}});
            AppRig rig(home.path());
            QStringList problems;
            QStringList seen;
            openEveryWindow(rig, [&](QWidget &w) {
                if (!w.isVisible())
                    w.show();
                settle();
                seen << w.objectName();
                for (const QString &control : unnamedControls(w))
                    problems << w.objectName() + QStringLiteral(": ") + control;
                if (w.objectName() != QLatin1String("frmMain"))
                    return;
                // An icon the mouse clicks is a button to a screen reader: its text as the name,
                // its tool tip (with the key) as the description, and a press that clicks it.
                auto *speaker = w.findChild<QWidget *>(QStringLiteral("lblSpeaker"));
                QAccessibleInterface *node = QAccessible::queryAccessibleInterface(speaker);
                QVERIFY(node);
                QCOMPARE(node->role(), QAccessible::Button);
                QCOMPARE(node->text(QAccessible::Name), rig.app.texts().LoadText(1719));
                QVERIFY2(node->text(QAccessible::Description).startsWith(rig.app.texts().LoadText(1719) + "  ("),
                         qPrintable(node->text(QAccessible::Description)));
                QVERIFY(node->actionInterface());
                QSignalSpy clicked(speaker, SIGNAL(clicked()));
                node->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
                QCOMPARE(clicked.count(), 1);
            });
            QVERIFY2(seen.size() >= 16, qPrintable(seen.join(' ')));
            for (const QString &problem : std::as_const(problems))
                qWarning("language %s, no accessible name: %s", language, qPrintable(problem));
            QVERIFY2(problems.isEmpty(), qPrintable(QStringLiteral("language %1: %2 controls without an accessible name")
                                                        .arg(language).arg(problems.size())));
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
    if (!qEnvironmentVariableIsSet("TELVOX_SCREENSHOTS"))
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + file.toLocal8Bit());
    const QByteArray scale = qgetenv("TELVOX_SCREEN_SCALE");
    qputenv("QT_SCALE_FACTOR", scale.isEmpty() ? QByteArray("1") : scale);
    QApplication app(argc, argv);
    tst_WindowsAsShown test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_WindowsAsShown.moc"
