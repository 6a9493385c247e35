// One-way audio delay through SIP lines and the CPU a call costs, on the loopback interface.
// Callers in this program (one thread each, plain sockets) call the lines, which are answered
// through the line functions. Each caller sends PCMU every 20 ms on the clock, with a loud
// 20-ms click once a second; the line's wave-in device, opened as the recorder opens it (20-ms
// buffers here), says when the buffer holding the click comes back: caller to recording. Once
// a second a click is written to the line's wave-out device, as the greeting player writes
// (two 20-ms buffers in flight), and the caller's socket says when it arrives: greeting to
// caller. CPU: the process's user and system time over the calls, per call and second (the
// callers' own work, a packet each 20 ms, is in it), without busy threads only. Busy threads
// (in this process) can load the machine.
//   bench_sip_latency [seconds=20] [calls=4] [busy threads per core=0]
#include "core/QtEventLoop.h"
#include "platform/telephony/sip/SipTelephony.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTimer>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

using namespace telvox;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFrame = 160;
constexpr std::uint8_t kUlawSilence = 0xFF;
constexpr std::uint8_t kUlawLoud = 0x80; // about full scale, positive

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Figures
{
    std::vector<double> values;
    void add(double v) { values.push_back(v); }
    QString text() const
    {
        if (values.empty())
            return QStringLiteral("none measured");
        std::vector<double> v = values;
        std::sort(v.begin(), v.end());
        return QStringLiteral("median %1 ms, min %2, max %3 (%4 clicks)")
            .arg(v[v.size() / 2], 0, 'f', 1)
            .arg(v.front(), 0, 'f', 1)
            .arg(v.back(), 0, 'f', 1)
            .arg(v.size());
    }
};

// A caller: its SIP socket (on the main thread) and its RTP socket (on a thread of its own).
struct Caller
{
    int index = 0;
    QUdpSocket sip;
    int rtp = -1;
    quint16 rtpPort = 0;
    quint16 lineRtpPort = 0;
    HCall hCall = 0;
    std::thread thread;
    std::mutex mutex;
    std::vector<Clock::time_point> clicksSent, clicksHeard; // caller's clicks; ours heard by it
    bool inClick = false; // on the caller's thread: the line's audio is loud now
    // The line's side, on the main thread.
    std::unique_ptr<WaveIn> in;
    std::unique_ptr<WaveOut> out;
    std::vector<WaveBuffer> inBuffers = std::vector<WaveBuffer>(4), outBuffers = std::vector<WaveBuffer>(2);
    std::vector<Clock::time_point> clicksPlayed, clicksRecorded;
    std::uint64_t framesPlayed = 0;
    bool recordedLoud = false;
};

QByteArray invite(const Caller &c, quint16 linePort)
{
    const QByteArray n = QByteArray::number(c.index), p = QByteArray::number(c.sip.localPort());
    const QByteArray sdp = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\nm=audio "
        + QByteArray::number(c.rtpPort) + " RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\n";
    return "INVITE sip:telvox@127.0.0.1:" + QByteArray::number(linePort) + " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" + p
        + ";branch=z9hG4bK-i" + n + "\r\nMax-Forwards: 70\r\nTo: <sip:telvox@127.0.0.1>\r\nFrom: <sip:55500" + n
        + "@127.0.0.1>;tag=c" + n + "\r\nCall-ID: bench-" + n + "\r\nCSeq: 1 INVITE\r\nContact: <sip:caller@127.0.0.1:" + p
        + ">\r\nContent-Type: application/sdp\r\nContent-Length: " + QByteArray::number(sdp.size()) + "\r\n\r\n" + sdp;
}

QByteArray ack(const Caller &c, quint16 linePort, const QByteArray &to)
{
    const QByteArray n = QByteArray::number(c.index);
    return "ACK sip:telvox@127.0.0.1:" + QByteArray::number(linePort) + " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:"
        + QByteArray::number(c.sip.localPort()) + ";branch=z9hG4bK-a" + n + "\r\nMax-Forwards: 70\r\nTo: " + to
        + "\r\nFrom: <sip:55500" + n + "@127.0.0.1>;tag=c" + n + "\r\nCall-ID: bench-" + n
        + "\r\nCSeq: 1 ACK\r\nContent-Length: 0\r\n\r\n";
}

