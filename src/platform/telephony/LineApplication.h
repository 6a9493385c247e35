#pragma once

#include "platform/telephony/TelephonyService.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace telvox {

class EventLoop;

// The application side that every line backend keeps: the one application registered with
// lineInitialize, its callback, the checks that open each line function, and the posting of
// events that must not reach an application which has shut down (or initialised again), nor
// report a line that was closed in the meantime.
class LineApplication
{
public:
    // `handle` is the backend's own application handle (distinct per backend, never 0).
    LineApplication(EventLoop &loop, HLineApp handle);
    ~LineApplication();
    LineApplication(const LineApplication &) = delete;
    LineApplication &operator=(const LineApplication &) = delete;

    // Registers the application; returns its handle. Events posted before are dropped.
    HLineApp initialize(LineCallback callback);
    // lineInitialize as a backend of `deviceCount` devices answers it.
    std::int32_t initialize(HLineApp &lineApp, LineCallback callback, std::size_t deviceCount,
                            std::uint32_t &numDevs);
    void shutdown();
    bool valid(HLineApp app) const { return m_initialised && app == m_handle; }
    bool initialised() const { return m_initialised; }

    // The first checks of every per-device function: the application, then the device id.
    std::int32_t checkDevice(HLineApp app, std::uint32_t deviceId, std::size_t deviceCount) const;
    // lineNegotiateAPIVersion's rule: the highest version both sides know, if any.
    static std::int32_t negotiate(std::uint32_t low, std::uint32_t high, std::uint32_t backendMax,
                                  std::uint32_t &apiVersion);

    // The argument checks the backends share, each 0 or the error the line function returns.
    // lineGetDevCaps, lineOpen: the version the application negotiated is one the backend knows.
    static std::int32_t checkVersion(std::uint32_t apiVersion, std::uint32_t backendMax);
    // lineOpen: the device is not open yet and asks for media modes it offers (at least one).
    static std::int32_t checkOpen(bool alreadyOpen, std::uint32_t mediaModes, std::uint32_t offered);
    // lineGenerateDigits: touch tones (or pulses) ...
    static std::int32_t checkDigitMode(std::uint32_t digitMode);
    // ... of at least one key, every one a touch-tone key.
    static std::int32_t checkDigitList(const QString &digits);
    // lineMonitorDigits: only the known digit modes (0 ends the monitoring).
    static std::int32_t checkMonitorModes(std::uint32_t digitModes);
    // lineGetID: the device class asked for ("wave/in", "wave/out", in any case).
    enum class WaveClass { In, Out, Unknown };
    static WaveClass waveClass(const QString &deviceClass);

    // Handles of lines and calls (one sequence for both, from 0x10) and the ids of
    // asynchronous requests (positive, wrapping before they overflow).
    std::uint32_t nextHandle() { return m_nextHandle++; }
    std::int32_t nextRequest()
    {
        if (m_nextRequest >= 0x7FFFFFF0)
            m_nextRequest = 0;
        return ++m_nextRequest;
    }

    // Delivers a line event through the event loop, unless by then the application has gone
    // or `stillOpen` (asked at delivery) says the line was closed.
    void post(std::function<bool()> stillOpen, std::uintptr_t instance, std::uint32_t device, std::uint32_t message,
              std::uint32_t p1, std::uint32_t p2, std::uint32_t p3);

private:
    EventLoop &m_loop;
    const HLineApp m_handle;
    LineCallback m_callback;
    bool m_initialised = false;
    std::uint64_t m_generation = 1;
    std::uint32_t m_nextHandle = 0x10;
    std::int32_t m_nextRequest = 0;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace telvox
