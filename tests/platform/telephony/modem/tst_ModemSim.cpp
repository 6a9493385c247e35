// The voice-modem backend on pseudo-terminals against telvox-modemsim, in real time: whole
// calls (answered with a greeting and a recorded message, picked up on a handset, dialled)
// and each injected fault.

#include "EmulatedModems.h"
#include "core/QtEventLoop.h"
#include "platform/telephony/modem/ModemPorts.h"
#include "platform/telephony/modem/ModemTelephony.h"

#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <numbers>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace telvox;
using namespace telvox::modem;
using telvox::test::EmulatedModems;
using telvox::test::waitFor;

namespace {

struct Event
{
    std::uint32_t device, message, p1, p2, p3;
};

double rms(const WaveBuffer &b, std::size_t fromSample = 0)
{
    const std::size_t n = b.bytesRecorded / 2;
    if (n <= fromSample)
        return 0;
    std::vector<std::int16_t> s(n);
    std::memcpy(s.data(), b.data.data(), n * 2);
    double sum = 0;
    for (std::size_t i = fromSample; i < n; ++i)
        sum += double(s[i]) * s[i];
    return std::sqrt(sum / double(n - fromSample));
}

// The emulator and the backend on its pseudo-terminals, with one application on top.
class Rig
{
public:
    Rig(int lines, const QString &profiles, LineOptions options = {}, const QStringList &simArguments = {})
        : m_modems(lines, profiles, simArguments)
    {
        service = std::make_unique<ModemTelephony>(loop, m_modems.ports(options));
        service->setStatusHandler([this](const ModemNotice &n) { statuses << n.english(); });
        service->start();
        identified = service->waitForIdentification(8000);
        std::uint32_t count = 0;
        service->lineInitialize(
            app,
            [this](std::uint32_t d, std::uint32_t m, std::uintptr_t instance, std::uint32_t a, std::uint32_t b,
                   std::uint32_t c) { events[int(instance)].push_back({d, m, a, b, c}); },
            QStringLiteral("test"), count);
        for (int i = 0; i < lines; ++i) {
            HLine h = 0;
            service->lineOpen(app, std::uint32_t(i), h, 0x20002, 0, std::uintptr_t(i), 6, MediaMode::InteractiveVoice);
            service->lineSetStatusMessages(h, kLineDevStateRinging, 0);
            hLines.push_back(h);
        }
    }
    ~Rig() { service.reset(); }

    void tell(const QByteArray &command) { m_modems.tell(command); }
    // The figures the emulator prints for `line` ("played=..."), fresh.
    qint64 simFigure(int line, const QString &name)
    {
        m_modems.output.clear();
        tell("stats");
        const QString prefix = QStringLiteral("Line%1 stats:").arg(line);
        QString found;
        waitFor([&] {
            for (const QString &l : QString::fromLatin1(m_modems.readOutput()).split('\n')) {
                if (l.startsWith(prefix))
                    found = l;
            }
            return !found.isEmpty();
        }, 3000);
        for (const QString &word : found.split(' ')) {
            if (word.startsWith(name + '='))
                return word.mid(name.size() + 1).toLongLong();
        }
        return -1;
    }
    bool hasState(int line, std::uint32_t state) const
    {
        for (const Event &e : events.value(line)) {
            if (e.message == LINE_CALLSTATE && e.p1 == state)
                return true;
        }
        return false;
    }
    int count(int line, std::uint32_t message) const
    {
        int n = 0;
        for (const Event &e : events.value(line))
            n += e.message == message;
        return n;
    }
    Event last(int line, std::uint32_t message) const
    {
        Event found{};
        for (const Event &e : events.value(line)) {
            if (e.message == message)
                found = e;
        }
        return found;
    }
    bool waitForState(int line, std::uint32_t state, int ms)
    {
        return waitFor([&] { return hasState(line, state); }, ms);
    }

