#pragma once

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

#include <cstdint>
#include <functional>

namespace telvox {

// The telephony line service: the line functions the call flow uses, with their result
// codes and event numbers. A result of 0 is success, a negative result one of the LineErr
// codes, and the functions that complete later (answer, drop, make call) return a positive
// request id that a LINE_REPLY event carries back with the outcome. Events reach the
// LineCallback given to lineInitialize through the event loop, never from inside the call
// that caused them.

using HLineApp = std::uint32_t;
using HLine = std::uint32_t;
using HCall = std::uint32_t;

// Result codes, with the numbers the messages show in hexadecimal.
namespace LineErr {
inline constexpr std::int32_t Allocated = static_cast<std::int32_t>(0x80000001u);
inline constexpr std::int32_t BadDeviceId = static_cast<std::int32_t>(0x80000002u);
inline constexpr std::int32_t CallUnavail = static_cast<std::int32_t>(0x80000005u);
inline constexpr std::int32_t IncompatibleApiVersion = static_cast<std::int32_t>(0x8000000Cu);
inline constexpr std::int32_t InvalAddress = static_cast<std::int32_t>(0x80000010u);
inline constexpr std::int32_t InvalAppHandle = static_cast<std::int32_t>(0x80000014u);
inline constexpr std::int32_t InvalCallHandle = static_cast<std::int32_t>(0x80000018u);
inline constexpr std::int32_t InvalCallState = static_cast<std::int32_t>(0x8000001Cu);
inline constexpr std::int32_t InvalDeviceClass = static_cast<std::int32_t>(0x80000023u);
inline constexpr std::int32_t InvalDigitList = static_cast<std::int32_t>(0x80000026u);
inline constexpr std::int32_t InvalDigitMode = static_cast<std::int32_t>(0x80000027u);
inline constexpr std::int32_t InvalLineHandle = static_cast<std::int32_t>(0x8000002Bu);
inline constexpr std::int32_t InvalMediaMode = static_cast<std::int32_t>(0x8000002Fu);
inline constexpr std::int32_t InvalParam = static_cast<std::int32_t>(0x80000032u);
inline constexpr std::int32_t NoDevice = static_cast<std::int32_t>(0x80000042u);
inline constexpr std::int32_t NoDriver = static_cast<std::int32_t>(0x80000043u);
inline constexpr std::int32_t OperationFailed = static_cast<std::int32_t>(0x80000048u);
inline constexpr std::int32_t OperationUnavail = static_cast<std::int32_t>(0x80000049u);
inline constexpr std::int32_t ResourceUnavail = static_cast<std::int32_t>(0x8000004Bu);
inline constexpr std::int32_t Uninitialized = static_cast<std::int32_t>(0x80000050u);
} // namespace LineErr

// Event numbers (the `message` argument of the callback).
enum LineMessage : std::uint32_t {
    LINE_ADDRESSSTATE = 0,
    LINE_CALLINFO = 1,
    LINE_CALLSTATE = 2,
    LINE_CLOSE = 3,
    LINE_DEVSPECIFIC = 4,
    LINE_DEVSPECIFICFEATURE = 5,
    LINE_GATHERDIGITS = 6,
    LINE_GENERATE = 7,
    LINE_LINEDEVSTATE = 8,
    LINE_MONITORDIGITS = 9,
    LINE_REPLY = 12,
};

// Call states (param1 of LINE_CALLSTATE).
namespace LineCallState {
inline constexpr std::uint32_t Idle = 0x1;
inline constexpr std::uint32_t Offering = 0x2;
inline constexpr std::uint32_t Accepted = 0x4;
inline constexpr std::uint32_t DialTone = 0x8;
inline constexpr std::uint32_t Dialing = 0x10;
inline constexpr std::uint32_t Ringback = 0x20;
inline constexpr std::uint32_t Busy = 0x40;
inline constexpr std::uint32_t Connected = 0x100;
inline constexpr std::uint32_t Proceeding = 0x200;
inline constexpr std::uint32_t Disconnected = 0x4000;
} // namespace LineCallState

inline constexpr std::uint32_t kLineDevStateRinging = 0x2;       // LINE_LINEDEVSTATE param1
inline constexpr std::uint32_t kCallInfoStateCallerId = 0x8000;  // LINE_CALLINFO param1
inline constexpr std::uint32_t kCallPrivilegeOwner = 0x4;         // LINE_CALLSTATE param3
inline constexpr std::uint32_t kDisconnectModeNormal = 0x1;       // DISCONNECTED param2
// CONNECTED param2: the far end's own signalling says the call was answered (a SIP 200 OK).
// Without it a dialled call's answer is judged by ear, from the line's audio.
inline constexpr std::uint32_t kConnectedModeConfirmed = 0x10;
inline constexpr std::uint32_t kGenerateTermDone = 0x1;           // LINE_GENERATE param1
inline constexpr std::uint32_t kGenerateTermCancel = 0x2;
inline constexpr std::uint32_t kDigitModeDtmf = 0x2;              // generate / monitor digits
inline constexpr std::uint32_t kCallSelectLine = 0x1;             // lineGetID select
inline constexpr std::uint32_t kCallSelectCall = 0x4;

// Caller-ID flags of the call information.
namespace CallPartyId {
inline constexpr std::uint32_t Blocked = 0x1;
inline constexpr std::uint32_t OutOfArea = 0x2;
inline constexpr std::uint32_t Name = 0x4;
inline constexpr std::uint32_t Address = 0x8;
inline constexpr std::uint32_t Unknown = 0x20;
inline constexpr std::uint32_t Unavail = 0x40;
} // namespace CallPartyId

// Media modes a device offers and a line is opened with.
namespace MediaMode {
inline constexpr std::uint32_t InteractiveVoice = 0x4;
inline constexpr std::uint32_t AutomatedVoice = 0x8;
inline constexpr std::uint32_t DataModem = 0x10;
} // namespace MediaMode

inline constexpr std::uint32_t kApiVersionLow = 0x10003;  // 1.3
inline constexpr std::uint32_t kApiVersionHigh = 0x30000; // 3.0

// What lineGetDevCaps reports: the raw bytes of the line name area (not necessarily ended by
// a zero byte, possibly empty) and the media modes.
struct LineDevCaps
{
    QByteArray lineName;
    std::uint32_t mediaModes = 0;
};

// What lineGetCallInfo reports. The caller-ID fields are the raw bytes of the byte area, as
// long as the service declared them; readers stop at the first zero byte.
struct LineCallInfo
{
    HLine hLine = 0;
    std::uint32_t callerIdFlags = 0;
    QByteArray callerIdNumber;
    QByteArray callerIdName;
    std::uint32_t callState = 0;
};

// The event callback: device (a line or call handle, as the message says), message number,
// callback instance given to lineOpen, and the three parameters.
using LineCallback = std::function<void(std::uint32_t device, std::uint32_t message, std::uintptr_t instance,
                                        std::uint32_t param1, std::uint32_t param2, std::uint32_t param3)>;

class TelephonyService
{
public:
    virtual ~TelephonyService() = default;

