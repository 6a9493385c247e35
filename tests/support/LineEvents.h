#pragma once
// An application on a telephony service that records every line event it is posted: it
// initialises the service and opens device 0 with ring messages.

#include "core/EventLoop.h"
#include "platform/telephony/TelephonyService.h"

#include <vector>

namespace telvox::test {

struct LineEvent
{
    std::int64_t at;
    std::uint32_t device, message, p1, p2, p3;
};

struct LineEvents
{
    // lineInitialize's result; the line is opened only when the service has a device.
    std::int32_t openLine(TelephonyService &service, const EventLoop &loop, std::uint32_t privileges = 6,
                          std::uint32_t mediaModes = MediaMode::InteractiveVoice)
    {
        std::uint32_t devices = 0;
        const std::int32_t result = service.lineInitialize(
            app,
            [this, &loop](std::uint32_t d, std::uint32_t m, std::uintptr_t, std::uint32_t a, std::uint32_t b,
                          std::uint32_t c) { events.push_back({loop.now(), d, m, a, b, c}); },
            QStringLiteral("test"), devices);
        if (result == 0 && devices > 0) {
            service.lineOpen(app, 0, line, 0x20002, 0, 0, privileges, mediaModes);
            service.lineSetStatusMessages(line, kLineDevStateRinging, 0);
        }
        return result;
    }
    std::vector<LineEvent> take(std::uint32_t message) const
    {
        std::vector<LineEvent> out;
        for (const LineEvent &e : events) {
            if (e.message == message)
                out.push_back(e);
        }
        return out;
    }
    // How many `message` events with first parameter `p1` were posted; each one's device goes to `devices`.
    int count(std::uint32_t message, std::uint32_t p1, std::vector<std::uint32_t> *devices = nullptr) const
    {
        int n = 0;
        for (const LineEvent &e : take(message)) {
            if (e.p1 == p1 && ++n && devices)
                devices->push_back(e.device);
        }
        return n;
    }

    std::vector<LineEvent> events;
    HLineApp app = 0;
    HLine line = 0;
};

} // namespace telvox::test
