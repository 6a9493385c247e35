#include "platform/telephony/CallTableService.h"

namespace telvox {

CallTableService::CallTableService(EventLoop &loop, HLineApp appHandle)
    : m_table(loop, appHandle)
{
}

std::uint32_t CallTableService::maxApiVersion(const CallSlot &) const { return kDefaultMaxApiVersion; }

void CallTableService::fillCallInfo(const CallSlot &slot, LineCallInfo &info) const
{
    info.hLine = slot.hLine;
    info.callState = slot.callState;
    info.callerIdFlags = slot.callerIdFlags;
    info.callerIdNumber = slot.callerNumber;
    info.callerIdName = slot.callerName;
}

std::int32_t CallTableService::lineInitialize(HLineApp &lineApp, LineCallback callback, const QString &appName,
                                              std::uint32_t &numDevs)
{
    (void)appName;
    if (const std::int32_t refused = initializeRefusal())
        return refused;
    return m_table.app().initialize(lineApp, std::move(callback), m_table.size(), numDevs);
}

std::int32_t CallTableService::lineNegotiateAPIVersion(HLineApp lineApp, std::uint32_t deviceId,
                                                       std::uint32_t lowVersion, std::uint32_t highVersion,
                                                       std::uint32_t &apiVersion, std::uint64_t &extensionId)
{
    if (const std::int32_t refused = m_table.app().checkDevice(lineApp, deviceId, m_table.size()))
        return refused;
    const CallSlot &slot = m_table.at(deviceId);
    if (const std::int32_t refused = negotiateRefusal(slot))
        return refused;
    extensionId = 0;
    return LineApplication::negotiate(lowVersion, highVersion, maxApiVersion(slot), apiVersion);
}

std::int32_t CallTableService::lineGetDevCaps(HLineApp lineApp, std::uint32_t deviceId, std::uint32_t apiVersion,
                                              std::uint32_t extVersion, LineDevCaps &caps)
{
    (void)extVersion;
    if (const std::int32_t refused = m_table.app().checkDevice(lineApp, deviceId, m_table.size()))
        return refused;
    const CallSlot &slot = m_table.at(deviceId);
    if (const std::int32_t refused = LineApplication::checkVersion(apiVersion, maxApiVersion(slot)))
        return refused;
    return describe(slot, caps);
}

std::int32_t CallTableService::lineOpen(HLineApp lineApp, std::uint32_t deviceId, HLine &line,
                                        std::uint32_t apiVersion, std::uint32_t extVersion,
                                        std::uintptr_t callbackInstance, std::uint32_t privileges,
                                        std::uint32_t mediaModes)
{
    (void)extVersion;
    (void)privileges;
    if (const std::int32_t refused = m_table.app().checkDevice(lineApp, deviceId, m_table.size()))
        return refused;
    CallSlot &slot = m_table.at(deviceId);
    if (const std::int32_t refused = LineApplication::checkVersion(apiVersion, maxApiVersion(slot)))
        return refused;
    if (const std::int32_t refused = LineApplication::checkOpen(slot.isOpen(), mediaModes, offeredModes(slot)))
        return refused;
    if (const std::int32_t refused = openRefusal(slot))
        return refused;
    line = m_table.openLine(slot, callbackInstance, mediaModes);
    lineOpened(slot);
    return 0;
}

std::int32_t CallTableService::lineSetStatusMessages(HLine line, std::uint32_t lineStates,
                                                     std::uint32_t addressStates)
{
    (void)addressStates;
    CallSlot *slot = m_table.lineOfHandle(line);
    if (!slot)
        return LineErr::InvalLineHandle;
    if (const std::int32_t refused = statusMessagesRefusal(*slot))
        return refused;
    slot->lineStates = lineStates;
    return 0;
}

std::int32_t CallTableService::lineGetCallInfo(HCall call, LineCallInfo &info)
{
    const CallSlot *slot = m_table.lineOfCall(call);
    if (!slot)
        return LineErr::InvalCallHandle;
    fillCallInfo(*slot, info);
    return 0;
}

std::int32_t CallTableService::lineAnswer(HCall call)
{
    CallSlot *slot = m_table.lineOfCall(call);
    return slot ? answerCall(*slot) : LineErr::InvalCallHandle;
}

std::int32_t CallTableService::lineDrop(HCall call)
{
    CallSlot *slot = m_table.lineOfCall(call);
    if (!slot)
        return LineErr::InvalCallHandle;
    if (!slot->callActive())
        return LineErr::InvalCallState;
    return dropCall(*slot);
}

std::int32_t CallTableService::lineGenerateDigits(HCall call, std::uint32_t digitMode, const QString &digits,
                                                  std::uint32_t durationMs)
{
    CallSlot *slot = m_table.lineOfCall(call);
    if (!slot)
        return LineErr::InvalCallHandle;
    if (slot->callState != LineCallState::Connected)
        return LineErr::InvalCallState;
    if (const std::int32_t refused = LineApplication::checkDigitMode(digitMode))
        return refused;
    if (const std::int32_t refused = LineApplication::checkDigitList(digits))
        return refused;
    return sendDigits(*slot, digits, durationMs);
}

std::int32_t CallTableService::lineMonitorDigits(HCall call, std::uint32_t digitModes)
{
    CallSlot *slot = m_table.lineOfCall(call);
    if (!slot)
        return LineErr::InvalCallHandle;
    if (!slot->callActive())
        return LineErr::InvalCallState;
    if (const std::int32_t refused = LineApplication::checkMonitorModes(digitModes))
        return refused;
    slot->monitoring = digitModes != 0;
    return 0;
}

std::int32_t CallTableService::lineDeallocateCall(HCall call)
{
    CallSlot *slot = m_table.lineOfCall(call);
    if (!slot)
        return LineErr::InvalCallHandle;
    if (slot->callState != LineCallState::Idle)
        return LineErr::InvalCallState;
    CallTable::freeCall(*slot);
    callFreed(*slot);
    return 0;
}

std::int32_t CallTableService::lineGetID(HLine line, std::uint32_t addressId, HCall call, std::uint32_t select,
                                         std::uint32_t &deviceId, const QString &deviceClass)
{
    (void)addressId;
    const bool ofCall = select == kCallSelectCall;
    const CallSlot *slot = ofCall ? m_table.lineOfCall(call) : m_table.lineOfHandle(line);
    if (!slot)
        return ofCall ? LineErr::InvalCallHandle : LineErr::InvalLineHandle;
    const LineApplication::WaveClass waveClass = LineApplication::waveClass(deviceClass);
    if (waveClass == LineApplication::WaveClass::Unknown)
        return LineErr::InvalDeviceClass;
    deviceId = waveDeviceId(*slot, waveClass);
    return 0;
}

std::int32_t CallTableService::lineMakeCall(HLine line, HCall &call, const QString &destAddress,
                                            std::uint32_t countryCode)
{
    (void)countryCode;
    CallSlot *slot = m_table.lineOfHandle(line);
    if (!slot)
        return LineErr::InvalLineHandle;
    // A call not reported yet (rings counted before its caller ID) does not hold the line.
    if (slot->callActive() && slot->callState != 0)
        return LineErr::CallUnavail;
    return placeCall(*slot, destAddress, call);
}

std::int32_t CallTableService::lineClose(HLine line)
{
    CallSlot *slot = m_table.lineOfHandle(line);
    if (!slot)
        return LineErr::InvalLineHandle;
    closing(*slot);
    CallTable::closeLine(*slot);
    lineClosed(*slot);
    return 0;
}

std::int32_t CallTableService::lineShutdown(HLineApp lineApp)
{
    if (!m_table.app().valid(lineApp))
        return LineErr::InvalAppHandle;
    for (std::size_t device = 0; device < m_table.size(); ++device) {
        const CallSlot &slot = m_table.at(device);
        if (slot.isOpen())
            lineClose(slot.hLine);
    }
    m_table.app().shutdown();
    return 0;
}

} // namespace telvox
