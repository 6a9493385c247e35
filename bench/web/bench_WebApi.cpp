// The first page of 50 messages out of 10,000, as the JSON the API answers, and the same
// through the whole server over a loopback socket (session check, headers, JSON, socket).
#include "web/WebAuth.h"
#include "web/WebServer.h"

#include "core/WaveHeader.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <cmath>
#include <cstring>
#include <iostream>
#include <unistd.h>

#include <benchmark/benchmark.h>

using namespace telvox;

namespace {

const QByteArray kPassword = "benchmark password";

// A store of `count` messages, the newest first, as an indexed store hands out a page.
class ManyMessages final : public WebBackend
{
public:
    explicit ManyMessages(int count)
    {
        const QDateTime start(QDate(2026, 1, 5), QTime(9, 0));
        for (int i = 0; i < count; ++i)
            m_all.append(WebMessage{i + 1, QStringLiteral("555%1").arg(i, 4, 10, QLatin1Char('0')), QStringLiteral("Caller %1").arg(i),
                                    start.addSecs(i * 60), 10 + i % 50, i % 4, QLatin1Char('A'), i % 3 == 0});
    }
    WebMessagePage messages(List, int offset, int limit) const override
    {
        return {m_all.mid(offset, limit), static_cast<int>(m_all.size())};
    }
    std::optional<WebMessage> message(qint64 id) const override
    {
        return id >= 1 && id <= m_all.size() ? std::optional<WebMessage>(m_all[id - 1]) : std::nullopt;
    }
    QString audioFile(qint64 id) const override { return message(id) ? wave : QString(); }
    QString wave; // every message's audio
    bool setUnread(qint64, bool) override { return false; }
    bool remove(qint64) override { return false; }
    WebCalls calls() const override { return {}; }
    QList<WebListEntry> numberList(bool) const override { return {}; }
    bool setNumberList(bool, const QList<WebListEntry> &, QString *) override { return false; }
    QList<WebLine> lines() const override { return {}; }

private:
    QList<WebMessage> m_all;
};

QByteArray roundTrip(QTcpSocket &socket, const QByteArray &request)
{
    socket.write(request);
    QByteArray in;
    qsizetype headEnd = -1;
    qint64 length = -1;
    while (true) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        in += socket.readAll();
        if (headEnd < 0 && (headEnd = in.indexOf("\r\n\r\n")) >= 0) {
            const qsizetype at = in.indexOf("Content-Length: ");
            length = in.mid(at + 16, in.indexOf('\r', at) - at - 16).toLongLong();
        }
        if (headEnd >= 0 && in.size() - headEnd - 4 >= length)
            return in;
    }
}

void firstPageJson(benchmark::State &state)
{
    ManyMessages backend(10000);
    WebApi api(backend);
    WebRequest request;
    request.query = QStringLiteral("list=unread&limit=50");
    for (auto _ : state) {
        const WebReply reply = api.messages(request);
        benchmark::DoNotOptimize(reply.body.size());
    }
}
BENCHMARK(firstPageJson)->Unit(benchmark::kMillisecond);

void firstPageOverHttp(benchmark::State &state)
{
    ManyMessages backend(10000);
    WebServerConfig config;
    config.port = 0;
    config.passwordHash = webpassword::hash(kPassword).value_or(QByteArray());
    WebServer server(backend, config);
    QString error;
    if (!server.start(&error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, server.port());
    while (socket.state() != QAbstractSocket::ConnectedState)
        QCoreApplication::processEvents();
    const QByteArray body = "{\"password\":\"" + kPassword + "\"}";
    const QByteArray login = roundTrip(socket, "POST /api/login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                                               "Content-Length: "
                                                   + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    const qsizetype at = login.indexOf("telvox_session=");
    const QByteArray cookie = login.mid(at, login.indexOf(';', at) - at);
    const QByteArray request = "GET /api/messages?list=unread&limit=50 HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: " + cookie + "\r\n\r\n";
    for (auto _ : state) {
        const QByteArray reply = roundTrip(socket, request);
        if (!reply.startsWith("HTTP/1.1 200")) {
            state.SkipWithError("the page was not served");
            return;
        }
    }
}
BENCHMARK(firstPageOverHttp)->Unit(benchmark::kMillisecond);

} // namespace

// `telvox_bench_web --serve PORT`: serves the 10,000 messages (each with the same 30 s of
// audio) on 127.0.0.1:PORT with the password "benchmark password" until standard input
// closes, for bench/web/page_speed.py to measure the page in Chromium.
int serve(quint16 port)
{
    QTemporaryDir dir;
    ManyMessages backend(10000);
    backend.wave = dir.filePath(QStringLiteral("A.wav"));
    QByteArray wave = pcmWaveHeader(1, 8000, 16, 8000 * 2 * 30);
    for (int i = 0; i < 8000 * 30; ++i)
        appendLe16(wave, static_cast<std::uint16_t>(static_cast<std::int16_t>(8000 * std::sin(i * 0.3))));
    QFile file(backend.wave);
    if (!file.open(QIODevice::WriteOnly) || file.write(wave) != wave.size())
        return 1;
    file.close();
    WebServerConfig config;
    config.port = port;
    config.passwordHash = webpassword::hash(kPassword).value_or(QByteArray());
    WebServer server(backend, config);
    QString error;
    if (!server.start(&error)) {
        std::cerr << qPrintable(error) << std::endl;
        return 1;
    }
    std::cout << "serving " << server.port() << std::endl;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&input] {
        char byte;
        if (::read(STDIN_FILENO, &byte, 1) <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
        }
    });
    return QCoreApplication::exec();
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--serve") == 0)
        return serve(static_cast<quint16>(std::atoi(argv[2])));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
