// Call blocking: the decision made the moment a caller's ID arrives.

#include "telephony/CallScreen.h"

#include "core/EventLoop.h"
#include "core/TextFile.h"
#include "core/Texts.h"
#include "records/CallBlockList.h"
#include "records/MessageStore.h"
#include "records/StatusLog.h"
#include "telephony/LineCall.h"
#include "telephony/PhoneBookTable.h"
#include "telephony/TelephonyCore.h"

#include <QDir>

namespace telvox {

CallScreen::CallScreen(const TelephonyServices &services, LineTable &lines, const PhoneBookTable &phoneBook,
                       const CallWatch &watch, Actions actions)
    : m_s(services)
    , m_lines(lines)
    , m_phoneBook(phoneBook)
    , m_watch(watch)
    , m_actions(std::move(actions))
{
}

void CallScreen::callOffered(int line)
{
    const auto n = static_cast<std::size_t>(line);
    m_blocked.at(n) = false;
    m_callerIdKnown.at(n) = false;
}

bool CallScreen::inPhoneBook(const QString &number) const
{
    if (number.isEmpty())
        return false;
    for (int k = 0; k < PhoneBookTable::kEntries; ++k) {
        if (comparableNumber(m_phoneBook.entry(k).tele) == number)
            return true;
    }
    return false;
}

bool CallScreen::screen(HCall call, const LineCallInfo &info)
{
    const int n = m_lines.lineOfCall(call);
    if (!m_list || n < 0 || m_lines[n].outgoing)
        return false;
    if (m_blocked[static_cast<std::size_t>(n)])
        return true; // decided already (caller ID that came with the offering)
    m_callerIdKnown[static_cast<std::size_t>(n)] = true;
    // Printable only, as everywhere else the caller's bytes are shown or stored.
    const QString caller
        = (info.callerIdFlags & CallPartyId::Address) ? printableText(textField(info.callerIdNumber)) : QString();
    CallerKind kind = CallerKind::Number;
    if (info.callerIdFlags & CallPartyId::Blocked)
        kind = CallerKind::Withheld;
    else if (caller.trimmed().isEmpty())
        kind = CallerKind::Unavailable;
    // The phonebook's numbers are compared as the lists compare them ("555-1234" is 5551234).
    const bool listed = kind == CallerKind::Number && inPhoneBook(comparableNumber(caller));

    const BlockDecision decision = m_list->check(kind, caller, listed);
    if (!decision.blocked)
        return false;
    turnAway(n, call, kind, caller, decision);
    return true;
}

void CallScreen::turnAway(int line, HCall call, CallerKind kind, const QString &caller, const BlockDecision &decision)
{
    // No more rings, no greeting, no recording, no pop-up. With the notice the call is
    // answered, hears the refusal prompt and is hung up; else the line refuses it (a SIP line
    // with 486 or 603, an analog line by picking up and hanging up at once).
    m_blocked[static_cast<std::size_t>(line)] = true;
    m_lines.call(line).takenBy(Answerer::Person);
    if (m_list->options().notice)
        m_actions.answer(line);
    else
        m_s.service.lineReject(call, m_list->options().sipReject == 486 ? TelephonyService::RejectReason::Busy
                                                                        : TelephonyService::RejectReason::Declined);

    const QString who = kind == CallerKind::Withheld      ? m_s.texts.LoadText(1922)
                        : kind == CallerKind::Unavailable ? m_s.texts.LoadText(1923)
                                                          : caller;
    QString label = decision.label;
    if (label.isEmpty() && decision.reason == BlockDecision::Reason::NotInPhonebook)
        label = m_s.texts.LoadText(1924);
    m_s.status.AddStatus(label.isEmpty() ? m_s.texts.LoadText(1921).arg(who) : m_s.texts.LoadText(1920).arg(who, label));
    if (!appendBlockedCall(m_s.store, BlockedCall{m_s.loop.currentDateTime(), who, label}))
        m_s.status.AddStatus(
            m_s.texts.LoadText(1258).arg(who, QDir::toNativeSeparators(m_s.store.path()), m_s.store.errorText()));
    if (m_watch.callerId)
        m_watch.callerId(line, caller.trimmed(), label, true);
    m_actions.withdrawOffer(line);
}

bool CallScreen::screenWithoutCallerId(int line, std::int32_t count)
{
    const auto n = static_cast<std::size_t>(line);
    if (!m_list || m_callerIdKnown[n] || count < kCallerIdRing || m_lines[line].outgoing || m_lines[line].hCall == 0)
        return false;
    // Calls with caller ID were screened when it came, so no call waits for this.
    LineCallInfo none;
    none.callerIdFlags = CallPartyId::Unavail;
    return screen(m_lines[line].hCall, none);
}

} // namespace telvox
