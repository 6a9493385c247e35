#pragma once

#include "core/EventLoop.h"

#include <deque>
#include <vector>

namespace telvox {

// Deterministic event loop for tests and the scenario runner. Time stands still until
// advance() moves it; then due timer ticks and posted work run in time order (ties in the
// order they were scheduled), with no real waiting. Posted work runs before time moves on.
class VirtualEventLoop final : public EventLoop
{
public:
    explicit VirtualEventLoop(QDateTime start = QDateTime(QDate(2026, 1, 5), QTime(9, 0, 0)));
    ~VirtualEventLoop() override;

    std::int64_t now() const override { return m_now; }
    QDateTime currentDateTime() const override;
    std::unique_ptr<Timer> createTimer(int intervalMs, std::function<void()> tick) override;
    void post(std::function<void()> work) override;
    void doEvents() override;

    // Moves virtual time forward by `ms`, running everything that falls due on the way.
    void advance(std::int64_t ms);
    // Runs posted work and ticks until `predicate` holds or `limitMs` of virtual time passed.
    // Returns whether the predicate held.
    bool advanceUntil(const std::function<bool()> &predicate, std::int64_t limitMs, std::int64_t stepMs = 10);
    // Sets the wall clock so that currentDateTime() now reads `when`.
    void setCurrentDateTime(const QDateTime &when);
    std::size_t pendingPosts() const { return m_posted.size(); }

private:
    class VirtualTimer;
    friend class VirtualTimer;

    void runPosted();
    VirtualTimer *nextDueTimer(std::int64_t limit) const;
    std::uint64_t nextSequence() { return ++m_sequence; }

    std::int64_t m_now = 0;
    QDateTime m_wallAtZero;
    std::uint64_t m_sequence = 0;
    std::deque<std::function<void()>> m_posted;
    std::vector<VirtualTimer *> m_timers;
};

} // namespace telvox
