#include "web/WebServer.h"

#include "web/HttpParts.h"

#include <QFile>
#include <QFutureWatcher>
#include <QHttpServerRequest>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTcpSocket>
#include <QtConcurrent/QtConcurrentRun>

#include <sodium.h>

// The page's files live in the library's resources, which a static library must register.
static void initWebResources() { Q_INIT_RESOURCE(web); }

namespace telvox {

namespace {

// Under TLS the cookie's name carries the "__Host-" prefix: browsers then take it only when
// it is Secure, for the whole site and for this host alone.
constexpr char kCookieName[] = "telvox_session";
constexpr char kTlsCookieName[] = "__Host-telvox_session";
constexpr int kHeartbeatMs = 15000;
constexpr int kMaxPasswordBytes = 1024;
constexpr int kMaxEventStreams = 64;

QByteArray methodName(QHttpServerRequest::Method method)
{
    using M = QHttpServerRequest::Method;
    switch (method) {
    case M::Get: return "GET";
    case M::Put: return "PUT";
    case M::Delete: return "DELETE";
    case M::Post: return "POST";
    case M::Head: return "HEAD";
    case M::Options: return "OPTIONS";
    case M::Patch: return "PATCH";
    default: return "OTHER";
    }
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 413: return "Payload Too Large";
    case 415: return "Unsupported Media Type";
    case 416: return "Range Not Satisfiable";
    case 421: return "Misdirected Request";
    case 429: return "Too Many Requests";
    case 503: return "Service Unavailable";
    default: return status >= 500 ? "Internal Server Error" : "Error";
    }
}

// The headers every answer carries: no framing, no referrer, no sniffing, and a content
// security policy that allows the page's own files and nothing inline.
QByteArray securityHeaders(bool tls)
{
    QByteArray h = "Content-Security-Policy: default-src 'none'; script-src 'self'; style-src 'self'; "
                   "img-src 'self'; media-src 'self'; connect-src 'self'; form-action 'none'; "
                   "frame-ancestors 'none'; base-uri 'none'\r\n"
                   "X-Frame-Options: DENY\r\n"
                   "Referrer-Policy: no-referrer\r\n"
                   "X-Content-Type-Options: nosniff\r\n"
                   "Cross-Origin-Opener-Policy: same-origin\r\n"
                   "Cross-Origin-Resource-Policy: same-origin\r\n"
                   "Cache-Control: no-store\r\n";
    if (tls)
        h += "Strict-Transport-Security: max-age=31536000\r\n";
    return h;
}

QByteArray headerValue(const QHttpServerRequest &request, QByteArrayView name)
{
    for (const auto &[key, value] : request.headers()) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

bool isLoopbackHost(const QString &host)
{
    return host == QLatin1String("127.0.0.1") || host == QLatin1String("localhost") || host == QLatin1String("::1");
}

bool sameToken(const QByteArray &a, const QByteArray &b)
{
    return !a.isEmpty() && a.size() == b.size()
           && sodium_memcmp(a.constData(), b.constData(), static_cast<size_t>(a.size())) == 0;
}

WebReply staticFile(const QString &resource, const QByteArray &type)
{
    QFile file(resource);
    if (!file.open(QIODevice::ReadOnly))
        return WebReply::error(404, QStringLiteral("not found"));
    WebReply reply;
    reply.contentType = type;
    reply.body = file.readAll();
    return reply;
}

} // namespace

std::optional<QPair<QHostAddress, quint16>> parseListenAddress(const QString &text, QString *error)
{
    const QString value = text.trimmed();
    QString host;
    QString port;
    if (value.startsWith(QLatin1Char('['))) {
        const qsizetype close = value.indexOf(QLatin1String("]:"));
        if (close > 0) {
            host = value.mid(1, close - 1);
            port = value.mid(close + 2);
        }
    } else {
        const qsizetype colon = value.lastIndexOf(QLatin1Char(':'));
        if (colon > 0 && value.indexOf(QLatin1Char(':')) == colon) {
            host = value.left(colon);
            port = value.mid(colon + 1);
        }
    }
    // "localhost" is the one name taken: anything else would need a name lookup.
    const QHostAddress address(host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
                                   ? QStringLiteral("127.0.0.1")
                                   : host);
    bool portOk = false;
    const uint number = port.toUInt(&portOk);
    if (address.isNull() || !portOk || number == 0 || number > 65535) {
        *error = QStringLiteral("\"%1\" is not an address and port such as 127.0.0.1:8780 or [::1]:8780").arg(value);
        return std::nullopt;
    }
    return qMakePair(address, static_cast<quint16>(number));
}

WebServer::WebServer(WebBackend &backend, WebServerConfig config, QObject *parent)
    : QAbstractHttpServer(parent)
    , m_backend(backend)
    , m_config(std::move(config))
    , m_api(backend)
    , m_connections(m_config.limits)
    , m_sessions([this] { return m_clock.elapsed(); }, m_config.idleMs)
    , m_throttle([this] { return m_clock.elapsed(); })
{
    initWebResources();
    m_clock.start();
    const auto file = [](const char *resource, const char *type) {
        return [resource, type](const WebRequest &) { return staticFile(QString::fromLatin1(resource), type); };
    };
    using A = Access;
    WebApi &api = m_api;
    m_routes = {
        {"GET", QStringLiteral("/"), A::Public, file(":/web/index.html", "text/html; charset=utf-8")},
        {"GET", QStringLiteral("/app.js"), A::Public, file(":/web/app.js", "text/javascript; charset=utf-8")},
        {"GET", QStringLiteral("/texts.js"), A::Public, file(":/web/texts.js", "text/javascript; charset=utf-8")},
        {"GET", QStringLiteral("/style.css"), A::Public, file(":/web/style.css", "text/css; charset=utf-8")},
        {"GET", QStringLiteral("/icon.svg"), A::Public, file(":/web/icon.svg", "image/svg+xml")},
        {"POST", QStringLiteral("/api/login"), A::Public, {}},
        {"POST", QStringLiteral("/api/logout"), A::Session,
         [this](const WebRequest &r) {
             m_sessions.close(r.session);
             WebReply reply = WebReply::json(200, {{QStringLiteral("ok"), true}});
             reply.headers.append(qMakePair(QByteArray("Set-Cookie"), sessionCookie({}, true)));
             return reply;
         }},
        // The page asks after a reload whether it is still signed in, and for its CSRF token
        // (another site cannot read the answer).
        {"GET", QStringLiteral("/api/session"), A::Session,
         [this](const WebRequest &r) {
             const WebSessions::Session *s = m_sessions.find(r.session);
             return WebReply::json(200, {{QStringLiteral("csrf"), s ? QString::fromLatin1(s->csrf) : QString()}});
         }},
        {"GET", QStringLiteral("/api/messages"), A::Session, [&api](const WebRequest &r) { return api.messages(r); }},
        {"GET", QStringLiteral("/api/messages/{id}"), A::Session, [&api](const WebRequest &r) { return api.message(r); }},
        {"DELETE", QStringLiteral("/api/messages/{id}"), A::Session, [&api](const WebRequest &r) { return api.remove(r); }},
        {"GET", QStringLiteral("/api/messages/{id}/audio"), A::Session, [&api](const WebRequest &r) { return api.audio(r); }},
        {"POST", QStringLiteral("/api/messages/{id}/read"), A::Session, [&api](const WebRequest &r) { return api.markRead(r); }},
        {"POST", QStringLiteral("/api/messages/{id}/unread"), A::Session,
         [&api](const WebRequest &r) { return api.markUnread(r); }},
        {"GET", QStringLiteral("/api/calls"), A::Session, [&api](const WebRequest &r) { return api.calls(r); }},
        {"GET", QStringLiteral("/api/blocklist"), A::Session, [&api](const WebRequest &r) { return api.blockList(r); }},
        {"PUT", QStringLiteral("/api/blocklist"), A::Session, [&api](const WebRequest &r) { return api.putBlockList(r); }},
        {"GET", QStringLiteral("/api/allowlist"), A::Session, [&api](const WebRequest &r) { return api.allowList(r); }},
        {"PUT", QStringLiteral("/api/allowlist"), A::Session, [&api](const WebRequest &r) { return api.putAllowList(r); }},
        {"GET", QStringLiteral("/api/lines"), A::Session, [&api](const WebRequest &r) { return api.lines(r); }},
        {"GET", QStringLiteral("/api/events"), A::Session, {}},
    };
    connect(&m_backend, &WebBackend::changed, this, &WebServer::broadcast);
    m_heartbeat.setInterval(kHeartbeatMs);
    connect(&m_heartbeat, &QTimer::timeout, this, [this] { broadcast({}, {}); });
}

WebServer::~WebServer()
{
    for (const Stream &s : std::as_const(m_streams)) {
        if (s.socket)
            s.socket->abort();
    }
}

bool WebServer::start(QString *error)
{
    const QString where = m_config.address.protocol() == QAbstractSocket::IPv6Protocol
                              ? QStringLiteral("[%1]:%2").arg(m_config.address.toString()).arg(m_config.port)
                              : QStringLiteral("%1:%2").arg(m_config.address.toString()).arg(m_config.port);
    m_loopbackOnly = m_config.address.isLoopback();
    if (!m_loopbackOnly && !usesTls()) {
        *error = QStringLiteral("refusing to serve plain HTTP on %1: an address other than loopback needs "
                                "a certificate and key ([Web] CertFile and KeyFile)")
                     .arg(where);
        return false;
    }
    QTcpServer *listener = nullptr;
    if (usesTls()) {
        const QList<QSslCertificate> chain = QSslCertificate::fromPath(m_config.certFile, QSsl::Pem);
        QFile keyFile(m_config.keyFile);
        if (chain.isEmpty() || !keyFile.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read the certificate %1 or the key %2").arg(m_config.certFile, m_config.keyFile);
            return false;
        }
        const QByteArray pem = keyFile.readAll();
        QSslKey key(pem, QSsl::Rsa, QSsl::Pem);
        if (key.isNull())
            key = QSslKey(pem, QSsl::Ec, QSsl::Pem);
        if (key.isNull()) {
            *error = QStringLiteral("the key %1 is not an RSA or EC key in PEM form").arg(m_config.keyFile);
            return false;
        }
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificateChain(chain);
        tls.setPrivateKey(key);
        tls.setProtocol(QSsl::TlsV1_2OrLater);
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        listener = new GuardedSslServer(m_connections, tls, this);
    } else {
        listener = new GuardedTcpServer(m_connections, this);
    }
    // Our own listener rather than the server's: it bounds what each client may cost.
    if (!listener->listen(m_config.address, m_config.port)) {
        delete listener;
        *error = QStringLiteral("cannot listen on %1 (is the port in use?)").arg(where);
        return false;
    }
    bind(listener);
    m_port = listener->serverPort();
    m_heartbeat.start();
    return true;
}

int WebServer::eventStreams() const
{
    int n = 0;
    for (const Stream &s : m_streams)
        n += s.socket ? 1 : 0;
    return n;
}

QByteArray WebServer::sessionCookie(const QByteArray &id, bool expire) const
{
    QByteArray cookie = QByteArray(usesTls() ? kTlsCookieName : kCookieName) + '=' + id
                        + "; Path=/; HttpOnly; SameSite=Strict";
    if (usesTls())
        cookie += "; Secure";
    if (expire)
        cookie += "; Max-Age=0";
    return cookie;
}

void WebServer::login(const WebRequest &request, QTcpSocket *socket)
{
    // Failures count for the client (an IPv4 address, an IPv6 /64), not for the one address
    // it happened to use.
    const QString address = webClientOf(QHostAddress(request.remote));
    const QByteArray method = request.method;
    // While an attempt of the address is being checked, the next waits: attempts sent side by
    // side would otherwise all be heard before the first failure counts.
    const qint64 wait = m_throttle.waitMs(address);
    if (wait > 0 || m_verifying.contains(address)) {
        WebReply reply = WebReply::error(429, QStringLiteral("too many failed log-ins: try again later"));
        reply.headers.append(qMakePair(QByteArray("Retry-After"), QByteArray::number(qMax<qint64>(1, (wait + 999) / 1000))));
        send(socket, reply, method);
        return;
    }
    const QByteArray hash = m_config.currentPasswordHash ? m_config.currentPasswordHash() : m_config.passwordHash;
    if (hash.isEmpty()) {
        send(socket, WebReply::error(503, QStringLiteral("no password is set: run telvox --web-password")), method);
        return;
    }
    const QJsonDocument doc = QJsonDocument::fromJson(request.body);
    const QJsonValue password = doc.object().value(QLatin1String("password"));
    if (!doc.isObject() || !password.isString()) {
        send(socket, WebReply::error(400, QStringLiteral("expected {\"password\": \"...\"}")), method);
        return;
    }
    QByteArray bytes = password.toString().toUtf8();
    if (bytes.size() > kMaxPasswordBytes) {
        m_throttle.failed(address);
        send(socket, WebReply::error(401, QStringLiteral("wrong password")), method);
        return;
    }
    m_verifying.insert(address);
    auto *watcher = new QFutureWatcher<bool>(this);
    const QPointer<QTcpSocket> client(socket);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, client, address, method] {
        watcher->deleteLater();
        m_verifying.remove(address);
        if (!watcher->result()) {
            m_throttle.failed(address);
            if (client)
                send(client, WebReply::error(401, QStringLiteral("wrong password")), method);
            return;
        }
        m_throttle.succeeded(address);
        if (!client)
            return;
        const QByteArray id = m_sessions.open();
        WebReply reply = WebReply::json(200, {{QStringLiteral("csrf"), QString::fromLatin1(m_sessions.find(id)->csrf)}});
        reply.headers.append(qMakePair(QByteArray("Set-Cookie"), sessionCookie(id, false)));
        send(client, reply, method);
    });
    watcher->setFuture(QtConcurrent::run([hash, bytes = std::move(bytes)]() mutable {
        return webpassword::verify(hash, std::move(bytes));
    }));
}

