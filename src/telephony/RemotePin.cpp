#include "telephony/RemotePin.h"

#include "core/SecretHash.h"
#include "core/Settings.h"

namespace telvox::remotepin {

QString section() { return QStringLiteral("Remote"); }

QString hashKey() { return QStringLiteral("PinHash"); }

Result store(SettingsStore &settings, QByteArray pin)
{
    QByteArray digits = pin.trimmed();
    secrethash::wipe(pin);
    if (digits.isEmpty()) {
        settings.WriteSetting(section(), hashKey(), QString());
        return Result::Cleared;
    }
    Result problem = Result::Stored;
    for (char c : std::as_const(digits)) {
        if (c < '0' || c > '9')
            problem = Result::NotDigits;
    }
    if (problem == Result::Stored && (digits.size() < kMinDigits || digits.size() > kMaxDigits))
        problem = Result::WrongLength;
    if (problem != Result::Stored) {
        secrethash::wipe(digits);
        return problem;
    }
    const auto hash = secrethash::hash(std::move(digits));
    if (!hash)
        return Result::HashFailed;
    settings.WriteSetting(section(), hashKey(), QString::fromLatin1(*hash));
    return Result::Stored;
}

QByteArray storedHash(const SettingsStore &settings)
{
    return settings.ReadSetting(section(), hashKey()).trimmed().toLatin1();
}

QString problemText(Result result)
{
    switch (result) {
    case Result::Stored:
    case Result::Cleared:
        return {};
    case Result::NotDigits:
        return QStringLiteral("the PIN may hold only the digits 0 to 9");
    case Result::WrongLength:
        return QStringLiteral("the PIN needs %1 to %2 digits").arg(kMinDigits).arg(kMaxDigits);
    case Result::HashFailed:
        return QStringLiteral("cannot hash the PIN (libsodium failed)");
    }
    return {};
}

} // namespace telvox::remotepin
