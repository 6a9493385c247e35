#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

namespace telvox {

// One stream connection on a local (AF_UNIX) socket, read through the event loop. The
// program's own control links (a second start asking the running window up, the service's
// control socket) use these plain sockets rather than Qt Network, which a start then need not
// load.
class LocalConnection final : public QObject
{
    Q_OBJECT
public:
    // Takes over the connected descriptor `fd` (closed with the connection).
    explicit LocalConnection(int fd, QObject *parent = nullptr);
    ~LocalConnection() override;

    int descriptor() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    // What has arrived and not been taken yet.
    bool canReadLine() const { return m_buffer.contains('\n'); }
    QByteArray readLine(); // up to and with the first '\n'; everything when there is none
    QByteArray readAll();
    // Sends all of `data`, waiting at most `timeoutMs` for room. False when the peer is gone or
    // the time ran out.
    bool write(const QByteArray &data, int timeoutMs = 2000);
    void close();

signals:
    void readyRead();
    void disconnected(); // the peer closed its end, or the connection failed

private:
    void readAvailable();

    int m_fd;
    QSocketNotifier *m_notifier;
    QByteArray m_buffer;
};

// Listens on a local socket file for connections of this account's own processes: the file is
// made with no rights for group or others, and a connection whose peer runs as another account
// is closed before anyone hears of it.
class LocalListener final : public QObject
{
    Q_OBJECT
public:
    explicit LocalListener(QObject *parent = nullptr);
    ~LocalListener() override; // stops listening and removes the socket file

    // Listens at `path`; a socket file left there (by a run that has ended) is replaced. False
    // with `error` when the path is too long or cannot be bound.
    bool listen(const QString &path, QString *error = nullptr);
    bool isListening() const { return m_fd >= 0; }

signals:
    // A connection of this account: a child of the listener until it is deleted.
    void newConnection(telvox::LocalConnection *connection);

private:
    void acceptPending();

    int m_fd = -1;
    QString m_path;
    QSocketNotifier *m_notifier = nullptr;
};

// A client's blocking connection to a local socket: connected to a process of this account,
// or closed.
class LocalClient
{
public:
    LocalClient() = default;
    ~LocalClient();
    LocalClient(const LocalClient &) = delete;
    LocalClient &operator=(const LocalClient &) = delete;

    // Connects to `path`, trying again while the listener's queue is full until `timeoutMs`
    // has passed. False when nothing listens there, or a process of another account does.
    bool connectTo(const QString &path, int timeoutMs);
    bool isConnected() const { return m_fd >= 0; }
    // Sends all of `data` within `timeoutMs`.
    bool send(const QByteArray &data, int timeoutMs);
    // Everything the peer sends until it closes the connection or `timeoutMs` has passed.
    QByteArray receiveUntilClosed(int timeoutMs);
    void close();

private:
    int m_fd = -1;
};

} // namespace telvox