bool WebServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    WebRequest r;
    r.method = methodName(request.method());
    r.path = request.url().path(QUrl::FullyEncoded);
    r.query = request.url().query(QUrl::FullyEncoded);
    r.body = request.body();
    r.range = headerValue(request, "range");
    r.remote = request.remoteAddress().toString();
    r.session = cookieValue(headerValue(request, "cookie"), usesTls() ? kTlsCookieName : kCookieName);

    // On loopback, a page of another site that a rebinding name points at us must not reach
    // the API: the Host must be a loopback name.
    if (m_loopbackOnly && !isLoopbackHost(hostOfHostHeader(headerValue(request, "host")))) {
        send(socket, WebReply::error(421, QStringLiteral("unexpected Host")), r.method);
        return true;
    }

    const Route *route = nullptr;
    bool pathKnown = false;
    bool publicPath = false;
    for (const Route &candidate : std::as_const(m_routes)) {
        const auto id = matchPath(candidate.pattern, r.path);
        if (!id)
            continue;
        pathKnown = true;
        publicPath = publicPath || candidate.access == Access::Public;
        if (candidate.method == r.method && !route) {
            route = &candidate;
            r.id = *id;
        }
    }
    const bool needsSession = route ? route->access == Access::Session
                                    : !publicPath && r.path.startsWith(QLatin1String("/api/"));
    const WebSessions::Session *session = needsSession ? m_sessions.find(r.session) : nullptr;
    if (needsSession && !session) {
        send(socket, WebReply::error(401, QStringLiteral("sign in first")), r.method);
        return true;
    }
    if (!route) {
        send(socket, pathKnown ? WebReply::error(405, QStringLiteral("method not allowed"))
                               : WebReply::error(404, QStringLiteral("not found")),
             r.method);
        return true;
    }
    const bool changes = r.method != "GET" && r.method != "HEAD";
    if (changes && session && !sameToken(headerValue(request, "x-csrf-token"), session->csrf)) {
        send(socket, WebReply::error(403, QStringLiteral("missing or wrong X-CSRF-Token")), r.method);
        return true;
    }
    // A JSON body only: a form of another site cannot post one without asking first.
    if ((r.method == "POST" || r.method == "PUT") && !r.body.isEmpty()
        && !headerValue(request, "content-type").trimmed().toLower().startsWith("application/json")) {
        send(socket, WebReply::error(415, QStringLiteral("send the body as application/json")), r.method);
        return true;
    }

    if (route->pattern == QLatin1String("/api/events")) {
        openEventStream(socket, r.session);
        return true;
    }
    if (route->pattern == QLatin1String("/api/login")) {
        login(r, socket);
        return true;
    }
    if (route->pattern == QLatin1String("/api/messages/{id}/audio")) {
        audio(r, socket);
        return true;
    }
    send(socket, route->handler(r), r.method);
    return true;
}

