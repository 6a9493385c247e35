#include "web/WebConnections.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSslSocket>
#include <QTcpSocket>

#include <climits>

#include <sys/socket.h>
#include <unistd.h>

namespace telvox {

namespace {

QByteArray statusLine(int status)
{
    switch (status) {
    case 400: return "400 Bad Request";
    case 411: return "411 Length Required";
    case 413: return "413 Payload Too Large";
    case 431: return "431 Request Header Fields Too Large";
    default: return QByteArray::number(status) + " Error";
    }
}

// The value of the header `name` (lower case) in a head, and how many times it was given.
QByteArray headerOf(const QByteArray &head, const QByteArray &name, int *count)
{
    QByteArray value;
    *count = 0;
    for (const QByteArray &line : head.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || line.left(colon).trimmed().toLower() != name)
            continue;
        ++*count;
        value = line.mid(colon + 1).trimmed();
    }
    return value;
}

} // namespace

QString webClientOf(const QHostAddress &address)
{
    bool v4 = false;
    const quint32 ip4 = address.toIPv4Address(&v4);
    if (v4)
        return QHostAddress(ip4).toString();
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        Q_IPV6ADDR bytes = address.toIPv6Address();
        for (int i = 8; i < 16; ++i)
            bytes[i] = 0;
        return QHostAddress(bytes).toString() + QStringLiteral("/64");
    }
    return address.toString();
}

// --- WebConnections ---------------------------------------------------------------------------

WebConnections::WebConnections(WebLimits limits, QObject *parent)
    : QObject(parent)
    , m_limits(limits)
{
    m_clock.start();
}

bool WebConnections::admit(qintptr handle, QString *client)
{
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(static_cast<int>(handle), reinterpret_cast<sockaddr *>(&peer), &length) != 0)
        return false;
    *client = webClientOf(QHostAddress(reinterpret_cast<const sockaddr *>(&peer)));
    if (m_total >= m_limits.total || m_perClient.value(*client) >= m_limits.perClient)
        return false;
    ++m_total;
    ++m_perClient[*client];
    return true;
}

void WebConnections::guard(QTcpSocket *socket, const QString &client) { new ConnectionGuard(socket, this, client); }

void WebConnections::release(const QString &client)
{
    --m_total;
    const auto it = m_perClient.find(client);
    if (it != m_perClient.end() && --*it <= 0)
        m_perClient.erase(it);
}

void WebConnections::markStreaming(QTcpSocket *socket)
{
    if (auto *guard = socket->findChild<ConnectionGuard *>(QString(), Qt::FindDirectChildrenOnly))
        guard->setStreaming(true);
}

// --- ConnectionGuard --------------------------------------------------------------------------

ConnectionGuard::ConnectionGuard(QTcpSocket *socket, WebConnections *owner, QString client)
    : QObject(socket)
    , m_socket(socket)
    , m_owner(owner)
    , m_client(std::move(client))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ConnectionGuard::expired);
    // Connected before the HTTP server connects its own, so this sees each byte first.
    connect(socket, &QIODevice::readyRead, this, &ConnectionGuard::readyRead);
    connect(socket, &QIODevice::bytesWritten, this, &ConnectionGuard::written);
    rearm();
}

ConnectionGuard::~ConnectionGuard()
{
    // The socket is being destroyed (this is its child): only the count is left to do.
    if (m_owner)
        m_owner->release(m_client);
}

void ConnectionGuard::setStreaming(bool streaming)
{
    m_streaming = streaming;
    rearm();
}

void ConnectionGuard::readyRead()
{
    if (m_phase == Phase::Refused) {
        m_socket->readAll(); // the rest of a refused request goes nowhere
        return;
    }
    // Before its handshake a TLS socket holds the client's hello, which is not for us.
    if (auto *tls = qobject_cast<QSslSocket *>(m_socket); tls && !tls->isEncrypted())
        return;
    if (!m_owner)
        return;
    const WebLimits &limits = m_owner->limits();
    // The server takes all there is at each readyRead; should it ever keep more than one
    // request's worth unread, that is refused too, so memory stays bounded either way.
    const qint64 available = m_socket->bytesAvailable();
    if (available > limits.maxHeadBytes + limits.maxBodyBytes) {
        refuse(413, "the request is too large");
        return;
    }
    // A client that sends request after request and reads none of the answers.
    if (m_socket->bytesToWrite() > limits.maxUnsentBytes) {
        m_socket->abort();
        return;
    }
    scan(m_socket->peek(available));
}

