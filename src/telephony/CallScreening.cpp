// Call blocking: the decision made the moment a caller's ID arrives.

#include "telephony/TelephonyCore.h"

#include "core/EventLoop.h"
#include "core/TextFile.h"
#include "core/Texts.h"
#include "records/CallBlockList.h"
#include "records/MessageStore.h"
#include "records/StatusLog.h"

#include <QDir>

namespace telvox {

bool TelephonyCore::screenCaller(HCall call, const LineCallInfo &info)
{
    const int n = m_lineTable.lineOfCall(call);
    if (!m_callScreen || n < 0 || m_lineTable[n].outgoing)
        return false;
    if (m_blockedCall[static_cast<std::size_t>(n)])
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
    const QString number = comparableNumber(caller);
    bool inPhoneBook = false;
    for (int k = 0; k < PhoneBookTable::kEntries && kind == CallerKind::Number && !inPhoneBook; ++k)
        inPhoneBook = !number.isEmpty() && comparableNumber(m_phoneBook.entry(k).tele) == number;

    const BlockDecision decision = m_callScreen->check(kind, caller, inPhoneBook);
    if (!decision.blocked)
        return false;

    // Turned away now: no more rings, no greeting, no recording, no pop-up. With the notice the
    // call is answered, hears the refusal prompt and is hung up; else the line refuses it (a SIP
    // line with 486 or 603, an analog line by picking up and hanging up at once).
    m_blockedCall[static_cast<std::size_t>(n)] = true;
    this->call(n).takenBy(Answerer::Person);
    if (m_callScreen->options().notice)
        AnswerCall(n);
    else
        m_s.service.lineReject(call, m_callScreen->options().sipReject == 486 ? TelephonyService::RejectReason::Busy
                                                                              : TelephonyService::RejectReason::Declined);

    const QString who = kind == CallerKind::Withheld      ? m_s.texts.LoadText(1922)
                        : kind == CallerKind::Unavailable ? m_s.texts.LoadText(1923)
                                                          : caller;
    QString label = decision.label;
    if (label.isEmpty() && decision.reason == BlockDecision::Reason::NotInPhonebook)
        label = m_s.texts.LoadText(1924);
    addStatus(label.isEmpty() ? m_s.texts.LoadText(1921).arg(who) : m_s.texts.LoadText(1920).arg(who, label));
    if (!appendBlockedCall(m_s.store, BlockedCall{m_s.loop.currentDateTime(), who, label}))
        addStatus(m_s.texts.LoadText(1258).arg(who, QDir::toNativeSeparators(m_s.store.path()), m_s.store.errorText()));
    if (m_watch.callerId)
        m_watch.callerId(n, caller.trimmed(), label, true);

    if (m_options.actionMan && m_popup->row(n).answerVisible) {
        // The manual-answer pop-up offered the call at its offering; it is withdrawn.
        CallerPopup::Row &row = m_popup->row(n);
        row.answerVisible = false;
        row.hangupVisible = false;
        m_popup->refreshFrame();
        if (--m_popCount < 1) {
            m_popCount = 0;
            m_popup->unload();
        }
    }
    return true;
}

bool TelephonyCore::screenWithoutCallerId(int line, std::int32_t count)
{
    const auto n = static_cast<std::size_t>(line);
    if (!m_callScreen || m_callerIdKnown[n] || count < kCallerIdRing || m_lineTable[line].outgoing
        || m_lineTable[line].hCall == 0)
        return false;
    // Calls with caller ID were screened when it came, so no call waits for this.
    LineCallInfo none;
    none.callerIdFlags = CallPartyId::Unavail;
    return screenCaller(m_lineTable[line].hCall, none);
}

} // namespace telvox