    QtEventLoop loop;
    std::unique_ptr<ModemTelephony> service;
    QMap<int, std::vector<Event>> events;
    QStringList statuses;
    HLineApp app = 0;
    std::vector<HLine> hLines;
    bool identified = false;

private:
    EmulatedModems m_modems;
};

// A capture as the audio engine runs it: two one-second buffers, the returned one re-queued.
struct Capture
{
    Capture(ModemTelephony &service, int line)
    {
        service.openIn(ModemTelephony::kWaveDeviceBase + line, PcmFormat{}, [this](WaveMessage m) {
            if (m == WaveMessage::Done)
                ++done;
        }, in);
        for (WaveBuffer &b : buffers) {
            b.data.resize(16000);
            in->prepareHeader(b);
        }
        in->addBuffer(buffers[0]);
        in->start();
    }
    // Keeps a buffer at the device; returns the samples captured so far.
    std::size_t poll()
    {
        while (handled < done) {
            WaveBuffer &b = buffers[std::size_t(handled % 2)];
            captured += b.bytesRecorded / 2;
            loudest = std::max(loudest, rms(b));
            ++handled;
            if (running) {
                WaveBuffer &next = buffers[std::size_t(handled % 2)];
                in->addBuffer(next);
            }
        }
        return captured;
    }
    void stop()
    {
        running = false;
        in->reset();
        poll();
    }
    std::unique_ptr<WaveIn> in;
    std::array<WaveBuffer, 2> buffers;
    int done = 0;
    int handled = 0;
    bool running = true;
    std::size_t captured = 0;
    double loudest = 0;
};

// A program of its own on the emulator's pseudo-terminal, talking AT commands byte by byte
// (raw, non-blocking), to see what the emulated chip does.
class RawPort
{
public:
    explicit RawPort(const QString &path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd >= 0) {
            termios tio{};
            tcgetattr(m_fd, &tio);
            cfmakeraw(&tio);
            tcsetattr(m_fd, TCSANOW, &tio);
        }
    }
    ~RawPort()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isOpen() const { return m_fd >= 0; }
    // Writes everything, waiting while the other side holds it back; false after `ms`.
    bool write(const QByteArray &bytes, int ms = 20000)
    {
        qsizetype at = 0;
        QElapsedTimer clock;
        clock.start();
        while (at < bytes.size()) {
            const ssize_t n = ::write(m_fd, bytes.constData() + at, size_t(bytes.size() - at));
            if (n > 0) {
                at += n;
                continue;
            }
            if (clock.elapsed() > ms)
                return false;
            pollfd p{m_fd, POLLOUT, 0};
            ::poll(&p, 1, 20);
            drain();
        }
        return true;
    }
    void drain()
    {
        char buffer[4096];
        for (ssize_t n; (n = ::read(m_fd, buffer, sizeof buffer)) > 0;)
            in.append(buffer, n);
    }
    // Reads until `needle` has arrived (true) or `ms` have passed.
    bool waitFor(const QByteArray &needle, int ms)
    {
        return waitFor([&] { return in.contains(needle); }, ms);
    }
    bool waitFor(const std::function<bool()> &done, int ms)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            drain();
            if (done())
                return true;
            if (clock.elapsed() > ms)
                return false;
            pollfd p{m_fd, POLLIN, 0};
            ::poll(&p, 1, 10);
        }
    }
    // A command and its final result ("OK", "ERROR", "CONNECT", ...); the text before it in `reply`.
    QByteArray command(const QByteArray &line, QByteArray *reply = nullptr, int ms = 3000)
    {
        in.clear();
        write(line + '\r');
        static const QList<QByteArray> finals = {"OK", "ERROR", "CONNECT", "VCON", "NO DIALTONE"};
        QByteArray found;
        waitFor([&] {
            for (const QByteArray &l : in.split('\n')) {
                if (finals.contains(l.trimmed()))
                    found = l.trimmed();
            }
            return !found.isEmpty();
        }, ms);
        if (reply)
            *reply = in;
        return found;
    }
    QByteArray in;

private:
    int m_fd = -1;
};

// The shielded codes in a stream from the modem, in order ("<DLE><DLE>" and "<DLE><SUB>" are
// audio and left out).
QByteArray shieldedCodes(const QByteArray &stream)
{
    QByteArray codes;
    for (qsizetype i = 0; i + 1 < stream.size(); ++i) {
        if (stream[i] != '\x10')
            continue;
        const char c = stream[++i];
        if (c != '\x10' && c != '\x1A')
            codes += c;
    }
    return codes;
}

