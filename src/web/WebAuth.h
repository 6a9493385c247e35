#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <functional>
#include <optional>

namespace telvox {

// Argon2id password hashes in libsodium's one-string form ("$argon2id$v=19$m=...").
// Only the hash is ever stored; the password is wiped from memory once hashed or checked.
namespace webpassword {
// Nothing when libsodium cannot start or runs out of memory.
std::optional<QByteArray> hash(QByteArray password);
bool verify(const QByteArray &storedHash, QByteArray password);
// `count` random bytes as lower-case hex (session ids, CSRF tokens).
QByteArray randomToken(int count = 32);
} // namespace webpassword

// The signed-in browsers: a random session id (the cookie) with its CSRF token, forgotten
// after `idleMs` without a request, or at log-out. Times come from `now` (milliseconds).
class WebSessions
{
public:
    struct Session
    {
        QByteArray csrf;
        qint64 lastUse = 0;
    };

    WebSessions(std::function<qint64()> now, qint64 idleMs);

    // A new session; returns its id.
    QByteArray open();
    // The live session of `id`, its idle time restarted when `touch`; null when unknown or
    // expired (an expired one is forgotten).
    const Session *find(const QByteArray &id, bool touch = true);
    void close(const QByteArray &id);
    qint64 idleMs() const { return m_idleMs; }
    int count() const { return static_cast<int>(m_sessions.size()); }

private:
    void forgetExpired();

    std::function<qint64()> m_now;
    qint64 m_idleMs;
    QHash<QByteArray, Session> m_sessions;
};

// Slows log-in down after failures from one address: the first kFreeFailures failures cost
// nothing; after that, each failure doubles the wait before the next attempt is heard
// (1 s, 2 s, 4 s ... up to kMaxWaitMs). A success clears the address's record.
class LoginThrottle
{
public:
    static constexpr int kFreeFailures = 3;
    static constexpr qint64 kMaxWaitMs = 5 * 60 * 1000;
    static constexpr int kMaxAddresses = 10000;

    explicit LoginThrottle(std::function<qint64()> now);

    // Milliseconds the address must still wait before an attempt is heard; 0 when it may try.
    qint64 waitMs(const QString &address) const;
    void failed(const QString &address);
    void succeeded(const QString &address);

private:
    struct Record
    {
        int failures = 0;
        qint64 until = 0;
    };
    std::function<qint64()> m_now;
    QHash<QString, Record> m_records;
};

} // namespace telvox
