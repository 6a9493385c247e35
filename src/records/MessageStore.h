#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

struct sqlite3;

namespace telvox {

class SettingsStore;

// How a message came into the index.
enum class MessageOrigin {
    Call,      // the end of a call listed it
    Recovered, // made from a journal a crash left behind
    Fallback,  // recorded into the fallback folder because the recordings folder failed
    Found,     // found in a recordings folder without an entry (a kill before its listing)
    Migrated,  // moved from the options file of an earlier version
};

// One recording known to the index, with what the windows, a web page and the telephone menu
// show of it.
struct StoredMessage
{
    qint64 id = 0;        // stable for the life of the entry
    QString entry;        // the text of the lists: a file name, or a whole path outside the recordings folder
    QString folder;       // where the file is
    QString fileName;
    QString caller;       // the caller's number ("" when none)
    QString callerName;   // the phonebook's name for it, when known
    QDateTime time;       // when the recording started
    int seconds = 0;      // length of the audio
    int line = -1;        // the line it came from (-1: unknown)
    QChar kind;           // 'A' answered, 'M' monitored, 'O' outgoing, or null for a foreign name
    bool unread = false;
    bool listed = true;   // shown in a list (false once deleted from it or pushed out by newer ones)
    MessageOrigin origin = MessageOrigin::Call;

    QString path() const;
};

// One call record: a number dialled, received or turned away.
struct CallRecord
{
    QString number;
    QDateTime when; // invalid for records of an earlier version that kept no time
    QString label;  // for a blocked call, the label of the rule that matched
};

// One mail of the forwarding queue.
struct MailJobState
{
    qint64 id = 0;
    QString recording;   // the recording's path
    QByteArray job;      // the composed mail
    int attempts = 0;    // temporary failures so far
    QDateTime nextTry;   // UTC; invalid: at once
    bool failed = false; // refused for good, or it could not be made
    QString lastError;
};

// A finished recording to be listed.
struct NewMessage
{
    QString entry;
    QString path; // the file (absolute)
    QString caller;
    QString callerName;
    QDateTime time;
    int seconds = 0;
    int line = -1;
    bool unread = false;
    bool listed = true; // false: known to the index, shown in no list
    MessageOrigin origin = MessageOrigin::Call;
};

// The index of messages and call records: one SQLite database in the program folder
// ("messages.db"), shared by the desktop program, the service and the companion commands.
//
// The database runs in WAL mode, so a reader (the companion's --list) never blocks the
// program, and every change is one transaction: a kill leaves the index as it was before or
// after the change, never between. The connection runs with synchronous=NORMAL, where a
// commit survives the process being killed but a power cut may undo the last commits; the
// commit that lists a finished recording switches to synchronous=FULL, so that once the
// program says a message was recorded, its entry is on the disk as surely as its audio
// (which was synced before its rename).
//
// Each recording is entered once, by its path: listing it again finds the entry and changes
// nothing, which makes listing idempotent (a start after a kill may find a recording a
// second time). An entry that leaves the lists (Delete, or pushed out by newer ones) is kept
// unlisted, so that a reconciliation does not list it again while its file exists.
class MessageStore final : public QObject
{
    Q_OBJECT
public:
    enum class List { Unread, Recent };
    static constexpr int kListCapacity = 50;
    static constexpr int kCallRecordSlots = 10;
    static constexpr int kBlockedCallsKept = 200;
    static QString defaultFileName() { return QStringLiteral("messages.db"); }

    // Opens (creating when missing) the database at `path`. When that fails the store works
    // in memory for this run: isPersistent() is false and errorText() says why.
    explicit MessageStore(const QString &path, QObject *parent = nullptr);
    ~MessageStore() override;
    MessageStore(const MessageStore &) = delete;
    MessageStore &operator=(const MessageStore &) = delete;

    bool isPersistent() const { return m_persistent; }
    QString path() const { return m_path; }
    // The last failure ("" when none).
    QString errorText() const { return m_error; }

    // --- Messages -----------------------------------------------------------------------------
    // The listed messages of one list, oldest first (the order of the windows' lists).
    QList<StoredMessage> messages(List list) const;
    std::optional<StoredMessage> message(qint64 id) const;
    // Every entry whose file is in `folder`, listed or not.
    QList<StoredMessage> messagesIn(const QString &folder) const;
    std::optional<StoredMessage> messageAt(const QString &path) const;

