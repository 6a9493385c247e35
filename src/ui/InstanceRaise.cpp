#include "ui/InstanceRaise.h"

#include "core/PrivateFiles.h"

#include <QLocalServer>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QThread>

namespace telvox {

namespace {
const QByteArray kRaise = QByteArrayLiteral("raise\n");
}

RaiseListener::RaiseListener(const QString &socketPath, std::function<void()> raise, QObject *parent)
    : QObject(parent)
    , m_server(new QLocalServer(this))
    , m_raise(std::move(raise))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // The caller holds the single-instance lock, so a socket left here belongs to an ended run.
    QLocalServer::removeServer(socketPath);
    m_server->listen(socketPath);
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            if (!peerIsThisAccount(static_cast<int>(socket->socketDescriptor()))) {
                socket->abort(); // only this account's own second start may raise the window
                socket->deleteLater();
                continue;
            }
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->readAll().contains(kRaise.trimmed()))
                    return;
                if (m_raise)
                    m_raise();
            });
            if (socket->bytesAvailable() > 0)
                emit socket->readyRead();
        }
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
        QLocalSocket socket;
        socket.connectToServer(socketPath);
        if (socket.waitForConnected(int(qMax<qint64>(1, deadline.remainingTime())))) {
            if (!peerIsThisAccount(static_cast<int>(socket.socketDescriptor()))) {
                socket.abort(); // another account's program is asked nothing
                return false;
            }
            socket.write(kRaise);
            const bool sent = socket.waitForBytesWritten(int(qMax<qint64>(1, deadline.remainingTime())));
            socket.disconnectFromServer();
            if (sent)
                return true;
        }
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    return false;
}

} // namespace telvox
