#pragma once

#include <QByteArray>

#include <optional>

namespace telvox {

// Argon2id hashes of secrets (the web password, the telephone PIN) in libsodium's one-string
// form ("$argon2id$v=19$m=..."). Only the hash is ever stored; the secret is wiped from memory
// once hashed or checked.
namespace secrethash {
// Nothing when libsodium cannot start or runs out of memory.
std::optional<QByteArray> hash(QByteArray secret);
bool verify(const QByteArray &storedHash, QByteArray secret);
// Overwrites the bytes with zeros and empties them.
void wipe(QByteArray &bytes);
// libsodium is ready (initialised once, on first use).
bool ready();
} // namespace secrethash

} // namespace telvox