void WebServer::audio(const WebRequest &request, QTcpSocket *socket)
{
    WebApi::AudioWork work;
    if (const auto reply = m_api.audioAtOnce(request, &work)) {
        send(socket, *reply, request.method);
        return;
    }
    struct Prepared
    {
        RecordingBody body;
        QString error;
    };
    auto *watcher = new QFutureWatcher<Prepared>(this);
    const QPointer<QTcpSocket> client(socket);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, client, request, work] {
        watcher->deleteLater();
        const Prepared prepared = watcher->result();
        const WebReply reply = m_api.audioPrepared(request, work, prepared.body.contentType, prepared.body.bytes, prepared.error);
        if (client)
            send(client, reply, request.method);
    });
    watcher->setFuture(QtConcurrent::run([work] {
        Prepared p;
        p.body = recordingBody(work.file, work.opus, &p.error);
        return p;
    }));
}

void WebServer::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
    send(socket, WebReply::error(404, QStringLiteral("not found")), methodName(request.method()));
}

void WebServer::send(QTcpSocket *socket, const WebReply &reply, const QByteArray &method) const
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) + "\r\n";
    head += "Content-Type: " + reply.contentType + "\r\n";
    head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    head += securityHeaders(usesTls());
    for (const auto &[name, value] : reply.headers)
        head += name + ": " + value + "\r\n";
    head += "\r\n";
    // One write: a head and a body in separate segments would wait for the delayed
    // acknowledgement of the first (about 40 ms) before the second goes out.
    if (method != "HEAD")
        head += reply.body;
    socket->write(head);
}

