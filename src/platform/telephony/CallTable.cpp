#include "platform/telephony/CallTable.h"

namespace telvox {

CallTable::CallTable(EventLoop &loop, HLineApp appHandle)
    : m_app(loop, appHandle)
{
}

void CallTable::add(CallSlot &slot)
{
    slot.device = static_cast<std::uint32_t>(m_slots.size());
    m_slots.push_back(&slot);
}

CallSlot *CallTable::lineOfHandle(HLine handle) const
{
    if (handle == 0)
        return nullptr;
    for (CallSlot *slot : m_slots) {
        if (slot->hLine == handle)
            return slot;
    }
    return nullptr;
}

CallSlot *CallTable::lineOfCall(HCall call) const
{
    if (call == 0)
        return nullptr;
    for (CallSlot *slot : m_slots) {
        if (slot->hLine != 0 && slot->hCall == call)
            return slot;
    }
    return nullptr;
}

HLine CallTable::openLine(CallSlot &slot, std::uintptr_t instance, std::uint32_t mediaModes)
{
    slot.hLine = m_app.nextHandle();
    slot.instance = instance;
    slot.mediaModes = mediaModes;
    slot.lineStates = 0;
    return slot.hLine;
}

HCall CallTable::newCall(CallSlot &slot, bool incoming)
{
    slot.hCall = m_app.nextHandle();
    slot.callState = 0;
    slot.incoming = incoming;
    slot.monitoring = false;
    slot.generating = false;
    slot.ringCount = 0;
    slot.callerIdFlags = incoming ? 0 : CallPartyId::Unknown;
    slot.callerNumber.clear();
    slot.callerName.clear();
    return slot.hCall;
}

void CallTable::freeCall(CallSlot &slot)
{
    slot.hCall = 0;
    slot.callState = 0;
    slot.incoming = false;
    slot.ringCount = 0;
}

void CallTable::closeLine(CallSlot &slot)
{
    slot.hLine = 0;
    slot.hCall = 0;
    slot.callState = 0;
    slot.incoming = false;
    slot.monitoring = false;
    slot.generating = false;
}

void CallTable::post(CallSlot &slot, std::uint32_t device, std::uint32_t message, std::uint32_t p1, std::uint32_t p2,
                     std::uint32_t p3)
{
    if (slot.hLine == 0)
        return;
    m_app.post([target = &slot, hLine = slot.hLine] { return target->hLine == hLine; }, slot.instance, device, message,
               p1, p2, p3);
}

void CallTable::setState(CallSlot &slot, std::uint32_t state)
{
    setState(slot, state, state == LineCallState::Disconnected ? kDisconnectModeNormal : 0);
}

void CallTable::setState(CallSlot &slot, std::uint32_t state, std::uint32_t detail)
{
    slot.callState = state;
    post(slot, slot.hCall, LINE_CALLSTATE, state, detail, kCallPrivilegeOwner);
}

void CallTable::reply(CallSlot &slot, std::int32_t request, std::int32_t result)
{
    post(slot, 0, LINE_REPLY, static_cast<std::uint32_t>(request), static_cast<std::uint32_t>(result), 0);
}

void CallTable::cancelDigits(CallSlot &slot)
{
    if (!slot.generating)
        return;
    slot.generating = false;
    post(slot, slot.hCall, LINE_GENERATE, kGenerateTermCancel, 0, 0);
}

} // namespace telvox
