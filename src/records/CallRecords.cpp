#include "records/CallRecords.h"

#include "core/Settings.h"

#include <array>

namespace telvox {

QString callRecordKey(int position) { return listEntryKey(position); }

void AddCallRecord(SettingsStore &settings, const QString &section, const QString &number)
{
    std::array<QString, kCallRecordSlots + 1> slot; // 1..10
    for (int k = 1; k <= kCallRecordSlots; ++k)
        slot[static_cast<std::size_t>(k)] = settings.ReadSetting(section, callRecordKey(k));

    SettingsStore::Batch batch(settings);
    for (int k = 1; k <= kCallRecordSlots; ++k) {
        if (slot[static_cast<std::size_t>(k)].isEmpty()) {
            // The first free slot takes the number; the ones before it keep theirs.
            settings.WriteSetting(section, callRecordKey(k), number);
            return;
        }
    }
    for (int k = 1; k < kCallRecordSlots; ++k)
        settings.WriteSetting(section, callRecordKey(k), slot[static_cast<std::size_t>(k + 1)]);
    settings.WriteSetting(section, callRecordKey(kCallRecordSlots), number);
}

QStringList readCallRecords(const SettingsStore &settings, const QString &section)
{
    QStringList values;
    for (int k = 1; k <= kCallRecordSlots; ++k) {
        const QString value = settings.ReadSetting(section, callRecordKey(k));
        if (!value.isEmpty())
            values << value;
    }
    return values;
}

} // namespace telvox
