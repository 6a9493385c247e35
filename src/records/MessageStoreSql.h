#pragma once

// The SQLite statement and transaction helpers the message store's source files share.

#include "records/MessageStore.h"

#include <QByteArray>
#include <QString>

#include <sqlite3.h>

namespace telvox {

class MessageStore::Statement
{
public:
    Statement(sqlite3 *db, const char *sql) { m_rc = sqlite3_prepare_v2(db, sql, -1, &m_st, nullptr); }
    ~Statement() { sqlite3_finalize(m_st); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool prepared() const { return m_rc == SQLITE_OK && m_st; }
    Statement &bind(int i, const QString &text)
    {
        const QByteArray utf8 = text.toUtf8();
        if (prepared())
            sqlite3_bind_text(m_st, i, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement &bind(int i, const QByteArray &blob)
    {
        if (prepared())
            sqlite3_bind_blob(m_st, i, blob.constData(), int(blob.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement &bind(int i, qint64 value)
    {
        if (prepared())
            sqlite3_bind_int64(m_st, i, value);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return prepared() ? sqlite3_step(m_st) : m_rc; }
    bool run() { return step() == SQLITE_DONE; }
    QString text(int col) const
    {
        const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(m_st, col));
        return p ? QString::fromUtf8(p, sqlite3_column_bytes(m_st, col)) : QString();
    }
    QByteArray blob(int col) const
    {
        const auto *p = static_cast<const char *>(sqlite3_column_blob(m_st, col));
        return p ? QByteArray(p, sqlite3_column_bytes(m_st, col)) : QByteArray();
    }
    qint64 integer(int col) const { return sqlite3_column_int64(m_st, col); }

private:
    sqlite3_stmt *m_st = nullptr;
    int m_rc = SQLITE_ERROR;
};

// One change, all or nothing: rolled back unless committed.
class MessageStore::Transaction
{
public:
    explicit Transaction(MessageStore &store, bool durable = false)
        : m_store(store)
        , m_durable(durable)
    {
        if (m_durable)
            m_store.exec("PRAGMA synchronous=FULL");
        m_begun = m_store.exec("BEGIN IMMEDIATE");
    }
    ~Transaction()
    {
        if (m_begun && !m_done)
            sqlite3_exec(m_store.m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        if (m_durable)
            sqlite3_exec(m_store.m_db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    }
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    bool begun() const { return m_begun; }
    bool commit()
    {
        m_done = m_begun && m_store.exec("COMMIT");
        return m_done;
    }

private:
    MessageStore &m_store;
    bool m_durable;
    bool m_begun = false;
    bool m_done = false;
};

} // namespace telvox
