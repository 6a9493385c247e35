#include "records/MessageStore.h"
#include "records/MessageStoreSql.h"

#include "core/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace telvox {

namespace {

const char *const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS messages(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  path TEXT NOT NULL UNIQUE,
  entry TEXT NOT NULL,
  caller TEXT NOT NULL DEFAULT '',
  caller_name TEXT NOT NULL DEFAULT '',
  started TEXT NOT NULL DEFAULT '',
  seconds INTEGER NOT NULL DEFAULT 0,
  line INTEGER NOT NULL DEFAULT -1,
  kind TEXT NOT NULL DEFAULT '',
  unread INTEGER NOT NULL DEFAULT 0,
  listed INTEGER NOT NULL DEFAULT 1,
  seq INTEGER NOT NULL,
  origin INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS messages_list ON messages(listed, unread, seq);
CREATE TABLE IF NOT EXISTS call_records(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  kind TEXT NOT NULL,
  number TEXT NOT NULL,
  at TEXT NOT NULL DEFAULT '',
  label TEXT NOT NULL DEFAULT '');
CREATE TABLE IF NOT EXISTS mail_queue(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  recording TEXT NOT NULL,
  job BLOB NOT NULL,
  attempts INTEGER NOT NULL DEFAULT 0,
  next_try INTEGER NOT NULL DEFAULT 0,
  failed INTEGER NOT NULL DEFAULT 0,
  last_error TEXT NOT NULL DEFAULT '',
  source TEXT NOT NULL DEFAULT '');
CREATE TABLE IF NOT EXISTS store_values(key TEXT PRIMARY KEY, value TEXT NOT NULL);
)sql";

const char *const kColumns =
    "SELECT id, path, entry, caller, caller_name, started, seconds, line, kind, unread, listed, origin FROM messages ";

const QString kTimeFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss");
const QString kMigratedKey = QStringLiteral("migrated-options-file");

// Sections of the options file of earlier versions, with their first and last key.
struct OldList
{
    const char *section;
    int first, last;
};
constexpr OldList kOldLists[] = {{"Data", 0, 49}, {"DataUnread", 0, 49}, {"Made", 1, 10}, {"Received", 1, 10}};

QString cleanPath(const QString &path) { return QDir::cleanPath(QFileInfo(path).absoluteFilePath()); }

QString resolveEntry(const QString &entry, const QString &folder)
{
    return cleanPath(QDir::isAbsolutePath(entry) ? entry : QDir(folder).filePath(entry));
}

// What a recording's own name says: "A2026-12-04~08-30-15~5551234.wav".
NewMessage describeName(const QString &entry, const QString &path)
{
    NewMessage m;
    m.entry = entry;
    m.path = path;
    const QString name = QFileInfo(path).fileName();
    m.time = QDateTime::fromString(name.mid(1, 19), QStringLiteral("yyyy-MM-dd~HH-mm-ss"));
    if (m.time.isValid() && name.mid(20, 1) == QLatin1String("~")) {
        QString caller = name.mid(21);
        if (caller.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive))
            caller.chop(4);
        m.caller = caller;
    }
    m.unread = recordingKindOf(name) == QLatin1Char('A');
    return m;
}

} // namespace

QChar recordingKindOf(const QString &fileName)
{
    const QChar c = fileName.isEmpty() ? QChar() : fileName.at(0);
    return c == QLatin1Char('A') || c == QLatin1Char('M') || c == QLatin1Char('O') ? c : QChar();
}

QString StoredMessage::path() const { return QDir(folder).filePath(fileName); }

MessageStore::MessageStore(const QString &path, QObject *parent)
    : QObject(parent)
    , m_path(path)
{
    m_persistent = openAt(path);
    if (!m_persistent) {
        const QString reason = m_error;
        if (m_db)
            sqlite3_close(m_db);
        m_db = nullptr;
        openAt(QStringLiteral(":memory:"));
        m_error = reason;
    }
}

MessageStore::~MessageStore()
{
    if (!m_db)
        return;
    // An index made by this run that still holds nothing a start cannot work out again: the
    // checkpoint at closing, which moves its pages from the WAL into the file, need not wait
    // for the disk (three flushes). Lost to a power cut, the next start makes it again.
    if (m_created && holdsOnlyDerivedValues())
        exec("PRAGMA synchronous=OFF");
    sqlite3_close(m_db);
}

