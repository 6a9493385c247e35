// The main window's painted face, its player and the commands that open the browser, the
// help and the About window. The tray is in frmMainTray.cpp.

#include "ui/frmMainFace.h"

#include "core/AppPaths.h"
#include "core/EventLoop.h"
#include "core/MainTimers.h"
#include "core/OptionReader.h"
#include "core/Settings.h"
#include "core/Texts.h"
#include "platform/media/MediaControl.h"
#include "platform/shell/UserPrompts.h"
#include "ui/DesktopShell.h"
#include "ui/HelpFiles.h"
#include "ui/HotLabel.h"
#include "ui/MessageColumns.h"
#include "ui/ModalRunner.h"
#include "ui/SystemTray.h"
#include "ui/WavePlayer.h"
#include "ui/WindowOutline.h"
#include "ui/frmAbout.h"
#include "ui/frmBrows.h"

#include <QAction>
#include <QCheckBox>
#include <QKeyEvent>
#include <QDir>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QWindow>

namespace telvox {

namespace {

// The face's check boxes: a light box with a dark tick, an amber frame while focused. Drawn
// here rather than by the style sheet: a style sheet's image would list and load the image
// format and icon engine plugins (SVG among them) only to read the tick.
class FaceCheckStyle final : public QProxyStyle
{
public:
    int pixelMetric(PixelMetric metric, const QStyleOption *option, const QWidget *widget) const override
    {
        // 14 pixels inside a frame of 1, or of 2 with the focus; never taller than the check
        // box itself, which shrinks with the face on a small screen (the box was cut off).
        if (metric == PM_IndicatorWidth || metric == PM_IndicatorHeight) {
            const int size = 14 + 2 * (widget && widget->hasFocus() ? 2 : 1);
            return widget && widget->height() > 0 ? qMin(size, widget->height()) : size;
        }
        return QProxyStyle::pixelMetric(metric, option, widget);
    }

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *p,
                       const QWidget *widget) const override
    {
        if (element != PE_IndicatorCheckBox) {
            QProxyStyle::drawPrimitive(element, option, p, widget);
            return;
        }
        const int border = option->state & State_HasFocus ? 2 : 1;
        const QRect box = option->rect;
        p->save();
        p->setRenderHint(QPainter::Antialiasing);
        p->setPen(QPen(option->state & State_HasFocus ? QColor(0xf2, 0xa3, 0x3a) : QColor(0x5b, 0x9b, 0xd0), border));
        p->setBrush(QColor(0xf3, 0xf8, 0xfd));
        p->drawRoundedRect(QRectF(box).adjusted(border / 2.0, border / 2.0, -border / 2.0, -border / 2.0), 3, 3);
        if (option->state & State_On) {
            const QRect tick = box.adjusted(border, border, -border, -border);
            const qreal dpr = widget ? widget->devicePixelRatioF() : p->device()->devicePixelRatioF();
            p->drawPixmap(tick.topLeft(), m_tick.pixmap(tick.size(), dpr));
        }
        p->restore();
    }

private:
    mutable Artwork m_tick{QStringLiteral("check")};
};

// The face's colours, put on each of the window's own controls (its direct children) rather
// than on the window: a style sheet on the window would reach every dialog parented to it, and
// running each control of those (the setup's hundreds) through the style sheet engine cost a
// sixth of a first start. The dialogs keep the desktop's own colours either way. Only the lists
// and the scroll bar need a style sheet (borders, rounded corners, the slider's shape); the
// labels and check boxes take their light text from their palette, which costs a start far
// less than a style sheet each and leaves their tooltips in the desktop's own colours (a light
// label colour from a style sheet reached the tooltips too, which had to be styled back).
void styleFaceControls(QWidget &window)
{
    const QColor faceText(0xe8, 0xf2, 0xfb);
    auto *checkStyle = new FaceCheckStyle;
    checkStyle->setParent(&window);
    const auto children = window.findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (QWidget *w : children) {
        if (w->isWindow())
            continue; // menus and dialogs
        QString sheet;
        if (qobject_cast<QListView *>(w)) {
            sheet = QStringLiteral(
                "QListView { background: #f3f8fd; color: #10263b; border: 1px solid #5b9bd0; border-radius: 4px;"
                " selection-background-color: #2f6d9f; selection-color: white; }");
        } else if (qobject_cast<QScrollBar *>(w)) {
            sheet = QStringLiteral(
                "QScrollBar:horizontal { height: 12px; background: #2c5378; border: 1px solid #5b9bd0;"
                " border-radius: 6px; }"
                "QScrollBar::handle:horizontal { background: #f2a33a; border-radius: 6px; min-width: 18px; }"
                "QScrollBar::add-line:horizontal, QScrollBar::sub-line:horizontal { width: 0; }");
        } else if (qobject_cast<QCheckBox *>(w) || qobject_cast<QLabel *>(w)) {
            // A check box's tick is dark on a light box (FaceCheckStyle), where the light text
            // colour would hide it.
            if (qobject_cast<QCheckBox *>(w))
                w->setStyle(checkStyle);
            QPalette palette = w->palette();
            palette.setColor(QPalette::WindowText, faceText);
            w->setPalette(palette);
            continue;
        }
        if (!sheet.isEmpty())
            w->setStyleSheet(sheet);
    }
}

// The window in design pixels, at 15 twips per pixel (96 dots per inch).
constexpr int kDesignWidth = 680;
constexpr int kDesignHeight = 489;
constexpr int kNoBrowser = 1708;
constexpr int kNoVolumeControl = 1709;
constexpr int kColumnWhen = 1861;
constexpr int kColumnLength = 1862;
constexpr int kColumnCaller = 1716;
constexpr int kColumnFile = 1715;

QPushButton *hiddenButton(const char *name, QWidget *parent)
{
    auto *b = new QPushButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->hide(); // its label is what the user sees and clicks
    return b;
}

} // namespace

