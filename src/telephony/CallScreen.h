#pragma once

#include "platform/telephony/TelephonyService.h"
#include "telephony/LineTable.h"

#include <QString>

#include <array>
#include <cstdint>
#include <functional>

namespace telvox {

class CallBlockList;
class PhoneBookTable;
struct BlockDecision;
struct CallWatch;
struct TelephonyServices;
enum class CallerKind;

// Call blocking for the four lines: the decision made the moment a caller's ID arrives (or at
// the ring by which it should have), and the turning away of a blocked call. Keeps, per line,
// whether the current call was blocked and whether its caller is known yet.
class CallScreen
{
public:
    // What turning a call away asks of the rest of the call flow.
    struct Actions
    {
        std::function<void(int line)> answer;        // answers the call, for the refusal notice
        std::function<void(int line)> withdrawOffer; // the pop-up stops offering the call
    };

    // Everything is owned by the telephony core, which owns the screen.
    CallScreen(const TelephonyServices &services, LineTable &lines, const PhoneBookTable &phoneBook,
               const CallWatch &watch, Actions actions);

    // The lists that decide; none (the default) blocks no one.
    void setList(const CallBlockList *list) { m_list = list; }
    // The line's current call was blocked: it is answered and hung up without ringing on.
    bool isBlocked(int line) const { return m_blocked.at(static_cast<std::size_t>(line)); }
    // A new call was offered on the line: nothing is decided about it yet.
    void callOffered(int line);
    // The line's call went idle.
    void callEnded(int line) { m_blocked.at(static_cast<std::size_t>(line)) = false; }

    // True when the caller of `call` is blocked, which answers or refuses the call at once.
    bool screen(HCall call, const LineCallInfo &info);
    // Caller ID comes in the pause after the first ring; a call that reaches this ring
    // without any is a call without caller ID, and the lists' "unavailable" entries apply.
    static constexpr std::int32_t kCallerIdRing = 2;
    // At ring `count` of `line`'s call: true when it has been screened as a call without
    // caller ID and blocked.
    bool screenWithoutCallerId(int line, std::int32_t count);

private:
    // Whether the caller's number is one of the phonebook's, compared as the lists compare.
    bool inPhoneBook(const QString &number) const;
    void turnAway(int line, HCall call, CallerKind kind, const QString &caller, const BlockDecision &decision);

    const TelephonyServices &m_s;
    LineTable &m_lines;
    const PhoneBookTable &m_phoneBook;
    const CallWatch &m_watch;
    Actions m_actions;
    const CallBlockList *m_list = nullptr;
    std::array<bool, kLineCount> m_blocked{};
    // Caller ID (or the decision that none came) is known for the line's current call.
    std::array<bool, kLineCount> m_callerIdKnown{};
};

} // namespace telvox
