#include "core/QtEventLoop.h"

#include <QCoreApplication>
#include <QTimer>

namespace telvox {

namespace {

class QtTimer final : public Timer
{
public:
    QtTimer(int intervalMs, std::function<void()> tick)
        : m_interval(intervalMs)
    {
        setCallback(std::move(tick));
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { fire(); });
    }
    ~QtTimer() override { markDead(); }

    void setInterval(int ms) override
    {
        m_interval = ms;
        if (m_enabled)
            restart();
    }
    int interval() const override { return m_interval; }

    void setEnabled(bool enabled) override
    {
        if (enabled == m_enabled)
            return;
        m_enabled = enabled;
        if (enabled)
            restart();
        else
            m_timer.stop();
    }
    bool isEnabled() const override { return m_enabled; }

private:
    void restart()
    {
        if (m_interval > 0)
            m_timer.start(m_interval);
        else
            m_timer.stop();
    }

    QTimer m_timer;
    int m_interval;
    bool m_enabled = false;
};

} // namespace

QtEventLoop::QtEventLoop() { m_clock.start(); }
QtEventLoop::~QtEventLoop() = default;

std::int64_t QtEventLoop::now() const { return m_clock.elapsed(); }

QDateTime QtEventLoop::currentDateTime() const { return QDateTime::currentDateTime(); }

std::unique_ptr<Timer> QtEventLoop::createTimer(int intervalMs, std::function<void()> tick)
{
    return std::make_unique<QtTimer>(intervalMs, std::move(tick));
}

void QtEventLoop::post(std::function<void()> work)
{
    QMetaObject::invokeMethod(&m_context, std::move(work), Qt::QueuedConnection);
}

void QtEventLoop::doEvents() { QCoreApplication::processEvents(); }

} // namespace telvox
