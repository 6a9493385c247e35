// The message store's call records and small remembered values.

#include "records/MessageStore.h"
#include "records/MessageStoreSql.h"

#include <QHash>

namespace telvox {

namespace {
const QString kRecordTime = QStringLiteral("yyyy-MM-ddTHH:mm:ss");

QString timeText(const QDateTime &when)
{
    return when.isValid() ? when.toString(kRecordTime) : QString(QLatin1String(""));
}
} // namespace

int MessageStore::callRecordSlots(const QString &kind)
{
    return kind.compare(QLatin1String("Blocked"), Qt::CaseInsensitive) == 0 ? kBlockedCallsKept : kCallRecordSlots;
}

bool MessageStore::upgradeSchema()
{
    // Databases of the first version kept only the kind and number of a call record.
    bool hasTime = false;
    {
        Statement columns(m_db, "PRAGMA table_info(call_records)");
        while (columns.step() == SQLITE_ROW)
            hasTime = hasTime || columns.text(1) == QLatin1String("at");
    }
    if (hasTime)
        return true;
    Transaction t(*this);
    return t.begun() && exec("ALTER TABLE call_records ADD COLUMN at TEXT NOT NULL DEFAULT ''")
           && exec("ALTER TABLE call_records ADD COLUMN label TEXT NOT NULL DEFAULT ''") && t.commit();
}

bool MessageStore::addCallRecord(const QString &kind, const QString &number, const QDateTime &when, const QString &label)
{
    Transaction t(*this);
    Statement add(m_db, "INSERT INTO call_records(kind, number, at, label) VALUES(?1, ?2, ?3, ?4)");
    Statement trim(m_db, "DELETE FROM call_records WHERE kind = ?1 AND id NOT IN "
                         "(SELECT id FROM call_records WHERE kind = ?1 ORDER BY id DESC LIMIT ?2)");
    // Every record carries its time: the moment it is made, unless the caller knows better.
    const QDateTime at = when.isValid() ? when : QDateTime::currentDateTime();
    if (!t.begun() || !add.bind(1, kind).bind(2, number).bind(3, timeText(at)).bind(4, label).run()
        || !trim.bind(1, kind).bind(2, qint64(callRecordSlots(kind))).run())
        return fail();
    if (!t.commit())
        return false;
    emit changed();
    return true;
}

QStringList MessageStore::callRecords(const QString &kind) const
{
    QStringList out;
    for (const CallRecord &r : callRecordEntries(kind))
        out << r.number;
    return out;
}

QList<CallRecord> MessageStore::callRecordEntries(const QString &kind) const
{
    QList<CallRecord> out;
    Statement st(m_db, "SELECT number, at, label FROM call_records WHERE kind = ?1 ORDER BY id");
    st.bind(1, kind);
    while (st.step() == SQLITE_ROW)
        out << CallRecord{st.text(0), QDateTime::fromString(st.text(1), kRecordTime), st.text(2)};
    return out;
}

int MessageStore::importCallRecords(const QString &kind, const QList<CallRecord> &records)
{
    Transaction t(*this, true);
    if (!t.begun())
        return -1;
    // How often each record is held already; each one found uses up one of them.
    QHash<QString, int> held;
    const auto keyOf = [](const QString &when, const QString &number, const QString &label) {
        return when + QLatin1Char('\n') + number + QLatin1Char('\n') + label;
    };
    {
        Statement st(m_db, "SELECT at, number, label FROM call_records WHERE kind = ?1");
        st.bind(1, kind);
        while (st.step() == SQLITE_ROW)
            ++held[keyOf(st.text(0), st.text(1), st.text(2))];
    }
    int added = 0;
    for (const CallRecord &r : records) {
        int &count = held[keyOf(timeText(r.when), r.number, r.label)];
        if (count > 0) {
            --count;
            continue;
        }
        Statement add(m_db, "INSERT INTO call_records(kind, number, at, label) VALUES(?1, ?2, ?3, ?4)");
        if (!add.bind(1, kind).bind(2, r.number).bind(3, timeText(r.when)).bind(4, r.label).run()) {
            fail();
            return -1;
        }
        ++added;
    }
    Statement trim(m_db, "DELETE FROM call_records WHERE kind = ?1 AND id NOT IN "
                         "(SELECT id FROM call_records WHERE kind = ?1 ORDER BY id DESC LIMIT ?2)");
    if (!trim.bind(1, kind).bind(2, qint64(callRecordSlots(kind))).run()) {
        fail();
        return -1;
    }
    if (!t.commit())
        return -1;
    if (added > 0)
        emit changed();
    return added;
}

QString MessageStore::value(const QString &key) const
{
    Statement st(m_db, "SELECT value FROM store_values WHERE key = ?1");
    st.bind(1, key);
    return st.step() == SQLITE_ROW ? st.text(0) : QString();
}

bool MessageStore::setValue(const QString &key, const QString &value)
{
    Statement st(m_db, "INSERT OR REPLACE INTO store_values(key, value) VALUES(?1, ?2)");
    return st.bind(1, key).bind(2, value).run() || fail();
}

} // namespace telvox