void WebServer::openEventStream(QTcpSocket *socket, const QByteArray &session)
{
    // Streams of sessions that ended are dropped on the next event; past the limit the oldest goes.
    m_streams.removeIf([](const Stream &s) { return s.socket.isNull(); });
    if (m_streams.size() >= kMaxEventStreams) {
        if (m_streams.front().socket)
            m_streams.front().socket->disconnectFromHost();
        m_streams.removeFirst();
    }
    WebConnections::markStreaming(socket);
    QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream; charset=utf-8\r\n";
    head += securityHeaders(usesTls());
    head += "\r\nretry: 3000\n: telvox events\n\n";
    socket->write(head);
    m_streams.append({socket, session});
}

void WebServer::broadcast(const QString &type, const QJsonObject &data)
{
    const QByteArray event = type.isEmpty() ? QByteArray(": keep-alive\n\n")
                                            : "event: " + type.toUtf8() + "\ndata: "
                                                  + QJsonDocument(data).toJson(QJsonDocument::Compact) + "\n\n";
    for (qsizetype i = 0; i < m_streams.size();) {
        Stream &s = m_streams[i];
        if (!s.socket) {
            m_streams.removeAt(i);
            continue;
        }
        // An expired or closed session ends its stream; the page then asks to sign in again.
        if (!m_sessions.find(s.session, false)) {
            s.socket->disconnectFromHost();
            m_streams.removeAt(i);
            continue;
        }
        s.socket->write(event);
        ++i;
    }
}

} // namespace telvox
