#include "platform/telephony/LineApplication.h"

#include "core/EventLoop.h"

#include <algorithm>

namespace telvox {

LineApplication::LineApplication(EventLoop &loop, HLineApp handle)
    : m_loop(loop)
    , m_handle(handle)
{
}

LineApplication::~LineApplication() { *m_alive = false; }

HLineApp LineApplication::initialize(LineCallback callback)
{
    m_callback = std::move(callback);
    m_initialised = true;
    ++m_generation;
    return m_handle;
}

void LineApplication::shutdown()
{
    m_initialised = false;
    m_callback = nullptr;
    ++m_generation;
}

std::int32_t LineApplication::checkDevice(HLineApp app, std::uint32_t deviceId, std::size_t deviceCount) const
{
    if (!valid(app))
        return LineErr::InvalAppHandle;
    if (deviceId >= deviceCount)
        return LineErr::BadDeviceId;
    return 0;
}

std::int32_t LineApplication::negotiate(std::uint32_t low, std::uint32_t high, std::uint32_t backendMax,
                                        std::uint32_t &apiVersion)
{
    const std::uint32_t version = std::min(high, backendMax);
    if (low > high || version < low)
        return LineErr::IncompatibleApiVersion;
    apiVersion = version;
    return 0;
}

void LineApplication::post(std::function<bool()> stillOpen, std::uintptr_t instance, std::uint32_t device,
                           std::uint32_t message, std::uint32_t p1, std::uint32_t p2, std::uint32_t p3)
{
    if (!m_initialised || !m_callback)
        return;
    m_loop.post([this, alive = m_alive, generation = m_generation, stillOpen = std::move(stillOpen), instance, device,
                 message, p1, p2, p3] {
        if (!*alive || generation != m_generation || !m_callback || !stillOpen())
            return;
        const LineCallback callback = m_callback; // the callback may shut the service down
        callback(device, message, instance, p1, p2, p3);
    });
}

} // namespace telvox
