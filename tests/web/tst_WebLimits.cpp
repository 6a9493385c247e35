// What a hostile client can cost the web server: requests too large, requests sent a byte at a
// time, piles of idle connections, log-ins from many addresses of one network. Raw sockets on
// loopback, each client in a thread of its own so that it may block while the server runs in
// this one; addresses 127.0.0.2 and up stand for other clients.
#include "core/WaveHeader.h"
#include "web/WebAuth.h"
#include "web/WebConnections.h"
#include "web/WebServer.h"
#include "web/WebSetup.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <thread>

using namespace telvox;

namespace {

// No messages but one recording, id 1, in `wave`.
class EmptyBackend final : public WebBackend
{
public:
    QString wave;
    WebMessagePage messages(List, int, int) const override { return {}; }
    std::optional<WebMessage> message(qint64) const override { return std::nullopt; }
    QString audioFile(qint64 id) const override { return id == 1 ? wave : QString(); }
    bool setUnread(qint64, bool) override { return false; }
    bool remove(qint64) override { return false; }
    WebCalls calls() const override { return {}; }
    QList<WebListEntry> numberList(bool) const override { return {}; }
    bool setNumberList(bool, const QList<WebListEntry> &, QString *) override { return true; }
    QList<WebLine> lines() const override { return {}; }
};

// A blocking TCP connection from `source` to 127.0.0.1:`port`; -1 when it cannot be made.
int connectFrom(const char *source, quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, source, &local.sin_addr);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(port);
    ::inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0
        || ::connect(fd, reinterpret_cast<sockaddr *>(&server), sizeof server) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, const QByteArray &data)
{
    for (qsizetype done = 0; done < data.size();) {
        const ssize_t n = ::send(fd, data.constData() + done, size_t(data.size() - done), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// What arrives until the server closes, a whole answer is in (head and Content-Length), or
// `ms` pass. `closed` says whether the server closed.
QByteArray receive(int fd, int ms, bool *closed = nullptr)
{
    QByteArray in;
    QElapsedTimer clock;
    clock.start();
    if (closed)
        *closed = false;
    while (clock.elapsed() < ms) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            if (closed)
                *closed = true;
            break;
        }
        in.append(buffer, n);
        const qsizetype end = in.indexOf("\r\n\r\n");
        if (end >= 0) {
            const qsizetype at = in.toLower().indexOf("content-length:");
            const qint64 length = at >= 0 ? in.mid(at + 15, in.indexOf('\r', at) - at - 15).trimmed().toLongLong() : 0;
            if (in.size() - end - 4 >= length)
                break;
        }
    }
    return in;
}

// Runs `client` on a thread of its own while this thread's event loop (and the server) runs.
template<typename T>
T onThread(std::function<T()> client, int ms = 20000)
{
    T result{};
    std::atomic<bool> done = false;
    std::thread thread([&] {
        result = client();
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done.load(); }, ms))
        qWarning("a client thread is still running");
    thread.join();
    return result;
}

const QByteArray kPage = "GET /style.css HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

// Signs in from 127.0.0.1 with the password "secret": the cookie, "" when that failed.
QByteArray signIn(quint16 port)
{
    const int fd = connectFrom("127.0.0.1", port);
    const QByteArray body = "{\"password\":\"secret\"}";
    QByteArray answer;
    if (sendAll(fd, "POST /api/login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: "
                        + QByteArray::number(body.size()) + "\r\n\r\n" + body))
        answer = receive(fd, 10000);
    ::close(fd);
    const qsizetype at = answer.indexOf("telvox_session=");
    return at < 0 ? QByteArray() : answer.mid(at, answer.indexOf(';', at) - at);
}

// One plain request from `source`: the answer's status line, "" when none came.
QByteArray statusFrom(const char *source, quint16 port)
{
    const int fd = connectFrom(source, port);
    if (fd < 0)
        return {};
    QByteArray answer;
    if (sendAll(fd, kPage))
        answer = receive(fd, 5000);
    ::close(fd);
    return answer.left(answer.indexOf('\r'));
}

} // namespace

