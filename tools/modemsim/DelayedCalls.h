#pragma once

#include "core/EventLoop.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace telvox::modemsim {

// Work to run once, some milliseconds from now, on the event loop's timers (so that the
// emulator runs in real time in the tool and in virtual time in tests). What has not run when
// this object goes never runs.
class DelayedCalls
{
public:
    explicit DelayedCalls(EventLoop &loop)
        : m_loop(loop)
    {
    }

    void after(int ms, std::function<void()> work)
    {
        const std::uint64_t id = ++m_next;
        // An interval of 0 never ticks: the shortest delay is a millisecond.
        auto timer = m_loop.createTimer(ms > 0 ? ms : 1, [this, id] {
            const auto found = m_pending.find(id);
            if (found == m_pending.end())
                return;
            std::function<void()> run = std::move(found->second.work);
            m_pending.erase(found); // the timer goes with it (allowed inside its own tick)
            run();
        });
        timer->setEnabled(true);
        m_pending.emplace(id, Pending{std::move(timer), std::move(work)});
    }

private:
    struct Pending
    {
        std::unique_ptr<Timer> timer;
        std::function<void()> work;
    };
    EventLoop &m_loop;
    std::uint64_t m_next = 0;
    std::map<std::uint64_t, Pending> m_pending;
};

} // namespace telvox::modemsim
