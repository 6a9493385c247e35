#pragma once

#include <QString>
#include <QStringList>

namespace telvox {
class Texts;
}

namespace telvox::modem {

// What the modem backend has to tell the user, before it is put into words: the English
// number of a text in the string table and the values of its %1, %2, ... The backend stays
// free of any language; whoever shows the notice formats it in the language of the program.
struct ModemNotice
{
    int text = 0;
    QStringList args;
    int line = -1; // the line it concerns ("Line2 ..."), or -1

    // The notice in the language of `texts`, with "LineN " in front when it concerns a line.
    QString format(const Texts &texts) const;
    // The notice in English, from the table built into the program (traces and tools).
    QString english() const;

    bool isEmpty() const { return text == 0; }
};

// The texts of the notices (English numbers; the string table holds all three languages).
namespace notice {
inline constexpr int kNoPermission = 1601;      // %1 port: the account is not in "dialout"
inline constexpr int kBusyModemManager = 1602;  // %1 port: in use, perhaps by ModemManager
inline constexpr int kNotPlugged = 1603;        // %1 port
inline constexpr int kInUse = 1604;             // %1 port
inline constexpr int kCannotOpenWhy = 1605;     // %1 port, %2 the system's reason
inline constexpr int kLocked = 1606;            // %1 port: a lock file names a running program
inline constexpr int kNoModem = 1607;           // none found: the virtual exchange is used
inline constexpr int kCannotOpen = 1608;        // %1 port
inline constexpr int kGone = 1609;              // %1 port
inline constexpr int kUnplugged = 1610;         // %1 port
inline constexpr int kCannotWrite = 1611;       // %1 port
inline constexpr int kNotAnswering = 1612;      // %1 port
inline constexpr int kReadyNoCallerId = 1613;   // %1 modem name, %2 port
inline constexpr int kNotVoice = 1614;          // %1 port, %2 device name
inline constexpr int kReady = 1615;             // %1 name, %2 port, %3 chip family, %4 sample format
inline constexpr int kRefusesRecord = 1616;     // %1 port, %2 the modem's reply
inline constexpr int kRefusesPlay = 1617;       // %1 port, %2 the modem's reply
inline constexpr int kDialFailed = 1618;        // %1 the modem's reply
inline constexpr int kLeftInCall = 1619;        // %1 port: found streaming voice data at open
inline constexpr int kRecoveredByReset = 1620;  // %1 port: answered only after DTR and a retry
inline constexpr int kSampleLayout = 1621;      // %1 port, %2 the layout now used
inline constexpr int kReceiveStalled = 1622;    // %1 port: no voice data during a recording
inline constexpr int kResetItself = 1623;       // %1 port: echo back on, settings lost
// The numbers after kResetItself up to 1644 are left for other notices of the port.
inline constexpr int kReceiveResumed = 1645;    // %1 port: it left voice receive by itself
inline constexpr int kReceiveNotResumed = 1646; // %1 port, %2 the modem's reply to AT+VRX
inline constexpr int kFirst = kNoPermission;
inline constexpr int kLast = kReceiveNotResumed;
} // namespace notice

} // namespace telvox::modem
