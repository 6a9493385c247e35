#pragma once

#include "web/WebApi.h"
#include "web/WebAuth.h"
#include "web/WebConnections.h"

#include <QAbstractHttpServer>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <functional>
#include <memory>

class QTcpSocket;

namespace telvox {

class WebBackend;

struct WebServerConfig
{
    QHostAddress address = QHostAddress::LocalHost;
    quint16 port = 8780;
    // PEM files; both empty: plain HTTP, which only a loopback address may serve.
    QString certFile;
    QString keyFile;
    QByteArray passwordHash; // "" : nobody can sign in until a password is set
    // When set, asked at every log-in instead, so a password set while the program runs
    // counts at once.
    std::function<QByteArray()> currentPasswordHash;
    qint64 idleMs = 30 * 60 * 1000;
    WebLimits limits;
};

// "127.0.0.1:8780", "[::1]:8780", "0.0.0.0:443": the address and port of "[Web] Listen".
// Nothing (with `error`) when the text is not such an address.
std::optional<QPair<QHostAddress, quint16>> parseListenAddress(const QString &text, QString *error);

// The web interface: the page at "/", the JSON API under "/api/" and the events stream, on
// Qt's HTTP server in the program's event loop. It keeps the signed-in sessions, checks the
// CSRF token of every request that changes something and puts the security headers on
// every answer.
class WebServer final : public QAbstractHttpServer
{
    Q_OBJECT
public:
    enum class Access {
        Public,  // the page's own files and the log-in
        Session, // a signed-in browser; a change also needs the CSRF token
    };
    struct Route
    {
        QByteArray method;
        QString pattern; // "/api/messages/{id}/audio"
        Access access = Access::Session;
        std::function<WebReply(const WebRequest &)> handler; // empty for the events stream
    };

    WebServer(WebBackend &backend, WebServerConfig config, QObject *parent = nullptr);
    ~WebServer() override;

    // Starts listening. Refuses plain HTTP on any address but loopback. False with `error`.
    bool start(QString *error);
    quint16 port() const { return m_port; }
    bool usesTls() const { return !m_config.certFile.isEmpty(); }

    // Every route, in the order they are matched.
    const QList<Route> &routes() const { return m_routes; }
    int eventStreams() const;
    const WebConnections &connections() const { return m_connections; }

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    // Checks the password on a worker thread (Argon2id takes a tenth of a second and 64 MiB,
    // which the event loop, that also carries the calls, must not wait for) and answers then.
    void login(const WebRequest &request, QTcpSocket *socket);
    // Answers an audio request; a recording that must be decoded or encoded first is prepared
    // on a worker thread, so that the calls on the event loop do not wait for it.
    void audio(const WebRequest &request, QTcpSocket *socket);
    void openEventStream(QTcpSocket *socket, const QByteArray &session);
    void broadcast(const QString &type, const QJsonObject &data);
    void send(QTcpSocket *socket, const WebReply &reply, const QByteArray &method) const;
    QByteArray sessionCookie(const QByteArray &id, bool expire) const;

    WebBackend &m_backend;
    WebServerConfig m_config;
    WebApi m_api;
    QElapsedTimer m_clock;
    WebConnections m_connections;
    WebSessions m_sessions;
    LoginThrottle m_throttle;
    QList<Route> m_routes;
    QSet<QString> m_verifying; // clients whose log-in is being checked: one at a time each
    quint16 m_port = 0;
    bool m_loopbackOnly = true;

    struct Stream
    {
        QPointer<QTcpSocket> socket;
        QByteArray session;
    };
    QList<Stream> m_streams;
    QTimer m_heartbeat;
};

} // namespace telvox
