#pragma once

#include "support/Files.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace telvox::test {

// The interpreter that has aiosmtpd: the one on the path, or the system's own.
inline QString pythonWithAiosmtpd()
{
    for (const QString &candidate : {QStringLiteral("python3"), QStringLiteral("/usr/bin/python3")}) {
        QProcess p;
        p.start(candidate, {QStringLiteral("-c"), QStringLiteral("import aiosmtpd")});
        if (p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            return candidate;
    }
    return QString();
}

// A port on 127.0.0.1 that nobody listened on a moment ago.
inline int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

// tests/records/smtp_sink.py, started on a port of its own choosing (or the one given).
class SmtpSink
{
public:
    explicit SmtpSink(QString folder)
        : m_folder(std::move(folder))
    {
        QDir().mkpath(m_folder);
    }
    ~SmtpSink() { stop(); }

    bool start(const QStringList &extra = {}, int port = 0)
    {
        const QString python = pythonWithAiosmtpd();
        if (python.isEmpty())
            return false;
        const QString script = qEnvironmentVariable("TELVOX_SOURCE_DIR") + QStringLiteral("/tests/records/smtp_sink.py");
        QStringList args{script, QStringLiteral("--folder"), m_folder};
        if (port > 0)
            args << QStringLiteral("--port") << QString::number(port);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(python, args + extra);
        if (!m_process.waitForStarted(10000))
            return false;
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(20000))
                return false;
        }
        const QByteArray line = m_process.readLine().trimmed();
        m_port = line.startsWith("PORT ") ? line.mid(5).toInt() : 0;
        return m_port > 0;
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    int port() const { return m_port; }
    int received() const
    {
        return static_cast<int>(QDir(m_folder).entryList({QStringLiteral("*.json")}, QDir::Files).size());
    }
    QJsonObject message(int k) const
    {
        return QJsonDocument::fromJson(readAll(QDir(m_folder).filePath(QStringLiteral("%1.json").arg(k, 3, 10, QLatin1Char('0')))))
            .object();
    }

private:
    QString m_folder;
    QProcess m_process;
    int m_port = 0;
};

} // namespace telvox::test
