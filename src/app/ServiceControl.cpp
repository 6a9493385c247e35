#include "app/ServiceControl.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>

namespace telvox {

QString serviceSocketPath(const AppPaths &paths)
{
    QString path = paths.lockFile;
    if (path.endsWith(QLatin1String(".lock")))
        path.chop(5);
    path += QStringLiteral(".sock");
    // A local socket's path has room for about a hundred bytes; a deeper folder gets a name in
    // the temporary folder that stands for it.
    if (path.toUtf8().size() > 100)
        path = QDir::tempPath() + QStringLiteral("/telvox-")
               + QString::fromLatin1(QCryptographicHash::hash(paths.lockFile.toUtf8(), QCryptographicHash::Sha1)
                                         .toHex()
                                         .left(16))
               + QStringLiteral(".sock");
    return path;
}

bool askService(const AppPaths &paths, const QString &request, QString *reply, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(serviceSocketPath(paths));
    if (!socket.waitForConnected(timeoutMs))
        return false;
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
