#include "app/ServiceControl.h"

#include "core/LocalSocket.h"
#include "core/PrivateFiles.h"

#include <QDir>
#include <QFileInfo>

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
    // Only a service of this account is told anything or believed.
    LocalClient socket;
    if (!socket.connectTo(path, timeoutMs) || !socket.send(request.toUtf8() + '\n', timeoutMs))
        return false;
    // The service closes the connection after its answer.
    const QByteArray answer = socket.receiveUntilClosed(timeoutMs);
    if (answer.isEmpty())
        return false;
    if (reply)
        *reply = QString::fromUtf8(answer);
    return true;
}

} // namespace telvox