void frmMain::buildFace()
{
    m_face = std::make_unique<Face>();
    Face &f = *m_face;
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    // The logo at 128 pixels; the title bar, task bar and tray get it scaled down. (A QIcon of a
    // file name would probe every image format plugin for the file's format.)
    setWindowIcon(QIcon(artworkPixmap(QStringLiteral("logo"), QSize(128, 128), 1.0)));
    f.twipsPerPixelX = twipsPerPixelX(screen());
    f.twipsPerPixelY = twipsPerPixelY(screen());
    f.scale = 15.0 / f.twipsPerPixelX;
    // On a screen too small for the face (a small notebook at 200 %) the whole face shrinks,
    // outline and fonts with it, so that every command stays on the screen.
    if (const QScreen *s = screen()) {
        const QSize room = s->availableGeometry().size();
        const double fit = qMin(room.width() / double(kDesignWidth), room.height() / double(kDesignHeight));
        if (fit > 0 && f.scale > fit) {
            // The desktop's font shrinks by the same ratio, so that the lists' columns and the
            // captions keep their places on the face.
            QFont smaller = font();
            if (smaller.pointSizeF() > 0)
                smaller.setPointSizeF(smaller.pointSizeF() * fit / f.scale);
            else
                smaller.setPixelSize(qMax(6, int(smaller.pixelSize() * fit / f.scale)));
            setFont(smaller);
            f.scale = fit;
            f.twipsPerPixelX = 15.0 / fit;
            f.twipsPerPixelY = 15.0 / fit;
        }
    }
    auto px = [&f](int design) { return qRound(design * f.scale); };
    // Font sizes round down: a caption never grows past the room the design gives it.
    auto fontPx = [&f](int design) { return qMax(6, int(design * f.scale)); };
    auto place = [&px](QWidget *w, int x, int y, int width, int height) {
        w->setGeometry(px(x), px(y), px(width), px(height));
    };
    setFixedSize(px(kDesignWidth), px(kDesignHeight));

    QPalette light = palette();
    light.setColor(QPalette::WindowText, Qt::white);
    setPalette(light);


    f.Picture1 = new ArtworkWidget(QStringLiteral("logo"), this);
    f.Picture1->setObjectName(QStringLiteral("Picture1"));
    f.Picture1->setAttribute(Qt::WA_TransparentForMouseEvents); // a press on the logo drags
    place(f.Picture1, 14, 7, 44, 44);
    f.lblTitle = new QLabel(this);
    f.lblTitle->setObjectName(QStringLiteral("lblTitle"));
    QFont titleFont = font();
    titleFont.setPixelSize(fontPx(26));
    titleFont.setBold(true);
    f.lblTitle->setFont(titleFont);
    place(f.lblTitle, 64, 8, 148, 40);

    // The command buttons stay hidden; each label presses its button.
    f.cmdParam = hiddenButton("cmdParam", this);
    f.cmdBackup = hiddenButton("cmdBackup", this);
    f.cmdBrows = hiddenButton("cmdBrows", this);
    f.cmdHelp = hiddenButton("cmdHelp", this);
    f.cmdPlay = hiddenButton("cmdPlay", this);
    f.cmdPause = hiddenButton("cmdPause", this);
    f.cmdStop = hiddenButton("cmdStop", this);
    m_cmdLog->hide();
    m_cmdDialOut->hide();
    m_cmdExit->hide();

    QFont navFont = font();
    navFont.setPixelSize(fontPx(12));
    navFont.setBold(true);
    struct Nav
    {
        HotLabel *&label;
        const char *name;
        const char *icon;
        QPushButton *button;
    };
    const Nav nav[] = {
        {f.lblSetup, "lblSetup", "setup", f.cmdParam},   {f.lblLog, "lblLog", "log", m_cmdLog},
        {f.lblBackup, "lblBackup", "backup", f.cmdBackup}, {f.lblSearch, "lblSearch", "search", f.cmdBrows},
        {f.lblDial, "lblDial", "dial", m_cmdDialOut},      {f.lblHelp, "lblHelp", "help", f.cmdHelp},
        {f.lblExit, "lblExit", "exit", m_cmdExit},
    };
    int row = 0;
    for (const Nav &n : nav) {
        n.label = new HotLabel(QString::fromLatin1(n.name),
                               QString::fromLatin1(n.icon), this);
        n.label->setFont(navFont);
        n.label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        place(n.label, 16, 78 + row * 50, 130, 42);
        QPushButton *button = n.button;
        connect(n.label, &HotLabel::clicked, button, &QPushButton::click);
        ++row;
    }

    f.lblMin = new HotLabel(QStringLiteral("lblMin"), QStringLiteral("min"), this);
    place(f.lblMin, 552, 22, 30, 30);
    f.lblSpeaker = new HotLabel(QStringLiteral("lblSpeaker"), QStringLiteral("speaker"), this);
    place(f.lblSpeaker, 490, 456, 30, 28);
    f.lblPlay = new HotLabel(QStringLiteral("lblPlay"), QStringLiteral("play"), this);
    place(f.lblPlay, 378, 456, 30, 28);
    f.lblPause = new HotLabel(QStringLiteral("lblPause"), QStringLiteral("pause"), this);
    place(f.lblPause, 414, 456, 30, 28);
    f.lblStop = new HotLabel(QStringLiteral("lblStop"), QStringLiteral("stop"), this);
    place(f.lblStop, 450, 456, 30, 28);
    f.lblPlay->followEnabled(f.cmdPlay);
    f.lblPause->followEnabled(f.cmdPause);

    // Status list, the two recording lists and their heading.
    place(m_lstStatus, 164, 74, 502, 116);
    m_lstStatus->setCursor(Qt::ArrowCursor);
    // Each list is named above it; the column titles name what its rows hold.
    f.Label3 = new QLabel(this);
    f.Label3->setObjectName(QStringLiteral("Label3"));
    place(f.Label3, 168, 199, 242, 18);
    f.Label4 = new QLabel(this);
    f.Label4->setObjectName(QStringLiteral("Label4"));
    place(f.Label4, 422, 199, 242, 18);
    // Date, length and caller beside each file name, under column titles.
    const QStringList columnTitles{QStringLiteral("Date and time"), QStringLiteral("Length"), QStringLiteral("Caller"),
                                   QStringLiteral("File name")};
    f.lstUnread = new MessageListWidget(columnTitles, this);
    f.lstUnread->setObjectName(QStringLiteral("lstUnread"));
    place(f.lstUnread, 164, 218, 248, 120);
    f.lstLastTen = new MessageListWidget(columnTitles, this);
    f.lstLastTen->setObjectName(QStringLiteral("lstLastTen"));
    f.lstLastTen->setCursor(Qt::ArrowCursor);
    place(f.lstLastTen, 418, 218, 248, 120);
    f.mmuFile = new QMenu(this);
    f.mmuFile->setObjectName(QStringLiteral("mmuFile"));
    f.mmuFile1 = new QMenu(this);
    f.mmuFile1->setObjectName(QStringLiteral("mmuFile1"));

    // The two options.
    place(m_chkLegal, 166, 350, 18, 18);
    place(m_lblLegal, 188, 348, 380, 22);
    place(m_chkRingCount, 166, 370, 18, 18);
    place(m_lblRingCount, 188, 368, 380, 22);

    // The player.
    f.Frame4 = new QFrame(this);
    f.Frame4->setObjectName(QStringLiteral("Frame4"));
    f.Frame4->setCursor(Qt::ArrowCursor);
    place(f.Frame4, 158, 390, 410, 62);
    f.Frame4->lower();
    f.Label1 = new QLabel(this);
    f.Label1->setObjectName(QStringLiteral("Label1"));
    place(f.Label1, 170, 394, 62, 18);
    f.lblFileName = new QLabel(this);
    f.lblFileName->setObjectName(QStringLiteral("lblFileName"));
    place(f.lblFileName, 234, 394, 360, 18);
    f.Label2 = new QLabel(this);
    f.Label2->setObjectName(QStringLiteral("Label2"));
    place(f.Label2, 170, 412, 62, 18);
    f.lblFileSize = new QLabel(this);
    f.lblFileSize->setObjectName(QStringLiteral("lblFileSize"));
    place(f.lblFileSize, 234, 412, 340, 18);
    f.lblSeek = new QLabel(this);
    f.lblSeek->setObjectName(QStringLiteral("lblSeek"));
    place(f.lblSeek, 170, 432, 40, 16);
    f.HScroll1 = new QScrollBar(Qt::Horizontal, this);
    f.HScroll1->setObjectName(QStringLiteral("HScroll1"));
    place(f.HScroll1, 214, 434, 340, 12);

    // Lists, labels and the body show the plain arrow.
    setCursor(Qt::ArrowCursor);

    connect(f.cmdParam, &QPushButton::clicked, this, &frmMain::cmdParam_Click);
    connect(f.cmdBackup, &QPushButton::clicked, this, &frmMain::cmdBackup_Click);
    connect(f.cmdBrows, &QPushButton::clicked, this, &frmMain::cmdBrows_Click);
    connect(f.cmdHelp, &QPushButton::clicked, this, &frmMain::cmdHelp_Click);
    connect(f.lblMin, &HotLabel::clicked, this, &frmMain::lblMin_Click);
    connect(f.lblSpeaker, &HotLabel::clicked, this, &frmMain::lblSpeaker_Click);
    connect(f.lblPlay, &HotLabel::clicked, this, [this] {
        if (m_face->cmdPlay->isEnabled())
            m_face->cmdPlay->click();
    });
    connect(f.lblPause, &HotLabel::clicked, this, [this] {
        if (m_face->cmdPause->isEnabled())
            m_face->cmdPause->click();
    });
    connect(f.lblStop, &HotLabel::clicked, this, [this] {
        m_face->cmdStop->click();
        if (m_face->desktop)
            m_face->desktop->timers.timPlayAll->setEnabled(false); // ends a play-all run
    });

    // Every command has a key that works wherever the focus is in the window; the tool tips
    // name them.
    const struct
    {
        HotLabel *label;
        QKeySequence keys;
    } keys[] = {
        {f.lblSetup, QKeySequence(Qt::CTRL | Qt::Key_T)},    {f.lblLog, QKeySequence(Qt::CTRL | Qt::Key_L)},
        {f.lblBackup, QKeySequence(Qt::CTRL | Qt::Key_B)},   {f.lblSearch, QKeySequence(Qt::CTRL | Qt::Key_F)},
        {f.lblDial, QKeySequence(Qt::CTRL | Qt::Key_D)},     {f.lblHelp, QKeySequence(Qt::Key_F1)},
        {f.lblExit, QKeySequence(Qt::CTRL | Qt::Key_Q)},     {f.lblPlay, QKeySequence(Qt::CTRL | Qt::Key_P)},
        {f.lblPause, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P)}, {f.lblStop, QKeySequence(Qt::CTRL | Qt::Key_Period)},
        {f.lblSpeaker, QKeySequence(Qt::CTRL | Qt::Key_M)},  {f.lblMin, QKeySequence(Qt::CTRL | Qt::Key_H)},
    };
    for (const auto &k : keys) {
        auto *action = new QAction(this);
        action->setObjectName(QStringLiteral("key_") + k.label->objectName());
        action->setShortcut(k.keys);
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
        HotLabel *label = k.label;
        connect(action, &QAction::triggered, label, &HotLabel::clicked);
        f.keys.append({label, k.keys});
    }
    // "d" opens the dialler from the lists too, before their type-ahead takes the letter.
    for (QAbstractItemView *list : {static_cast<QAbstractItemView *>(m_lstStatus),
                                    static_cast<QAbstractItemView *>(f.lstUnread),
                                    static_cast<QAbstractItemView *>(f.lstLastTen)})
        list->installEventFilter(this);
    styleFaceControls(*this);
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && qobject_cast<QAbstractItemView *>(watched)) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->text() == QLatin1String("d") && key->modifiers() == Qt::NoModifier) {
            m_cmdDialOut->click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmMain::setFaceCaptions()
{
    const Texts &t = m_s.texts;
    Face &f = *m_face;
    f.lblTitle->setText(t.LoadText(1004));
    f.cmdParam->setText(t.LoadText(1009));
    f.lblSetup->setText(t.LoadText(1009));
    f.lblSetup->setToolTip(t.LoadText(1009));
    f.lblLog->setText(t.LoadText(1010));
    f.lblLog->setToolTip(t.LoadText(1010));
    f.cmdBackup->setText(t.LoadText(1011));
    f.cmdBackup->setToolTip(t.LoadText(1011));
    f.lblBackup->setText(t.LoadText(1011));
    f.lblBackup->setToolTip(t.LoadText(1011));
    f.cmdBrows->setToolTip(t.LoadText(1017));
    f.lblSearch->setText(t.LoadText(1017));
    f.lblSearch->setToolTip(t.LoadText(1017));
    f.lblDial->setText(t.LoadText(1083));
    f.lblDial->setToolTip(t.LoadText(1083));
    f.cmdHelp->setText(t.LoadText(1013));
    f.cmdHelp->setToolTip(t.LoadText(1013));
    f.lblHelp->setText(t.LoadText(1013));
    f.lblHelp->setToolTip(t.LoadText(1013));
    f.lblExit->setText(t.LoadText(1014));
    f.lblExit->setToolTip(t.LoadText(1014));
    f.lblMin->setToolTip(t.LoadText(1718));
    f.lblSpeaker->setToolTip(t.LoadText(1719));
    f.lblPlay->setToolTip(t.LoadText(1015));
    f.cmdPlay->setToolTip(t.LoadText(1015));
    f.lblPause->setToolTip(t.LoadText(1720));
    f.lblStop->setToolTip(t.LoadText(1016));
    // The icons' names for a screen reader; their tool tips, with the keys, describe them.
    for (const auto &[label, text] : {std::pair{f.lblMin, 1718}, {f.lblSpeaker, 1719}, {f.lblPlay, 1015},
                                      {f.lblPause, 1720}, {f.lblStop, 1016}})
        label->setAccessibleName(t.LoadText(text));
    f.lblSeek->setText(t.LoadText(1717));
    f.Label3->setText(t.LoadText(1100));
    f.Label4->setText(t.LoadText(1005));
    for (const auto &[label, keys] : std::as_const(f.keys))
        label->setToolTip(label->toolTip() + QStringLiteral("  (") + keys.toString(QKeySequence::NativeText)
                          + QLatin1Char(')'));
    f.cmdStop->setToolTip(t.LoadText(1016));
    f.Label1->setText(t.LoadText(1056));
    f.Label2->setText(t.LoadText(1057));
    f.lstLastTen->setToolTip(t.LoadText(1005));
    f.lstUnread->setToolTip(t.LoadText(1100));
    f.lstUnread->setAccessibleName(t.LoadText(1100));
    f.lstLastTen->setAccessibleName(t.LoadText(1005));
    f.HScroll1->setAccessibleName(t.LoadText(1440));
    for (QListWidget *list : {f.lstUnread, f.lstLastTen}) {
        if (auto *columns = qobject_cast<MessageListWidget *>(list))
            columns->setColumnTitles({t.LoadText(kColumnWhen), t.LoadText(kColumnLength), t.LoadText(kColumnCaller),
                                      t.LoadText(kColumnFile)});
    }
    m_lblRingCount->setToolTip(t.LoadText(1120));
}

void frmMain::setDesktopServices(DesktopServices desktop)
{
    Face &f = *m_face;
    f.player.reset();
    f.desktop.emplace(std::move(desktop));
    f.desktop->tray.setClickHandler([this](TrayClick click) { trayIcon_Click(click); });
    buildTrayMenu();
    f.player = std::make_unique<WavePlayer>(
        WavePlayer::Kind::MainWindow,
        WavePlayer::Controls{f.cmdPlay, f.cmdPause, f.cmdStop, f.HScroll1, f.lblFileName, f.lblFileSize,
                             *f.desktop->timers.tmMMTIMER, *f.desktop->timers.tmPlay},
        f.desktop->media, m_s.texts, m_s.prompts);
    f.player->setSourceProvider([this]() -> WavePlayer::Source {
        if (m_face->currentRecording.isEmpty())
            return {};
        // A recording kept outside the recordings folder is listed with its whole path.
        return {m_face->currentRecording, QDir(recordingFolder()).filePath(m_face->currentRecording)};
    });
    connect(f.player.get(), &WavePlayer::playbackStarted, this, [this] {
        if (m_face->fromUnread)
            emit unreadPlayed(m_face->currentRecording);
    });
}

QString frmMain::recordingFolder() const
{
    const OptionReader options(m_s.settings);
    if (!options.recordingFolderChosen() && !m_face->desktop)
        return QString();
    return options.recordingFolder(m_face->desktop ? m_face->desktop->programFolder : QString());
}

void frmMain::paintBackground()
{
    useBackgroundOfLanguage();
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) // it has no window shapes
        setMask(BuildOutline());
    update();
}

