// The main window's tray side: the icon with the unread count, its menu, hiding to the tray
// and coming back, and the notification of a new message.

#include "ui/frmMainFace.h"

#include "core/Texts.h"
#include "records/StatusLog.h"
#include "ui/SystemTray.h"

#include <QAction>
#include <QApplication>
#include <QPointer>
#include <QMenu>
#include <QPainter>

namespace telvox {

namespace {
constexpr int kUnreadCount = 1747;
constexpr int kNewMessage = 1748;
constexpr int kMarkRead = 1880;
constexpr int kShowWindow = 1749;
constexpr int kPlayNewest = 1750;
} // namespace

void frmMain::buildTrayMenu()
{
    Face &f = *m_face;
    if (f.trayMenu)
        return;
    f.trayMenu = new QMenu(this);
    f.trayMenu->setObjectName(QStringLiteral("mmuTray"));
    QAction *showWindow = f.trayMenu->addAction(m_s.texts.LoadText(kShowWindow));
    showWindow->setObjectName(QStringLiteral("mmuTrayShow"));
    connect(showWindow, &QAction::triggered, this, [this] { trayIcon_Click(TrayClick::Left); });
    QAction *playNewest = f.trayMenu->addAction(m_s.texts.LoadText(kPlayNewest));
    playNewest->setObjectName(QStringLiteral("mmuTrayPlayNewest"));
    connect(playNewest, &QAction::triggered, this, &frmMain::playNewestRequested);
    f.trayMenu->addAction(m_mmuLineControls); // the virtual exchange's window
    f.trayMenu->addSeparator();
    QAction *quit = f.trayMenu->addAction(m_s.texts.LoadText(1014));
    quit->setObjectName(QStringLiteral("mmuTrayQuit"));
    connect(quit, &QAction::triggered, this, &frmMain::cmdExit_Click);
}

void frmMain::setLineControlsAvailable(bool available) { m_mmuLineControls->setVisible(available); }

void frmMain::showTrayIcon()
{
    Face &f = *m_face;
    if (!f.desktop || !f.desktop->tray.isAvailable())
        return;
    f.desktop->tray.setMenu(f.trayMenu);
    f.desktop->tray.AddTrayIcon(trayIcon(), trayToolTip());
}

void frmMain::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The icon stays in the tray for the whole run, with the unread count, not only while
    // the window is hidden there.
    showTrayIcon();
}

void frmMain::Form_Resize()
{
    Face &f = *m_face;
    if (!(windowState() & Qt::WindowMinimized) || f.inTray || !f.desktop)
        return;
    if (f.desktop->tray.isAvailable()) {
        hideToTray();
        return;
    }
    // No notification area: the window stays minimised in the taskbar.
    if (!f.noTrayReported) {
        f.noTrayReported = true;
        m_s.statusLog.AddStatus(m_s.texts.LoadText(1302));
    }
}

void frmMain::hideToTray()
{
    showTrayIcon();
    m_face->inTray = true;
    hide();
}

QString frmMain::trayToolTip() const
{
    if (m_face->unread == 0)
        return QStringLiteral("Telvox");
    return QStringLiteral("Telvox: ") + m_s.texts.LoadText(kUnreadCount).arg(m_face->unread);
}

QIcon frmMain::trayIcon() const
{
    if (m_face->unread == 0)
        return windowIcon();
    // The unread count as a badge in the icon's corner.
    QIcon badged;
    for (const int side : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap = windowIcon().pixmap(side, side);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF badge(side * 0.42, side * 0.42, side * 0.58, side * 0.58);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xc6, 0x28, 0x28));
        p.drawEllipse(badge);
        QFont font = p.font();
        font.setBold(true);
        font.setPixelSize(qMax(6, int(side * 0.38)));
        p.setFont(font);
        p.setPen(Qt::white);
        p.drawText(badge, Qt::AlignCenter, m_face->unread > 99 ? QStringLiteral("99+") : QString::number(m_face->unread));
        p.end();
        badged.addPixmap(pixmap);
    }
    return badged;
}

void frmMain::setUnreadCount(int count)
{
    Face &f = *m_face;
    if (f.unread == count)
        return;
    f.unread = count;
    if (f.desktop) {
        f.desktop->tray.setToolTip(trayToolTip());
        f.desktop->tray.setIcon(trayIcon());
    }
}

void frmMain::announceMessage(const QString &name, const QString &text)
{
    Face &f = *m_face;
    if (!f.desktop)
        return;
    // A notification whether the window is in the tray or not; a window open under others
    // also asks for attention in the taskbar.
    const QList<NotificationAction> actions{{QStringLiteral("play"), m_s.texts.LoadText(1015)},
                                            {QStringLiteral("read"), m_s.texts.LoadText(kMarkRead)}};
    QPointer<frmMain> self(this);
    f.desktop->tray.notifyWithActions(m_s.texts.LoadText(kNewMessage), text, actions,
                                      [self, name](const QString &action) {
                                          if (self)
                                              emit self->messageActionChosen(name, action);
                                      });
    if (!f.inTray && isVisible() && !isActiveWindow())
        QApplication::alert(this);
}

void frmMain::bringToFront()
{
    Face &f = *m_face;
    f.inTray = false;
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void frmMain::minimiseAtStart()
{
    // A window minimised before it is first shown is iconified by the window system only once
    // it is mapped, which can come after a second start has asked for the window and so hide it
    // again. Put in the tray without ever being shown, nothing is left to come late.
    if (m_face->desktop && m_face->desktop->tray.isAvailable()) {
        hideToTray();
        return;
    }
    setWindowState(windowState() | Qt::WindowMinimized);
}

void frmMain::trayIcon_Click(TrayClick click)
{
    // A left click, or the menu's Show, brings the window back from the tray or from under
    // other windows; the icon stays.
    if (click == TrayClick::Left)
        bringToFront();
}

} // namespace telvox
