#include "ui/InstanceRaise.h"

#include "core/LocalSocket.h"

#include <QDeadlineTimer>
#include <QThread>

namespace telvox {

namespace {
const QByteArray kRaise = QByteArrayLiteral("raise\n");
}

RaiseListener::RaiseListener(const QString &socketPath, std::function<void()> raise, QObject *parent)
    : QObject(parent)
    , m_server(new LocalListener(this))
    , m_raise(std::move(raise))
{
    // The caller holds the single-instance lock, so a socket left here belongs to an ended run
    // (the listener replaces it). Only this account's own second start may raise the window:
    // the listener closes any other unheard.
    m_server->listen(socketPath);
    connect(m_server, &LocalListener::newConnection, this, [this](LocalConnection *connection) {
        connect(connection, &LocalConnection::disconnected, connection, &QObject::deleteLater);
        connect(connection, &LocalConnection::readyRead, this, [this, connection] {
            if (!connection->readAll().contains(kRaise.trimmed()))
                return;
            if (m_raise)
                m_raise();
        });
    });
}

RaiseListener::~RaiseListener() = default;

bool RaiseListener::isListening() const { return m_server->isListening(); }

bool askRunningInstanceToRaise(const QString &socketPath, int timeoutMs)
{
    // A running program that is busy for a moment (or whose listener is being set up) is
    // asked again until the time is up, rather than the second start ending unheard.
    QDeadlineTimer deadline(timeoutMs);
    do {
        LocalClient socket; // a running program of another account is asked nothing
        const int left = int(qMax<qint64>(1, deadline.remainingTime()));
        if (socket.connectTo(socketPath, left) && socket.send(kRaise, int(qMax<qint64>(1, deadline.remainingTime()))))
            return true;
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    return false;
}

} // namespace telvox
