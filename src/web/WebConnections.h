#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslServer>
#include <QTcpServer>
#include <QTimer>

class QTcpSocket;

namespace telvox {

// What one client may cost the web server. Qt's HTTP server reads whatever arrives into
// memory and waits for a request as long as the client likes; these bounds are kept where the
// sockets are accepted, before the server sees a byte.
struct WebLimits
{
    qint64 maxHeadBytes = 16 * 1024;   // request line and headers; more: 431
    qint64 maxBodyBytes = 1024 * 1024; // more: 413 (the API takes small JSON bodies only)
    int requestMs = 10000;             // a request must be whole this long after its first byte
    int idleMs = 60000;                // a connection with nothing to say is closed after this
    int writeStallMs = 30000;          // an answer the client stops reading for this long
    int perClient = 32;                // open connections of one client (see webClientOf)
    int total = 512;                   // open connections of everybody together
    int lingerMs = 2000;               // after a refusal, how long the rest of a request is read
    qint64 maxUnsentBytes = 32 * 1024 * 1024; // answers waiting for a client that sends on but does not read
    int maxPipelined = 16; // requests sent before the answers to the earlier ones went out
};

// The client a connection counts for: an IPv4 address, or the /64 network of an IPv6 address
// (one household or host gets a whole /64 and can pick any address in it). An IPv4 address
// mapped into IPv6 counts as that IPv4 address, not as the /64 all such addresses share.
QString webClientOf(const QHostAddress &address);

// The open connections of each client, and the guard each connection gets.
class WebConnections final : public QObject
{
    Q_OBJECT
public:
    explicit WebConnections(WebLimits limits, QObject *parent = nullptr);

    const WebLimits &limits() const { return m_limits; }
    int open() const { return m_total; }
    int openOf(const QString &client) const { return m_perClient.value(client); }

    // A connection just accepted on `handle`: false (the caller closes it) when its client or
    // everybody together has too many open already.
    bool admit(qintptr handle, QString *client);
    // Puts `socket`, admitted for `client`, under watch: request size, deadlines, its count.
    void guard(QTcpSocket *socket, const QString &client);
    void release(const QString &client);

    // A connection that stays open by design (the events stream): no idle deadline, only the
    // deadline for a client that stops reading.
    static void markStreaming(QTcpSocket *socket);

    qint64 now() const { return m_clock.elapsed(); }

private:
    WebLimits m_limits;
    QHash<QString, int> m_perClient;
    int m_total = 0;
    QElapsedTimer m_clock;
};

// Watches one connection: frames its requests (head up to the blank line, then the body by
// its Content-Length) as they arrive, refuses one that is too large, and closes the
// connection when a request takes too long to arrive, when it idles, or when the client stops
// reading. It reads ahead of Qt's HTTP server on the same socket, which takes everything
// available at each readyRead.
class ConnectionGuard final : public QObject
{
    Q_OBJECT
public:
    ConnectionGuard(QTcpSocket *socket, WebConnections *owner, QString client);
    ~ConnectionGuard() override;

    void setStreaming(bool streaming);

private:
    enum class Phase { Waiting, Head, Body, Handling, Refused };

    void readyRead();
    void written();
    void scan(const QByteArray &data);
    bool headEnded(qsizetype *used);
    void refuse(int status, const QByteArray &reason);
    // Starts the deadline that applies now; `progress`: some of an answer just went out.
    void rearm(bool progress = false);
    void expired();

    QTcpSocket *m_socket;
    QPointer<WebConnections> m_owner;
    QString m_client;
    QTimer m_timer;
    enum class Deadline { None, Request, Idle, Stall, Linger };
    Deadline m_deadline = Deadline::None;
    Phase m_phase = Phase::Waiting;
    QByteArray m_head;
    qint64 m_bodyLeft = 0;
    qint64 m_requestStart = 0;
    int m_unanswered = 0; // whole requests since the answers last all went out
    bool m_streaming = false;
};

// The plain and the TLS listener: each asks WebConnections before it takes a connection.
class GuardedTcpServer final : public QTcpServer
{
    Q_OBJECT
public:
    GuardedTcpServer(WebConnections &connections, QObject *parent = nullptr);

protected:
    void incomingConnection(qintptr handle) override;

private:
    WebConnections &m_connections;
};

class GuardedSslServer final : public QSslServer
{
    Q_OBJECT
public:
    GuardedSslServer(WebConnections &connections, const QSslConfiguration &tls, QObject *parent = nullptr);

protected:
    void incomingConnection(qintptr handle) override;

private:
    WebConnections &m_connections;
};

} // namespace telvox
