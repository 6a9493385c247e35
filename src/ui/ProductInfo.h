#pragma once

#include <QString>

namespace telvox::product {

inline QString title() { return QStringLiteral("Telvox"); }
inline constexpr int versionMajor = 2;
inline constexpr int versionMinor = 4;
inline constexpr int versionRevision = 5;
inline QString version()
{
    return QStringLiteral("%1.%2.%3").arg(versionMajor).arg(versionMinor).arg(versionRevision);
}
// Where users write to and read about Telvox (the About window's links).
inline QString mailAddress() { return QStringLiteral("support@telvox.example"); }
inline QString webPage() { return QStringLiteral("https://telvox.example/"); }

} // namespace telvox::product