std::vector<std::int16_t> tone(int ms, double hz)
{
    std::vector<std::int16_t> s(std::size_t(ms) * 8);
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = std::int16_t(8000 * std::sin(2 * std::numbers::pi * hz * double(i) / 8000));
    return s;
}

} // namespace

class tst_ModemSim : public QObject
{
    Q_OBJECT

private slots:
    void answeredCallWithGreetingAndMessage();
    void probeFindsTheVoiceModem();
    void handsetPickUp();
    void dialledCall();
    void modemThatStopsAnsweringLeavesOtherLinesAlone();
    void unpluggedDuringRecording();
    void lostEndOfStreamAndGarbage();
    void emulatedChipHoldsBackAndReports();
    void emulatedChipFaultsAndIdentities();
    void mutedModemDuringRecordingEndsTheCall();
    void modemLeftStreamingBeforeTheStart();
    void modemThatResetsItselfIsSetUpAgain();
};

void tst_ModemSim::answeredCallWithGreetingAndMessage()
{
    Rig rig(1, QStringLiteral("conexant"));
    QVERIFY(rig.identified);
    LineDevCaps caps;
    rig.service->lineGetDevCaps(rig.app, 0, 0x20002, 0, caps);
    QCOMPARE(caps.lineName, QByteArray("CX93001-EIS_V0.2013-V92"));
    rig.tell("at 0 line 0 call number \"5551234\" name \"ANNA\" cadence 300/700 audio talk 3");
    QVERIFY(waitFor([&] { return rig.count(0, LINE_LINEDEVSTATE) >= 2; }, 5000));
    QCOMPARE(rig.last(0, LINE_LINEDEVSTATE).p3, 2u);
    QVERIFY(rig.count(0, LINE_CALLINFO) == 1);
    const HCall call = rig.last(0, LINE_CALLSTATE).device;
    LineCallInfo info;
    QCOMPARE(rig.service->lineGetCallInfo(call, info), 0);
    QCOMPARE(info.callerIdNumber, QByteArray("5551234"));
    QCOMPARE(info.callerIdName, QByteArray("ANNA"));

    QVERIFY(rig.service->lineAnswer(call) > 0);
    QVERIFY(rig.waitForState(0, LineCallState::Connected, 4000));
    rig.service->lineMonitorDigits(call, kDigitModeDtmf);

    // The greeting: one second, paced into the modem without overrunning it.
    std::unique_ptr<WaveOut> out;
    bool playing = true;
    rig.service->openOut(ModemTelephony::kWaveDeviceBase, PcmFormat{}, [&](WaveMessage m) {
        if (m == WaveMessage::Done)
            playing = false;
    }, out);
    const auto greeting = tone(1000, 440);
    WaveBuffer prompt;
    prompt.data.resize(greeting.size() * 2);
    std::memcpy(prompt.data.data(), greeting.data(), prompt.data.size());
    out->prepareHeader(prompt);
    QElapsedTimer played;
    played.start();
    out->write(prompt);
    QVERIFY(waitFor([&] { return !playing; }, 4000));
    QVERIFY2(played.elapsed() >= 950, QByteArray::number(played.elapsed()));
    out->reset();
    out->unprepareHeader(prompt);
    out->close();

    // The signal tone, then the message.
    QCOMPARE(rig.service->lineGenerateDigits(call, kDigitModeDtmf, "*", 0), 0);
    QVERIFY(waitFor([&] { return rig.count(0, LINE_GENERATE) == 1; }, 3000));
    QCOMPARE(rig.last(0, LINE_GENERATE).p1, kGenerateTermDone);
    Capture capture(*rig.service, 0);
    rig.tell("at 300 line 0 digits \"1#\"");
    rig.tell("at 2200 line 0 hangup disconnect");
    QVERIFY(waitFor([&] {
        capture.poll();
        return rig.hasState(0, LineCallState::Disconnected);
    }, 5000));
    capture.stop();
    // About two seconds of the caller's voice, and the keys the caller pressed.
    QVERIFY2(capture.captured >= 12000 && capture.captured <= 24000, QByteArray::number(qulonglong(capture.captured)));
    QVERIFY(capture.loudest > 300);
    QString digits;
    for (const Event &e : rig.events[0]) {
        if (e.message == LINE_MONITORDIGITS)
            digits += QChar(char(e.p1));
    }
    QCOMPARE(digits, QStringLiteral("1#"));
    QVERIFY(rig.service->lineDrop(call) > 0);
    QVERIFY(rig.waitForState(0, LineCallState::Idle, 2000));
    QCOMPARE(rig.service->lineDeallocateCall(call), 0);

    QCOMPARE(rig.simFigure(0, QStringLiteral("played")), qint64(8000)); // mu-law: one byte a sample
    QCOMPARE(rig.simFigure(0, QStringLiteral("holds")), qint64(0)); // paced: never held back
    QVERIFY(rig.service->line(0).stats().largestSendGapMs < 100);
}