class tst_WebLimits : public QObject
{
    Q_OBJECT

private:
    EmptyBackend m_backend;

    std::unique_ptr<WebServer> startServer(const WebLimits &limits, const QString &tlsFolder = {})
    {
        WebServerConfig config;
        config.port = 0;
        if (!tlsFolder.isEmpty()) {
            config.certFile = tlsFolder + QStringLiteral("/c.pem");
            config.keyFile = tlsFolder + QStringLiteral("/k.pem");
            QString error;
            if (!makeSelfSignedCertificate(config.certFile, config.keyFile, &error))
                qWarning() << error;
        }
        config.limits = limits;
        config.passwordHash = webpassword::hash("secret").value_or(QByteArray());
        auto server = std::make_unique<WebServer>(m_backend, config);
        QString error;
        if (!server->start(&error))
            qWarning() << error;
        return server;
    }

private slots:
    void clientsAreHostsNotAddresses()
    {
        const auto client = [](const char *a) { return webClientOf(QHostAddress(QString::fromLatin1(a))); };
        QCOMPARE(client("2001:db8:1:2:aaaa::1"), client("2001:db8:1:2:ffff:ffff:ffff:ffff"));
        QVERIFY(client("2001:db8:1:2::1") != client("2001:db8:1:3::1"));
        QVERIFY(client("10.0.0.1") != client("10.0.0.2"));
        // IPv4 clients of a dual-stack listener arrive as ::ffff:a.b.c.d, all in one /64.
        QCOMPARE(client("::ffff:10.0.0.1"), client("10.0.0.1"));
        QVERIFY(client("::ffff:10.0.0.1") != client("::ffff:10.0.0.2"));

        // The log-in slow-down goes by client.
        qint64 now = 0;
        LoginThrottle throttle([&now] { return now; });
        for (int i = 0; i <= LoginThrottle::kFreeFailures; ++i)
            throttle.failed(client(i % 2 ? "2001:db8:1:2::1" : "2001:db8:1:2::2"));
        QVERIFY(throttle.waitMs(client("2001:db8:1:2::99")) > 0);
        QCOMPARE(throttle.waitMs(client("2001:db8:1:3::1")), 0);
    }

    // A body larger than allowed, a head larger than allowed and a body of unknown length are
    // refused before they are read into memory, and the client gets the answer.
    void oversizedRequestsAreRefused()
    {
        auto server = startServer({});
        const quint16 port = server->port();
        const QByteArray bigBody = "POST /api/login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                                   "Content-Length: 10485760\r\n\r\n";
        const QByteArray bigHead = "GET /style.css HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: " + QByteArray(20000, 'a') + "\r\n\r\n";
        const QByteArray chunked = "POST /api/login HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n"
                                   "100000\r\n";
        const QList<QPair<QByteArray, QByteArray>> cases{{bigBody, "413"}, {bigHead, "431"}, {chunked, "411"}};
        for (const auto &[head, status] : cases) {
            QByteArray probe;
            const QByteArray answer = onThread<QByteArray>([&, head = head] {
                const int fd = connectFrom("127.0.0.1", port);
                sendAll(fd, head);
                // Ten megabytes follow, as far as the server lets them; another client is
                // answered meanwhile.
                std::thread other([&] { probe = statusFrom("127.0.0.2", port); });
                const QByteArray mega(1024 * 1024, 'x');
                for (int i = 0; i < 10 && sendAll(fd, mega); ++i) {
                }
                other.join();
                bool closed = false;
                QByteArray in = receive(fd, 5000, &closed);
                in += receive(fd, 3000, &closed); // the server closes after its answer
                ::close(fd);
                return closed ? in : QByteArray("not closed: ") + in;
            });
            QVERIFY2(answer.startsWith("HTTP/1.1 " + status), answer.left(80).constData());
            QCOMPARE(probe, QByteArray("HTTP/1.1 200 OK"));
        }
        QTRY_COMPARE(server->connections().open(), 0);
    }

