#include "web/WebAuth.h"

#include <sodium.h>

namespace telvox {

namespace webpassword {

namespace {

bool sodiumReady()
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

} // namespace

std::optional<QByteArray> hash(QByteArray password)
{
    if (!sodiumReady())
        return std::nullopt;
    char out[crypto_pwhash_STRBYTES];
    const int result = crypto_pwhash_str(out, password.constData(), static_cast<unsigned long long>(password.size()),
                                         crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE);
    wipe(password);
    if (result != 0)
        return std::nullopt;
    return QByteArray(out);
}

bool verify(const QByteArray &storedHash, QByteArray password)
{
    if (!sodiumReady() || storedHash.isEmpty() || storedHash.size() >= crypto_pwhash_STRBYTES) {
        wipe(password);
        return false;
    }
    const QByteArray terminated = storedHash + '\0';
    const bool ok = crypto_pwhash_str_verify(terminated.constData(), password.constData(),
                                             static_cast<unsigned long long>(password.size()))
                    == 0;
    wipe(password);
    return ok;
}

QByteArray randomToken(int count)
{
    if (!sodiumReady())
        return {};
    QByteArray bytes(count, Qt::Uninitialized);
    randombytes_buf(bytes.data(), static_cast<size_t>(bytes.size()));
    return bytes.toHex();
}

} // namespace webpassword

WebSessions::WebSessions(std::function<qint64()> now, qint64 idleMs)
    : m_now(std::move(now))
    , m_idleMs(idleMs)
{
}

QByteArray WebSessions::open()
{
    forgetExpired();
    const QByteArray id = webpassword::randomToken();
    m_sessions.insert(id, Session{webpassword::randomToken(), m_now()});
    return id;
}

const WebSessions::Session *WebSessions::find(const QByteArray &id, bool touch)
{
    if (id.isEmpty())
        return nullptr;
    const auto it = m_sessions.find(id);
    if (it == m_sessions.end())
        return nullptr;
    const qint64 now = m_now();
    if (now - it->lastUse >= m_idleMs) {
        m_sessions.erase(it);
        return nullptr;
    }
    if (touch)
        it->lastUse = now;
    return &*it;
}

void WebSessions::close(const QByteArray &id) { m_sessions.remove(id); }

void WebSessions::forgetExpired()
{
    const qint64 now = m_now();
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if (now - it->lastUse >= m_idleMs)
            it = m_sessions.erase(it);
        else
            ++it;
    }
}

LoginThrottle::LoginThrottle(std::function<qint64()> now)
    : m_now(std::move(now))
{
}

qint64 LoginThrottle::waitMs(const QString &address) const
{
    const auto it = m_records.constFind(address);
    if (it == m_records.constEnd())
        return 0;
    return qMax<qint64>(0, it->until - m_now());
}

void LoginThrottle::failed(const QString &address)
{
    if (!m_records.contains(address) && m_records.size() >= kMaxAddresses) {
        // Many addresses: forget those that may try again anyway, so the table stays bounded.
        const qint64 now = m_now();
        for (auto it = m_records.begin(); it != m_records.end();)
            it = it->until <= now ? m_records.erase(it) : std::next(it);
    }
    Record &r = m_records[address];
    ++r.failures;
    if (r.failures > kFreeFailures) {
        const int doublings = qMin(r.failures - kFreeFailures - 1, 20);
        r.until = m_now() + qMin<qint64>(qint64(1000) << doublings, kMaxWaitMs);
    }
}

void LoginThrottle::succeeded(const QString &address) { m_records.remove(address); }

} // namespace telvox
