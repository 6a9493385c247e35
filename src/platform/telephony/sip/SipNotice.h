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
inline constexpr int kRegistered = 1971;         // %1 line, %2 registrar
inline constexpr int kRegistrationFailed = 1972; // %1 line, %2 registrar, %3 reason ("403 Forbidden")
inline constexpr int kNetworkLost = 1973;        // %1 line, %2 registrar, %3 the system's reason
inline constexpr int kRegisteredAgain = 1974;    // %1 line, %2 registrar
inline constexpr int kCannotStart = 1975;        // %1 what failed
inline constexpr int kAnsweredElsewhere = 1976;  // %1 line
inline constexpr int kRefusedStranger = 1977;    // %1 line, %2 caller, %3 the sender's address
inline constexpr int kRefusedBusy = 1978;        // %1 line, %2 caller, %3 the sender's address
inline constexpr int kStrangerMedia = 1979;      // %1 line, %2 packets, %3 the sender's address
inline constexpr int kCertificateRefused = 1462; // %1 line, %2 registrar, %3 OpenSSL's reason
// The SIP module (SipModule.h) could not be used:
inline constexpr int kModuleMissing = 1241;    // %1 where it should be
inline constexpr int kModuleUnloadable = 1242; // %1 its file, %2 the loader's reason
inline constexpr int kModuleOtherBuild = 1243; // %1 its file, %2 its build, %3 the program's
} // namespace notice

} // namespace telvox::sip