    // A request dribbled in a byte at a time is cut off at the request deadline; one that
    // comes slowly but in time is answered.
    void slowClientsAreCutOff()
    {
        WebLimits limits;
        limits.requestMs = 3000;
        auto server = startServer(limits);
        const quint16 port = server->port();
        const auto dribble = [port](int gapMs) {
            return onThread<QByteArray>([=] {
                const int fd = connectFrom("127.0.0.1", port);
                QElapsedTimer clock;
                clock.start();
                QByteArray in;
                bool closed = false;
                for (const char c : kPage) {
                    if (!sendAll(fd, QByteArray(1, c)))
                        break;
                    in += receive(fd, gapMs, &closed);
                    if (closed || clock.elapsed() > 6000)
                        break;
                }
                if (!closed && !in.startsWith("HTTP/1.1"))
                    in += receive(fd, 2000, &closed);
                ::close(fd);
                return (closed ? QByteArray("closed ") : QByteArray("open ")) + in.left(in.indexOf('\r'));
            });
        };
        QCOMPARE(dribble(300), QByteArray("closed ")); // 46 bytes at 3 a second: far past the deadline
        QCOMPARE(dribble(5), QByteArray("open HTTP/1.1 200 OK")); // well within it
        QCOMPARE(onThread<QByteArray>([port] { return statusFrom("127.0.0.2", port); }), QByteArray("HTTP/1.1 200 OK"));
    }

    // Two hundred idle connections of one client: only its share stays open, other clients
    // are served all the while, and the idle ones are closed in the end.
    void idleConnectionsAreBounded()
    {
        WebLimits limits;
        limits.perClient = 16;
        limits.idleMs = 1500;
        auto server = startServer(limits);
        const quint16 port = server->port();
        std::vector<int> idle;
        std::atomic<bool> opened = false;
        std::thread opener([&] {
            for (int i = 0; i < 200; ++i) {
                const int fd = connectFrom("127.0.0.1", port);
                if (fd >= 0)
                    idle.push_back(fd);
            }
            opened = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(opened.load(), 20000);
        opener.join();
        QCOMPARE(idle.size(), std::size_t(200)); // the kernel takes them all...
        QTRY_COMPARE(server->connections().openOf("127.0.0.1"), limits.perClient); // ...the server keeps 16
        QCOMPARE(onThread<QByteArray>([port] { return statusFrom("127.0.0.2", port); }), QByteArray("HTTP/1.1 200 OK"));
        QTRY_COMPARE_WITH_TIMEOUT(server->connections().openOf("127.0.0.1"), 0, 5000);
        for (const int fd : idle)
            ::close(fd);
        QCOMPARE(onThread<QByteArray>([port] { return statusFrom("127.0.0.1", port); }), QByteArray("HTTP/1.1 200 OK"));
    }

    // The TLS listener keeps the same bounds, on the decrypted requests.
    void tlsConnectionsAreGuardedToo()
    {
        QTemporaryDir dir;
        auto server = startServer({}, dir.path());
        QVERIFY(server->usesTls() && server->port() != 0);
        QSslSocket socket;
        socket.setPeerVerifyMode(QSslSocket::VerifyNone);
        socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), server->port());
        QTRY_VERIFY(socket.isEncrypted());
        QCOMPARE(server->connections().openOf(QStringLiteral("127.0.0.1")), 1);
        socket.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: " + QByteArray(20000, 'a') + "\r\n\r\n");
        QByteArray in;
        QTRY_VERIFY((in += socket.readAll()).contains("\r\n\r\n"));
        QVERIFY2(in.startsWith("HTTP/1.1 431"), in.left(40).constData());
        socket.abort();
        QTRY_COMPARE(server->connections().open(), 0);
    }

