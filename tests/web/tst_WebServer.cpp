// The web server over a backend of its own: sessions, CSRF, routes, headers, ranges, TLS and
// the events stream, through real sockets on loopback.
#include "core/WaveHeader.h"
#include "web/HttpParts.h"
#include "web/WebAuth.h"
#include "web/WebServer.h"
#include "web/WebSetup.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace telvox;

namespace {

const QByteArray kPassword = "correct horse battery";

class FakeBackend final : public WebBackend
{
public:
    QList<WebMessage> stored;
    QString wave; // every message's audio
    QList<qint64> audioAsked;
    QList<WebListEntry> block;

    WebMessagePage messages(List list, int offset, int limit) const override
    {
        WebMessagePage page;
        for (const WebMessage &m : stored) {
            if (m.unread == (list == List::Unread))
                ++page.total, page.messages << m;
        }
        page.messages = page.messages.mid(offset, limit);
        return page;
    }
    std::optional<WebMessage> message(qint64 id) const override
    {
        for (const WebMessage &m : stored) {
            if (m.id == id)
                return m;
        }
        return std::nullopt;
    }
    QString audioFile(qint64 id) const override
    {
        const_cast<FakeBackend *>(this)->audioAsked << id;
        return message(id) ? wave : QString();
    }
    bool setUnread(qint64 id, bool unread) override
    {
        for (WebMessage &m : stored) {
            if (m.id == id) {
                m.unread = unread;
                return true;
            }
        }
        return false;
    }
    bool remove(qint64 id) override { return stored.removeIf([id](const WebMessage &m) { return m.id == id; }) > 0; }
    WebCalls calls() const override { return {}; }
    QList<WebListEntry> numberList(bool allow) const override { return allow ? QList<WebListEntry>{} : block; }
    bool setNumberList(bool allow, const QList<WebListEntry> &entries, QString *) override
    {
        if (!allow)
            block = entries;
        return true;
    }
    QList<WebLine> lines() const override { return {WebLine{0, true, QStringLiteral("idle"), {}, QStringLiteral("virtual"), {}}}; }
};

struct Reply
{
    int status = 0;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QByteArray header(const QByteArray &name) const
    {
        for (const auto &[k, v] : headers) {
            if (k.compare(name, Qt::CaseInsensitive) == 0)
                return v;
        }
        return {};
    }
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

// One request on a fresh connection; the answer read up to its Content-Length.
Reply fetch(quint16 port, const QByteArray &method, const QByteArray &path, QList<QPair<QByteArray, QByteArray>> headers = {},
            const QByteArray &body = {}, bool tls = false)
{
    std::unique_ptr<QTcpSocket> socket;
    if (tls) {
        auto ssl = std::make_unique<QSslSocket>();
        ssl->setPeerVerifyMode(QSslSocket::VerifyNone);
        ssl->connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        // The server runs in this thread: wait with the event loop running.
        if (!QTest::qWaitFor([&] { return ssl->isEncrypted() || ssl->state() == QAbstractSocket::UnconnectedState; }, 5000)
            || !ssl->isEncrypted())
            return {};
        socket = std::move(ssl);
    } else {
        socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, port);
        if (!QTest::qWaitFor([&] { return socket->state() == QAbstractSocket::ConnectedState; }, 5000))
            return {};
    }
    QByteArray request = method + ' ' + path + " HTTP/1.1\r\n";
    bool host = false;
    bool type = false;
    for (const auto &[k, v] : headers) {
        request += k + ": " + v + "\r\n";
        host = host || k.toLower() == "host";
        type = type || k.toLower() == "content-type";
    }
    if (!host)
        request += "Host: 127.0.0.1\r\n";
    if (!body.isEmpty() && !type)
        request += "Content-Type: application/json\r\n";
    if (!body.isEmpty())
        request += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    request += "\r\n" + body;
    socket->write(request);
    QByteArray in;
    Reply reply;
    QElapsedTimer clock;
    clock.start();
    qsizetype headEnd = -1;
    qint64 length = -1;
    while (clock.elapsed() < 10000) {
        if (socket->bytesAvailable() == 0) {
            QTest::qWait(5);
            if (socket->bytesAvailable() == 0 && socket->state() != QAbstractSocket::ConnectedState)
                break;
            continue;
        }
        in += socket->readAll();
        if (headEnd < 0 && (headEnd = in.indexOf("\r\n\r\n")) >= 0) {
            const QList<QByteArray> lines = in.left(headEnd).split('\n');
            reply.status = lines.front().split(' ').value(1).toInt();
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const qsizetype colon = lines[i].indexOf(':');
                reply.headers.append({lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
            }
            length = reply.header("Content-Length").toLongLong();
        }
        if (headEnd >= 0 && in.size() - headEnd - 4 >= length)
            break;
    }
    if (headEnd >= 0)
        reply.body = in.mid(headEnd + 4);
    return reply;
}

QByteArray sessionFrom(const Reply &login) { return login.header("Set-Cookie").split(';').front(); }

} // namespace

class tst_WebServer : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QByteArray m_hash;
    FakeBackend m_backend;
    std::unique_ptr<WebServer> m_server;