    // Lists a finished recording at the bottom of its list (unread or recent); above fifty the
    // oldest entry of that list leaves it. A recording the index already holds is left as it
    // is. Returns the id, or nothing when the database refused (errorText() says why).
    // `alreadyKnown` tells the two successes apart.
    std::optional<qint64> addMessage(const NewMessage &message, bool *alreadyKnown = nullptr);
    // Enters many recordings at once, in one transaction (a folder's recordings taken in as
    // they are); those the index holds already are skipped. Returns how many were entered, or
    // -1 when the database refused (then none was).
    int addMessages(const QList<NewMessage> &messages);
    // Played, or marked by hand: the message moves to the bottom of the recent list.
    bool markRead(qint64 id);
    // Back to the bottom of the unread list.
    bool markUnread(qint64 id);
    // The desktop's Delete: the entry leaves its list; the file stays.
    bool removeFromList(qint64 id);
    // Forgets the entry altogether (its file is gone).
    bool forget(qint64 id);
    // Replaces both lists by these entries (oldest first), e.g. after a backup moved the
    // recordings away or its undo brought them back. Entries are paths, or names in
    // `recordingFolder`.
    bool replaceLists(const QStringList &recent, const QStringList &unread, const QString &recordingFolder);

    // --- Call records ("Made", "Received", "Blocked") --------------------------------------
    // The last ten numbers of "Made" and "Received" are kept, the last kBlockedCallsKept of
    // "Blocked" (calls turned away, with the time and the label of the rule that matched).
    static int callRecordSlots(const QString &kind);
    // `when` invalid: now.
    bool addCallRecord(const QString &kind, const QString &number, const QDateTime &when = QDateTime(),
                       const QString &label = QString());
    QStringList callRecords(const QString &kind) const; // oldest first
    QList<CallRecord> callRecordEntries(const QString &kind) const; // oldest first
    // Takes in records kept elsewhere by an earlier version, oldest first, in one transaction.
    // A record the store holds already (same time, number and label, as often as it occurs
    // among `records`) is not entered again, so a second run after a kill adds nothing.
    // Returns how many were entered, or -1 when the database refused (then none was).
    int importCallRecords(const QString &kind, const QList<CallRecord> &records);

    // --- The mail forwarding queue --------------------------------------------------------
    // A mail waits in the queue from the moment its recording is listed until the server took
    // it (the job leaves) or refused it for good (the job stays, marked failed). `job` is the
    // composed mail as the forwarder keeps it; `source` names where an earlier version's
    // queue kept it ("" for a new one): a job taken from the same source twice is entered once.
    std::optional<qint64> addMailJob(const QString &recording, const QByteArray &job, const QString &source = QString());
    QList<MailJobState> mailJobs(bool failed = false) const; // oldest first
    std::optional<MailJobState> mailJob(qint64 id) const;
    bool mailJobSent(qint64 id);
    // A temporary failure: tried again at `nextTry`.
    bool mailJobRetry(qint64 id, int attempts, const QDateTime &nextTry, const QString &error);
    // Refused for good, or it cannot be made (its recording is gone): kept, not tried again.
    bool mailJobFailed(qint64 id, const QString &error);
    // Every waiting job is due now, its attempts forgotten (new credentials).
    bool mailJobsDueNow();

    // --- Small remembered values (the recordings folder's device, ...) -----------------------
    QString value(const QString &key) const;
    bool setValue(const QString &key, const QString &value);

    // Moves the lists and call records of an options file written by an earlier version
    // ("Data", "DataUnread", "Made", "Received") into the database, once: in one transaction,
    // and only after its commit are the old sections removed from the options file. Returns
    // how many entries were moved (0 when there was nothing or it was done before), or -1 when
    // the database refused (the options file is then left untouched and the next start tries
    // again).
    int migrateFromSettings(SettingsStore &settings, const QString &recordingFolder);
    // When this database was first opened by the program (its first migration); invalid
    // before that.
    QDateTime inUseSince() const;

signals:
    // Anything in the index changed (a view reloads what it shows).
    void changed();

private:
    class Statement;
    class Transaction;
    bool openAt(const QString &path);
    // Brings a database made by an earlier version up to the present tables.
    bool upgradeSchema();
    bool exec(const char *sql);
    bool fail();
    qint64 nextSeq();
    // Keeps at most fifty entries listed in the list `unread` chooses.
    bool trimList(bool unread);
    bool setListed(qint64 id, bool listed, std::optional<bool> unread);
    bool insert(const NewMessage &m, std::optional<qint64> *id);
    QList<StoredMessage> query(const char *where, const QString &arg = QString(), qint64 id = 0) const;

    // Whether the index holds no message, call record or mail, and no other process wrote
    // into it since this one opened it: then it holds only what a start works out again (the
    // recordings folder it saw, the folders it took stock of).
    bool holdsOnlyDerivedValues() const;

    sqlite3 *m_db = nullptr;
    QString m_path;
    bool m_persistent = false;
    bool m_created = false; // the file was new (empty) when this store opened it
    qint64 m_dataVersionAtOpen = 0;
    mutable QString m_error;
};

// The kind letter of a recording name ('A', 'M', 'O'), or a null QChar for another name.
QChar recordingKindOf(const QString &fileName);

} // namespace telvox