QRegion frmMain::BuildOutline() const
{
    return windowOutlineRegion(m_face->twipsPerPixelX, m_face->twipsPerPixelY);
}

void frmMain::setCurrentRecording(const QString &name, bool fromUnread)
{
    m_face->currentRecording = name;
    m_face->fromUnread = fromUnread;
}

bool frmMain::isInTray() const { return m_face->inTray; }

WavePlayer *frmMain::player() const { return m_face->player.get(); }

// The picture behind everything, of the language in use; the other two are never loaded.
void frmMain::useBackgroundOfLanguage()
{
    const int offset = m_s.texts.languageOffset();
    m_face->background.setName(offset == 2000 ? QStringLiteral("imgBGbig5")
                               : offset != 0  ? QStringLiteral("imgBGcn")
                                              : QStringLiteral("imgBG"));
}

void frmMain::paintEvent(QPaintEvent *)
{
    useBackgroundOfLanguage();
    QPainter p(this);
    // Rendered at build time; kept at the window's size in device pixels (1.3 MB at 100 %), so a
    // repaint copies it as it is.
    p.drawPixmap(0, 0, m_face->background.pixmap(size(), devicePixelRatioF()));
}

void frmMain::mousePressEvent(QMouseEvent *event)
{
    // Any button on the body moves the window, as a title bar would.
    if (QWindow *window = windowHandle())
        window->startSystemMove();
    event->accept();
}

