#pragma once

#include "core/Settings.h"
#include "platform/telephony/TelephonyService.h"
#include "telephony/CallScreen.h"
#include "telephony/CallerPopup.h"
#include "telephony/LineCall.h"
#include "telephony/LineTable.h"
#include "telephony/PhoneBookTable.h"

#include <QHash>
#include <QString>

#include <array>
#include <functional>
#include <memory>

namespace telvox {

class AudioActions;
class CallBlockList;
class EventLoop;
class MessageStore;
class StatusLog;
class Texts;
class UserPrompts;

// What the telephony core works with; everything is owned elsewhere.
struct TelephonyServices
{
    TelephonyService &service;
    EventLoop &loop;
    SettingsStore &settings;
    MessageStore &store; // the call records
    const Texts &texts;
    StatusLog &status;
    UserPrompts &prompts;
    AudioActions &audio;
    QString programFolder;                      // callerid.txt, PhoneBook.txt
    QString appTitle = QStringLiteral("Telvox"); // title of the message boxes
};

// The options the setup's loading publishes for the call flow.
struct SetupOptions
{
    QString txtRings = QStringLiteral("8"); // ring count field: the stored "Rings", or "8"
    bool actionMan = false;                 // "ActionMan": manual answering
    bool popCallId = false;                 // "PopCallID": caller pop-up on caller ID
    bool fastBusy = false;                  // "FBS": the busy-tone detector ends recordings
};

// Reads the published options from the store as the setup's loading does.
SetupOptions readSetupOptions(SettingsStore &settings);

// The classification of the telephony devices shown by the setup dialog.
struct DeviceClassification
{
    std::array<QString, 4> txtLine; // the device-name fields
    std::array<bool, 4> enabled{true, true, true, true}; // Check1(d)
};

// Who else wants to know what the lines do (the smart-home links). Called on the event loop's
// thread, after the call flow has acted on the event; a watcher must return at once.
struct CallWatch
{
    // A line's call reached a state (LineCallState: offering, connected, disconnected, idle).
    std::function<void(int line, std::uint32_t callState)> callState;
    // A caller's ID arrived and was screened: the number ("" when withheld or missing), the
    // phonebook's name or else the one caller ID gave ("" or "UNKNOWN" when none); for a
    // blocked caller the block list's label.
    std::function<void(int line, const QString &number, const QString &name, bool blocked)> callerId;
};

// The telephony subsystem: line manager (TelephonyCore.cpp), line-event dispatcher with the line
// table and call state machine (TelephonyCoreEvents.cpp), caller ID with the pop-up's buttons
// (TelephonyCoreCallerId.cpp), and answering, dialling and the call-control timers
// (TelephonyCoreCalls.cpp); call blocking is its CallScreen. Everything runs on the event
// loop's thread; events of the service arrive through LineCallback.
class TelephonyCore
{
public:
    explicit TelephonyCore(TelephonyServices services);
    ~TelephonyCore();

    TelephonyCore(const TelephonyCore &) = delete;
    TelephonyCore &operator=(const TelephonyCore &) = delete;

    // --- Line manager ----------------------------------------------------------------------
    void ResetLineHandles();
    // Initialises the service and negotiates the version; false after the failure message,
    // when the process must end.
    bool InitTapi();
    // Classifies devices 0..min(numDevs, 4) - 1 and forces "Config" / "Line"+k = "0" for every
    // line whose check box ends up disabled.
    DeviceClassification classifyDevices();
    void OpenLines();
    // Shutdown: lineClose on every open line, then lineShutdown.
    void closeOpenLines();
    void lineShutdown();

    // --- Options and tables loaded at start ---------------------------------------------------
    void setSetupOptions(const SetupOptions &options);
    void setRingGaps(const RingGapTable &gaps);
    void LoadPhoneBook();
    // Main window check boxes chkRingCount and chkLegal.
    void setWindowChecks(std::function<bool()> ringCount, std::function<bool()> legal);
    // The dialler's number field txtDialOut receives the caller's number.
    void setDialOutField(std::function<void(const QString &)> setter) { m_setDialOut = std::move(setter); }
    // The dialler's per-line Timer1 (started when a dialled call is being recorded).
    void setDialerTimerStart(std::function<void(int)> start) { m_startDialerTimer = std::move(start); }
    // The ring schedule: may replace the ring count for the current day and time.
    void setPickRingCount(std::function<int(int)> pick) { m_pickRingCount = std::move(pick); }
    // The block and allow lists that screen callers as soon as their caller ID arrives.
    void setCallScreen(const CallBlockList *list) { m_screen.setList(list); }
    void setCallWatch(CallWatch watch) { m_watch = std::move(watch); }
    // The line's current call was blocked: it is answered and hung up without ringing on.
    bool isBlockedCall(int line) const { return m_screen.isBlocked(line); }
    // Sees each touch-tone key first; a key it takes (true) goes no further: neither the
    // touch-tone menu nor dtmf.txt hears of it (remote retrieval's PIN and menu keys).
    void setDigitFilter(std::function<bool(int line, QChar key)> filter) { m_digitFilter = std::move(filter); }

