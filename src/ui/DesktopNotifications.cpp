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

void DesktopNotifications::send(const QString &title, const QString &text, std::function<void()> fallback)
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (fallback)
            fallback();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(1))); // normal
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("telvox"));
    call << QStringLiteral("Telvox") << uint(0) << QStringLiteral("dialog-information") << title << text
         << QStringList() << hints << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kReplyTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, fallback = std::move(fallback)](QDBusPendingCallWatcher *w) {
                const QDBusPendingReply<uint> reply = *w;
                w->deleteLater();
                if (reply.isError()) {
                    if (fallback)
                        fallback();
                    return;
                }
                emit delivered(reply.value());
            });
}

} // namespace telvox