    std::unique_ptr<WebServer> startServer(WebServerConfig config)
    {
        config.passwordHash = m_hash;
        auto server = std::make_unique<WebServer>(m_backend, config);
        QString error;
        if (!server->start(&error))
            qWarning() << error;
        return server;
    }
    quint16 port() const { return m_server->port(); }
    // Signs in: the cookie header value and the CSRF token.
    QPair<QByteArray, QByteArray> signIn(quint16 at = 0, bool tls = false)
    {
        const Reply r = fetch(at ? at : port(), "POST", "/api/login", {}, "{\"password\":\"" + kPassword + "\"}", tls);
        return {sessionFrom(r), r.json().value(QLatin1String("csrf")).toString().toLatin1()};
    }

private slots:
    void initTestCase()
    {
        m_hash = webpassword::hash(kPassword).value_or(QByteArray());
        QVERIFY(m_hash.startsWith("$argon2id$"));
        QVERIFY(webpassword::verify(m_hash, kPassword));
        QVERIFY(!webpassword::verify(m_hash, "wrong"));
        // Half a second of a 440 Hz-ish ramp at 8000 Hz.
        m_backend.wave = m_dir.filePath(QStringLiteral("A2026-01-05~09-00-08~5551234.wav"));
        QByteArray wave = pcmWaveHeader(1, 8000, 16, 8000);
        for (int i = 0; i < 4000; ++i)
            appendLe16(wave, static_cast<std::uint16_t>((i * 97) & 0x7fff));
        QFile f(m_backend.wave);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(wave) == wave.size());
        f.close();
        m_backend.stored = {WebMessage{77, QStringLiteral("5551234"), QStringLiteral("Ann"),
                                       QDateTime(QDate(2026, 1, 5), QTime(9, 0, 8)), 1, 0, QLatin1Char('A'), true}};
        WebServerConfig config;
        config.port = 0;
        m_server = startServer(config);
        QVERIFY(port() != 0);
    }

    // Every route but the page's files and the log-in answers 401 without a session, with
    // a forged cookie, and after log-out; the list of public routes is fixed here, so a new
    // route is guarded unless it is added to it on purpose.
    void everyRouteNeedsASession()
    {
        const QSet<QString> publicRoutes{QStringLiteral("GET /"), QStringLiteral("GET /app.js"), QStringLiteral("GET /texts.js"),
                                         QStringLiteral("GET /style.css"), QStringLiteral("GET /icon.svg"),
                                         QStringLiteral("POST /api/login")};
        const auto [cookie, csrf] = signIn();
        QVERIFY(fetch(port(), "POST", "/api/logout", {{"Cookie", cookie}, {"X-CSRF-Token", csrf}}).status == 200);
        int guarded = 0;
        for (const WebServer::Route &route : m_server->routes()) {
            const QString name = QString::fromLatin1(route.method) + QLatin1Char(' ') + route.pattern;
            if (route.access == WebServer::Access::Public) {
                QVERIFY2(publicRoutes.contains(name), qPrintable(name + " is public"));
                continue;
            }
            const QByteArray path = route.pattern.toLatin1().replace("{id}", "77");
            for (const QByteArray &given : {QByteArray(), QByteArray("telvox_session=forged"), cookie}) {
                const Reply r = fetch(port(), route.method, path, given.isEmpty() ? QList<QPair<QByteArray, QByteArray>>{}
                                                                                   : QList<QPair<QByteArray, QByteArray>>{{"Cookie", given}});
                QVERIFY2(r.status == 401, qPrintable(name + " answered " + QString::number(r.status)));
            }
            ++guarded;
        }
        QVERIFY(guarded >= 14);
        // Unknown paths under /api/ do not tell whether they exist.
        QCOMPARE(fetch(port(), "GET", "/api/nothing-here").status, 401);
        QVERIFY(m_backend.audioAsked.isEmpty());
    }

    void loginSessionCsrfAndLogout()
    {
        QCOMPARE(fetch(port(), "POST", "/api/login", {}, "{\"password\":\"nope\"}").status, 401);
        QCOMPARE(fetch(port(), "POST", "/api/login", {}, "not json").status, 400);
        const Reply login = fetch(port(), "POST", "/api/login", {}, "{\"password\":\"" + kPassword + "\"}");
        QCOMPARE(login.status, 200);
        const QByteArray setCookie = login.header("Set-Cookie");
        QVERIFY(setCookie.startsWith("telvox_session="));
        QVERIFY(setCookie.contains("HttpOnly"));
        QVERIFY(setCookie.contains("SameSite=Strict"));
        QVERIFY(!setCookie.contains("Secure")); // plain HTTP on loopback
        const QByteArray cookie = sessionFrom(login);
        const QByteArray csrf = login.json().value(QLatin1String("csrf")).toString().toLatin1();
        QCOMPARE(csrf.size(), 64);

        const Reply list = fetch(port(), "GET", "/api/messages?list=unread", {{"Cookie", cookie}});
        QCOMPARE(list.status, 200);
        const QJsonObject first = list.json().value(QLatin1String("messages")).toArray().at(0).toObject();
        QCOMPARE(first.value(QLatin1String("id")).toInteger(), 77);
        QVERIFY(first.value(QLatin1String("time")).toString().startsWith(QLatin1String("2026-01-05T09:00:08")));
        QCOMPARE(first.value(QLatin1String("audio")).toString(), QStringLiteral("/api/messages/77/audio"));
        QCOMPARE(fetch(port(), "GET", "/api/messages?list=everything", {{"Cookie", cookie}}).status, 400);

        // A change without the token, with another session's token, or by a form: refused.
        QCOMPARE(fetch(port(), "POST", "/api/messages/77/read", {{"Cookie", cookie}}).status, 403);
        const auto [otherCookie, otherCsrf] = signIn();
        QCOMPARE(fetch(port(), "POST", "/api/messages/77/read", {{"Cookie", cookie}, {"X-CSRF-Token", otherCsrf}}).status, 403);
        QCOMPARE(fetch(port(), "PUT", "/api/blocklist",
                       {{"Cookie", cookie}, {"X-CSRF-Token", csrf}, {"Content-Type", "application/x-www-form-urlencoded"}},
                       QByteArray("entry=1"))
                     .status,
                 415);
        QVERIFY(m_backend.stored.front().unread);
        QCOMPARE(fetch(port(), "POST", "/api/messages/77/read", {{"Cookie", cookie}, {"X-CSRF-Token", csrf}}).status, 200);
        QVERIFY(!m_backend.stored.front().unread);
        QCOMPARE(fetch(port(), "POST", "/api/messages/78/read", {{"Cookie", cookie}, {"X-CSRF-Token", csrf}}).status, 404);
        QCOMPARE(fetch(port(), "POST", "/api/messages/77/unread", {{"Cookie", cookie}, {"X-CSRF-Token", csrf}}).status, 200);
        QVERIFY(m_backend.stored.front().unread);

        // Lists: a bad entry is refused whole; a good list replaces the old one.
        const QByteArray bad = R"({"entries":[{"entry":"5551234"},{"entry":"12\n34"}]})";
        QCOMPARE(fetch(port(), "PUT", "/api/blocklist", {{"Cookie", cookie}, {"X-CSRF-Token", csrf}}, bad).status, 400);
        QVERIFY(m_backend.block.isEmpty());
        const Reply put = fetch(port(), "PUT", "/api/blocklist", {{"Cookie", cookie}, {"X-CSRF-Token", csrf}},
                                R"({"entries":[{"entry":"5551234","label":"Ann"},{"entry":"0900*"}]})");
        QCOMPARE(put.status, 200);
        QCOMPARE(m_backend.block.size(), 2);
        QCOMPARE(m_backend.block[1].entry, QStringLiteral("0900*"));

        QCOMPARE(fetch(port(), "POST", "/api/logout", {{"Cookie", cookie}, {"X-CSRF-Token", csrf}}).status, 200);
        QCOMPARE(fetch(port(), "GET", "/api/messages", {{"Cookie", cookie}}).status, 401);
        QCOMPARE(fetch(port(), "GET", "/api/messages", {{"Cookie", otherCookie}}).status, 200);
    }

    void securityHeadersAndHost()
    {
        for (const QByteArray &path : {QByteArray("/"), QByteArray("/api/messages"), QByteArray("/nothing")}) {
            const Reply r = fetch(port(), "GET", path);
            const QByteArray csp = r.header("Content-Security-Policy");
            QVERIFY2(csp.contains("script-src 'self'") && !csp.contains("unsafe-inline") && csp.contains("frame-ancestors 'none'"),
                     path.constData());
            QCOMPARE(r.header("X-Frame-Options"), QByteArray("DENY"));
            QCOMPARE(r.header("Referrer-Policy"), QByteArray("no-referrer"));
            QCOMPARE(r.header("X-Content-Type-Options"), QByteArray("nosniff"));
        }
        const Reply page = fetch(port(), "GET", "/");
        QCOMPARE(page.status, 200);
        QVERIFY(page.body.contains("<script src=\"/app.js\""));
        QVERIFY(!page.body.contains("<script>"));
        QVERIFY(!page.body.contains("style=\""));
        // A name that points at loopback from another site does not reach the API.
        QCOMPARE(fetch(port(), "GET", "/", {{"Host", "attacker.example:8780"}}).status, 421);
        QCOMPARE(fetch(port(), "GET", "/", {{"Host", "localhost:8780"}}).status, 200);
    }

    // Recordings only by id: nothing that looks like a path reaches the backend.
    void traversalIsNotFound()
    {
        const auto [cookie, csrf] = signIn();
        m_backend.audioAsked.clear();
        for (const QByteArray &path :
             {QByteArray("/api/messages/..%2f..%2fetc%2fpasswd/audio"), QByteArray("/api/messages/%2Fetc%2Fpasswd/audio"),
              QByteArray("/api/messages/../../etc/passwd"), QByteArray("/api/messages/77/../../../etc/passwd"),
              QByteArray("/api/messages/077/audio"), QByteArray("/api/messages/-77/audio"),
              QByteArray("/api/messages/77%00/audio"), QByteArray("/api/messages/99999999999999999999/audio"),
              QByteArray("/..%2f..%2fetc/passwd"), QByteArray("/%2e%2e/%2e%2e/etc/passwd"), QByteArray("//etc/passwd")}) {
            const Reply r = fetch(port(), "GET", path, {{"Cookie", cookie}});
            QVERIFY2(r.status == 404 || r.status == 400, path.constData());
            QVERIFY2(!r.body.contains("root:"), path.constData());
        }
        QVERIFY(m_backend.audioAsked.isEmpty());
        // An id of a recording that is not in the store (another folder's, a deleted one).
        QCOMPARE(fetch(port(), "GET", "/api/messages/78/audio", {{"Cookie", cookie}}).status, 404);
        QCOMPARE(m_backend.audioAsked, QList<qint64>{78});
    }

    void audioWithRanges()
    {
        const auto [cookie, csrf] = signIn();
        const QByteArray file = [&] {
            QFile f(m_backend.wave);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        const Reply whole = fetch(port(), "GET", "/api/messages/77/audio", {{"Cookie", cookie}});
        QCOMPARE(whole.status, 200);
        QCOMPARE(whole.header("Accept-Ranges"), QByteArray("bytes"));
        QCOMPARE(whole.header("Content-Type"), QByteArray("audio/wav"));
        QCOMPARE(whole.body, file);
        const Reply part = fetch(port(), "GET", "/api/messages/77/audio", {{"Cookie", cookie}, {"Range", "bytes=100-199"}});
        QCOMPARE(part.status, 206);
        QCOMPARE(part.header("Content-Range"), QByteArray("bytes 100-199/") + QByteArray::number(file.size()));
        QCOMPARE(part.body, file.mid(100, 100));
        const Reply tail = fetch(port(), "GET", "/api/messages/77/audio", {{"Cookie", cookie}, {"Range", "bytes=-10"}});
        QCOMPARE(tail.body, file.right(10));
        QCOMPARE(fetch(port(), "GET", "/api/messages/77/audio", {{"Cookie", cookie}, {"Range", "bytes=999999-"}}).status, 416);
        // A recording that changes (a recording still being written) is read anew.
        {
            QFile f(m_backend.wave);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.write(pcmWaveHeader(1, 8000, 16, 8400) + QByteArray(8400, '\x11')) == 44 + 8400);
        }
        const Reply longer = fetch(port(), "GET", "/api/messages/77/audio", {{"Cookie", cookie}});
        QCOMPARE(longer.body.size(), 44 + 8400);
        const Reply opus = fetch(port(), "GET", "/api/messages/77/audio?format=opus", {{"Cookie", cookie}});
        QCOMPARE(opus.status, 200);
        QCOMPARE(opus.header("Content-Type"), QByteArray("audio/ogg"));
        QVERIFY(opus.body.startsWith("OggS"));
    }

    void rangeHeaders_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("kind");
        QTest::addColumn<qint64>("first");
        QTest::addColumn<qint64>("last");
        using K = RangeRequest::Kind;
        QTest::newRow("open end") << QByteArray("bytes=10-") << int(K::Partial) << qint64(10) << qint64(999);
        QTest::newRow("past the end is cut") << QByteArray("bytes=990-5000") << int(K::Partial) << qint64(990) << qint64(999);
        QTest::newRow("suffix longer than body") << QByteArray("bytes=-5000") << int(K::Partial) << qint64(0) << qint64(999);
        QTest::newRow("reversed") << QByteArray("bytes=20-10") << int(K::Whole) << qint64(0) << qint64(0);
        QTest::newRow("several ranges") << QByteArray("bytes=0-1,5-6") << int(K::Whole) << qint64(0) << qint64(0);
        QTest::newRow("other unit") << QByteArray("items=0-1") << int(K::Whole) << qint64(0) << qint64(0);
        QTest::newRow("signs") << QByteArray("bytes=+1-2") << int(K::Whole) << qint64(0) << qint64(0);
        QTest::newRow("overflow") << QByteArray("bytes=99999999999999999999-") << int(K::Whole) << qint64(0) << qint64(0);
        QTest::newRow("start at the end") << QByteArray("bytes=1000-") << int(K::Unsatisfiable) << qint64(0) << qint64(0);
        QTest::newRow("empty suffix") << QByteArray("bytes=-0") << int(K::Unsatisfiable) << qint64(0) << qint64(0);
    }
    void rangeHeaders()
    {
        QFETCH(QByteArray, header);
        QFETCH(int, kind);
        const RangeRequest r = parseRange(header, 1000);
        QCOMPARE(int(r.kind), kind);
        if (r.kind == RangeRequest::Kind::Partial) {
            QTEST(r.range.first, "first");
            QTEST(r.range.last, "last");
        }
    }

    // After three failures each attempt waits longer; even the right password is not heard
    // while the address waits, and another address is not held up.
    void loginSlowsDownAfterFailures()
    {
        qint64 now = 0;
        LoginThrottle throttle([&now] { return now; });
        for (int i = 0; i < LoginThrottle::kFreeFailures; ++i) {
            QCOMPARE(throttle.waitMs(QStringLiteral("a")), 0);
            throttle.failed(QStringLiteral("a"));
        }
        QCOMPARE(throttle.waitMs(QStringLiteral("a")), 0);
        throttle.failed(QStringLiteral("a"));
        QCOMPARE(throttle.waitMs(QStringLiteral("a")), 1000);
        now += 1000;
        throttle.failed(QStringLiteral("a"));
        QCOMPARE(throttle.waitMs(QStringLiteral("a")), 2000);
        QCOMPARE(throttle.waitMs(QStringLiteral("b")), 0);
        for (int i = 0; i < 30; ++i)
            throttle.failed(QStringLiteral("a"));
        QCOMPARE(throttle.waitMs(QStringLiteral("a")), LoginThrottle::kMaxWaitMs);
        throttle.succeeded(QStringLiteral("a"));
        QCOMPARE(throttle.waitMs(QStringLiteral("a")), 0);

        // The same through the server, on a server of its own.
        WebServerConfig config;
        config.port = 0;
        auto server = startServer(config);
        for (int i = 0; i <= LoginThrottle::kFreeFailures; ++i)
            QCOMPARE(fetch(server->port(), "POST", "/api/login", {}, "{\"password\":\"nope\"}").status, 401);
        const Reply held = fetch(server->port(), "POST", "/api/login", {}, "{\"password\":\"" + kPassword + "\"}");
        QCOMPARE(held.status, 429);
        QCOMPARE(held.header("Retry-After"), QByteArray("1"));
        QTest::qWait(1100);
        QCOMPARE(fetch(server->port(), "POST", "/api/login", {}, "{\"password\":\"" + kPassword + "\"}").status, 200);
    }

    // Attempts sent side by side are not all heard before the first failure counts.
    void parallelAttemptsWaitTheirTurn()
    {
        WebServerConfig config;
        config.port = 0;
        auto server = startServer(config);
        const QByteArray body = "{\"password\":\"nope\"}";
        std::vector<std::unique_ptr<QTcpSocket>> sockets;
        for (int i = 0; i < 3; ++i) {
            sockets.push_back(std::make_unique<QTcpSocket>());
            sockets.back()->connectToHost(QHostAddress::LocalHost, server->port());
        }
        QTRY_VERIFY(std::all_of(sockets.begin(), sockets.end(),
                                [](const auto &s) { return s->state() == QAbstractSocket::ConnectedState; }));
        for (const auto &s : sockets)
            s->write("POST /api/login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: "
                     + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        QList<QByteArray> answers(3);
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(answers.begin(), answers.end(), [&](QByteArray &a) {
                                     a += sockets[std::size_t(&a - answers.data())]->readAll();
                                     return a.contains("\r\n\r\n");
                                 }),
                                 10000);
        QStringList statuses;
        for (const QByteArray &a : answers)
            statuses << QString::fromLatin1(a.mid(9, 3));
        statuses.sort();
        QCOMPARE(statuses, QStringList({"401", "429", "429"}));
    }

    void idleSessionEnds()
    {
        WebServerConfig config;
        config.port = 0;
        config.idleMs = 1500;
        auto server = startServer(config);
        const auto [cookie, csrf] = signIn(server->port());
        QTest::qWait(900);
        QCOMPARE(fetch(server->port(), "GET", "/api/lines", {{"Cookie", cookie}}).status, 200); // restarts the idle time
        QTest::qWait(900); // 1.8 s after signing in, 0.9 s after the last request
        QCOMPARE(fetch(server->port(), "GET", "/api/lines", {{"Cookie", cookie}}).status, 200);
        QTest::qWait(1700);
        QCOMPARE(fetch(server->port(), "GET", "/api/lines", {{"Cookie", cookie}}).status, 401);
    }

    void plainHttpOnlyOnLoopback()
    {
        WebServerConfig config;
        config.address = QHostAddress::AnyIPv4;
        config.port = 0;
        WebServer server(m_backend, config);
        QString error;
        QVERIFY(!server.start(&error));
        QVERIFY2(error.contains(QLatin1String("refusing to serve plain HTTP on 0.0.0.0")), qPrintable(error));

        // The options: off loopback without files, a certificate is made and its fingerprint told.
        WebOptions options;
        options.listen = QStringLiteral("0.0.0.0:8443");
        WebServerConfig made;
        QString notice;
        QVERIFY2(webServerConfig(options, m_dir.path(), &made, &notice, &error), qPrintable(error));
        QVERIFY(QFile::exists(made.certFile) && QFile::exists(made.keyFile));
        QCOMPARE(QFile::permissions(made.keyFile) & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());
        const QString fingerprint = certificateFingerprint(made.certFile);
        QCOMPARE(fingerprint.size(), 32 * 3 - 1);
        QVERIFY(notice.contains(fingerprint));
        options.listen = QStringLiteral("127.0.0.1");
        QVERIFY(!webServerConfig(options, m_dir.path(), &made, &notice, &error));
        QVERIFY(error.contains(QLatin1String("127.0.0.1:8780")));
    }

    void tlsServesAndMarksTheCookieSecure()
    {
        WebServerConfig config;
        config.address = QHostAddress::AnyIPv4;
        config.port = 0;
        config.certFile = m_dir.filePath(QStringLiteral("c.pem"));
        config.keyFile = m_dir.filePath(QStringLiteral("k.pem"));
        QString error;
        QVERIFY2(makeSelfSignedCertificate(config.certFile, config.keyFile, &error), qPrintable(error));
        auto server = startServer(config);
        QVERIFY(server->port() != 0);
        QCOMPARE(fetch(server->port(), "GET", "/", {}, {}, true).status, 200);
        const Reply login = fetch(server->port(), "POST", "/api/login", {}, "{\"password\":\"" + kPassword + "\"}", true);
        QCOMPARE(login.status, 200);
        QVERIFY(login.header("Set-Cookie").startsWith("__Host-telvox_session="));
        QVERIFY(login.header("Set-Cookie").contains("; Secure"));
        // The session works over TLS; a cookie without the prefix is not the session's.
        const QByteArray cookie = sessionFrom(login);
        QCOMPARE(fetch(server->port(), "GET", "/api/lines", {{"Cookie", cookie}}, {}, true).status, 200);
        QCOMPARE(fetch(server->port(), "GET", "/api/lines", {{"Cookie", cookie.mid(7)}}, {}, true).status, 401);
        QVERIFY(login.header("Strict-Transport-Security").startsWith("max-age="));
        // Plain HTTP on the TLS port gets no HTTP answer.
        QCOMPARE(fetch(server->port(), "GET", "/").status, 0);
    }

    void eventsReachTheStream()
    {
        const auto [cookie, csrf] = signIn();
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port());
        QTRY_COMPARE(socket.state(), QAbstractSocket::ConnectedState);
        socket.write("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: " + cookie + "\r\n\r\n");
        QByteArray in;
        QTRY_VERIFY((in += socket.readAll()).contains("\r\n\r\n"));
        QVERIFY(in.startsWith("HTTP/1.1 200"));
        QVERIFY(in.contains("Content-Type: text/event-stream"));
        QCOMPARE(m_server->eventStreams(), 1);
        emit m_backend.changed(QStringLiteral("message"), {{QStringLiteral("id"), 77}});
        QTRY_VERIFY((in += socket.readAll()).contains("event: message\ndata: {\"id\":77}\n\n"));
        // Log-out ends the stream.
        QCOMPARE(fetch(port(), "POST", "/api/logout", {{"Cookie", cookie}, {"X-CSRF-Token", csrf}}).status, 200);
        emit m_backend.changed(QStringLiteral("messages"), {});
        QTRY_COMPARE(socket.state(), QAbstractSocket::UnconnectedState);
        QVERIFY(!in.contains("event: messages"));
    }

    void listenAddresses()
    {
        QString error;
        QCOMPARE(parseListenAddress(QStringLiteral("127.0.0.1:8780"), &error)->second, quint16(8780));
        QCOMPARE(parseListenAddress(QStringLiteral("[::1]:443"), &error)->first, QHostAddress(QHostAddress::LocalHostIPv6));
        QCOMPARE(parseListenAddress(QStringLiteral("localhost:80"), &error)->first, QHostAddress(QHostAddress::LocalHost));
        for (const char *bad : {"127.0.0.1", "example.org:80", "1.2.3.4:0", "1.2.3.4:70000", "::1:80", ""})
            QVERIFY2(!parseListenAddress(QString::fromLatin1(bad), &error), bad);
    }
};

QTEST_GUILESS_MAIN(tst_WebServer)
#include "tst_WebServer.moc"