    // --- Line events ------------------------------------------------------------------------
    void LineCallback(std::uint32_t device, std::uint32_t message, std::uintptr_t instance, std::uint32_t param1,
                      std::uint32_t param2, std::uint32_t param3);
    void OnRing(HLine line, std::uint32_t param1, std::uint32_t param2, std::uint32_t param3);
    void OnCallState(HCall call, std::uint32_t param1, std::uint32_t param2, std::uint32_t param3);
    // 1 when it ran to the end, -1 when the call information could not be read.
    int OnCallerId(HCall call);

    // --- Call control ------------------------------------------------------------------------
    void AnswerCall(int line);
    void DropCall(int line);
    void SendSignalTone(int line);
    void StartDigitMonitor(int line);
    void Timer1_Timer(int line);
    void Timer3_Timer(int line);
    void Timer4_Timer(int line);
    // The far end's signalling says the dialled call on `line` was answered: its capture
    // becomes the recording now (or once Timer4 has started it), without waiting for the ear.
    void confirmDialledAnswer(int line);
    void timDropCall_Timer(int line);
    // Hands the number to the service on the line: false with "No Line" when the
    // line is not open, false for an empty number or a request the service refuses.
    bool MakeCall(int line, const QString &number);

    // --- The caller pop-up's buttons ------------------------------------------------------------
    void cmdAnswer_Click(int line);
    void cmdHangup_Click(int line);

    // --- State ---------------------------------------------------------------------------------
    LineTable &lineTable() { return m_lineTable; }
    const LineTable &lineTable() const { return m_lineTable; }
    // The call on `line`: every change of the line's call state and timers goes through it.
    LineCall &call(int line) { return m_lineTable.call(line); }
    CallerPopup &popup() { return *m_popup; }
    const PhoneBookTable &phoneBook() const { return m_phoneBook; }
    HLineApp hLineApp() const { return m_hLineApp; }
    std::uint32_t numDevs() const { return m_numDevs; }
    std::uint32_t apiVersion() const { return m_apiVersion; }
    int ringsToAnswer() const { return m_ringsToAnswer; }
    int popCount() const { return m_popCount; }
    const SetupOptions &setupOptions() const { return m_options; }
    QString callerNumber() const { return m_callerNumber; }
    QString callerName() const { return m_callerName; }
    // The name a recent caller's line gave with `number` (a SIP display name), printable; empty
    // when none did.
    QString sentName(const QString &number) const { return m_sentNames.value(number); }

private:
    QString lineText(int line) const { return QStringLiteral("Line") + QString::number(line); }
    // A dialled call ended before its recording: the dialler's watch then sees recState 0 and
    // makes the buttons Ready.
    void dialledCallEnded(int line, bool ended);
    void addStatus(const QString &text);
    // The call states, one handler each (LineCallback's LINE_CALLSTATE through OnCallState).
    void onIdle(HCall call);
    void onOffering(HCall call);
    void onConnected(HCall call, std::uint32_t connectedMode);
    void onDisconnected(HCall call);
    // The manual-answer pop-up shows the Answer and Hang Up buttons of a call just offered.
    void offerToPerson(int line);
    // The signal tone after the greeting has been sent (or cancelled): record the message.
    void onSignalToneSent(HCall call);
    // A touch-tone key of the caller.
    void onDigit(HCall call, std::uint32_t key);
    // A blocked call is no longer offered by the manual-answer pop-up.
    void withdrawOffer(int line);
    // Caller ID's parts (TelephonyCoreCallerId.cpp): the line in callerid.txt; the caller in
    // the pop-up's row of `line`, named by the phonebook where it knows the number (returns the
    // name shown); the name the line gave, kept for the mail when the phonebook has none.
    void appendCallerIdFile();
    QString showCaller(int line);
    void keepSentName();
    void watchCallState(int line, std::uint32_t state)
    {
        if (m_watch.callState)
            m_watch.callState(line, state);
    }

    TelephonyServices m_s;
    LineTable m_lineTable;
    std::unique_ptr<CallerPopup> m_popup;
    PhoneBookTable m_phoneBook;
    SetupOptions m_options;

    HLineApp m_hLineApp = 0;
    std::uint32_t m_numDevs = 0;
    std::uint32_t m_apiVersion = 0;
    std::array<std::uint32_t, 4> m_mediaModes{};
    int m_ringsToAnswer = 0;
    int m_popCount = 0;
    QString m_callerNumber;
    QString m_callerName;
    QHash<QString, QString> m_sentNames; // number -> the name it came with, recent callers only

    std::function<bool()> m_chkRingCount;
    std::function<bool()> m_chkLegal;
    std::function<void(const QString &)> m_setDialOut;
    std::function<void(int)> m_startDialerTimer;
    std::function<int(int)> m_pickRingCount;
    std::function<bool(int, QChar)> m_digitFilter;
    bool m_callerIdFileFailing = false; // said once; said again after it worked in between
    CallWatch m_watch;
    CallScreen m_screen;
};

} // namespace telvox
