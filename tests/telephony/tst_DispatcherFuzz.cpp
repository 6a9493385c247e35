// Random sequences of line events, far-end actions, button presses and time on four lines:
// the dispatcher must keep running, never let popCount go negative, and leave no call timer
// running on an idle line once the far ends are quiet.

#include "support/CallRig.h"

#include <QTest>

#include <cstring>
#include <random>

using namespace telvox;
using telvox::test::CallRig;

namespace {

constexpr std::uint32_t kStates[] = {LineCallState::Idle,      LineCallState::Offering, LineCallState::Accepted,
                                     LineCallState::Connected, LineCallState::Disconnected, LineCallState::Busy,
                                     LineCallState::Ringback,  0x8000,                  0};

class Fuzzer
{
public:
    Fuzzer(CallRig &f, std::uint64_t seed)
        : m_f(f)
        , m_random(seed)
    {
    }

    int below(int n) { return static_cast<int>(m_random() % static_cast<std::uint64_t>(n)); }

    std::uint32_t someHandle()
    {
        const int line = below(4);
        switch (below(5)) {
        case 0: return m_f.slot(line).hLine;
        case 1: return m_f.slot(line).hCall;
        case 2: return m_f.exchange->view(line).hCall; // a call the core may not know yet
        case 3: return 0;
        default: return static_cast<std::uint32_t>(m_random());
        }
    }

    void farEnd()
    {
        const int line = below(4);
        VirtualExchange &x = *m_f.exchange;
        switch (below(10)) {
        case 0:
        case 1: {
            IncomingCall c;
            c.number = QByteArray::number(below(1000));
            if (below(4) == 0)
                c.number += QByteArray(below(300), static_cast<char>(below(256)));
            c.callerIdTiming = static_cast<CallerIdTiming>(below(3));
            c.maxRings = below(10);
            c.giveUpWithIdle = below(2) == 0;
            c.pickUpAfterRing = below(6);
            if (below(3) == 0)
                c.cadenceMs = {100 + below(2000), 100 + below(5000)};
            x.placeIncomingCall(line, std::move(c));
            break;
        }
        case 2: x.pickUpHandset(line); break;
        case 3: x.sendCallerId(line, QByteArray::number(below(100)), {}); break;
        case 4: x.pressDigits(line, QStringLiteral("12#*").left(1 + below(4))); break;
        case 5: x.hangUpFarEnd(line, below(2) ? FarEndHangUp::WithDisconnect : FarEndHangUp::Silent); break;
        case 6: {
            OutgoingBehaviour b;
            b.kind = static_cast<OutgoingBehaviour::Kind>(below(3));
            b.answerAfterMs = below(5000);
            x.setOutgoingBehaviour(line, b);
            m_f.core->call(line).dialled(QStringLiteral("555"));
            m_f.core->call(line).place(x, QStringLiteral("555"));
            break;
        }
        default: // a request of the system's own, or a button, at a random moment
            switch (below(6)) {
            case 0: m_f.core->AnswerCall(line); break;
            case 1: m_f.core->DropCall(line); break;
            case 2: m_f.core->SendSignalTone(line); break;
            case 3: m_f.core->cmdAnswer_Click(line); break;
            case 4: m_f.core->cmdHangup_Click(line); break;
            default: m_f.core->lineTable().device(line).playing = !m_f.slot(line).playing; break;
            }
        }
    }

    void rawEvent()
    {
        const std::uint32_t message = static_cast<std::uint32_t>(below(14));
        std::uint32_t p1 = static_cast<std::uint32_t>(m_random());
        std::uint32_t p3 = static_cast<std::uint32_t>(m_random());
        if (message == LINE_CALLSTATE)
            p1 = kStates[below(static_cast<int>(std::size(kStates)))];
        if (message == LINE_LINEDEVSTATE && below(4) != 0) {
            p1 = kLineDevStateRinging;
            p3 = static_cast<std::uint32_t>(below(12) - 1);
        }
        if (message == LINE_CALLINFO && below(2) == 0)
            p1 = kCallInfoStateCallerId;
        m_f.core->LineCallback(someHandle(), message, 0, p1, static_cast<std::uint32_t>(m_random()), p3);
    }

    bool step()
    {
        const int kind = below(100);
        if (kind < 20)
            farEnd();
        else if (kind < 50)
            rawEvent();
        else
            m_f.loop.advance(below(kind < 90 ? 300 : 4000));
        return m_f.core->popCount() >= 0;
    }

    // Far ends fall silent; after a minute no call timer may run on an idle line.
    QString quietCheck()
    {
        for (int n = 0; n < 4; ++n) {
            m_f.exchange->hangUpFarEnd(n, FarEndHangUp::Silent);
            m_f.core->lineTable().device(n).playing = false;
        }
        m_f.loop.advance(60000);
        for (int n = 0; n < 4; ++n) {
            if (m_f.slot(n).hCall != 0)
                continue;
            for (int k = 0; k < kCallTimerCount; ++k) { // no touch-tone menu here stops the toll saver
                if (CallTimer(k) != CallTimer::timTollSaver && m_f.timer(CallTimer(k), n).isEnabled())
                    return QStringLiteral("call timer %1 runs on idle line %2").arg(k).arg(n);
            }
        }
        return {};
    }

private:
    CallRig &m_f;
    std::mt19937_64 m_random;
};

} // namespace

class tst_DispatcherFuzz : public QObject
{
    Q_OBJECT
private slots:
    void randomEventsKeepTheInvariants_data()
    {
        QTest::addColumn<bool>("manual");
        QTest::addColumn<bool>("popup");
        QTest::addColumn<QByteArray>("rings");
        QTest::newRow("machine") << false << false << QByteArray("3");
        QTest::newRow("machine, pop-up") << false << true << QByteArray("5");
        QTest::newRow("manual") << true << false << QByteArray("6");
        QTest::newRow("manual with pop-up") << true << true << QByteArray("2");
    }
    void randomEventsKeepTheInvariants()
    {
        QFETCH(bool, manual);
        QFETCH(bool, popup);
        QFETCH(QByteArray, rings);
        CallRig f({.lines = 4, .rings = rings, .writeDefaultPrompts = false, .countRings = true,
                   .config = {{"ActionMan", manual ? "1" : "0"}, {"PopCallId", popup ? "1" : "0"}},
                   .before = [](CallRig &r) {
                       for (const char *prompt : {"greeting.wav", "legal.wav", "blocked.wav"})
                           test::writeSilentPrompt(r.dir.file(prompt), 700);
                   }});

        const std::uint64_t seed = qEnvironmentVariableIsSet("TELVOX_FUZZ_SEED")
                                       ? qEnvironmentVariable("TELVOX_FUZZ_SEED").toULongLong()
                                       : 20260105 + std::strlen(QTest::currentDataTag()); // a seed of its own per row
        Fuzzer fuzz(f, seed);
        for (int round = 0; round < 20; ++round) {
            for (int i = 0; i < 3000; ++i) {
                if (!fuzz.step())
                    QFAIL(qPrintable(QString("popCount %1 after step %2 of round %3 (seed %4)")
                                         .arg(f.core->popCount()).arg(i).arg(round).arg(seed)));
            }
            const QString fault = fuzz.quietCheck();
            if (!fault.isEmpty())
                QFAIL(qPrintable(fault + QString(" after round %1 (seed %2)").arg(round).arg(seed)));
        }
        QVERIFY(f.statusList.lines().size() > 100); // the flow really ran
    }
};

QTEST_GUILESS_MAIN(tst_DispatcherFuzz)
#include "tst_DispatcherFuzz.moc"
