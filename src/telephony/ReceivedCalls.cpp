#include "telephony/ReceivedCalls.h"

#include "core/Settings.h"

#include <array>

namespace telvox {

namespace {
QString positionKey(int k) { return QLatin1Char(' ') + QString::number(k); }
} // namespace

void AddReceivedCall(SettingsStore &settings, const QString &number)
{
    const QString section = QStringLiteral("Received");
    std::array<QString, 11> slot; // 1..10
    for (int k = 1; k <= 10; ++k)
        slot[static_cast<std::size_t>(k)] = settings.ReadSetting(section, positionKey(k));
    for (int k = 1; k <= 10; ++k) {
        if (slot[static_cast<std::size_t>(k)].isEmpty()) {
            slot[static_cast<std::size_t>(k)] = number;
            for (int i = 1; i <= k; ++i) {
                if (!slot[static_cast<std::size_t>(i)].isEmpty())
                    settings.WriteSetting(section, positionKey(i), slot[static_cast<std::size_t>(i)]);
            }
            return;
        }
    }
    for (int k = 1; k <= 9; ++k)
        settings.WriteSetting(section, positionKey(k), slot[static_cast<std::size_t>(k + 1)]);
    settings.WriteSetting(section, positionKey(10), number);
}

} // namespace telvox
