#include "core/VirtualEventLoop.h"

#include <algorithm>

namespace telvox {

class VirtualEventLoop::VirtualTimer final : public Timer
{
public:
    VirtualTimer(VirtualEventLoop &loop, int intervalMs, std::function<void()> tick)
        : m_loop(loop)
        , m_interval(intervalMs)
    {
        setCallback(std::move(tick));
        m_loop.m_timers.push_back(this);
    }
    ~VirtualTimer() override
    {
        markDead();
        auto &timers = m_loop.m_timers;
        timers.erase(std::remove(timers.begin(), timers.end(), this), timers.end());
    }

    void setInterval(int ms) override
    {
        m_interval = ms;
        if (m_enabled)
            schedule();
    }
    int interval() const override { return m_interval; }
    void setEnabled(bool enabled) override
    {
        if (enabled == m_enabled)
            return;
        m_enabled = enabled;
        if (enabled)
            schedule();
    }
    bool isEnabled() const override { return m_enabled; }

    bool isDue(std::int64_t limit) const { return m_enabled && m_interval > 0 && m_due <= limit; }
    std::int64_t due() const { return m_due; }
    std::uint64_t order() const { return m_order; }

    void tick()
    {
        // Re-arm before the handler runs so that the handler may change or destroy us.
        m_due += m_interval;
        m_order = m_loop.nextSequence();
        fire();
    }

private:
    void schedule()
    {
        m_due = m_loop.m_now + m_interval;
        m_order = m_loop.nextSequence();
    }

    VirtualEventLoop &m_loop;
    int m_interval;
    bool m_enabled = false;
    std::int64_t m_due = 0;
    std::uint64_t m_order = 0;
};

VirtualEventLoop::VirtualEventLoop(QDateTime start)
    : m_wallAtZero(std::move(start))
{
}

VirtualEventLoop::~VirtualEventLoop() = default;

QDateTime VirtualEventLoop::currentDateTime() const { return m_wallAtZero.addMSecs(m_now); }

void VirtualEventLoop::setCurrentDateTime(const QDateTime &when) { m_wallAtZero = when.addMSecs(-m_now); }

std::unique_ptr<Timer> VirtualEventLoop::createTimer(int intervalMs, std::function<void()> tick)
{
    return std::make_unique<VirtualTimer>(*this, intervalMs, std::move(tick));
}

void VirtualEventLoop::post(std::function<void()> work) { m_posted.push_back(std::move(work)); }

void VirtualEventLoop::runPosted()
{
    while (!m_posted.empty()) {
        auto work = std::move(m_posted.front());
        m_posted.pop_front();
        work();
    }
}

VirtualEventLoop::VirtualTimer *VirtualEventLoop::nextDueTimer(std::int64_t limit) const
{
    VirtualTimer *best = nullptr;
    for (VirtualTimer *t : m_timers) {
        if (!t->isDue(limit))
            continue;
        if (!best || t->due() < best->due() || (t->due() == best->due() && t->order() < best->order()))
            best = t;
    }
    return best;
}

void VirtualEventLoop::doEvents()
{
    // Nested event processing: posted work and ticks that are due now, nothing later.
    runPosted();
    while (VirtualTimer *t = nextDueTimer(m_now)) {
        t->tick();
        runPosted();
    }
}

void VirtualEventLoop::advance(std::int64_t ms)
{
    const std::int64_t target = m_now + std::max<std::int64_t>(ms, 0);
    runPosted();
    while (VirtualTimer *t = nextDueTimer(target)) {
        m_now = std::max(m_now, t->due());
        t->tick();
        runPosted();
    }
    m_now = target;
}

bool VirtualEventLoop::advanceUntil(const std::function<bool()> &predicate, std::int64_t limitMs, std::int64_t stepMs)
{
    const std::int64_t end = m_now + limitMs;
    runPosted();
    while (!predicate()) {
        if (m_now >= end)
            return false;
        advance(std::min(stepMs, end - m_now));
    }
    return true;
}

} // namespace telvox
