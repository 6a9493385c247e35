#pragma once

#include <QObject>
#include <QString>

#include <functional>

namespace telvox {

// Desktop notifications through the freedesktop notification service on the session bus
// (org.freedesktop.Notifications), with the information icon. The call does not wait: when no
// notification server answers, `fallback` runs (the tray's own balloon, for instance).
class DesktopNotifications final : public QObject
{
    Q_OBJECT
public:
    explicit DesktopNotifications(QObject *parent = nullptr);

    void send(const QString &title, const QString &text, std::function<void()> fallback = {});

signals:
    // The server took the notification and gave it this number.
    void delivered(uint id);
};

} // namespace telvox
