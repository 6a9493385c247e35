#pragma once

#include "platform/telephony/CallTable.h"
#include "platform/telephony/TelephonyService.h"

namespace telvox {

// The telephony service of a backend that keeps its lines in a CallTable: every line function
// here does the checks all backends make in the same order (the application, the device, the
// version, the line or call handle, the call's state, the arguments) and the bookkeeping of
// the table; a backend supplies its signalling and media through the hooks below.
class CallTableService : public TelephonyService
{
public:
    std::int32_t lineInitialize(HLineApp &lineApp, LineCallback callback, const QString &appName,
                                std::uint32_t &numDevs) override;
    std::int32_t lineNegotiateAPIVersion(HLineApp lineApp, std::uint32_t deviceId, std::uint32_t lowVersion,
                                         std::uint32_t highVersion, std::uint32_t &apiVersion,
                                         std::uint64_t &extensionId) override;
    std::int32_t lineGetDevCaps(HLineApp lineApp, std::uint32_t deviceId, std::uint32_t apiVersion,
                                std::uint32_t extVersion, LineDevCaps &caps) override;
    std::int32_t lineOpen(HLineApp lineApp, std::uint32_t deviceId, HLine &line, std::uint32_t apiVersion,
                          std::uint32_t extVersion, std::uintptr_t callbackInstance, std::uint32_t privileges,
                          std::uint32_t mediaModes) override;
    std::int32_t lineSetStatusMessages(HLine line, std::uint32_t lineStates, std::uint32_t addressStates) override;
    std::int32_t lineGetCallInfo(HCall call, LineCallInfo &info) override;
    std::int32_t lineAnswer(HCall call) override;
    std::int32_t lineDrop(HCall call) override;
    std::int32_t lineGenerateDigits(HCall call, std::uint32_t digitMode, const QString &digits,
                                    std::uint32_t durationMs) override;
    std::int32_t lineMonitorDigits(HCall call, std::uint32_t digitModes) override;
    std::int32_t lineDeallocateCall(HCall call) override;
    std::int32_t lineGetID(HLine line, std::uint32_t addressId, HCall call, std::uint32_t select,
                           std::uint32_t &deviceId, const QString &deviceClass) override;
    std::int32_t lineMakeCall(HLine line, HCall &call, const QString &destAddress, std::uint32_t countryCode) override;
    std::int32_t lineClose(HLine line) override;
    std::int32_t lineShutdown(HLineApp lineApp) override;

protected:
    static constexpr std::uint32_t kDefaultMaxApiVersion = 0x20002;

    CallTableService(EventLoop &loop, HLineApp appHandle);
    CallTable &table() { return m_table; }
    const CallTable &table() const { return m_table; }

    // --- what the devices are ---
    // The highest version device `slot` negotiates.
    virtual std::uint32_t maxApiVersion(const CallSlot &slot) const;
    // The media modes a line may be opened with.
    virtual std::uint32_t offeredModes(const CallSlot &slot) const = 0;
    // lineGetDevCaps once the checks passed: 0, or the error it fails with.
    virtual std::int32_t describe(const CallSlot &slot, LineDevCaps &caps) = 0;
    // The wave device of the line for the class asked for.
    virtual std::uint32_t waveDeviceId(const CallSlot &slot, LineApplication::WaveClass waveClass) const = 0;

    // --- refusals of a backend beyond the common checks (0: none) ---
    virtual std::int32_t initializeRefusal() const { return 0; }
    virtual std::int32_t negotiateRefusal(const CallSlot &) const { return 0; }
    // After the common checks of lineOpen (version, not open, media modes).
    virtual std::int32_t openRefusal(const CallSlot &) const { return 0; }
    virtual std::int32_t statusMessagesRefusal(const CallSlot &) const { return 0; }

    // --- the signalling and media of a call ---
    virtual void lineOpened(CallSlot &) {}
    // The line is being closed (its call, if any, still in the slot): end what is under way.
    virtual void closing(CallSlot &slot) = 0;
    // The line has been closed (the slot no longer open, without a call).
    virtual void lineClosed(CallSlot &) {}
    // The call information; by default what the slot keeps.
    virtual void fillCallInfo(const CallSlot &slot, LineCallInfo &info) const;
    // lineAnswer of a known call: a request id or an error.
    virtual std::int32_t answerCall(CallSlot &slot) = 0;
    // lineDrop of a call not idle yet: a request id or an error.
    virtual std::int32_t dropCall(CallSlot &slot) = 0;
    // lineGenerateDigits of a connected call, digits and mode checked.
    virtual std::int32_t sendDigits(CallSlot &slot, const QString &digits, std::uint32_t durationMs) = 0;
    // lineMakeCall on a line without a call under way: a request id or an error; `call` set.
    virtual std::int32_t placeCall(CallSlot &slot, const QString &destAddress, HCall &call) = 0;
    // The application gave the (idle) call up; the slot carries no call any more.
    virtual void callFreed(CallSlot &) {}

private:
    CallTable m_table;
};

} // namespace telvox
