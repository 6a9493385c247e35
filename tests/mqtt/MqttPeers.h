#pragma once

// A private mosquitto broker on a free loopback port, and its command-line clients as
// watchers and senders. Everything stays on 127.0.0.1 and ends with the objects.
#include "support/FakeShell.h"
#include "support/Files.h"

#include <QProcess>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

namespace telvox::test {

// A port nobody listens on now.
inline quint16 freeLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

class MqttBroker
{
public:
    // `settings`: lines of the broker's configuration after its listener (TLS, passwords);
    // none: anyone may connect.
    explicit MqttBroker(const QByteArray &settings = "allow_anonymous true\n")
        : m_port(freeLoopbackPort())
    {
        // Started by root, mosquitto would become the user "mosquitto", who cannot read the
        // test's private folders: it stays whoever runs the test.
        const passwd *me = getpwuid(getuid());
        writeBytes(m_dir.file("broker.conf"), "listener " + QByteArray::number(m_port) + " 127.0.0.1\n" + settings
                                                  + "persistence false\nuser " + QByteArray(me ? me->pw_name : "root") + "\n");
    }
    ~MqttBroker() { stop(); }

    quint16 port() const { return m_port; }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

    // Starts it (again, on the same port, with nothing retained) and waits until it listens.
    bool start()
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), m_dir.file("broker.conf")});
        if (!m_process.waitForStarted())
            return false;
        for (int i = 0; i < 100; ++i) {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, m_port);
            if (s.waitForConnected(100))
                return true;
            QTest::qWait(50);
        }
        qWarning("mosquitto: %s", m_process.readAll().constData());
        return false;
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

private:
    ScratchDir m_dir;
    quint16 m_port;
    QProcess m_process;
};

// One message as mosquitto_sub printed it.
struct Seen
{
    bool retained = false;
    QString topic;
    QByteArray payload;
};

// mosquitto_sub on `topics`, collecting what arrives.
class MqttWatcher
{
public:
    MqttWatcher(const MqttBroker &broker, const QStringList &topics)
    {
        QStringList args{"-h", "127.0.0.1", "-p", QString::number(broker.port()), "-F", "%r %t %p", "-q", "1"};
        for (const QString &t : topics)
            args << "-t" << t;
        m_process.start(QStringLiteral("mosquitto_sub"), args);
        m_process.waitForStarted();
        QTest::qWait(300); // subscribed before anything is published
    }
    ~MqttWatcher()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

    QList<Seen> seen()
    {
        m_buffer += m_process.readAllStandardOutput();
        qsizetype end;
        while ((end = m_buffer.indexOf('\n')) >= 0) {
            const QByteArray line = m_buffer.left(end);
            m_buffer.remove(0, end + 1);
            const qsizetype space = line.indexOf(' ', 2);
            if (line.size() < 3 || space < 0)
                continue;
            m_seen.append({line.startsWith('1'), QString::fromUtf8(line.mid(2, space - 2)), line.mid(space + 1)});
        }
        return m_seen;
    }
    // The payloads of `topic`, in order.
    QList<QByteArray> on(const QString &topic)
    {
        QList<QByteArray> out;
        for (const Seen &s : seen()) {
            if (s.topic == topic)
                out << s.payload;
        }
        return out;
    }
    QString dump()
    {
        QStringList lines;
        for (const Seen &s : seen())
            lines << QStringLiteral("%1 %2 %3").arg(s.retained).arg(s.topic, QString::fromUtf8(s.payload));
        return lines.join('\n');
    }

private:
    QProcess m_process;
    QByteArray m_buffer;
    QList<Seen> m_seen;
};

// What the broker keeps retained under `topics` (a fresh subscriber's first second).
inline QList<Seen> retainedOn(const MqttBroker &broker, const QStringList &topics)
{
    MqttWatcher w(broker, topics);
    QTest::qWait(700);
    QList<Seen> kept;
    for (const Seen &s : w.seen()) {
        if (s.retained)
            kept << s;
    }
    return kept;
}

inline bool mqttSend(const MqttBroker &broker, const QString &topic, const QByteArray &payload)
{
    QProcess p;
    p.start(QStringLiteral("mosquitto_pub"), {"-h", "127.0.0.1", "-p", QString::number(broker.port()), "-q", "1", "-t",
                                             topic, "-m", QString::fromUtf8(payload)});
    return p.waitForFinished(5000) && p.exitCode() == 0;
}

} // namespace telvox::test
