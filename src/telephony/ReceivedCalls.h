#pragma once

#include <QString>

namespace telvox {

class SettingsStore;

// The list of the last ten caller numbers received: section "Received", keys " 1" (oldest) to
// " 10", in the settings store. A number goes into the first empty key; when all ten are
// taken the list moves up by one and the oldest entry is lost.
void AddReceivedCall(SettingsStore &settings, const QString &number);

} // namespace telvox