    virtual std::int32_t lineInitialize(HLineApp &lineApp, LineCallback callback, const QString &appName,
                                        std::uint32_t &numDevs) = 0;
    virtual std::int32_t lineNegotiateAPIVersion(HLineApp lineApp, std::uint32_t deviceId, std::uint32_t lowVersion,
                                                 std::uint32_t highVersion, std::uint32_t &apiVersion,
                                                 std::uint64_t &extensionId) = 0;
    virtual std::int32_t lineGetDevCaps(HLineApp lineApp, std::uint32_t deviceId, std::uint32_t apiVersion,
                                        std::uint32_t extVersion, LineDevCaps &caps) = 0;
    virtual std::int32_t lineOpen(HLineApp lineApp, std::uint32_t deviceId, HLine &line, std::uint32_t apiVersion,
                                  std::uint32_t extVersion, std::uintptr_t callbackInstance, std::uint32_t privileges,
                                  std::uint32_t mediaModes) = 0;
    virtual std::int32_t lineSetStatusMessages(HLine line, std::uint32_t lineStates, std::uint32_t addressStates) = 0;
    virtual std::int32_t lineGetCallInfo(HCall call, LineCallInfo &info) = 0;
    // Asynchronous: a request id, or a negative error.
    virtual std::int32_t lineAnswer(HCall call) = 0;
    // Asynchronous: a request id, or a negative error.
    virtual std::int32_t lineDrop(HCall call) = 0;
    // Turns an offered call away unanswered; the call then goes idle. Asynchronous like
    // lineDrop. A SIP line refuses it with the status `reason` names (486 or 603); an analog
    // line cannot refuse a ringing call, so lineDrop picks it up and hangs up at once.
    enum class RejectReason { Busy, Declined };
    virtual std::int32_t lineReject(HCall call, RejectReason reason)
    {
        (void)reason;
        return lineDrop(call);
    }
    // LINE_GENERATE follows when the digits have been sent. `durationMs` 0: the default.
    virtual std::int32_t lineGenerateDigits(HCall call, std::uint32_t digitMode, const QString &digits,
                                            std::uint32_t durationMs) = 0;
    // `digitModes` 0 ends the monitoring.
    virtual std::int32_t lineMonitorDigits(HCall call, std::uint32_t digitModes) = 0;
    virtual std::int32_t lineDeallocateCall(HCall call) = 0;
    // The device id of class `deviceClass` ("wave/in", "wave/out") for the line or the call.
    virtual std::int32_t lineGetID(HLine line, std::uint32_t addressId, HCall call, std::uint32_t select,
                                   std::uint32_t &deviceId, const QString &deviceClass) = 0;
    // Asynchronous: a request id, or a negative error; `call` is set at once.
    virtual std::int32_t lineMakeCall(HLine line, HCall &call, const QString &destAddress,
                                      std::uint32_t countryCode) = 0;
    virtual std::int32_t lineClose(HLine line) = 0;
    virtual std::int32_t lineShutdown(HLineApp lineApp) = 0;
};

// A result in the form the messages show: eight upper-case hexadecimal digits for a negative
// result, the plain hexadecimal number otherwise ("80000001", "0").
QString lineResultHex(std::int32_t result);

// The sixteen touch-tone keys: 0-9, *, #, A-D.
inline bool isDtmfKey(QChar key)
{
    return (key >= QLatin1Char('0') && key <= QLatin1Char('9')) || key == QLatin1Char('*') || key == QLatin1Char('#')
        || (key >= QLatin1Char('A') && key <= QLatin1Char('D'));
}

// A text field of the line service (a line name, a caller's number or name) up to the first
// zero byte: UTF-8 when it is valid UTF-8 (SIP sends names so), else one character per byte.
inline QString textField(const QByteArray &bytes)
{
    const qsizetype zero = bytes.indexOf('\0');
    const QByteArray field = zero >= 0 ? bytes.left(zero) : bytes;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(field);
    return utf8.hasError() ? QString::fromLatin1(field) : text;
}

} // namespace telvox
