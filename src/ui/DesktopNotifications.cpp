#include "ui/DesktopNotifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace telvox {

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
constexpr int kReplyTimeoutMs = 5000;
} // namespace

DesktopNotifications::DesktopNotifications(QObject *parent)
    : QObject(parent)
{
}

void DesktopNotifications::send(const QString &title, const QString &text, std::function<void()> fallback,
                                const QStringList &actions, std::function<void(const QString &key)> chosen)
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (fallback)
            fallback();
        return;
    }
    if (!actions.isEmpty() && chosen)
        listenForActions();
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(1))); // normal
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("telvox"));
    call << QStringLiteral("Telvox") << uint(0) << QStringLiteral("dialog-information") << title << text
         << actions << hints << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kReplyTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, fallback = std::move(fallback), chosen = std::move(chosen)](QDBusPendingCallWatcher *w) {
                const QDBusPendingReply<uint> reply = *w;
                w->deleteLater();
                if (reply.isError()) {
                    if (fallback)
                        fallback();
                    return;
                }
                if (chosen)
                    m_chosen.insert(reply.value(), chosen);
                emit delivered(reply.value());
            });
}

void DesktopNotifications::listenForActions()
{
    if (m_listening)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    m_listening = bus.connect(kService, kPath, kService, QStringLiteral("ActionInvoked"), this,
                              SLOT(actionInvoked(uint, QString)))
                  && bus.connect(kService, kPath, kService, QStringLiteral("NotificationClosed"), this,
                                 SLOT(notificationClosed(uint, uint)));
}

void DesktopNotifications::actionInvoked(uint id, const QString &key)
{
    // Signals of other programs' notifications carry numbers that are not ours.
    const auto handler = m_chosen.constFind(id);
    if (handler == m_chosen.constEnd())
        return;
    const std::function<void(const QString &)> chosen = *handler;
    chosen(key);
}

void DesktopNotifications::notificationClosed(uint id, uint reason)
{
    (void)reason;
    m_chosen.remove(id);
}

} // namespace telvox
