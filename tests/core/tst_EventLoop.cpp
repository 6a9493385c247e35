#include "core/EventLoop.h"
#include "core/MainTimers.h"
#include "core/VirtualEventLoop.h"

#include <QTest>

#include <vector>

using namespace telvox;

class tst_EventLoop : public QObject
{
    Q_OBJECT
private slots:
    void timersAndPostsRunInTimeOrder()
    {
        VirtualEventLoop loop;
        bool ran = false; // posted work never runs inside post()
        loop.post([&] { ran = true; });
        QVERIFY(!ran);
        QCOMPARE(loop.pendingPosts(), std::size_t(1));
        loop.doEvents();
        QVERIFY(ran);
        std::vector<std::pair<int, std::int64_t>> fired;
        auto a = loop.createTimer(300, [&] { fired.emplace_back(1, loop.now()); });
        auto b = loop.createTimer(200, [&] {
            fired.emplace_back(2, loop.now());
            loop.post([&] { fired.emplace_back(3, loop.now()); });
        });
        a->setEnabled(true);
        b->setEnabled(true);
        loop.advance(650);
        // b at 200 (+ its post at 200), a at 300, b at 400 (+ post), a at 600, b at 600 (+ post)
        const std::vector<std::pair<int, std::int64_t>> expected = {
            {2, 200}, {3, 200}, {1, 300}, {2, 400}, {3, 400}, {1, 600}, {2, 600}, {3, 600}};
        QCOMPARE(fired, expected);
        QCOMPARE(loop.now(), std::int64_t(650));
    }

    void enablingAgainKeepsPeriodButIntervalChangeRestarts()
    {
        VirtualEventLoop loop;
        std::vector<std::int64_t> ticks;
        auto t = loop.createTimer(1000, [&] { ticks.push_back(loop.now()); });
        t->setEnabled(true);
        loop.advance(600);
        t->setEnabled(true); // already running: period not restarted
        loop.advance(500);
        QCOMPARE(ticks, std::vector<std::int64_t>({1000}));
        t->setInterval(1000); // restarts the period at 1100
        loop.advance(1500);
        QCOMPARE(ticks, std::vector<std::int64_t>({1000, 2100}));
        t->setEnabled(false);
        t->setEnabled(true); // a disabled timer starts a fresh period
        loop.advance(999);
        QCOMPARE(ticks.size(), std::size_t(2));
        loop.advance(1);
        QCOMPARE(ticks.back(), std::int64_t(3600));
    }

    void zeroIntervalNeverTicksAndDisabledTimersAreSilent()
    {
        VirtualEventLoop loop;
        int ticks = 0;
        auto zero = loop.createTimer(0, [&] { ++ticks; });
        auto off = loop.createTimer(10, [&] { ++ticks; });
        zero->setEnabled(true);
        loop.advance(10000);
        QCOMPARE(ticks, 0);
        QVERIFY(!off->isEnabled());
    }

    void tickHandlerMayDestroyItsTimerOrNestEvents()
    {
        VirtualEventLoop loop;
        std::unique_ptr<Timer> self;
        int selfTicks = 0;
        self = loop.createTimer(100, [&] {
            ++selfTicks;
            self.reset();
        });
        self->setEnabled(true);

        // A handler that lets events run (even for long) never sees its own timer tick
        // inside itself, while other timers keep ticking.
        int outer = 0;
        int nestedOther = 0;
        int depth = 0;
        int maxDepth = 0;
        auto other = loop.createTimer(50, [&] { ++nestedOther; });
        std::unique_ptr<Timer> busy = loop.createTimer(100, [&] {
            ++outer;
            ++depth;
            maxDepth = std::max(maxDepth, depth);
            if (outer == 1)
                loop.advance(250); // 100 -> 350: the ticks at 200 and 300 are due meanwhile
            loop.doEvents();
            --depth;
        });
        busy->setEnabled(true);
        other->setEnabled(true);
        loop.advance(1000);
        QCOMPARE(selfTicks, 1);
        QVERIFY(!self);
        QCOMPARE(maxDepth, 1);
        QCOMPARE(nestedOther, 20);
        QCOMPARE(outer, 8); // 100, then 400..1000; 200 and 300 fell inside the first tick
    }

    void advanceUntilStopsAtThePredicateOrTheLimit()
    {
        VirtualEventLoop loop;
        int ticks = 0;
        auto t = loop.createTimer(250, [&] { ++ticks; });
        t->setEnabled(true);
        QVERIFY(loop.advanceUntil([&] { return ticks == 3; }, 10000));
        QVERIFY(loop.now() >= 750 && loop.now() < 800);
        QVERIFY(!loop.advanceUntil([] { return false; }, 500));
    }

    // The wall clock follows virtual time; the daily log's timer ticks half a minute after each
    // midnight, and a tick that a clock change makes early is followed by the next real one.
    void wallClockAndDailyTimerFollowVirtualTime()
    {
        VirtualEventLoop loop(QDateTime(QDate(2026, 12, 4), QTime(23, 59, 30)));
        MainTimers t(loop);
        QList<QDateTime> ticks;
        t.timLog->setCallback([&] { ticks << loop.currentDateTime(); });
        loop.advance(45000);
        QCOMPARE(loop.currentDateTime(), QDateTime(QDate(2026, 12, 5), QTime(0, 0, 15)));
        loop.advance(2 * 86400000LL);
        QCOMPARE(ticks, QList<QDateTime>({QDateTime(QDate(2026, 12, 5), QTime(0, 0, 30)),
                                          QDateTime(QDate(2026, 12, 6), QTime(0, 0, 30))}));
        loop.setCurrentDateTime(QDateTime(QDate(2027, 1, 1), QTime(8, 0)));
        loop.advance(86400000LL);
        QCOMPARE(ticks.mid(2), QList<QDateTime>({QDateTime(QDate(2027, 1, 1), QTime(8, 0, 15)),
                                                 QDateTime(QDate(2027, 1, 2), QTime(0, 0, 30))}));
    }

    // A per-line timer array calls one handler with the line number.
    void timerArraysCallTheirHandlerWithTheLine()
    {
        VirtualEventLoop loop;
        TimerArray<4> t;
        t.create(loop, 500);
        std::vector<int> lines;
        t.setHandler([&](int line) {
            lines.push_back(line);
            t[line].setEnabled(false);
        });
        t[2].setEnabled(true);
        t[0].setEnabled(true); // due at the same moment: in the order they were started
        loop.advance(2000);
        QCOMPARE(lines, std::vector<int>({2, 0}));
    }
};

QTEST_GUILESS_MAIN(tst_EventLoop)
#include "tst_EventLoop.moc"
