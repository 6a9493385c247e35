#pragma once

#include <QByteArray>
#include <QString>

namespace telvox {

class SettingsStore;

// The PIN that opens remote retrieval by telephone: 4 to 8 digits, kept in the options only
// as its Argon2id hash (section "Remote", key "PinHash"). No hash: remote retrieval is off.
namespace remotepin {

inline constexpr int kMinDigits = 4;
inline constexpr int kMaxDigits = 8;

enum class Result {
    Stored,      // a new PIN's hash replaced the old one
    Cleared,     // empty input: remote retrieval is off
    NotDigits,   // something other than 0-9 was given
    WrongLength, // fewer than 4 or more than 8 digits
    HashFailed,  // libsodium refused (out of memory)
};

QString section();
QString hashKey();

// Checks `pin` (blanks around it are ignored) and stores its hash, or removes the PIN when
// `pin` is empty. The PIN's bytes are wiped in every case.
Result store(SettingsStore &settings, QByteArray pin);
// The stored hash ("" when no PIN is set).
QByteArray storedHash(const SettingsStore &settings);
// What went wrong, in words for a terminal ("" for the two successes).
QString problemText(Result result);

} // namespace remotepin

} // namespace telvox
