#include "web/WebAuth.h"

#include "core/SecretHash.h"

#include <sodium.h>

namespace telvox {

namespace webpassword {

std::optional<QByteArray> hash(QByteArray password) { return secrethash::hash(std::move(password)); }

bool verify(const QByteArray &storedHash, QByteArray password)
{
    return secrethash::verify(storedHash, std::move(password));
}

QByteArray randomToken(int count)
{
    if (!secrethash::ready())
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
