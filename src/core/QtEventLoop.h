#pragma once

#include "core/EventLoop.h"

#include <QElapsedTimer>
#include <QObject>

namespace telvox {

// Event loop of the running program: QTimer, QElapsedTimer and Qt's queued invocations.
class QtEventLoop final : public EventLoop
{
public:
    QtEventLoop();
    ~QtEventLoop() override;

    std::int64_t now() const override;
    QDateTime currentDateTime() const override;
    std::unique_ptr<Timer> createTimer(int intervalMs, std::function<void()> tick) override;
    void post(std::function<void()> work) override;
    void doEvents() override;

private:
    QElapsedTimer m_clock;
    QObject m_context;
};

} // namespace telvox
