#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

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

    // `actions` holds pairs of key and label (the service's own form); when the user presses
    // one, `chosen` gets its key. A notification the service closes forgets its handler.
    void send(const QString &title, const QString &text, std::function<void()> fallback = {},
              const QStringList &actions = {}, std::function<void(const QString &key)> chosen = {});

signals:
    // The server took the notification and gave it this number.
    void delivered(uint id);

private slots:
    void actionInvoked(uint id, const QString &key);
    void notificationClosed(uint id, uint reason);

private:
    void listenForActions();

    bool m_listening = false;
    QHash<uint, std::function<void(const QString &)>> m_chosen; // by notification number
};

} // namespace telvox
