// The web interface over a real message index: a messages.db filled through MessageStore with
// 10,000 messages (as 10,000 calls leave it: fifty listed in each list, the rest kept
// unlisted), the call system around it and the adapter the program uses. Measures the first
// page of 50 as the API's JSON and through the whole server over a loopback socket, the time
// from asking for a recording to its first bytes, and the memory a page costs against the
// number of messages in the index.
#include "app/WebAdapter.h"
#include "records/MessageStore.h"
#include "support/CallRig.h"
#include "web/WebAuth.h"
#include "web/WebServer.h"

#include "core/WaveHeader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSocketNotifier>
#include <QTcpSocket>

#include <cmath>
#include <cstring>
#include <iostream>
#include <unistd.h>

#include <benchmark/benchmark.h>

using namespace telvox;
using namespace telvox::test;

namespace {

const QByteArray kPassword = "benchmark password";
constexpr int kAudioSeconds = 30;
constexpr int kWithAudio = 2 * MessageStore::kListCapacity; // the listed ones

// 30 s of a tone at 8000 Hz, 16 bits: the audio of each listed message.
QByteArray toneWave()
{
    QByteArray wave = pcmWaveHeader(1, 8000, 16, 8000 * 2 * kAudioSeconds);
    for (int i = 0; i < 8000 * kAudioSeconds; ++i)
        appendLe16(wave, static_cast<std::uint16_t>(static_cast<std::int16_t>(8000 * std::sin(i * 0.3))));
    return wave;
}

// The call system of a program folder whose index holds `count` messages, and the web
// adapter over it.
struct RealStore
{
    explicit RealStore(int count)
    {
        const QString folder = rig.dir.file(QStringLiteral("waveFiles"));
        const QDateTime start(QDate(2026, 1, 5), QTime(9, 0));
        const QByteArray wave = toneWave();
        QList<NewMessage> all;
        for (int i = 0; i < count; ++i) {
            NewMessage m;
            const QDateTime when = start.addSecs(qint64(i) * 60);
            const QString caller = QStringLiteral("555%1").arg(i % 10000, 4, 10, QLatin1Char('0'));
            m.entry = QStringLiteral("A%1~%2.wav").arg(when.toString(QStringLiteral("yyyy-MM-dd~HH-mm-ss")), caller);
            m.path = folder + QLatin1Char('/') + m.entry;
            m.caller = caller;
            m.callerName = QStringLiteral("Caller %1").arg(i);
            m.time = when;
            m.seconds = kAudioSeconds;
            m.line = i % 4;
            m.unread = i % 2 == 0;
            all << m;
            // Only the newest can still be listed; they get their audio.
            if (i >= count - kWithAudio) {
                QFile file(m.path);
                if (!file.open(QIODevice::WriteOnly) || file.write(wave) != wave.size())
                    qFatal("cannot write %s", qPrintable(m.path));
            }
        }
        // In batches, as a store grows over many calls; each message is listed at the bottom
        // of its list and pushes the oldest out.
        for (qsizetype at = 0; at < all.size(); at += 1000) {
            if (rig.system.messageStore().addMessages(all.mid(at, 1000)) < 0)
                qFatal("the index refused: %s", qPrintable(rig.system.messageStore().errorText()));
        }
        adapter = std::make_unique<WebAdapter>(rig.system);
    }
    CallRig rig;
    std::unique_ptr<WebAdapter> adapter;
};

long residentKilobytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return statm.readAll().split(' ').value(1).toLong() * (::sysconf(_SC_PAGESIZE) / 1024);
}

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
    RealStore store(static_cast<int>(state.range(0)));
    WebApi api(*store.adapter);
    WebRequest request;
    request.query = QStringLiteral("list=unread&limit=50");
    for (auto _ : state) {
        const WebReply reply = api.messages(request);
        benchmark::DoNotOptimize(reply.body.size());
    }
}
BENCHMARK(firstPageJson)->Arg(10000)->Unit(benchmark::kMillisecond);

