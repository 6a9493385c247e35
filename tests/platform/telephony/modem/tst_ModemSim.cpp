// The voice-modem backend on pseudo-terminals against telvox-modemsim, in real time: whole
// calls (answered with a greeting and a recorded message, picked up on a handset, dialled)
// and each injected fault.

#include "EmulatedModems.h"
#include "core/QtEventLoop.h"
#include "platform/telephony/modem/ModemPorts.h"
#include "platform/telephony/modem/ModemTelephony.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstring>
#include <numbers>

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
    Rig(int lines, const QString &profiles, LineOptions options = {})
        : m_modems(lines, profiles)
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
    QCOMPARE(rig.simFigure(0, QStringLiteral("overruns")), qint64(0));
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

QTEST_GUILESS_MAIN(tst_ModemSim)
#include "tst_ModemSim.moc"
