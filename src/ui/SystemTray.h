#pragma once

#include <QIcon>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace telvox {

class DesktopNotifications;

enum class TrayClick { Left, Right, Double, Middle };

// A button of a desktop notification: the key it reports and the label it shows.
struct NotificationAction
{
    QString key;
    QString label;
};

// The icon in the desktop's notification area that stands for the main window.
class SystemTray
{
public:
    virtual ~SystemTray() = default;

    // False where the desktop has no notification area (a bare X server, offscreen).
    virtual bool isAvailable() const = 0;
    virtual void AddTrayIcon(const QIcon &icon, const QString &tip) = 0;
    virtual void RemoveTrayIcon() = 0;
    virtual bool isIconShown() const = 0;
    // A warning from the icon (a balloon or the desktop's notification); nothing where the icon
    // is not shown. The recording alarms use it.
    virtual void showMessage(const QString &title, const QString &text) { (void)title, (void)text; }
    // An information for the user, shown whether the icon is or not: the desktop's
    // notification service, else the icon's balloon.
    virtual void notify(const QString &title, const QString &text) { showMessage(title, text); }
    // The same with buttons; `chosen` gets the key of the one pressed. Where the desktop has
    // no notification service the information is shown without them.
    virtual void notifyWithActions(const QString &title, const QString &text,
                                   const QList<NotificationAction> &actions,
                                   std::function<void(const QString &key)> chosen)
    {
        (void)actions, (void)chosen;
        notify(title, text);
    }
    // The icon's tool tip, and its picture (with the unread count drawn on it).
    virtual void setToolTip(const QString &tip) { (void)tip; }
    virtual void setIcon(const QIcon &icon) { (void)icon; }
    // The menu of a right click on the icon; null for none.
    virtual void setMenu(QMenu *menu) { (void)menu; }

    // Called for every mouse action on the icon.
    void setClickHandler(std::function<void(TrayClick)> handler) { m_onClick = std::move(handler); }

protected:
    void clicked(TrayClick click)
    {
        if (m_onClick)
            m_onClick(click);
    }

private:
    std::function<void(TrayClick)> m_onClick;
};

// The tray through QSystemTrayIcon (the StatusNotifierItem or XEmbed tray of the desktop).
class QtSystemTray final : public SystemTray
{
public:
    QtSystemTray();
    ~QtSystemTray() override;

    bool isAvailable() const override;
    void AddTrayIcon(const QIcon &icon, const QString &tip) override;
    void RemoveTrayIcon() override;
    bool isIconShown() const override;
    void showMessage(const QString &title, const QString &text) override;
    void notify(const QString &title, const QString &text) override;
    void notifyWithActions(const QString &title, const QString &text, const QList<NotificationAction> &actions,
                           std::function<void(const QString &key)> chosen) override;
    void setToolTip(const QString &tip) override;
    void setIcon(const QIcon &icon) override;
    void setMenu(QMenu *menu) override;

private:
    std::unique_ptr<QSystemTrayIcon> m_icon;
    std::unique_ptr<DesktopNotifications> m_notifications;
    QMenu *m_menu = nullptr;
};

} // namespace telvox
