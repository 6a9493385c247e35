#include "ui/SystemTray.h"

#include "ui/DesktopNotifications.h"

#include <QSystemTrayIcon>

namespace telvox {

QtSystemTray::QtSystemTray()
    : m_notifications(std::make_unique<DesktopNotifications>())
{
}

QtSystemTray::~QtSystemTray() = default;

bool QtSystemTray::isAvailable() const { return QSystemTrayIcon::isSystemTrayAvailable(); }

void QtSystemTray::AddTrayIcon(const QIcon &icon, const QString &tip)
{
    if (!m_icon) {
        m_icon = std::make_unique<QSystemTrayIcon>();
        QObject::connect(m_icon.get(), &QSystemTrayIcon::activated, m_icon.get(),
                         [this](QSystemTrayIcon::ActivationReason reason) {
                             switch (reason) {
                             case QSystemTrayIcon::Trigger: clicked(TrayClick::Left); break;
                             case QSystemTrayIcon::Context: clicked(TrayClick::Right); break;
                             case QSystemTrayIcon::DoubleClick: clicked(TrayClick::Double); break;
                             case QSystemTrayIcon::MiddleClick: clicked(TrayClick::Middle); break;
                             case QSystemTrayIcon::Unknown: break;
                             }
                         });
    }
    m_icon->setIcon(icon);
    m_icon->setToolTip(tip);
    m_icon->setContextMenu(m_menu);
    m_icon->show();
}

void QtSystemTray::setToolTip(const QString &tip)
{
    if (m_icon)
        m_icon->setToolTip(tip);
}

void QtSystemTray::setIcon(const QIcon &icon)
{
    if (m_icon)
        m_icon->setIcon(icon);
}

void QtSystemTray::setMenu(QMenu *menu)
{
    m_menu = menu;
    if (m_icon)
        m_icon->setContextMenu(menu);
}

void QtSystemTray::RemoveTrayIcon()
{
    if (m_icon)
        m_icon->hide();
}

bool QtSystemTray::isIconShown() const { return m_icon && m_icon->isVisible(); }

void QtSystemTray::showMessage(const QString &title, const QString &text)
{
    if (isIconShown())
        m_icon->showMessage(title, text, QSystemTrayIcon::Warning);
}

void QtSystemTray::notify(const QString &title, const QString &text)
{
    m_notifications->send(title, text, [this, title, text] {
        if (isIconShown())
            m_icon->showMessage(title, text, QSystemTrayIcon::Information);
    });
}

void QtSystemTray::notifyWithActions(const QString &title, const QString &text,
                                     const QList<NotificationAction> &actions,
                                     std::function<void(const QString &key)> chosen)
{
    QStringList keysAndLabels;
    for (const NotificationAction &action : actions)
        keysAndLabels << action.key << action.label;
    m_notifications->send(
        title, text,
        [this, title, text] {
            if (isIconShown())
                m_icon->showMessage(title, text, QSystemTrayIcon::Information);
        },
        keysAndLabels, std::move(chosen));
}

} // namespace telvox
