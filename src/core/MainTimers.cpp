#include "core/MainTimers.h"

#include <algorithm>

namespace telvox {

namespace {

// Ticks once a day, half a minute after local midnight (inside the daily log's switch window),
// so that an idle program does not wake up once a minute for it. The next tick is worked out
// from the wall clock at every tick: one that comes early (a clock set back) waits again.
class DailyTimer final : public Timer
{
public:
    explicit DailyTimer(EventLoop &loop)
        : m_loop(loop)
        , m_next(loop.createTimer(0, [this] {
            m_next->setInterval(untilNextTick()); // before the handler, which may destroy us
            fire();
        }))
    {
    }
    ~DailyTimer() override { markDead(); }

    // Moves only the next tick; the ones after it fall at the time of day again.
    void setInterval(int ms) override { m_next->setInterval(ms); }
    int interval() const override { return m_next->interval(); }
    void setEnabled(bool enabled) override
    {
        if (enabled && !m_next->isEnabled())
            m_next->setInterval(untilNextTick());
        m_next->setEnabled(enabled);
    }
    bool isEnabled() const override { return m_next->isEnabled(); }

private:
    int untilNextTick() const
    {
        const QTime timeOfDay(0, 0, 30);
        const QDateTime now = m_loop.currentDateTime();
        QDateTime next(now.date(), timeOfDay);
        if (next <= now)
            next = QDateTime(now.date().addDays(1), timeOfDay);
        return static_cast<int>(std::max<qint64>(1, now.msecsTo(next)));
    }

    EventLoop &m_loop;
    std::unique_ptr<Timer> m_next;
};

} // namespace

MainTimers::MainTimers(EventLoop &loop)
{
    timChangeBuffer.create(loop, 1);
    timWriteFile.create(loop, 1000);
    timLog = std::make_unique<DailyTimer>(loop);
    timLog->setEnabled(true);
    timPlayAll = loop.createTimer(2000, {});
    tmMMTIMER = loop.createTimer(500, {});
    tmPlay = loop.createTimer(1000, {});
}

} // namespace telvox