bool MessageStore::holdsOnlyDerivedValues() const
{
    Statement version(m_db, "PRAGMA data_version");
    if (version.step() != SQLITE_ROW || version.integer(0) != m_dataVersionAtOpen)
        return false;
    Statement rows(m_db, "SELECT EXISTS(SELECT 1 FROM messages) OR EXISTS(SELECT 1 FROM call_records) "
                         "OR EXISTS(SELECT 1 FROM mail_queue)");
    return rows.step() == SQLITE_ROW && rows.integer(0) == 0;
}

bool MessageStore::openAt(const QString &path)
{
    const bool memory = path == QLatin1String(":memory:");
    bool empty = false;
    if (!memory) {
        // The index is as private as the recordings: made 0600 before SQLite opens it (its
        // WAL and shared-memory files take the same mode).
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) {
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        struct stat st{};
        empty = ::fstat(fd, &st) == 0 && st.st_size == 0;
        ::close(fd);
    }
    if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)
        != SQLITE_OK)
        return fail();
    sqlite3_busy_timeout(m_db, 5000); // the companion commands and the service share the file
    if (!memory) {
        // A new, empty index holds nothing that could be lost: its switch to WAL (which writes
        // the first page through a rollback journal) and its tables need not wait for the disk
        // (four flushes, and two more for the new WAL's header). Everything after them runs
        // with the usual synchronous=NORMAL below.
        if (empty && !exec("PRAGMA synchronous=OFF"))
            return false;
        Statement wal(m_db, "PRAGMA journal_mode=WAL");
        if (wal.step() != SQLITE_ROW || wal.text(0) != QLatin1String("wal"))
            return fail();
    }
    // The index keeps a row for every recording it has known; a small page cache keeps what the
    // program holds in memory from growing with them (the lists it reads are a few pages).
    if (!empty && !exec("PRAGMA synchronous=NORMAL"))
        return false;
    if (!exec("PRAGMA foreign_keys=ON") || !exec("PRAGMA cache_size=-256") || !exec(kSchema) || !upgradeSchema())
        return false;
    if (!empty)
        return true;
    if (!exec("PRAGMA synchronous=NORMAL"))
        return false;
    Statement version(m_db, "PRAGMA data_version");
    if (version.step() != SQLITE_ROW)
        return fail();
    m_created = true;
    m_dataVersionAtOpen = version.integer(0);
    return true;
}

bool MessageStore::exec(const char *sql)
{
    char *message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    m_error = QString::fromUtf8(message ? message : sqlite3_errmsg(m_db));
    sqlite3_free(message);
    return false;
}

bool MessageStore::fail()
{
    m_error = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("out of memory");
    return false;
}

qint64 MessageStore::nextSeq()
{
    Statement st(m_db, "SELECT COALESCE(MAX(seq), 0) + 1 FROM messages");
    return st.step() == SQLITE_ROW ? st.integer(0) : 1;
}

bool MessageStore::trimList(bool unread)
{
    Statement st(m_db, "UPDATE messages SET listed = 0 WHERE listed = 1 AND unread = ?1 AND id NOT IN "
                       "(SELECT id FROM messages WHERE listed = 1 AND unread = ?1 ORDER BY seq DESC LIMIT ?2)");
    return st.bind(1, qint64(unread)).bind(2, qint64(kListCapacity)).run() || fail();
}

// --- Reading ----------------------------------------------------------------------------------

QList<StoredMessage> MessageStore::query(const char *where, const QString &arg, qint64 id) const
{
    QList<StoredMessage> out;
    Statement st(m_db, (QByteArray(kColumns) + where).constData());
    if (!arg.isNull())
        st.bind(1, arg);
    else if (id != 0)
        st.bind(1, id);
    int rc;
    while ((rc = st.step()) == SQLITE_ROW) {
        StoredMessage m;
        m.id = st.integer(0);
        const QFileInfo file(st.text(1));
        m.folder = file.path();
        m.fileName = file.fileName();
        m.entry = st.text(2);
        m.caller = st.text(3);
        m.callerName = st.text(4);
        m.time = QDateTime::fromString(st.text(5), kTimeFormat);
        m.seconds = int(st.integer(6));
        m.line = int(st.integer(7));
        const QString kind = st.text(8);
        m.kind = kind.isEmpty() ? QChar() : kind.at(0);
        m.unread = st.integer(9) != 0;
        m.listed = st.integer(10) != 0;
        m.origin = static_cast<MessageOrigin>(st.integer(11));
        out << m;
    }
    if (rc != SQLITE_DONE)
        m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
    return out;
}