void tst_ModemSim::probeFindsTheVoiceModem()
{
    QTemporaryDir dir;
    QProcess sim;
    sim.start(QStringLiteral(TELVOX_MODEMSIM), {"--lines", "1", "--profile", "agere", "--link-dir", dir.path()});
    QVERIFY(sim.waitForReadyRead(5000));
    const ProbeResult r = probePort(dir.filePath("modem0"));
    QVERIFY(r.answered);
    QVERIFY(r.voice);
    QCOMPARE(r.identity, QByteArray("LT V.92 Data+Fax Modem Version 8.30"));
    QVERIFY(!probePort(dir.filePath("modem7")).answered);
    sim.write("quit\n");
    sim.waitForFinished(3000);
}

void tst_ModemSim::handsetPickUp()
{
    Rig rig(1, QStringLiteral("usr"));
    QVERIFY(rig.identified);
    rig.tell("at 0 line 0 call number \"5550001\" cadence 300/700 pickup-after 2 audio talk 9");
    QVERIFY(waitFor([&] { return rig.count(0, LINE_LINEDEVSTATE) >= 2; }, 5000));
    // The rings stop; the system notices after its ring-watch interval and goes off-hook too.
    QTest::qWait(2500);
    QCOMPARE(rig.count(0, LINE_LINEDEVSTATE), 2);
    QVERIFY(!rig.hasState(0, LineCallState::Idle));
    const HCall call = rig.service->line(0).hCall();
    QVERIFY(rig.service->lineAnswer(call) > 0);
    QVERIFY(rig.waitForState(0, LineCallState::Connected, 4000));
    Capture capture(*rig.service, 0);
    QVERIFY(waitFor([&] { return capture.poll() >= 8000; }, 4000));
    capture.stop();
    QVERIFY(capture.loudest > 300); // the conversation, in 16-bit linear
    rig.service->lineDrop(call);
    QVERIFY(rig.waitForState(0, LineCallState::Idle, 2000));
}

void tst_ModemSim::dialledCall()
{
    Rig rig(1, QStringLiteral("agere"));
    QVERIFY(rig.identified);
    rig.tell("at 0 line 0 outgoing answer-after 1s audio talk 4");
    QTest::qWait(200);
    HCall call = 0;
    QVERIFY(rig.service->lineMakeCall(rig.hLines[0], call, QStringLiteral("5556789"), 0) > 0);
    QVERIFY(rig.waitForState(0, LineCallState::Dialing, 1000));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(rig.waitForState(0, LineCallState::Connected, 5000));
    QVERIFY(clock.elapsed() >= 1000); // the modem reports when it has dialled
    Capture capture(*rig.service, 0);
    QVERIFY(waitFor([&] { return capture.poll() >= 16000; }, 5000));
    capture.stop();
    QVERIFY(capture.loudest > 100); // ring-back, then the called party
    rig.service->lineDrop(call);
    QVERIFY(rig.waitForState(0, LineCallState::Idle, 2000));
}

