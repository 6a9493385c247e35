#pragma once

#include <QString>
#include <QStringList>

namespace telvox {
class Texts;
}

namespace telvox::sip {

// What the SIP lines have to tell the user, before it is put into words: the English number of
// a text in the string table and the values of its %1, %2, ... ("Line1" comes first).
struct SipNotice
{
    int text = 0;
    QStringList args;

    QString format(const Texts &texts) const;
};

namespace notice {
inline constexpr int kRegistered = 2001;         // %1 line, %2 registrar
inline constexpr int kRegistrationFailed = 2002; // %1 line, %2 registrar, %3 reason ("403 Forbidden")
inline constexpr int kNetworkLost = 2003;        // %1 line, %2 registrar, %3 the system's reason
inline constexpr int kRegisteredAgain = 2004;    // %1 line, %2 registrar
inline constexpr int kCannotStart = 2005;        // %1 what failed
} // namespace notice

} // namespace telvox::sip
