// The message store's mail forwarding queue.

#include "records/MessageStore.h"
#include "records/MessageStoreSql.h"

namespace telvox {

namespace {
const char *const kMailColumns = "SELECT id, recording, job, attempts, next_try, failed, last_error FROM mail_queue ";
} // namespace

std::optional<qint64> MessageStore::addMailJob(const QString &recording, const QByteArray &job, const QString &source)
{
    // Durable: once the recording is listed, its mail must not be lost to a power cut either.
    Transaction t(*this, true);
    if (!t.begun())
        return std::nullopt;
    if (!source.isEmpty()) {
        Statement known(m_db, "SELECT id FROM mail_queue WHERE source = ?1");
        if (known.bind(1, source).step() == SQLITE_ROW)
            return known.integer(0);
    }
    Statement add(m_db, "INSERT INTO mail_queue(recording, job, source) VALUES(?1, ?2, ?3)");
    if (!add.bind(1, recording).bind(2, job).bind(3, source).run()) {
        fail();
        return std::nullopt;
    }
    const qint64 id = sqlite3_last_insert_rowid(m_db);
    if (!t.commit())
        return std::nullopt;
    return id;
}

QList<MailJobState> MessageStore::mailJobs(bool failed) const
{
    QList<MailJobState> out;
    Statement st(m_db, (QByteArray(kMailColumns) + "WHERE failed = ?1 ORDER BY id").constData());
    st.bind(1, qint64(failed));
    while (st.step() == SQLITE_ROW) {
        MailJobState j;
        j.id = st.integer(0);
        j.recording = st.text(1);
        j.job = st.blob(2);
        j.attempts = int(st.integer(3));
        if (const qint64 ms = st.integer(4); ms > 0)
            j.nextTry = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
        j.failed = st.integer(5) != 0;
        j.lastError = st.text(6);
        out << j;
    }
    return out;
}

std::optional<MailJobState> MessageStore::mailJob(qint64 id) const
{
    for (bool failed : {false, true}) {
        for (const MailJobState &j : mailJobs(failed)) {
            if (j.id == id)
                return j;
        }
    }
    return std::nullopt;
}

bool MessageStore::mailJobSent(qint64 id)
{
    Statement st(m_db, "DELETE FROM mail_queue WHERE id = ?1");
    return st.bind(1, id).run() || fail();
}

bool MessageStore::mailJobRetry(qint64 id, int attempts, const QDateTime &nextTry, const QString &error)
{
    Statement st(m_db, "UPDATE mail_queue SET attempts = ?2, next_try = ?3, last_error = ?4 WHERE id = ?1");
    return st.bind(1, id).bind(2, qint64(attempts)).bind(3, nextTry.isValid() ? nextTry.toMSecsSinceEpoch() : 0).bind(4, error).run()
           || fail();
}

bool MessageStore::mailJobFailed(qint64 id, const QString &error)
{
    Statement st(m_db, "UPDATE mail_queue SET failed = 1, last_error = ?2 WHERE id = ?1");
    return st.bind(1, id).bind(2, error).run() || fail();
}

bool MessageStore::mailJobsDueNow()
{
    return exec("UPDATE mail_queue SET attempts = 0, next_try = 0 WHERE failed = 0");
}

} // namespace telvox
