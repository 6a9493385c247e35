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

} // namespace telvox::product
