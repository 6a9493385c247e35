// What the SIP lines tell the user: registrations (once per change), calls turned away, and
// the registration as `telvox --status` reports it.
#include "core/Texts.h"
#include "platform/telephony/sip/SipTelephony.h"
#include "platform/telephony/sip/SipTelephonyLine.h"

namespace telvox::sip {

// The day log hears of every call turned away; one turned away as busy (or while the line was
// closed) goes into the call records too, as a call the user missed. A stranger's (403) does
// not: a flood of them must not push the real callers out of the records.
void SipTelephony::refused(const Line &l, const StackEvent &event, int code)
{
    const QString number = QString::fromUtf8(event.caller.number);
    const QString name = QString::fromUtf8(event.caller.name);
    QString caller = number.isEmpty() ? QStringLiteral("?") : number;
    if (!name.isEmpty())
        caller = QStringLiteral("%1 <%2>").arg(name, caller);
    const SipNotice n{code == 403 ? notice::kRefusedStranger : notice::kRefusedBusy,
                      {QStringLiteral("Line%1").arg(l.index), caller,
                       event.reason.isEmpty() ? QString::number(code) : event.reason}};
    if (m_status)
        m_status(n);
    if (code != 403 && m_refused)
        m_refused(number);
}

// Tells the user what changed, once: a refresh of a working registration, or the same failure
// on every retry, is news to nobody.
void SipTelephony::registrationNews(Line &l, const StackEvent &event)
{
    if (event.kind == StackEvent::Kind::Registered) {
        if (l.reg != Line::Reg::Registered)
            tell(l.everRegistered ? notice::kRegisteredAgain : notice::kRegistered, l);
        l.reg = Line::Reg::Registered;
        l.lastRefresh = QDateTime::currentDateTime();
        l.everRegistered = true;
        l.lastFailure.clear();
        return;
    }
    if (l.reg == Line::Reg::Failing && l.lastFailure == event.reason)
        return;
    // No answer at all (code 0) after a working registration: the network went away.
    tell(event.certificate                                   ? notice::kCertificateRefused
         : event.code == 0 && l.reg == Line::Reg::Registered ? notice::kNetworkLost
                                                             : notice::kRegistrationFailed,
         l, event.reason);
    l.reg = Line::Reg::Failing;
    l.lastFailure = event.reason;
}

void SipTelephony::tell(int text, const Line &line, const QString &reason, const QString &third)
{
    if (!m_status)
        return;
    if (third.isNull())
        m_status(SipNotice{text, {QStringLiteral("Line%1").arg(line.index), line.config.setup.registrar, reason}});
    else
        m_status(SipNotice{text, {QStringLiteral("Line%1").arg(line.index), reason, third}});
}

QString SipTelephony::registrationReport(int index, const Texts &texts) const
{
    if (index < 0 || index >= lineCount())
        return {};
    const Line &l = *m_lines[static_cast<std::size_t>(index)];
    const QString registrar = l.config.setup.registrar;
    if (registrar.isEmpty())
        return texts.LoadText(1990).arg(QString::fromLatin1(m_stack.contactUri(index)));
    switch (l.reg) {
    case Line::Reg::Registered:
        return texts.LoadText(1987).arg(registrar, l.lastRefresh.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    case Line::Reg::Failing:
        return texts.LoadText(1988).arg(registrar, l.lastFailure);
    case Line::Reg::Unknown:
        break;
    }
    return texts.LoadText(1989).arg(registrar);
}

bool SipTelephony::registered(int index) const
{
    return index >= 0 && index < lineCount() && m_lines[static_cast<std::size_t>(index)]->reg == Line::Reg::Registered;
}

bool SipTelephony::callerWaiting(int index) const
{
    return index >= 0 && index < lineCount() && m_lines[static_cast<std::size_t>(index)]->waiting.has_value();
}

} // namespace telvox::sip
