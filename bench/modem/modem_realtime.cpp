// Real-time figures of the voice-modem backend against telvox-modemsim on pseudo-terminals:
// CPU time and wake-ups per second of this process while four lines record at once, and the
// largest gap between audio chunks written to a modem during playback.
//
//   telvox_bench_modem_realtime [seconds]      (default 10)
#include "core/QtEventLoop.h"
#include "platform/telephony/modem/ModemPorts.h"
#include "platform/telephony/modem/ModemTelephony.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

using namespace telvox;
using namespace telvox::modem;

namespace {

// Runs the event loop for `ms`; `each` runs every 100 ms (the capture's buffer poll: ten
// wake-ups a second of the measurement are this loop's own).
void runFor(int ms, const std::function<void()> &each = {})
{
    QEventLoop loop;
    QTimer poll;
    if (each) {
        QObject::connect(&poll, &QTimer::timeout, &loop, each);
        poll.start(100);
    }
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Usage
{
    double cpuSeconds;
    long wakeUps;
};

Usage usageNow()
{
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    const double cpu = double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) + double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
    return {cpu, r.ru_nvcsw + r.ru_nivcsw};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 10;
    QTemporaryDir dir;
    QProcess sim;
    sim.start(QStringLiteral(TELVOX_MODEMSIM),
              {QStringLiteral("--lines"), QStringLiteral("4"), QStringLiteral("--profile"), QStringLiteral("usr"),
               QStringLiteral("--link-dir"), dir.path()});
    sim.waitForStarted();
    QByteArray out;
    while (!out.contains("ready") && sim.waitForReadyRead(5000))
        out += sim.readAllStandardOutput();

    QtEventLoop loop;
    std::vector<ModemPort> portList;
    for (int i = 0; i < 4; ++i) {
        ModemPort entry;
        entry.portName = dir.filePath(QStringLiteral("modem%1").arg(i));
        entry.opener = serialPortOpener(entry.portName, 230400);
        portList.push_back(std::move(entry));
    }
    ModemTelephony service(loop, std::move(portList));
    service.start();
    if (!service.waitForIdentification(8000)) {
        std::fprintf(stderr, "the emulated modems did not answer\n");
        return 1;
    }
    HLineApp lineApp = 0;
    std::uint32_t count = 0;
    std::array<HCall, 4> calls{};
    std::array<bool, 4> connected{};
    service.lineInitialize(
        lineApp,
        [&](std::uint32_t device, std::uint32_t message, std::uintptr_t instance, std::uint32_t p1, std::uint32_t,
            std::uint32_t) {
            if (message == LINE_CALLSTATE && p1 == LineCallState::Offering)
                calls[instance] = device;
            if (message == LINE_CALLSTATE && p1 == LineCallState::Connected)
                connected[instance] = true;
        },
        QStringLiteral("bench"), count);
    for (int i = 0; i < 4; ++i) {
        HLine h = 0;
        service.lineOpen(lineApp, std::uint32_t(i), h, 0x20002, 0, std::uintptr_t(i), 6, MediaMode::InteractiveVoice);
        service.lineSetStatusMessages(h, kLineDevStateRinging, 0);
        sim.write(QStringLiteral("at 0 line %1 call number \"555000%1\" cadence 300/700 audio talk %1\n").arg(i).toLatin1());
    }
    runFor(1500);
    for (int i = 0; i < 4; ++i)
        service.lineAnswer(calls[std::size_t(i)]);
    runFor(1500);

    // Four lines record at once.
    struct Capture
    {
        std::unique_ptr<WaveIn> in;
        std::array<WaveBuffer, 2> buffers;
        int done = 0;
        int handled = 0;
    };
    std::array<Capture, 4> captures;
    for (int i = 0; i < 4; ++i) {
        Capture &c = captures[std::size_t(i)];
        service.openIn(ModemTelephony::kWaveDeviceBase + i, PcmFormat{}, [&c](WaveMessage m) { c.done += m == WaveMessage::Done; },
                       c.in);
        for (WaveBuffer &b : c.buffers) {
            b.data.resize(16000);
            c.in->prepareHeader(b);
        }
        c.in->addBuffer(c.buffers[0]);
        c.in->start();
    }
    const auto requeue = [&] {
        for (Capture &c : captures) {
            while (c.handled < c.done)
                c.in->addBuffer(c.buffers[std::size_t(++c.handled % 2)]);
        }
    };
    runFor(1000, requeue);
    std::int64_t receivedBefore = 0;
    for (int i = 0; i < 4; ++i)
        receivedBefore += service.line(i).stats().samplesReceived;
    const Usage before = usageNow();
    QElapsedTimer wall;
    wall.start();
    runFor(seconds * 1000, requeue);
    const Usage after = usageNow();
    const double elapsed = double(wall.elapsed()) / 1000.0;
    std::int64_t received = -receivedBefore;
    for (int i = 0; i < 4; ++i)
        received += service.line(i).stats().samplesReceived;
    // Line 0 stops recording to play; the other three go on.
    captures[0].in->reset();
    std::printf("four lines recording, 16-bit linear, %.1f s:\n", elapsed);
    std::printf("  CPU: %.2f %% of one core\n", 100.0 * (after.cpuSeconds - before.cpuSeconds) / elapsed);
    std::printf("  wake-ups (context switches): %.0f per second\n", double(after.wakeUps - before.wakeUps) / elapsed);
    std::printf("  samples received per line and second: %.0f\n", double(received) / 4.0 / elapsed);

    // Playback on line 0: largest gap between chunks written to the modem.
    runFor(500);
    std::unique_ptr<WaveOut> wout;
    bool playing = true;
    service.openOut(ModemTelephony::kWaveDeviceBase, PcmFormat{}, [&](WaveMessage m) {
        if (m == WaveMessage::Done)
            playing = false;
    }, wout);
    WaveBuffer prompt;
    prompt.data.resize(std::size_t(seconds) * 16000);
    for (std::size_t i = 0; i < prompt.data.size() / 2; ++i) {
        const auto v = std::int16_t(6000 * std::sin(double(i) * 0.3));
        std::memcpy(prompt.data.data() + i * 2, &v, 2);
    }
    wout->prepareHeader(prompt);

    QElapsedTimer playClock;
    playClock.start();
    wout->write(prompt);
    while (playing && playClock.elapsed() < (seconds + 5) * 1000)
        runFor(20, requeue);
    std::printf("playback of %d s on one line (16-bit linear) while three lines record:\n", seconds);
    std::printf("  took %.2f s\n", double(playClock.elapsed()) / 1000.0);
    std::printf("  largest gap between chunks written (backend): %lld ms\n",
                static_cast<long long>(service.line(0).stats().largestSendGapMs));
    sim.write("stats\n");
    sim.waitForReadyRead(2000);
    runFor(200);
    const QByteArray stats = sim.readAllStandardOutput();
    for (const QByteArray &line : stats.split('\n')) {
        if (line.startsWith("Line0 stats"))
            std::printf("  emulator: %s\n", line.constData());
    }
    for (Capture &c : captures)
        c.in->reset();
    sim.write("quit\n");
    sim.waitForFinished(3000);
    return 0;
}
