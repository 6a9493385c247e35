#include "core/SecretHash.h"

#include <sodium.h>

namespace telvox::secrethash {

bool ready()
{
    // sodium_init is safe to call more than once; it returns 1 when already done.
    return sodium_init() >= 0;
}

void wipe(QByteArray &bytes)
{
    if (!bytes.isEmpty())
        sodium_memzero(bytes.data(), static_cast<size_t>(bytes.size()));
    bytes.clear();
}

std::optional<QByteArray> hash(QByteArray secret)
{
    if (!ready())
        return std::nullopt;
    char out[crypto_pwhash_STRBYTES];
    const int result = crypto_pwhash_str(out, secret.constData(), static_cast<unsigned long long>(secret.size()),
                                         crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE);
    wipe(secret);
    if (result != 0)
        return std::nullopt;
    return QByteArray(out);
}

bool verify(const QByteArray &storedHash, QByteArray secret)
{
    if (!ready() || storedHash.isEmpty() || storedHash.size() >= crypto_pwhash_STRBYTES) {
        wipe(secret);
        return false;
    }
    const QByteArray terminated = storedHash + '\0';
    const bool ok = crypto_pwhash_str_verify(terminated.constData(), secret.constData(),
                                             static_cast<unsigned long long>(secret.size()))
                    == 0;
    wipe(secret);
    return ok;
}

} // namespace telvox::secrethash