void tst_ModemSim::modemThatStopsAnsweringLeavesOtherLinesAlone()
{
    LineOptions options;
    options.keepAliveMs = 500;
    options.commandTimeoutMs = 1000;
    Rig rig(2, QStringLiteral("conexant,usr"), options);
    QVERIFY(rig.identified);
    rig.tell("at 0 line 0 call number \"5551234\" cadence 300/700 audio talk 3");
    QVERIFY(waitFor([&] { return rig.count(0, LINE_LINEDEVSTATE) >= 1; }, 5000));
    const HCall call = rig.last(0, LINE_CALLSTATE).device;
    rig.service->lineAnswer(call);
    QVERIFY(rig.waitForState(0, LineCallState::Connected, 4000));
    Capture capture(*rig.service, 0);
    QVERIFY(waitFor([&] { return capture.poll() > 800; }, 3000));

    // Line 1's modem stops answering for three seconds.
    rig.tell("fault 1 mute 3000");
    QVERIFY(waitFor([&] {
        capture.poll();
        return rig.statuses.join('\n').contains("Line1 the modem on");
    }, 5000));
    QVERIFY(rig.statuses.filter("Line1").filter("does not answer").size() == 1);
    QVERIFY(waitFor([&] {
        capture.poll();
        return rig.statuses.back().startsWith("Line1") && rig.statuses.back().contains("ready");
    }, 10000));
    QVERIFY(rig.service->line(1).stats().resets >= 1);
    // Line 0 recorded all along, at the modem's pace.
    const std::size_t before = capture.poll();
    QTest::qWait(1000);
    const std::size_t after = capture.poll() + capture.buffers[std::size_t(capture.handled % 2)].bytesRecorded / 2;
    QVERIFY2(after - before >= 6000, QByteArray::number(qulonglong(after - before)));
    QVERIFY(!rig.hasState(0, LineCallState::Disconnected));
    QCOMPARE(rig.service->line(0).stats().resets, 0);
    capture.stop();
    rig.service->lineDrop(call);
}

void tst_ModemSim::unpluggedDuringRecording()
{
    Rig rig(1, QStringLiteral("conexant"));
    QVERIFY(rig.identified);
    rig.tell("at 0 line 0 call cadence 300/700 audio talk 5");
    QVERIFY(waitFor([&] { return rig.count(0, LINE_LINEDEVSTATE) >= 1; }, 5000));
    const HCall call = rig.last(0, LINE_CALLSTATE).device;
    rig.service->lineAnswer(call);
    QVERIFY(rig.waitForState(0, LineCallState::Connected, 4000));
    Capture capture(*rig.service, 0);
    QVERIFY(waitFor([&] { return capture.poll() > 0 || capture.buffers[0].bytesRecorded > 8000; }, 3000));
    rig.tell("fault 0 unplug 2500");
    // The recording is ended with what was captured.
    QVERIFY(rig.waitForState(0, LineCallState::Disconnected, 4000));
    QVERIFY(rig.statuses.join('\n').contains("gone"));
    capture.stop();
    QVERIFY(capture.captured >= 4000);
    rig.service->lineDrop(call);
    rig.service->lineDeallocateCall(call);
    // The modem returns and is opened again; the next call is offered as usual.
    QVERIFY(waitFor([&] { return rig.service->line(0).ready() && rig.statuses.back().contains("ready"); }, 10000));
    rig.events.clear();
    rig.tell("at 0 line 0 call number \"5550002\" cadence 300/700");
    QVERIFY(rig.waitForState(0, LineCallState::Offering, 5000));
}

void tst_ModemSim::lostEndOfStreamAndGarbage()
{
    Rig rig(1, QStringLiteral("usr"));
    QVERIFY(rig.identified);
    rig.tell("fault 0 garbage 40");
    rig.tell("at 100 line 0 call number \"5557777\" cadence 300/700 audio talk 2");
    QVERIFY(waitFor([&] { return rig.count(0, LINE_CALLINFO) >= 1; }, 5000));
    const HCall call = rig.last(0, LINE_CALLSTATE).device;
    LineCallInfo info;
    rig.service->lineGetCallInfo(call, info);
    QCOMPARE(info.callerIdNumber, QByteArray("5557777"));
    rig.service->lineAnswer(call);
    QVERIFY(rig.waitForState(0, LineCallState::Connected, 4000));
    Capture capture(*rig.service, 0);
    QVERIFY(waitFor([&] { return capture.buffers[0].bytesRecorded > 4000; }, 3000));
    // The modem will not end the stream with <DLE><ETX>: the line gets back to commands anyway.
    rig.tell("fault 0 no-etx");
    QTest::qWait(100);
    capture.stop();
    QCOMPARE(rig.service->lineGenerateDigits(call, kDigitModeDtmf, "*", 0), 0);
    QVERIFY(waitFor([&] { return rig.count(0, LINE_GENERATE) == 1; }, 6000));
    QCOMPARE(rig.last(0, LINE_GENERATE).p1, kGenerateTermDone);
    QCOMPARE(rig.service->line(0).stats().resets, 0);
    rig.service->lineDrop(call);
    QVERIFY(rig.waitForState(0, LineCallState::Idle, 2000));
}

