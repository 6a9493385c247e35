#include "app/ServiceControl.h"

#include "core/PrivateFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QLocalSocket>

namespace telvox {

QString serviceSocketPath(const AppPaths &paths, bool create)
{
    const QFileInfo lock(paths.lockFile);
    return privateSocketPath(lock.path(), lock.completeBaseName() + QStringLiteral(".sock"),
                             paths.lockFile + QStringLiteral(".rundir"), create);
}

bool askService(const AppPaths &paths, const QString &request, QString *reply, int timeoutMs)
{
    const QString path = serviceSocketPath(paths, false);
    if (path.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    // Only a service of this account is told anything or believed.
    if (!peerIsThisAccount(static_cast<int>(socket.socketDescriptor()))) {
        socket.abort();
        return false;
    }
    socket.write(request.toUtf8() + '\n');
    socket.flush();
    // The service closes the connection after its answer.
    QByteArray answer;
    QElapsedTimer clock;
    clock.start();
    while (socket.state() == QLocalSocket::ConnectedState && clock.elapsed() < timeoutMs) {
        socket.waitForReadyRead(static_cast<int>(timeoutMs - clock.elapsed()));
        answer += socket.readAll();
    }
    answer += socket.readAll();
    if (answer.isEmpty())
        return false;
    if (reply)
        *reply = QString::fromUtf8(answer);
    return true;
}

} // namespace telvox