    // A client that piles up requests without waiting for the answers is dropped before the
    // server spends itself on them; others are served meanwhile.
    void pilesOfRequestsAreDropped()
    {
        const WebLimits limits;
        auto server = startServer(limits);
        const quint16 port = server->port();
        const int requests = 3000; // some 10 KB of answer each
        const auto [answers, probe] = onThread<QPair<int, QByteArray>>([port] {
            const int fd = connectFrom("127.0.0.1", port);
            const QByteArray one = "GET /app.js HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
            for (int i = 0; i < requests && sendAll(fd, one); ++i) {
            }
            const QByteArray other = statusFrom("127.0.0.2", port);
            int got = 0;
            QByteArray in;
            char buffer[65536];
            for (pollfd p{fd, POLLIN, 0}; ::poll(&p, 1, 2000) > 0;) {
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                in.append(buffer, n);
                got += int(in.count("HTTP/1.1 200"));
                in = in.right(11); // a status line cut in two is counted once it is whole
            }
            ::close(fd);
            return qMakePair(got, other);
        }, 60000);
        QVERIFY2(answers <= limits.maxPipelined, qPrintable(QString::number(answers)));
        QCOMPARE(probe, QByteArray("HTTP/1.1 200 OK"));
        QTRY_COMPARE(server->connections().open(), 0);
    }

    // A recording being encoded does not hold up the answers to others: it is prepared off
    // the event loop, which also carries the calls.
    void audioIsPreparedAside()
    {
        QTemporaryDir dir;
        m_backend.wave = dir.filePath(QStringLiteral("A.wav"));
        const int samples = 8000 * 120; // two minutes
        QByteArray wave = pcmWaveHeader(1, 8000, 16, std::uint32_t(samples * 2));
        for (int i = 0; i < samples; ++i)
            appendLe16(wave, static_cast<std::uint16_t>(static_cast<std::int16_t>(8000 * std::sin(i * 0.3))));
        QFile file(m_backend.wave);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(wave) == wave.size());
        file.close();
        auto server = startServer({});
        const quint16 port = server->port();
        const QByteArray cookie = onThread<QByteArray>([port] { return signIn(port); });
        QVERIFY(!cookie.isEmpty());
        // Which answer comes first: the encoded recording, or a page asked for just after it.
        const QByteArray order = onThread<QByteArray>([&] {
            const int audio = connectFrom("127.0.0.1", port);
            const int page = connectFrom("127.0.0.2", port);
            sendAll(audio, "GET /api/messages/1/audio?format=opus HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: " + cookie + "\r\n\r\n");
            sendAll(page, kPage);
            QByteArray first;
            for (pollfd p[2] = {{audio, POLLIN, 0}, {page, POLLIN, 0}}; first.isEmpty() && ::poll(p, 2, 30000) > 0;)
                first = p[0].revents ? "audio" : "page";
            const QByteArray ogg = receive(audio, 30000);
            ::close(audio);
            ::close(page);
            return first + ' ' + ogg.left(ogg.indexOf('\r'));
        });
        QCOMPARE(order, QByteArray("page HTTP/1.1 200 OK"));
        m_backend.wave.clear();
    }

    // The events stream stays open by design: the idle deadline does not end it.
    void eventStreamsOutliveTheIdleDeadline()
    {
        WebLimits limits;
        limits.idleMs = 500;
        auto server = startServer(limits);
        const quint16 port = server->port();
        const QByteArray cookie = onThread<QByteArray>([port] { return signIn(port); });
        QVERIFY(!cookie.isEmpty());
        const int stream = onThread<int>([&] {
            const int fd = connectFrom("127.0.0.1", port);
            sendAll(fd, "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: " + cookie + "\r\n\r\n");
            return fd;
        });
        QTRY_COMPARE(server->eventStreams(), 1);
        QTest::qWait(3 * limits.idleMs);
        QCOMPARE(server->eventStreams(), 1);
        QCOMPARE(server->connections().open(), 1);
        ::close(stream);
    }
};

QTEST_GUILESS_MAIN(tst_WebLimits)
#include "tst_WebLimits.moc"