void tst_ModemSim::emulatedChipHoldsBackAndReports()
{
    EmulatedModems sim(1, QStringLiteral("usr"));
    RawPort port(sim.portPath(0));
    QVERIFY(port.isOpen());
    QCOMPARE(port.command("ATE0"), QByteArray("OK"));
    QByteArray reply;
    QCOMPARE(port.command("AT+FCLASS=8"), QByteArray("OK"));
    QCOMPARE(port.command("AT+VSM=?", &reply), QByteArray("OK"));
    QVERIFY2(reply.contains("\r\n128,\"8-BIT LINEAR\"") && !reply.contains("+VSM:"), reply.constData());
    QCOMPARE(port.command("AT+VCID=1"), QByteArray("OK"));
    QCOMPARE(port.command("AT+VDR=1,0"), QByteArray("OK"));

    // A withheld number, with distinctive-ring reports of the cadence.
    sim.tell("at 0 line 0 call number \"P\" cadence 300/700 audio talk");
    QVERIFY(port.waitFor("NMBR=P", 5000));
    QVERIFY(port.in.contains("\r\nDRON=") && port.in.contains("\r\nDROF="));
    QCOMPARE(port.command("AT+VLS=1"), QByteArray("OK"));
    QCOMPARE(port.command("AT+IFC=2,2"), QByteArray("OK"));
    QCOMPARE(port.command("AT+VSM=128,8000"), QByteArray("OK"));

    // Three seconds of audio written in one burst: the chip takes what its buffer holds and
    // holds the rest back; every byte is played.
    QCOMPARE(port.command("AT+VTX"), QByteArray("CONNECT"));
    port.in.clear();
    QElapsedTimer clock;
    clock.start();
    QVERIFY(port.write(QByteArray(24000, '\x81') + "\x10\x03"));
    QVERIFY(port.waitFor("OK\r\n", 8000));
    QVERIFY2(clock.elapsed() >= 2800, QByteArray::number(clock.elapsed()));
    QCOMPARE(sim.running(), true);
    sim.output.clear();
    sim.tell("stats");
    QVERIFY(waitFor([&] { return sim.readOutput().contains("holds="); }, 3000));
    QVERIFY2(sim.output.contains("played=24000 ") && !sim.output.contains("holds=0 "), sim.output.constData());

    // XON/XOFF when asked for.
    QCOMPARE(port.command("AT+IFC=1,1"), QByteArray("OK"));
    QCOMPARE(port.command("AT+VTX"), QByteArray("CONNECT"));
    port.in.clear();
    QVERIFY(port.write(QByteArray(12000, '\x81') + "\x10\x03"));
    QVERIFY(port.waitFor("OK\r\n", 5000));
    QVERIFY(port.in.indexOf('\x13') >= 0 && port.in.indexOf('\x11') > port.in.indexOf('\x13'));

    // Touch tones in simple mode: one code per key press.
    QCOMPARE(port.command("AT+VIT=3"), QByteArray("OK"));
    QCOMPARE(port.command("AT+VSD=128,10"), QByteArray("OK"));
    QCOMPARE(port.command("AT+VRX"), QByteArray("CONNECT"));
    port.in.clear();
    sim.tell("at 0 line 0 digits \"55\"");
    sim.tell("at 700 line 0 audio silence");
    // The caller falls silent: "quiet" after a second of it; the computer sends nothing, so
    // after three seconds the inactivity timer ends voice mode.
    QVERIFY(port.waitFor([&] { return shieldedCodes(port.in).contains('\x03'); }, 6000));
    QByteArray codes = shieldedCodes(port.in);
    QCOMPARE(codes.count('5'), 2);
    QVERIFY2(codes.contains('q') && codes.indexOf('q') < codes.indexOf('\x03'), codes.toHex().constData());
    QCOMPARE(port.command("AT+FCLASS?", &reply), QByteArray("OK"));
    QVERIFY(reply.contains("\r\n0\r\n"));

    // The next caller hangs up without a disconnection: busy tone, reported and repeated.
    QCOMPARE(port.command("AT+FCLASS=8"), QByteArray("OK"));
    QCOMPARE(port.command("AT+VIT=0"), QByteArray("OK"));
    sim.tell("at 0 line 0 call number \"5551234\" cadence 300/700 audio talk");
    QVERIFY(port.waitFor("\x10R", 5000));
    QCOMPARE(port.command("AT+VLS=1"), QByteArray("OK"));
    QCOMPARE(port.command("AT+VRX"), QByteArray("CONNECT"));
    port.in.clear();
    sim.tell("at 300 line 0 hangup silent");
    QVERIFY(port.waitFor([&] { return shieldedCodes(port.in).count('b') >= 2; }, 8000));
    port.write("\x10!");
    QVERIFY(port.waitFor("OK\r\n", 2000));
}