// A signed-in keep-alive connection to `server`: the cookie, "" when the log-in failed.
QByteArray signIn(QTcpSocket &socket, const WebServer &server)
{
    socket.connectToHost(QHostAddress::LocalHost, server.port());
    while (socket.state() != QAbstractSocket::ConnectedState)
        QCoreApplication::processEvents();
    const QByteArray body = "{\"password\":\"" + kPassword + "\"}";
    const QByteArray login = roundTrip(socket, "POST /api/login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                                               "Content-Length: "
                                                   + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    const qsizetype at = login.indexOf("telvox_session=");
    return at < 0 ? QByteArray() : login.mid(at, login.indexOf(';', at) - at);
}

std::unique_ptr<WebServer> startServer(WebBackend &backend, quint16 port = 0)
{
    WebServerConfig config;
    config.port = port;
    config.passwordHash = webpassword::hash(kPassword).value_or(QByteArray());
    auto server = std::make_unique<WebServer>(backend, config);
    QString error;
    if (!server->start(&error)) {
        std::cerr << qPrintable(error) << std::endl;
        return nullptr;
    }
    return server;
}

void firstPageOverHttp(benchmark::State &state)
{
    RealStore store(static_cast<int>(state.range(0)));
    const auto server = startServer(*store.adapter);
    QTcpSocket socket;
    const QByteArray cookie = server ? signIn(socket, *server) : QByteArray();
    if (cookie.isEmpty()) {
        state.SkipWithError("cannot sign in");
        return;
    }
    const QByteArray request = "GET /api/messages?list=unread&limit=50 HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: " + cookie + "\r\n\r\n";
    roundTrip(socket, request); // the first page also warms the caches
    const long before = residentKilobytes();
    for (auto _ : state) {
        const QByteArray reply = roundTrip(socket, request);
        if (!reply.startsWith("HTTP/1.1 200") || !reply.contains("\"total\":50")) {
            state.SkipWithError("the page was not served");
            return;
        }
    }
    // Flat memory: what serving the pages added, whatever the number of messages.
    state.counters["rss_growth_kB"] = double(residentKilobytes() - before);
    state.counters["rss_kB"] = double(residentKilobytes());
}
BENCHMARK(firstPageOverHttp)->Arg(1000)->Arg(10000)->Arg(30000)->Unit(benchmark::kMillisecond);

// From asking for a recording not asked for before to its first bytes (what a browser waits
// for after play is pressed), as WAV and as Ogg Opus.
void audioStart(benchmark::State &state)
{
    RealStore store(10000);
    const auto server = startServer(*store.adapter);
    QTcpSocket socket;
    const QByteArray cookie = server ? signIn(socket, *server) : QByteArray();
    const bool opus = state.range(0) == 1;
    const WebMessagePage page = store.adapter->messages(WebBackend::List::Recent, 0, 50);
    qsizetype next = 0;
    for (auto _ : state) {
        if (next == page.messages.size()) {
            state.SkipWithError("more rounds than messages: each must be new to the server");
            return;
        }
        const QByteArray request = "GET /api/messages/" + QByteArray::number(page.messages[next++].id) + "/audio"
                                   + (opus ? "?format=opus" : "") + " HTTP/1.1\r\nHost: 127.0.0.1\r\nRange: bytes=0-\r\nCookie: "
                                   + cookie + "\r\n\r\n";
        const QByteArray reply = roundTrip(socket, request);
        if (!reply.startsWith("HTTP/1.1 206")) {
            state.SkipWithError("the audio was not served");
            return;
        }
    }
}
BENCHMARK(audioStart)->Arg(0)->Arg(1)->Iterations(20)->Unit(benchmark::kMillisecond);

} // namespace

// `telvox_bench_web --serve PORT`: serves an index of 10,000 messages (the listed ones with
// 30 s of audio each) on 127.0.0.1:PORT with the password "benchmark password" until standard
// input closes, for bench/web/page_speed.py to measure the page in Chromium.
int serve(quint16 port)
{
    RealStore store(10000);
    const auto server = startServer(*store.adapter, port);
    if (!server)
        return 1;
    std::cout << "serving " << server->port() << std::endl;
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