bool ConnectionGuard::headEnded(qsizetype *used)
{
    // `used`: in: bytes of the head before the new ones were appended; out: how many of the
    // new ones belong to the head.
    const qsizetype before = *used;
    const qsizetype end = m_head.indexOf("\r\n\r\n", qMax<qsizetype>(0, before - 3));
    const qsizetype bareEnd = m_head.indexOf("\n\n", qMax<qsizetype>(0, before - 1));
    qsizetype stop = -1;
    if (end >= 0 && (bareEnd < 0 || end + 2 <= bareEnd))
        stop = end + 4;
    else if (bareEnd >= 0)
        stop = bareEnd + 2;
    if (stop < 0) {
        *used = m_head.size() - before;
        return false;
    }
    *used = stop - before;
    m_head.truncate(stop);
    return true;
}

void ConnectionGuard::scan(const QByteArray &data)
{
    const WebLimits &limits = m_owner->limits();
    qsizetype pos = 0;
    while (pos < data.size() && m_phase != Phase::Refused) {
        if (m_phase == Phase::Waiting || m_phase == Phase::Handling) {
            // Blank lines between requests are allowed and are no request.
            if (data[pos] == '\r' || data[pos] == '\n') {
                ++pos;
                continue;
            }
            m_phase = Phase::Head;
            m_head.clear();
            m_requestStart = m_owner->now();
        }
        if (m_phase == Phase::Head) {
            const qsizetype before = m_head.size();
            const qsizetype take = qMin<qsizetype>(data.size() - pos, limits.maxHeadBytes + 4 - before);
            m_head.append(data.constData() + pos, take);
            qsizetype used = before;
            if (!headEnded(&used)) {
                if (m_head.size() > limits.maxHeadBytes) {
                    refuse(431, "the request's headers are too large");
                    return;
                }
                pos += used;
                continue;
            }
            pos += used;
            int lengths = 0;
            int encodings = 0;
            const QByteArray length = headerOf(m_head, "content-length", &lengths);
            headerOf(m_head, "transfer-encoding", &encodings);
            if (encodings > 0) {
                refuse(411, "send the body with a Content-Length");
                return;
            }
            bool ok = lengths == 0;
            const qint64 bytes = lengths == 1 ? length.toLongLong(&ok) : 0;
            if (!ok || bytes < 0) {
                refuse(400, "a bad Content-Length");
                return;
            }
            if (bytes > limits.maxBodyBytes) {
                refuse(413, "the request is too large");
                return;
            }
            m_head.clear();
            m_bodyLeft = bytes;
            m_phase = Phase::Body;
        }
        if (m_phase == Phase::Body) {
            const qint64 take = qMin<qint64>(m_bodyLeft, data.size() - pos);
            m_bodyLeft -= take;
            pos += take;
            if (m_bodyLeft == 0) {
                m_phase = Phase::Handling;
                // Browsers send one request at a time. Qt's server would answer a pile of
                // requests sent at once all in a row, holding the event loop meanwhile.
                if (++m_unanswered > limits.maxPipelined) {
                    m_socket->abort();
                    return;
                }
            }
        }
    }
    rearm();
}

void ConnectionGuard::refuse(int status, const QByteArray &reason)
{
    m_phase = Phase::Refused;
    // Qt's server must not go on reading this request: from now on the bytes come here only.
    disconnect(m_socket, &QIODevice::readyRead, nullptr, nullptr);
    connect(m_socket, &QIODevice::readyRead, this, &ConnectionGuard::readyRead);
    m_socket->readAll();
    const QByteArray body =
        QJsonDocument(QJsonObject{{QStringLiteral("error"), QString::fromLatin1(reason)}}).toJson(QJsonDocument::Compact);
    m_socket->write("HTTP/1.1 " + statusLine(status) + "\r\nContent-Type: application/json\r\nContent-Length: "
                    + QByteArray::number(body.size())
                    + "\r\nConnection: close\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n"
                    + body);
    rearm();
}

