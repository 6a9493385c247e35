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

std::int32_t LineApplication::initialize(HLineApp &lineApp, LineCallback callback, std::size_t deviceCount,
                                        std::uint32_t &numDevs)
{
    lineApp = initialize(std::move(callback));
    numDevs = static_cast<std::uint32_t>(deviceCount);
    return 0;
}

std::int32_t LineApplication::checkVersion(std::uint32_t apiVersion, std::uint32_t backendMax)
{
    return apiVersion < kApiVersionLow || apiVersion > backendMax ? LineErr::IncompatibleApiVersion : 0;
}

std::int32_t LineApplication::checkOpen(bool alreadyOpen, std::uint32_t mediaModes, std::uint32_t offered)
{
    if (alreadyOpen)
        return LineErr::Allocated;
    if (mediaModes == 0 || (mediaModes & ~offered) != 0)
        return LineErr::InvalMediaMode;
    return 0;
}

std::int32_t LineApplication::checkDigitMode(std::uint32_t digitMode)
{
    return digitMode != kDigitModeDtmf && digitMode != 0x1 ? LineErr::InvalDigitMode : 0;
}

std::int32_t LineApplication::checkDigitList(const QString &digits)
{
    return digits.isEmpty() || !std::all_of(digits.begin(), digits.end(), isDtmfKey) ? LineErr::InvalDigitList : 0;
}

std::int32_t LineApplication::checkMonitorModes(std::uint32_t digitModes)
{
    return (digitModes & ~std::uint32_t{0x7}) != 0 ? LineErr::InvalDigitMode : 0;
}

LineApplication::WaveClass LineApplication::waveClass(const QString &deviceClass)
{
    if (deviceClass.compare(QLatin1String("wave/in"), Qt::CaseInsensitive) == 0)
        return WaveClass::In;
    if (deviceClass.compare(QLatin1String("wave/out"), Qt::CaseInsensitive) == 0)
        return WaveClass::Out;
    return WaveClass::Unknown;
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