void tst_ModemSim::emulatedChipFaultsAndIdentities()
{
    EmulatedModems sim(3, QStringLiteral("conexant,agere,generic"));
    RawPort cx(sim.portPath(0));
    RawPort agere(sim.portPath(1));
    RawPort generic(sim.portPath(2));
    QByteArray reply;
    QCOMPARE(cx.command("ATI9"), QByteArray("ERROR"));
    QCOMPARE(cx.command("ATI3", &reply), QByteArray("OK"));
    QVERIFY(reply.contains("CX93001"));
    QCOMPARE(cx.command("AT+IFC=2,2"), QByteArray("ERROR"));
    QCOMPARE(agere.command("AT+VCID=1"), QByteArray("OK"));
    QCOMPARE(generic.command("ATI3", &reply), QByteArray("OK"));
    QVERIFY(reply.contains("V.253"));
    QCOMPARE(generic.command("AT+FCLASS=8"), QByteArray("OK"));
    QCOMPARE(generic.command("AT+VSM=?", &reply), QByteArray("OK"));
    QVERIFY(reply.contains("G.711 MU-LAW"));

    // Caller ID in the forms other firmware uses.
    QCOMPARE(agere.command("ATE0"), QByteArray("OK"));
    agere.in.clear();
    sim.tell("cid-style 1 mesg");
    sim.tell("at 0 line 1 call number \"5551234\" cadence 300/700");
    QVERIFY(agere.waitFor("MESG=0307353535313233348D", 5000));
    sim.tell("cid-style 1 ddn");
    sim.tell("at 0 line 1 hangup disconnect");
    sim.tell("at 500 line 1 call number \"5550000\" cadence 300/700");
    QVERIFY(agere.waitFor("DDN_NMBR=5550000", 5000));
    sim.tell("at 0 line 1 hangup disconnect");
    sim.tell("at 500 line 1 call number \"O\" cadence 300/700");
    QVERIFY(agere.waitFor("NMBR=O", 5000));

    // Reset on its own: the echo is back and caller ID is forgotten.
    QCOMPARE(cx.command("ATE0"), QByteArray("OK"));
    QCOMPARE(cx.command("AT+VCID=1"), QByteArray("OK"));
    sim.tell("fault 0 self-reset");
    QTest::qWait(200);
    QCOMPARE(cx.command("AT+VCID?", &reply), QByteArray("OK"));
    QVERIFY2(reply.startsWith("AT+VCID?") && reply.contains("\r\n0\r\n"), reply.constData());

    // Stuck in voice receive: commands are taken for audio; <DLE>! still ends it.
    sim.tell("fault 0 stuck");
    QVERIFY(cx.waitFor([&] { return cx.in.size() > 2000; }, 2000));
    QCOMPARE(cx.command("ATZ", nullptr, 700), QByteArray());
    cx.in.clear();
    cx.write("\x10!");
    QVERIFY(cx.waitFor("\x10\x03\r\nOK\r\n", 2000));

    // DTR dropped while recording: the call is gone, the stream stops, commands work.
    QCOMPARE(cx.command("ATE0"), QByteArray("OK"));
    QCOMPARE(cx.command("AT+FCLASS=8"), QByteArray("OK"));
    sim.tell("at 0 line 0 call cadence 300/700 audio talk");
    QVERIFY(cx.waitFor("\x10R", 5000)); // in voice class a ring is a shielded code
    QCOMPARE(cx.command("AT+VLS=1"), QByteArray("OK"));
    QCOMPARE(cx.command("AT+VRX"), QByteArray("CONNECT"));
    QVERIFY(cx.waitFor([&] { return cx.in.size() > 1000; }, 2000));
    sim.tell("fault 0 dtr-drop");
    QTest::qWait(300);
    cx.drain();
    cx.in.clear();
    QTest::qWait(300);
    cx.drain();
    QVERIFY2(cx.in.isEmpty(), QByteArray::number(cx.in.size()).constData());
    QCOMPARE(cx.command("AT"), QByteArray("OK"));
}