QList<StoredMessage> MessageStore::messages(List list) const
{
    return query(list == List::Unread ? "WHERE listed = 1 AND unread = 1 ORDER BY seq"
                                      : "WHERE listed = 1 AND unread = 0 ORDER BY seq");
}

std::optional<StoredMessage> MessageStore::message(qint64 id) const
{
    const QList<StoredMessage> found = query("WHERE id = ?1", QString(), id);
    return found.isEmpty() ? std::nullopt : std::optional<StoredMessage>(found.first());
}

QList<StoredMessage> MessageStore::messagesIn(const QString &folder) const
{
    // Compared in code rather than with LIKE, whose wildcards a folder name may contain.
    const QString clean = cleanPath(folder);
    QList<StoredMessage> out;
    for (const StoredMessage &m : query("ORDER BY seq")) {
        if (m.folder == clean)
            out << m;
    }
    return out;
}

std::optional<StoredMessage> MessageStore::messageAt(const QString &path) const
{
    const QList<StoredMessage> found = query("WHERE path = ?1", cleanPath(path));
    return found.isEmpty() ? std::nullopt : std::optional<StoredMessage>(found.first());
}

// --- Changing ---------------------------------------------------------------------------------

bool MessageStore::insert(const NewMessage &m, std::optional<qint64> *id)
{
    Statement st(m_db, "INSERT INTO messages(path, entry, caller, caller_name, started, seconds, line, kind, "
                       "unread, listed, seq, origin) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?12, ?10, ?11)");
    const QString path = cleanPath(m.path);
    const QChar kind = recordingKindOf(QFileInfo(path).fileName());
    st.bind(1, path).bind(2, m.entry).bind(3, m.caller).bind(4, m.callerName);
    st.bind(5, m.time.isValid() ? m.time.toString(kTimeFormat) : QString(QLatin1String("")));
    st.bind(6, qint64(m.seconds)).bind(7, qint64(m.line));
    st.bind(8, kind.isNull() ? QString(QLatin1String("")) : QString(kind));
    st.bind(9, qint64(m.unread)).bind(10, nextSeq()).bind(11, qint64(m.origin)).bind(12, qint64(m.listed));
    if (!st.run() || (m.listed && !trimList(m.unread)))
        return fail();
    if (id)
        *id = sqlite3_last_insert_rowid(m_db);
    return true;
}

std::optional<qint64> MessageStore::addMessage(const NewMessage &message, bool *alreadyKnown)
{
    if (alreadyKnown)
        *alreadyKnown = false;
    Transaction t(*this, true);
    if (!t.begun())
        return std::nullopt;
    if (const std::optional<StoredMessage> known = messageAt(message.path)) {
        if (alreadyKnown)
            *alreadyKnown = true;
        return known->id;
    }
    std::optional<qint64> id;
    if (!insert(message, &id) || !t.commit())
        return std::nullopt;
    emit changed();
    return id;
}

int MessageStore::addMessages(const QList<NewMessage> &messages)
{
    Transaction t(*this);
    if (!t.begun())
        return -1;
    int added = 0;
    for (const NewMessage &m : messages) {
        if (messageAt(m.path))
            continue;
        if (!insert(m, nullptr))
            return -1;
        ++added;
    }
    if (!t.commit())
        return -1;
    if (added > 0)
        emit changed();
    return added;
}

bool MessageStore::setListed(qint64 id, bool listed, std::optional<bool> unread)
{
    const std::optional<StoredMessage> m = message(id);
    if (!m)
        return false;
    Transaction t(*this);
    if (!t.begun())
        return false;
    if (unread) {
        Statement st(m_db, "UPDATE messages SET listed = 1, unread = ?2, seq = ?3 WHERE id = ?1");
        if (!st.bind(1, id).bind(2, qint64(*unread)).bind(3, nextSeq()).run() || !trimList(*unread))
            return fail();
    } else {
        Statement st(m_db, "UPDATE messages SET listed = ?2 WHERE id = ?1");
        if (!st.bind(1, id).bind(2, qint64(listed)).run())
            return fail();
    }
    if (!t.commit())
        return false;
    emit changed();
    return true;
}

bool MessageStore::markRead(qint64 id)
{
    const std::optional<StoredMessage> m = message(id);
    if (!m)
        return false;
    return (m->listed && !m->unread) || setListed(id, true, false);
}

