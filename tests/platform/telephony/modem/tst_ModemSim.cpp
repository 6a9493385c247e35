// The voice-modem backend on pseudo-terminals against telvox-modemsim, in real time: a
// dialled call, the probe, and the faults that need a real serial port (the emulated chip
// alone: tst_ModemEmulator; answered calls through the call flow: tst_ModemCall).

#include "EmulatedModems.h"
#include "core/QtEventLoop.h"
#include "platform/telephony/modem/ModemPorts.h"
#include "platform/telephony/modem/ModemTelephony.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstring>

using namespace telvox;
using namespace telvox::modem;
using telvox::test::EmulatedModems;
using telvox::test::waitFor;

namespace {

struct Event
{
    std::uint32_t device, message, p1, p2, p3;
};

// The emulator and the backend on its pseudo-terminals, with one application on top.
struct Rig
{
    Rig(int lines, const QString &profiles, LineOptions options = {}, const QStringList &simArguments = {})
        : sim(lines, profiles, simArguments)
    {
        service = std::make_unique<ModemTelephony>(loop, sim.ports(options));
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

    void tell(const QByteArray &command) { sim.tell(command); }
    int count(int line, std::uint32_t message, std::optional<std::uint32_t> p1 = {}) const
    {
        int n = 0;
        for (const Event &e : events.value(line))
            n += e.message == message && (!p1 || e.p1 == *p1);
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
        return waitFor([&] { return count(line, LINE_CALLSTATE, state) > 0; }, ms);
    }
    // A call placed by the emulator's far end on line 0, rung and answered.
    HCall answeredCall(const QByteArray &call)
    {
        tell("at 0 line 0 call " + call);
        waitFor([&] { return count(0, LINE_LINEDEVSTATE) >= 1; }, 5000);
        const HCall h = last(0, LINE_CALLSTATE).device;
        service->lineAnswer(h);
        waitForState(0, LineCallState::Connected, 4000);
        return h;
    }
    bool readyAgain()
    {
        return waitFor([&] { return service->line(0).ready() && statuses.back().contains("ready"); }, 20000);
    }

    EmulatedModems sim;
    QtEventLoop loop;
    std::unique_ptr<ModemTelephony> service;
    QMap<int, std::vector<Event>> events;
    QStringList statuses;
    HLineApp app = 0;
    std::vector<HLine> hLines;
    bool identified = false;
};

// A capture as the audio engine runs it: two one-second buffers, the returned one re-queued.
struct Capture
{
    Capture(ModemTelephony &service, int line)
    {
        service.openIn(ModemTelephony::kWaveDeviceBase + line, PcmFormat{},
                       [this](WaveMessage m) { done += m == WaveMessage::Done; }, in);
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
        for (; handled < done; ++handled) {
            const WaveBuffer &b = buffers[std::size_t(handled % 2)];
            std::vector<std::int16_t> s(b.bytesRecorded / 2);
            std::memcpy(s.data(), b.data.data(), s.size() * 2);
            double sum = 0;
            for (const std::int16_t v : s)
                sum += double(v) * v;
            captured += s.size();
            loudest = std::max(loudest, s.empty() ? 0 : std::sqrt(sum / double(s.size())));
            if (running)
                in->addBuffer(buffers[std::size_t((handled + 1) % 2)]);
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

} // namespace

class tst_ModemSim : public QObject
{
    Q_OBJECT

private slots:
    void probeFindsTheVoiceModem();
    void dialledCall();
    void modemThatStopsAnsweringLeavesOtherLinesAlone();
    void unpluggedDuringRecording();
    void modemLeftStreamingBeforeTheStart();
    void modemThatResetsItselfIsSetUpAgain();
};

void tst_ModemSim::probeFindsTheVoiceModem()
{
    QTemporaryDir dir;
    QProcess sim;
    // Line 1 was left streaming voice data by a program that died in a call.
    sim.start(QStringLiteral(TELVOX_MODEMSIM), {"--lines", "2", "--profile", "agere,usr", "--link-dir", dir.path(),
                                                "--fault", "1:stuck@0"});
    QVERIFY(sim.waitForReadyRead(5000));
    const ProbeResult r = probePort(dir.filePath("modem0"));
    QVERIFY(r.answered && r.voice && r.recovery.isEmpty());
    QCOMPARE(r.identity, QByteArray("LT V.92 Data+Fax Modem Version 8.30"));
    const ProbeResult stuck = probePort(dir.filePath("modem1"));
    QVERIFY(stuck.answered && stuck.voice);
    QCOMPARE(stuck.identity, QByteArray("U.S. Robotics 56K FAX USB V1.2.23"));
    QVERIFY2(stuck.recovery.english().contains("was still in a call from an earlier run"),
             qPrintable(stuck.recovery.english()));
    QVERIFY(!probePort(dir.filePath("modem7")).answered);
    sim.write("quit\n");
    sim.waitForFinished(3000);
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
    const HCall call = rig.answeredCall("number \"5551234\" cadence 300/700 audio talk 3");
    Capture capture(*rig.service, 0);
    QVERIFY(waitFor([&] { return capture.poll() > 800; }, 3000));

    // Line 1's modem stops answering for three seconds.
    rig.tell("fault 1 mute 3000");
    QVERIFY(waitFor([&] {
        capture.poll();
        return rig.statuses.join('\n').contains("Line1 the modem on");
    }, 5000));
    QCOMPARE(rig.statuses.filter("Line1").filter("does not answer").size(), 1);
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
    QCOMPARE(rig.count(0, LINE_CALLSTATE, LineCallState::Disconnected), 0);
    QCOMPARE(rig.service->line(0).stats().resets, 0);
    capture.stop();
    rig.service->lineDrop(call);
}

void tst_ModemSim::unpluggedDuringRecording()
{
    Rig rig(1, QStringLiteral("conexant"));
    QVERIFY(rig.identified);
    const HCall call = rig.answeredCall("cadence 300/700 audio talk 5");
    Capture capture(*rig.service, 0);
    QVERIFY(waitFor([&] { return capture.poll() > 0 || capture.buffers[0].bytesRecorded > 8000; }, 3000));
    rig.tell("fault 0 unplug 2500");
    // The recording is ended with what was captured; the loss is reported once.
    QVERIFY(rig.waitForState(0, LineCallState::Disconnected, 4000));
    QCOMPARE(rig.statuses.filter("gone").size(), 1);
    capture.stop();
    QVERIFY(capture.captured >= 4000);
    rig.service->lineDrop(call);
    rig.service->lineDeallocateCall(call);
    // The modem returns and is opened again; the next call is offered as usual.
    QVERIFY(rig.readyAgain());
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
    QVERIFY(rig.readyAgain());
    rig.tell("at 0 line 0 call number \"5552468\" cadence 300/700");
    QVERIFY(waitFor([&] { return rig.count(0, LINE_CALLINFO) >= 1; }, 5000));
    LineCallInfo info;
    QCOMPARE(rig.service->lineGetCallInfo(rig.last(0, LINE_CALLSTATE).device, info), 0);
    QCOMPARE(info.callerIdNumber, QByteArray("5552468"));
}

QTEST_GUILESS_MAIN(tst_ModemSim)
#include "tst_ModemSim.moc"