void ConnectionGuard::written()
{
    if (m_phase == Phase::Refused && m_socket->bytesToWrite() == 0) {
        // The refusal is out: no more is sent, but what the client still sends is read for a
        // moment, so that closing does not reset the connection before it reads the answer.
        // Over TLS the encrypted bytes may still wait in the socket beneath: the socket closes
        // itself once they are out.
        if (qobject_cast<QSslSocket *>(m_socket))
            m_socket->disconnectFromHost();
        else
            ::shutdown(static_cast<int>(m_socket->socketDescriptor()), SHUT_WR);
    }
    // An answer on its way restarts the write deadline; one finished after its request
    // came whole makes the connection wait for the next.
    if (m_socket->bytesToWrite() == 0)
        m_unanswered = 0;
    if (m_phase == Phase::Handling && m_socket->bytesToWrite() == 0 && !m_streaming)
        m_phase = Phase::Waiting;
    rearm(true);
}

void ConnectionGuard::rearm(bool progress)
{
    if (!m_owner)
        return;
    const WebLimits &limits = m_owner->limits();
    const auto start = [this](Deadline deadline, qint64 ms) {
        m_deadline = deadline;
        m_timer.start(static_cast<int>(qBound(qint64(0), ms, qint64(INT_MAX))));
    };
    if (m_phase == Phase::Refused) {
        if (m_deadline != Deadline::Linger)
            start(Deadline::Linger, limits.lingerMs);
        return;
    }
    if (m_socket->bytesToWrite() > 0) {
        // Only the client reading moves this deadline, not the client sending more.
        if (progress || m_deadline != Deadline::Stall)
            start(Deadline::Stall, limits.writeStallMs);
        return;
    }
    if (m_phase == Phase::Head || m_phase == Phase::Body) {
        // The deadline counts from the request's first byte: sending slowly does not move it.
        start(Deadline::Request, m_requestStart + limits.requestMs - m_owner->now());
        return;
    }
    if (m_streaming) {
        m_deadline = Deadline::None;
        m_timer.stop();
        return;
    }
    start(Deadline::Idle, limits.idleMs);
}

void ConnectionGuard::expired() { m_socket->abort(); }

// --- The listeners ----------------------------------------------------------------------------

GuardedTcpServer::GuardedTcpServer(WebConnections &connections, QObject *parent)
    : QTcpServer(parent)
    , m_connections(connections)
{
}

void GuardedTcpServer::incomingConnection(qintptr handle)
{
    QString client;
    if (!m_connections.admit(handle, &client)) {
        ::close(static_cast<int>(handle));
        return;
    }
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(handle)) {
        m_connections.release(client);
        ::close(static_cast<int>(handle));
        delete socket;
        return;
    }
    m_connections.guard(socket, client);
    addPendingConnection(socket);
}

GuardedSslServer::GuardedSslServer(WebConnections &connections, const QSslConfiguration &tls, QObject *parent)
    : QSslServer(parent)
    , m_connections(connections)
{
    setSslConfiguration(tls);
}

void GuardedSslServer::incomingConnection(qintptr handle)
{
    QString client;
    if (!m_connections.admit(handle, &client)) {
        ::close(static_cast<int>(handle));
        return;
    }
    // QSslServer makes the socket and starts the handshake; the guard goes on it at once, so
    // the handshake counts against the connection's deadlines too.
    QSslServer::incomingConnection(handle);
    for (QSslSocket *socket : findChildren<QSslSocket *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (socket->socketDescriptor() == handle
            && !socket->findChild<ConnectionGuard *>(QString(), Qt::FindDirectChildrenOnly)) {
            m_connections.guard(socket, client);
            return;
        }
    }
    m_connections.release(client); // QSslServer gave the connection up at once
}

} // namespace telvox