bool MessageStore::markUnread(qint64 id)
{
    const std::optional<StoredMessage> m = message(id);
    if (!m)
        return false;
    return (m->listed && m->unread) || setListed(id, true, true);
}

bool MessageStore::removeFromList(qint64 id) { return setListed(id, false, std::nullopt); }

bool MessageStore::forget(qint64 id)
{
    Transaction t(*this);
    Statement st(m_db, "DELETE FROM messages WHERE id = ?1");
    if (!t.begun() || !st.bind(1, id).run())
        return fail();
    if (sqlite3_changes(m_db) == 0)
        return false;
    if (!t.commit())
        return false;
    emit changed();
    return true;
}

bool MessageStore::replaceLists(const QStringList &recent, const QStringList &unread, const QString &recordingFolder)
{
    Transaction t(*this);
    if (!t.begun() || !exec("UPDATE messages SET listed = 0"))
        return false;
    const auto put = [&](const QStringList &entries, bool isUnread) {
        for (const QString &entry : entries) {
            const QString path = resolveEntry(entry, recordingFolder);
            Statement st(m_db, "UPDATE messages SET listed = 1, unread = ?2, seq = ?3, entry = ?4 WHERE path = ?1");
            if (!st.bind(1, path).bind(2, qint64(isUnread)).bind(3, nextSeq()).bind(4, entry).run())
                return fail();
            if (sqlite3_changes(m_db) > 0)
                continue;
            NewMessage m = describeName(entry, path);
            m.unread = isUnread;
            if (!insert(m, nullptr))
                return false;
        }
        return trimList(isUnread);
    };
    if (!put(recent, false) || !put(unread, true) || !t.commit())
        return false;
    emit changed();
    return true;
}

// --- The options file of earlier versions -----------------------------------------------------

QDateTime MessageStore::inUseSince() const { return QDateTime::fromString(value(kMigratedKey), kTimeFormat); }

int MessageStore::migrateFromSettings(SettingsStore &settings, const QString &recordingFolder)
{
    // The sections as spelt in the file (sections compare without regard to case).
    QStringList present;
    for (const QString &group : settings.sections()) {
        for (const OldList &old : kOldLists) {
            if (group.compare(QLatin1String(old.section), Qt::CaseInsensitive) == 0)
                present << group;
        }
    }
    if (!m_persistent)
        return -1; // the old lists stay where they are rather than go into a database in memory
    int moved = 0;
    if (value(kMigratedKey).isEmpty()) {
        QList<QStringList> lists;
        for (const OldList &old : kOldLists) {
            QStringList entries;
            for (int k = old.first; k <= old.last; ++k) {
                const QString v = settings.ReadSetting(QLatin1String(old.section), listEntryKey(k));
                if (!v.isEmpty())
                    entries << v;
            }
            moved += int(entries.size());
            lists << entries;
        }
        // On the disk before the old sections go below; with none to remove (a new user) the
        // mark that the migration ran needs no wait for the disk.
        Transaction t(*this, !present.isEmpty());
        if (!t.begun())
            return -1;
        const auto put = [&](const QStringList &entries, bool isUnread) {
            for (const QString &entry : entries) {
                const QString path = resolveEntry(entry, recordingFolder);
                if (messageAt(path))
                    continue; // the same file twice in the old lists: one entry
                NewMessage m = describeName(entry, path);
                m.unread = isUnread;
                m.origin = MessageOrigin::Migrated;
                if (!insert(m, nullptr))
                    return false;
            }
            return true;
        };
        if (!put(lists[0], false) || !put(lists[1], true))
            return -1;
        for (int i : {2, 3}) {
            for (const QString &number : std::as_const(lists[i])) {
                Statement st(m_db, "INSERT INTO call_records(kind, number) VALUES(?1, ?2)");
                if (!st.bind(1, QLatin1String(kOldLists[i].section)).bind(2, number).run())
                {
                    fail();
                    return -1;
                }
            }
        }
        if (!setValue(kMigratedKey, QDateTime::currentDateTime().toString(kTimeFormat)) || !t.commit())
            return -1;
        if (moved > 0)
            emit changed();
    }
    // Only now, with the database's commit on the disk, do the old sections go. When this
    // write fails they stay, unused; the next start removes them. (Through the options
    // file's own writer: the file is never written by another hand.)
    if (!present.isEmpty()) {
        SettingsStore::Batch batch(settings);
        for (const QString &group : std::as_const(present))
            settings.removeSection(group);
    }
    return moved;
}

} // namespace telvox
