#include "ui/frmMain.h"

#include "core/Settings.h"
#include "core/Texts.h"
#include "platform/shell/UserPrompts.h"
#include "records/StatusLog.h"
#include "ui/SystemTray.h"
#include "ui/frmMainFace.h"
#include "ui/frmViewLog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QScreen>

namespace telvox {

namespace {
constexpr int kTrayHint = 1746;
} // namespace

frmMain::frmMain(Services services, QWidget *parent)
    : QWidget(parent)
    , m_s(services)
{
    setObjectName(QStringLiteral("frmMain"));
    resize(680, 490);

    m_lstStatus = new QListView(this);
    m_lstStatus->setObjectName(QStringLiteral("lstStatus"));
    m_lstStatus->setModel(&m_s.statusList);
    m_lstStatus->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_lstStatus->setUniformItemSizes(true);
    m_lstStatus->setContextMenuPolicy(Qt::CustomContextMenu);

    m_chkLegal = new QCheckBox(this);
    m_chkLegal->setObjectName(QStringLiteral("chkLegal"));
    m_lblLegal = new QLabel(this);
    m_lblLegal->setObjectName(QStringLiteral("lblLegal"));
    m_chkRingCount = new QCheckBox(this);
    m_chkRingCount->setObjectName(QStringLiteral("chkRingCount"));
    m_lblRingCount = new QLabel(this);
    m_lblRingCount->setObjectName(QStringLiteral("lblRingCount"));

    m_cmdLog = new QPushButton(this);
    m_cmdLog->setObjectName(QStringLiteral("cmdLog"));
    m_cmdDialOut = new QPushButton(this);
    m_cmdDialOut->setObjectName(QStringLiteral("cmdDialOut"));
    m_cmdExit = new QPushButton(this);
    m_cmdExit->setObjectName(QStringLiteral("cmdExit"));

    m_mmuLog = new QMenu(this);
    m_mmuLog->setObjectName(QStringLiteral("mmuLog"));
    m_mmuAddPB = m_mmuLog->addAction(QStringLiteral("Add to PhoneBook"));
    m_mmuAddPB->setObjectName(QStringLiteral("mmuAddPB"));
    m_mmuPrintLog = m_mmuLog->addAction(QStringLiteral("打印日志"));
    m_mmuPrintLog->setObjectName(QStringLiteral("mmuPrintLog"));
    m_mmuBlockCaller = m_mmuLog->addAction(QStringLiteral("Block this caller"));
    m_mmuBlockCaller->setObjectName(QStringLiteral("mmuBlockCaller"));

    buildFace(); // the painted face and the controls placed on it (frmMainFace.cpp)

    connect(m_chkLegal, &QCheckBox::clicked, this, &frmMain::chkLegal_Click);
    connect(m_chkRingCount, &QCheckBox::clicked, this, &frmMain::chkRingCount_Click);
    connect(m_cmdExit, &QPushButton::clicked, this, &frmMain::cmdExit_Click);
    connect(m_cmdLog, &QPushButton::clicked, this, &frmMain::cmdLog_Click);
    connect(m_cmdDialOut, &QPushButton::clicked, this, &frmMain::dialOutRequested);
    connect(m_mmuPrintLog, &QAction::triggered, this, &frmMain::mmuPrintLog_Click);
    connect(m_mmuAddPB, &QAction::triggered, this, &frmMain::addToPhoneBookRequested);
    connect(m_mmuBlockCaller, &QAction::triggered, this,
            [this] { emit blockCallerRequested(m_lstStatus->currentIndex().data().toString()); });
    m_mmuLineControls = new QAction(QStringLiteral("Virtual Exchange"), this);
    m_mmuLineControls->setObjectName(QStringLiteral("mmuVirtualExchange"));
    m_mmuLineControls->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V));
    m_mmuLineControls->setShortcutContext(Qt::WindowShortcut);
    addAction(m_mmuLineControls);
    connect(m_mmuLineControls, &QAction::triggered, this, &frmMain::lineControlsRequested);
    // Reachable without knowing the shortcut: the status list's menu and the tray's.
    m_mmuLog->addSeparator();
    m_mmuLog->addAction(m_mmuLineControls);
    connect(m_lstStatus, &QListView::customContextMenuRequested, this,
            [this](const QPoint &pos) { m_mmuLog->popup(m_lstStatus->viewport()->mapToGlobal(pos)); });
    connect(&m_s.statusList, &StatusListModel::statusAdded, this, [this](int row) {
        const QModelIndex index = m_s.statusList.index(row);
        m_lstStatus->setCurrentIndex(index);
        m_lstStatus->scrollTo(index);
    });
}