void tst_ModemSim::mutedModemDuringRecordingEndsTheCall()
{
    Rig rig(1, QStringLiteral("conexant"));
    QVERIFY(rig.identified);
    rig.tell("at 0 line 0 call number \"5551234\" cadence 300/700 audio talk");
    QVERIFY(waitFor([&] { return rig.count(0, LINE_LINEDEVSTATE) >= 1; }, 5000));
    const HCall call = rig.last(0, LINE_CALLSTATE).device;
    rig.service->lineAnswer(call);
    QVERIFY(rig.waitForState(0, LineCallState::Connected, 4000));
    Capture capture(*rig.service, 0);
    QVERIFY(waitFor([&] { return capture.poll() >= 8000; }, 4000));
    // The modem stops sending (and answering) for five seconds in the middle of the message.
    rig.tell("fault 0 mute 5000");
    QVERIFY(rig.waitForState(0, LineCallState::Disconnected, 8000));
    QVERIFY(rig.statuses.join('\n').contains("stopped sending during a recording"));
    capture.stop();
    QVERIFY(capture.captured >= 8000);
    QVERIFY(capture.loudest > 300);
    rig.service->lineDrop(call);
    rig.service->lineDeallocateCall(call);
    // The line comes back by itself and takes the next call.
    QVERIFY(waitFor([&] { return rig.service->line(0).ready() && rig.statuses.back().contains("ready"); }, 20000));
    rig.events.clear();
    rig.tell("at 0 line 0 call number \"5550002\" cadence 300/700");
    QVERIFY(rig.waitForState(0, LineCallState::Offering, 5000));
}

void tst_ModemSim::modemLeftStreamingBeforeTheStart()
{
    Rig rig(1, QStringLiteral("usr"), {}, {QStringLiteral("--fault"), QStringLiteral("0:stuck@0")});
    QVERIFY(rig.identified);
    QVERIFY2(rig.statuses.join('\n').contains("was still in a call from an earlier run"), qPrintable(rig.statuses.join('\n')));
    rig.tell("at 0 line 0 call number \"5557777\" cadence 300/700");
    QVERIFY(waitFor([&] { return rig.count(0, LINE_CALLINFO) >= 1; }, 5000));
}

void tst_ModemSim::modemThatResetsItselfIsSetUpAgain()
{
    LineOptions options;
    options.keepAliveMs = 500;
    Rig rig(1, QStringLiteral("conexant"), options);
    QVERIFY(rig.identified);
    // The chip resets on its own: echo on, caller ID off (this one forgets it).
    rig.tell("fault 0 self-reset");
    QVERIFY(waitFor([&] { return rig.statuses.join('\n').contains("reset itself"); }, 5000));
    QVERIFY(waitFor([&] { return rig.statuses.back().contains("ready"); }, 10000));
    rig.tell("at 0 line 0 call number \"5552468\" cadence 300/700");
    QVERIFY(waitFor([&] { return rig.count(0, LINE_CALLINFO) >= 1; }, 5000));
    LineCallInfo info;
    QCOMPARE(rig.service->lineGetCallInfo(rig.last(0, LINE_CALLSTATE).device, info), 0);
    QCOMPARE(info.callerIdNumber, QByteArray("5552468"));
}

QTEST_GUILESS_MAIN(tst_ModemSim)
#include "tst_ModemSim.moc"
