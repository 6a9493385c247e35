// The virtual exchange as the telephony service: results, events and the far end.

#include "core/VirtualEventLoop.h"
#include "sim/exchange/VirtualExchange.h"
#include "sim/audio/SampleSource.h"
#include "support/LineEvents.h"

#include <QTest>

#include <cmath>

using namespace telvox;

namespace {

// An application on the exchange: initialised, device 0 open with ring messages.
struct App : test::LineEvents
{
    explicit App(ExchangeSetup setup = {})
        : exchange(loop, std::move(setup))
        , initResult(openLine(exchange, loop))
    {
    }
    double rms(int samples)
    {
        std::uint32_t id = 0;
        exchange.lineGetID(line, 0, 0, kCallSelectLine, id, "wave/in");
        std::vector<std::int16_t> buffer(static_cast<std::size_t>(samples));
        exchange.audioChannel(id)->readFromLine(buffer);
        double sum = 0;
        for (const std::int16_t s : buffer)
            sum += double(s) * s;
        return std::sqrt(sum / samples);
    }

    VirtualEventLoop loop;
    VirtualExchange exchange;
    std::int32_t initResult = -1;
};

class Constant final : public sim::SampleSource
{
public:
    void read(std::span<std::int16_t> out) override { std::fill(out.begin(), out.end(), std::int16_t{1000}); }
};

} // namespace

class tst_VirtualExchange : public QObject
{
    Q_OBJECT
private slots:
    // Events come later, never inside the call that caused them. A line that sends no caller ID
    // posts none and its call says "unavailable". (A handset picked up during the rings stops
    // them without an event: tst_CallFlow's ring watch.)
    void eventsArriveLaterNeverInsideTheCall()
    {
        App a;
        IncomingCall withoutCallerId;
        withoutCallerId.callerIdTiming = CallerIdTiming::None;
        QVERIFY(a.exchange.placeIncomingCall(0, std::move(withoutCallerId)));
        QVERIFY(a.events.empty());
        a.loop.advance(0);
        QCOMPARE(a.events.size(), std::size_t(2));
        QCOMPARE(a.events[0].message, std::uint32_t(LINE_CALLSTATE));
        QCOMPARE(a.events[0].p1, LineCallState::Offering);
        QCOMPARE(a.events[1].message, std::uint32_t(LINE_LINEDEVSTATE));
        QCOMPARE(a.events[1].device, a.line);
        QCOMPARE(a.events[1].p3, 1u);

        const HCall call = a.exchange.view(0).hCall;
        const std::int32_t request = a.exchange.lineAnswer(call);
        QVERIFY(request > 0);
        QCOMPARE(a.take(LINE_REPLY).size(), std::size_t(0));
        a.loop.advance(0);
        QCOMPARE(a.take(LINE_REPLY).at(0).p1, std::uint32_t(request));
        QCOMPARE(a.take(LINE_CALLSTATE).back().p1, LineCallState::Connected);
        QVERIFY(a.take(LINE_CALLINFO).empty());
        LineCallInfo ci;
        QCOMPARE(a.exchange.lineGetCallInfo(call, ci), 0);
        QCOMPARE(ci.callerIdFlags, CallPartyId::Unavail);
    }

    void ringsFollowTheCountrysCadenceAndCallerIdTiming()
    {
        ExchangeSetup setup;
        setup.country = "United Kingdom"; // 400/200/400/2000: one ring every 3 s
        App a(setup);
        IncomingCall c;
        c.maxRings = 3;
        c.giveUpWithIdle = true;
        QVERIFY(a.exchange.placeIncomingCall(0, std::move(c)));
        a.loop.advance(10000);
        const auto rings = a.take(LINE_LINEDEVSTATE);
        QCOMPARE(rings.size(), std::size_t(3));
        QCOMPARE(rings[1].at, 3000);
        QCOMPARE(rings[2].at, 6000);
        const auto info = a.take(LINE_CALLINFO);
        QCOMPARE(info.size(), std::size_t(1));
        QCOMPARE(info[0].at, 900); // 500 ms after the first burst of 400 ms
        QCOMPARE(a.take(LINE_CALLSTATE).back().p1, LineCallState::Idle); // the caller gave up
        // (What the caller ID holds, and the call forgotten once deallocated: tst_CallFlow.)
    }

    void audioAndHangUpWithoutDisconnection()
    {
        App a;
        IncomingCall c;
        c.speech = std::make_shared<Constant>();
        QVERIFY(a.exchange.placeIncomingCall(0, std::move(c)));
        QCOMPARE(a.rms(800), 0.0); // on-hook: nothing from the line
        QVERIFY(a.exchange.lineAnswer(a.exchange.view(0).hCall) > 0);
        QCOMPARE(a.rms(800), 1000.0);
        a.exchange.pressDigits(0, "5");
        QVERIFY(a.rms(800) > 1000.0); // the key's tone on top of the voice
        QVERIFY(a.exchange.hangUpFarEnd(0, FarEndHangUp::Silent));
        a.loop.advance(100);
        QCOMPARE(a.take(LINE_CALLSTATE).back().p1, LineCallState::Connected); // no event
        // The busy tone of the country (480+620, 500/500): on for half a second, then off.
        QVERIFY(a.rms(4000) > 300.0);
        QCOMPARE(a.rms(4000), 0.0);
    }

    // (A second call on a busy line is refused: tst_DialOut::dialRefusalsLeaveTheButtonsReady.)
    void dialledCallsConnectAtOnceAndRingBack()
    {
        App a;
        OutgoingBehaviour b;
        b.answerAfterMs = 5000;
        b.speech = std::make_shared<Constant>();
        a.exchange.setOutgoingBehaviour(0, b);
        HCall call = 0;
        QVERIFY(a.exchange.lineMakeCall(a.line, call, "12", 0) > 0);
        QVERIFY(call != 0);
        a.loop.advance(1200);
        QCOMPARE(a.take(LINE_CALLSTATE).back().p1, LineCallState::Connected);
        QVERIFY(a.rms(8000) > 100.0); // ring-back
        a.loop.advance(5000);
        QCOMPARE(a.rms(800), 1000.0); // the called party speaks
        QVERIFY(a.exchange.lineDrop(call) > 0);
        QCOMPARE(a.exchange.lineDrop(call), LineErr::InvalCallState);
    }

    // Calls it does not know are refused; after shutdown, events still queued are dropped.
    void unknownCallsAndShutdown()
    {
        App a;
        QCOMPARE(a.exchange.lineAnswer(0), LineErr::InvalCallHandle);
        QCOMPARE(a.exchange.lineGenerateDigits(0, 2, "*", 0), LineErr::InvalCallHandle);
        QVERIFY(a.exchange.placeIncomingCall(0, IncomingCall{}));
        QCOMPARE(a.exchange.lineShutdown(a.app), 0);
        a.loop.advance(20000);
        QVERIFY(a.events.empty());
    }
};

QTEST_GUILESS_MAIN(tst_VirtualExchange)
#include "tst_VirtualExchange.moc"