// The caller's media: a PCMU frame every 20 ms on the clock (a click each 50th), and what the
// line sends back searched for our clicks.
void runMedia(Caller &c, const std::atomic<bool> &stop)
{
    sockaddr_in line{};
    line.sin_family = AF_INET;
    line.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    line.sin_port = htons(c.lineRtpPort);
    const Clock::time_point start = Clock::now();
    std::uint8_t packet[12 + kFrame] = {0x80, 0};
    std::uint8_t in[1500];
    for (std::uint32_t n = 0; !stop.load(); ++n) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(20 * n));
        packet[2] = std::uint8_t(n >> 8);
        packet[3] = std::uint8_t(n);
        const std::uint32_t ts = n * kFrame;
        for (int i = 0; i < 4; ++i)
            packet[4 + i] = std::uint8_t(ts >> (24 - 8 * i));
        packet[11] = std::uint8_t(0x40 + c.index);
        const bool click = n % 50 == 25;
        std::fill(packet + 12, packet + sizeof packet, click ? kUlawLoud : kUlawSilence);
        if (click) {
            const std::lock_guard lock(c.mutex);
            c.clicksSent.push_back(Clock::now());
        }
        (void)::sendto(c.rtp, packet, sizeof packet, 0, reinterpret_cast<const sockaddr *>(&line), sizeof line);
        for (ssize_t got; (got = ::recv(c.rtp, in, sizeof in, MSG_DONTWAIT)) > 12;) {
            const bool loud = std::any_of(in + 12, in + got, [](std::uint8_t b) { return (b & 0x7F) < 0x20; });
            if (loud && !c.inClick) {
                const std::lock_guard lock(c.mutex);
                c.clicksHeard.push_back(Clock::now());
            }
            c.inClick = loud;
        }
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    const int calls = std::clamp(argc > 2 ? std::atoi(argv[2]) : 4, 1, 4);
    const int perCore = argc > 3 ? std::atoi(argv[3]) : 0;

    std::atomic<bool> stop{false};
    std::vector<std::thread> busy;
    for (unsigned i = 0; i < std::max(1u, std::thread::hardware_concurrency()) * unsigned(perCore); ++i)
        busy.emplace_back([&stop] {
            volatile std::uint64_t x = 0;
            while (!stop.load(std::memory_order_relaxed))
                x = x + 1;
        });

    QtEventLoop loop;
    std::vector<sip::SipLineConfig> configs(static_cast<std::size_t>(calls));
    for (sip::SipLineConfig &config : configs)
        config.setup.listenAddress = QStringLiteral("127.0.0.1:0");
    sip::SipTelephony lines(loop, configs);
    if (const QString failure = lines.start(); !failure.isEmpty()) {
        std::fprintf(stderr, "the lines did not start: %s\n", qPrintable(failure));
        return 1;
    }
    std::vector<std::unique_ptr<Caller>> callers;
    HLineApp lineApp = 0;
    std::uint32_t devices = 0;
    lines.lineInitialize(lineApp, [&](std::uint32_t device, std::uint32_t message, std::uintptr_t instance, std::uint32_t p1,
                                      std::uint32_t, std::uint32_t) {
        if (message == LINE_CALLSTATE && p1 == LineCallState::Offering) {
            callers[instance]->hCall = device;
            lines.lineAnswer(device);
        }
    }, QStringLiteral("bench"), devices);
    const PcmFormat format;
    for (int n = 0; n < calls; ++n) {
        auto c = std::make_unique<Caller>();
        c->index = n;
        std::uint32_t version = 0;
        std::uint64_t extension = 0;
        HLine hLine = 0;
        lines.lineNegotiateAPIVersion(lineApp, std::uint32_t(n), 0x10004, 0x20002, version, extension);
        if (lines.lineOpen(lineApp, std::uint32_t(n), hLine, version, 0, std::uintptr_t(n), 0x4, MediaMode::AutomatedVoice)
            != 0) {
            std::fprintf(stderr, "line %d did not open\n", n);
            return 1;
        }
        c->sip.bind(QHostAddress::LocalHost, 0);
        c->rtp = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        ::bind(c->rtp, reinterpret_cast<sockaddr *>(&a), size);
        ::getsockname(c->rtp, reinterpret_cast<sockaddr *>(&a), &size);
        c->rtpPort = ntohs(a.sin_port);
        callers.push_back(std::move(c));
    }

    const QRegularExpression toLine(QStringLiteral("\r\n(?:To|t): ([^\r]*)\r\n"));
    double cpuStart = 0;
    Clock::time_point callsStart;
    int connected = 0;
    for (auto &owned : callers) {
        Caller &c = *owned;
        const quint16 linePort = quint16(QString::fromLatin1(lines.contactUri(c.index)).section(':', -1).toUInt());
        QObject::connect(&c.sip, &QUdpSocket::readyRead, [&, linePort] {
            while (c.sip.hasPendingDatagrams()) {
                QByteArray reply(int(c.sip.pendingDatagramSize()), 0);
                c.sip.readDatagram(reply.data(), reply.size());
                const QString text = QString::fromLatin1(reply);
                if (!text.startsWith(QLatin1String("SIP/2.0 200")) || c.lineRtpPort != 0)
                    continue;
                c.lineRtpPort = quint16(QRegularExpression(QStringLiteral("m=audio (\\d+)")).match(text).captured(1).toUInt());
                c.sip.writeDatagram(ack(c, linePort, toLine.match(text).captured(1).toLatin1()), QHostAddress::LocalHost,
                                    linePort);
                std::uint32_t id = 0;
                lines.lineGetID(0, 0, c.hCall, kCallSelectCall, id, QStringLiteral("wave/in"));
                // The recorder's side: 20-ms buffers, each searched for the caller's click.
                lines.openIn(int(id), format, [&c](WaveMessage m) {
                    if (m != WaveMessage::Done)
                        return;
                    QMetaObject::invokeMethod(QCoreApplication::instance(), [&c] {
                        for (WaveBuffer &b : c.inBuffers) {
                            if (!b.done)
                                continue;
                            const auto *s = reinterpret_cast<const std::int16_t *>(b.data.data());
                            const bool loud = std::any_of(s, s + b.bytesRecorded / 2, [](std::int16_t v) { return v > 16000; });
                            if (loud && !c.recordedLoud)
                                c.clicksRecorded.push_back(Clock::now());
                            c.recordedLoud = loud;
                            b.done = false;
                            c.in->addBuffer(b);
                        }
                    }, Qt::QueuedConnection);
                }, c.in);
                for (WaveBuffer &b : c.inBuffers) {
                    b.data.resize(kFrame * 2);
                    c.in->prepareHeader(b);
                    c.in->addBuffer(b);
                }
                c.in->start();
                // The greeting player's side: two 20-ms buffers in flight, a click each second.
                lines.openOut(int(id), format, [&c](WaveMessage m) {
                    if (m != WaveMessage::Done)
                        return;
                    QMetaObject::invokeMethod(QCoreApplication::instance(), [&c] {
                        for (WaveBuffer &b : c.outBuffers) {
                            if (!b.done)
                                continue;
                            const bool click = ++c.framesPlayed % 50 == 0;
                            auto *s = reinterpret_cast<std::int16_t *>(b.data.data());
                            std::fill(s, s + kFrame, std::int16_t(click ? 20000 : 0));
                            if (click)
                                c.clicksPlayed.push_back(Clock::now());
                            b.done = false;
                            c.out->write(b);
                        }
                    }, Qt::QueuedConnection);
                }, c.out);
                for (WaveBuffer &b : c.outBuffers) {
                    b.data.assign(kFrame * 2, 0);
                    c.out->prepareHeader(b);
                    c.out->write(b);
                }
                c.thread = std::thread(runMedia, std::ref(c), std::cref(stop));
                if (++connected == calls) {
                    cpuStart = cpuSeconds();
                    callsStart = Clock::now();
                    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
                }
            }
        });
        c.sip.writeDatagram(invite(c, linePort), QHostAddress::LocalHost, linePort);
    }
    QTimer::singleShot((seconds + 10) * 1000, &app, [&] {
        std::fprintf(stderr, "only %d of %d calls were answered\n", connected, calls);
        app.exit(1);
    });
    if (app.exec() != 0)
        return 1;
    const double cpu = cpuSeconds() - cpuStart;
    const double wall = ms(Clock::now() - callsStart) / 1000;
    stop = true;
    Figures received, sent;
    for (auto &owned : callers) {
        Caller &c = *owned;
        c.thread.join();
        const std::lock_guard lock(c.mutex);
        // Pairs each click with the first one heard after it (a click lost is skipped).
        const auto pair = [](const std::vector<Clock::time_point> &from, const std::vector<Clock::time_point> &to, Figures &f) {
            std::size_t j = 0;
            for (std::size_t i = 0; i < from.size(); ++i) {
                while (j < to.size() && to[j] < from[i])
                    ++j;
                if (j < to.size() && (i + 1 == from.size() || to[j] < from[i + 1]))
                    f.add(ms(to[j++] - from[i]));
            }
        };
        pair(c.clicksSent, c.clicksRecorded, received);
        pair(c.clicksPlayed, c.clicksHeard, sent);
        const sip::JitterBuffer::Stats jb = lines.stack().media(c.index).rx.stats();
        std::printf("line %d: late %llu, concealed %llu, skipped %llu samples; receive delay %u ms at the end\n", c.index,
                    static_cast<unsigned long long>(jb.late), static_cast<unsigned long long>(jb.concealed),
                    static_cast<unsigned long long>(jb.skipped), jb.delay / 8);
    }
    std::printf("%d calls, %.1f s, %d busy threads per core\n", calls, wall, perCore);
    std::printf("caller to recording (packet sent -> wave-in buffer back): %s\n", qPrintable(received.text()));
    std::printf("greeting to caller (wave-out buffer written -> packet heard): %s\n", qPrintable(sent.text()));
    if (perCore == 0)
        std::printf("CPU: %.3f s for %d calls of %.1f s = %.2f %% of one core per call\n", cpu, calls, wall,
                    100.0 * cpu / (wall * calls));
    else
        std::printf("CPU: not measured (the busy threads are in this process)\n");
    for (std::thread &t : busy)
        t.join();
    return 0;
}