frmMain::~frmMain() = default;

void frmMain::CenterForm()
{
    const QScreen *screen = this->screen();
    if (!screen)
        return;
    // Within the part of the screen that panels leave free, the desktop's frame included.
    const QRect area = screen->availableGeometry();
    const QSize outer = frameGeometry().size();
    // Slightly below the centre: 100 twips, which is about 7 pixels at 96 dpi, but never so
    // far that the bottom leaves the screen.
    const int below = qRound(100.0 * screen->logicalDotsPerInchY() / 1440.0);
    const int left = (area.width() - outer.width()) / 2 + area.x();
    const int lowest = qMax(area.y(), area.y() + area.height() - outer.height());
    const int top = qBound(area.y(), (area.height() - outer.height()) / 2 + below + area.y(), lowest);
    move(qMax(area.x(), left), top);
}

void frmMain::setCheckBoxes(bool legal, bool ringCount)
{
    m_chkLegal->setChecked(legal);
    m_chkRingCount->setChecked(ringCount);
}

void frmMain::setCaptions()
{
    const Texts &t = m_s.texts;
    setWindowTitle(t.LoadText(1004));
    m_lstStatus->setToolTip(t.LoadText(1006));
    m_lblLegal->setText(t.LoadText(1114));
    m_lblLegal->setToolTip(t.LoadText(1114));
    m_chkLegal->setToolTip(t.LoadText(1114));
    m_lblRingCount->setText(t.LoadText(1120));
    // The check boxes' texts are labels beside them: a screen reader is given the same words.
    m_lstStatus->setAccessibleName(t.LoadText(1006));
    m_chkLegal->setAccessibleName(t.LoadText(1114));
    m_chkRingCount->setAccessibleName(t.LoadText(1120));
    m_cmdLog->setText(t.LoadText(1010));
    m_cmdLog->setToolTip(t.LoadText(1010));
    m_cmdDialOut->setText(t.LoadText(1083));
    m_cmdDialOut->setToolTip(t.LoadText(1083));
    m_cmdExit->setText(t.LoadText(1014));
    m_cmdExit->setToolTip(t.LoadText(1014));
    m_mmuAddPB->setText(t.LoadText(1713));
    m_mmuPrintLog->setText(t.LoadText(1714));
    m_mmuBlockCaller->setText(t.LoadText(1959));
    m_mmuLineControls->setText(t.LoadText(1507));
    setFaceCaptions();
}

void frmMain::chkLegal_Click()
{
    m_s.settings.WriteSettingJournaled(QStringLiteral("Config"), QStringLiteral("Legal"), m_chkLegal->isChecked() ? 1 : 0);
}

void frmMain::chkRingCount_Click()
{
    m_s.settings.WriteSettingJournaled(QStringLiteral("Config"), QStringLiteral("RingCount"),
                                       m_chkRingCount->isChecked() ? 1 : 0);
}

void frmMain::keyPressEvent(QKeyEvent *event)
{
    // Lower-case "d" only: "D" does nothing.
    if (event->text() == QLatin1String("d")) {
        m_cmdDialOut->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void frmMain::cmdExit_Click()
{
    m_quitting = true;
    close();
}

void frmMain::closeEvent(QCloseEvent *event)
{
    // Closing the window is not quitting: with a tray it hides there, and says so once.
    if (!m_quitting && !m_closing && m_face->desktop && m_face->desktop->tray.isAvailable()) {
        event->ignore();
        hideToTray();
        if (m_s.settings.ReadSetting(QStringLiteral("Config"), QStringLiteral("TrayHint")) != QLatin1String("1")) {
            m_s.settings.WriteSetting(QStringLiteral("Config"), QStringLiteral("TrayHint"), QStringLiteral("1"));
            m_face->desktop->tray.notify(m_s.texts.LoadText(1004), m_s.texts.LoadText(kTrayHint));
        }
        return;
    }
    event->accept();
    if (m_closing)
        return;
    m_closing = true;
    if (m_shutdown)
        m_shutdown();
}

void frmMain::cmdLog_Click()
{
    frmViewLog viewer({m_s.texts, m_s.statusLog, m_s.prompts, m_s.printer}, this);
    viewer.exec();
}

void frmMain::mmuPrintLog_Click()
{
    const QStringList &lines = m_s.statusList.lines();
    if (lines.isEmpty())
        return;
    printToStatusLog(m_s.printer, m_s.statusLog, m_s.texts, lines, m_s.texts.LoadText(1006));
}

} // namespace telvox