void frmMain::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

void frmMain::lblMin_Click() { setWindowState(windowState() | Qt::WindowMinimized); }

void frmMain::lblSpeaker_Click()
{
    if (m_face->desktop && !m_face->desktop->shell.openVolumeControl())
        m_s.prompts.messageBox(m_s.texts.LoadText(kNoVolumeControl), MessageIcon::Information, m_s.texts.LoadText(1004));
}

void frmMain::cmdParam_Click() { emit setupRequested(); }

void frmMain::cmdBackup_Click() { emit backupRequested(); }

void frmMain::cmdBrows_Click()
{
    Face &f = *m_face;
    if (!f.desktop)
        return;
    if (!f.browser) {
        f.browser = new frmBrows({m_s.texts, m_s.settings, m_s.prompts, f.desktop->media, f.desktop->loop,
                                  f.desktop->shell, f.desktop->programFolder},
                                 this);
    }
    f.desktop->modal.runModal(*f.browser);
}

void frmMain::cmdHelp_Click()
{
    Face &f = *m_face;
    if (!f.desktop)
        return;
    const QString help = installHelpFile(f.desktop->programFolder, m_s.texts.languageOffset());
    if (!help.isEmpty() && !f.desktop->shell.openUrl(QUrl::fromLocalFile(help)))
        m_s.prompts.messageBox(m_s.texts.LoadText(kNoBrowser).arg(QDir::toNativeSeparators(help)),
                               MessageIcon::Information, m_s.texts.LoadText(1004));
    if (!f.about)
        f.about = new frmAbout(m_s.texts, this);
    f.desktop->modal.runModal(*f.about);
}

} // namespace telvox
