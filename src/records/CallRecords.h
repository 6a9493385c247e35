#pragma once

#include <QString>
#include <QStringList>

namespace telvox {

class SettingsStore;

// The last ten numbers dialled (section "Made") and the last ten caller numbers received
// (section "Received") in the settings store, under the keys " 1" (oldest) to " 10". A number
// goes into the first empty key; when all ten are taken the list moves up by one and the
// oldest entry is lost. Duplicates stay.
inline constexpr int kCallRecordSlots = 10;

// The key of position k: the number with one leading blank (" 3").
QString callRecordKey(int position);

// The one algorithm behind both lists.
void AddCallRecord(SettingsStore &settings, const QString &section, const QString &number);
inline void AddMadeCall(SettingsStore &settings, const QString &number)
{
    AddCallRecord(settings, QStringLiteral("Made"), number);
}
inline void AddReceivedCall(SettingsStore &settings, const QString &number)
{
    AddCallRecord(settings, QStringLiteral("Received"), number);
}

// The non-empty values of keys " 1" to " 10" of the section, in key order.
QStringList readCallRecords(const SettingsStore &settings, const QString &section);

} // namespace telvox
