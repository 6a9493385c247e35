#pragma once

#include <QDateTime>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

namespace telvox {

// A window-style timer: while enabled it calls its tick callback every `interval` milliseconds
// on the user-interface thread. Enabling a timer that is already running does not restart its
// period; changing the interval of a running timer does. An interval of 0 never ticks.
// A tick never nests inside the same timer's running tick handler.
class Timer
{
public:
    Timer() = default;
    Timer(const Timer &) = delete;
    Timer &operator=(const Timer &) = delete;
    virtual ~Timer() = default;

    virtual void setInterval(int ms) = 0;
    virtual int interval() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;

    void setCallback(std::function<void()> tick) { m_tick = std::move(tick); }

protected:
    // Runs the tick handler unless it is already running. The handler may destroy the timer,
    // so nothing of the timer is touched afterwards unless it is still alive.
    void fire()
    {
        if (m_inTick || !m_tick)
            return;
        m_inTick = true;
        auto alive = m_alive;
        auto tick = m_tick;
        tick();
        if (*alive)
            m_inTick = false;
    }
    // Backends call this first in their destructor.
    void markDead() { *m_alive = false; }

private:
    std::function<void()> m_tick;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    bool m_inTick = false;
};

// The one source of time, timers and queued work. The program uses the Qt implementation;
// tests use VirtualEventLoop, where time only moves when the test advances it.
class EventLoop
{
public:
    virtual ~EventLoop() = default;

    // Milliseconds on a monotonic clock (the system's millisecond counter).
    virtual std::int64_t now() const = 0;
    // Local wall-clock date and time, for daily log names and the midnight rollover.
    virtual QDateTime currentDateTime() const = 0;
    // Creates a disabled timer with the given interval and tick handler.
    virtual std::unique_ptr<Timer> createTimer(int intervalMs, std::function<void()> tick) = 0;
    // Runs `work` later on the event loop, never from inside this call.
    virtual void post(std::function<void()> work) = 0;
    // Lets pending events (posted work, due timer ticks, window events) run once.
    virtual void doEvents() = 0;
};

// One timer per telephone line, indexed by the line number. All elements share one tick
// handler, which receives the index of the element that ticked.
template <std::size_t N>
class TimerArray
{
public:
    void create(EventLoop &loop, int intervalMs)
    {
        for (std::size_t i = 0; i < N; ++i) {
            const int index = static_cast<int>(i);
            m_timers[i] = loop.createTimer(intervalMs, [this, index] {
                if (m_handler)
                    m_handler(index);
            });
        }
    }
    void setHandler(std::function<void(int)> handler) { m_handler = std::move(handler); }

    Timer &operator[](int index) { return *m_timers.at(static_cast<std::size_t>(index)); }
    const Timer &operator[](int index) const { return *m_timers.at(static_cast<std::size_t>(index)); }
    static constexpr int size() { return static_cast<int>(N); }

private:
    std::array<std::unique_ptr<Timer>, N> m_timers;
    std::function<void(int)> m_handler;
};

} // namespace telvox
