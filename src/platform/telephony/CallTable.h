#pragma once

#include "platform/telephony/LineApplication.h"
#include "platform/telephony/TelephonyService.h"

#include <QByteArray>

#include <cstdint>
#include <vector>

namespace telvox {

class EventLoop;

// What every backend knows of one line device the same way: the line handle and how the
// application opened it, and the one call the line carries (its handle, state, direction,
// digit monitoring and generation, rings and caller ID). A backend keeps its own signalling
// and media beside it (a backend's line derives from it or holds one).
struct CallSlot
{
    std::uint32_t device = 0; // the device id: the slot's place in the table
    HLine hLine = 0;          // 0: not open
    std::uintptr_t instance = 0;
    std::uint32_t mediaModes = 0; // opened with
    std::uint32_t lineStates = 0; // LINE_LINEDEVSTATE events asked for

    HCall hCall = 0;            // 0: no call
    std::uint32_t callState = 0; // 0: not reported yet
    bool incoming = false;
    bool monitoring = false;
    bool generating = false;
    int ringCount = 0;
    std::uint32_t callerIdFlags = 0;
    QByteArray callerNumber;
    QByteArray callerName;

    bool isOpen() const { return hLine != 0; }
    // A call the application may still act on (answer, drop, monitor): not idle yet.
    bool callActive() const { return hCall != 0 && callState != LineCallState::Idle; }
};

// The call table of a line backend: its line devices in device order, the application they
// report to, the handles of lines and calls, and the events of a line, delivered only while
// the line stays open.
class CallTable
{
public:
    // `appHandle`: the backend's own application handle (distinct per backend, never 0).
    CallTable(EventLoop &loop, HLineApp appHandle);

    // Adds the next device; the slot stays the backend's and must outlive the table's use.
    void add(CallSlot &slot);
    std::size_t size() const { return m_slots.size(); }
    CallSlot &at(std::size_t device) const { return *m_slots.at(device); }

    // The open line of a handle, the call of a handle on an open line; nullptr for 0, an
    // unknown handle or one given up (a closed line, a deallocated call).
    CallSlot *lineOfHandle(HLine handle) const;
    CallSlot *lineOfCall(HCall call) const;

    LineApplication &app() { return m_app; }
    const LineApplication &app() const { return m_app; }
    std::int32_t nextRequest() { return m_app.nextRequest(); }

    // Opens `slot`'s line with a new handle.
    HLine openLine(CallSlot &slot, std::uintptr_t instance, std::uint32_t mediaModes);
    // A new call on `slot` with a new handle: the per-call fields start afresh (no state yet,
    // no caller ID, no monitoring or touch tones under way).
    HCall newCall(CallSlot &slot, bool incoming);
    // The application gave the call up (lineDeallocateCall): the line carries none.
    static void freeCall(CallSlot &slot);
    // The line was closed: neither it nor its call are known any more.
    static void closeLine(CallSlot &slot);

    // Queues an event of `slot`'s line for the application; dropped if the line is closed
    // (or closed and opened again) before it is delivered.
    void post(CallSlot &slot, std::uint32_t device, std::uint32_t message, std::uint32_t p1, std::uint32_t p2,
              std::uint32_t p3);
    // The call's new state, as LINE_CALLSTATE (a disconnection with the normal mode unless
    // `detail` says otherwise).
    void setState(CallSlot &slot, std::uint32_t state);
    void setState(CallSlot &slot, std::uint32_t state, std::uint32_t detail);
    // The outcome of an asynchronous request (LINE_REPLY).
    void reply(CallSlot &slot, std::int32_t request, std::int32_t result = 0);
    // Touch tones still being sent are cut short: LINE_GENERATE with "cancelled".
    void cancelDigits(CallSlot &slot);

private:
    LineApplication m_app;
    std::vector<CallSlot *> m_slots;
};

} // namespace telvox
