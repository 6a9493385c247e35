#pragma once

#include <QHash>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace telvox {

class EventLoop;
class Timer;

// Lenient decimal parse of a stored value: leading blanks, an optional sign and the digits
// that follow; anything that is not a number counts as 0 ("12ab" -> 12, "x" -> 0).
int parseLenientInt(const QString &text);

// The per-user settings store: (section, key) -> string, with the application name fixed by
// the file it lives in. Sections and keys compare without regard to case, as a registry does;
// a key is kept exactly as first written, leading blanks included (" 0"). The file is read
// with QSettings' INI reader and written by this class alone: the whole file goes to a new
// file beside it, which is flushed to the disk and checked before it takes the file's name, so
// neither a killed process nor a full disk ever leaves a file that is empty, cut short or fails
// to load. (One save skips the flushes: the one that creates the file from values every start
// works out again, see Batch.) A write of the value already stored does not touch the file. Only
// WriteSettingLater's values may wait, for at most a minute. What another process saved in the
// meantime is read in before each save, this process's changes on top.
//
// The file is the user's options, so it is never silently lost: before each rewrite the file
// as it was (one that loaded, or whose own save was checked) is kept as "<file>.bak"; every
// save is checked; a file that cannot be read, is damaged or is empty while its copy is not, is
// put aside as "<file>.damaged-<time>" and the copy restored. A save that fails (a full disk)
// leaves the file on disk as it was and is tried again with the next write. Each of these is
// told once through the file-event handler.
class SettingsStore
{
public:
    struct FileEvent
    {
        enum class Kind {
            Restored,      // the file could not be used; the last good copy took its place
            Unrecoverable, // the file could not be used and there was no good copy: defaults
            SaveFailed,    // a save failed; the file keeps what was saved before
            SavedAgain,    // saving works again after a failure
        };
        // Why the file could not be used or saved.
        enum class Cause {
            System,  // the system's reason, in `reason`
            Empty,   // the file is empty while its last good copy is not
            Damaged, // the file is not in the options file's form
        };
        Kind kind;
        Cause cause = Cause::System;
        QString reason; // the system's words (Cause::System)
        QString keptAs; // where the unusable file was put (Restored, Unrecoverable)
    };
    // Events that happened before a handler was set (at loading) are handed to it at once.
    void setFileEventHandler(std::function<void(const FileEvent &)> handler);
    QString backupFile() const { return m_storeFile + QStringLiteral(".bak"); }

    // `storeFile`: the INI file; `journalFile`: "settings.txt" in the program folder.
    SettingsStore(const QString &storeFile, const QString &journalFile);
    ~SettingsStore();

    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    QString ReadSetting(const QString &section, const QString &key, const QString &defaultValue = QString()) const;
    void WriteSetting(const QString &section, const QString &key, const QString &value);
    // Stores the value, then (unless the section is exactly "Data") appends
    // section@key@value CR LF to the journal. A journal that cannot be written is skipped.
    void WriteSettingJournaled(const QString &section, const QString &key, const QString &value);
    void WriteSettingJournaled(const QString &section, const QString &key, int value);
    // For values a crash may lose (call counters, learned ring gaps): readable at once, written
    // to the file with the next write that reaches it, or by a timer of `loop` kDeferMs after
    // the oldest waiting value, or when the store closes. Saves one file rewrite per ring.
    // `loop` must outlive the store.
    void WriteSettingLater(EventLoop &loop, const QString &section, const QString &key, const QString &value);
    // WriteSettingLater with the journal line appended at once (a value the next start can
    // derive again, such as the first start's language).
    void WriteSettingJournaledLater(EventLoop &loop, const QString &section, const QString &key, const QString &value);
    static constexpr int kDeferMs = 60000;

    QString storeFile() const;
    // The sections of the file as spelt there.
    QStringList sections() const;
    // Removes the section (every spelling of it) and its keys from the file.
    void removeSection(const QString &section);

    // Writes inside a batch reach the file together when the outermost batch ends (saving the
    // hundred list keys at once rather than rewriting the file a hundred times).
    // A batch made `Derived` holds only values every start works out again (defaults, what the
    // machine has): when its save creates the file, the save does not wait for the disk. A
    // power cut that then loses the new file loses nothing a start does not write again. A save
    // that replaces an existing file, or holds a plain write made outside such a batch, always
    // waits.
    enum class Kind { Plain, Derived };
    class Batch
    {
    public:
        explicit Batch(SettingsStore &store, Kind kind = Kind::Plain)
            : m_store(store)
        {
            if (m_store.m_batchDepth++ == 0)
                m_store.m_batchDerived = kind == Kind::Derived;
        }
        ~Batch()
        {
            if (--m_store.m_batchDepth == 0) {
                m_store.sync();
                m_store.m_batchDerived = false;
            }
        }
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;

    private:
        SettingsStore &m_store;
    };
    QString journalFile() const { return m_journalFile; }

private:
    // The group and key names as stored, when an entry matching without regard to case exists.
    QString storedPath(const QString &section, const QString &key) const;
    // The section as spelt in the store, when one matches without regard to case.
    QString storedGroup(const QString &section) const;
    // Where a write of (section, key) goes: the stored spelling of the key or of its section.
    QString writePath(const QString &section, const QString &key) const;
    // Puts the waiting values in, then writes the file if anything changed (else reads in what
    // another process saved).
    void sync();
    // Checks the file at start-up and restores the last good copy when it cannot be used.
    void checkLoadedFile();
    // Makes the backup the file as it is now (a hard link, or a copy where links fail).
    void keepBackup();
    void fileEvent(const FileEvent &event);

    struct Waiting
    {
        QString section, key, value;
    };
    // The identity of the file as last read or written, to notice a save by another process.
    struct FileStamp
    {
        qint64 inode = -1, size = -1, mtimeNs = -1;
        bool operator==(const FileStamp &) const = default;
    };
    FileStamp stampOnDisk() const;
    // Reads the file into m_values, this process's unsaved changes on top. False (and nothing
    // changed) when it cannot be read or holds nothing while the values held here do.
    bool loadFile();
    // Writes m_values as the file (see the class comment); the system's reason when it fails.
    // `durable`: the new file and its name are on the disk before it returns.
    bool writeFile(QString *reason, bool durable);
    void setValue(const QString &path, const std::optional<QString> &value);

    QString m_storeFile;
    QString m_journalFile;
    QMap<QString, QVariant> m_values;                 // "group/key" -> value, as the file holds them
    QMap<QString, std::optional<QString>> m_changes;  // not yet saved: new values, or removals
    FileStamp m_stamp;
    bool m_dirty = false;       // values set since the last save
    bool m_fileGood = false;    // the file on disk loaded, or its save was checked
    bool m_saveFailing = false; // the last save failed
    std::vector<FileEvent> m_pendingEvents;
    std::function<void(const FileEvent &)> m_eventHandler;
    int m_batchDepth = 0;
    bool m_batchDerived = false; // the outermost batch is Kind::Derived
    bool m_mustLast = false;     // the unsaved changes include a plain write (see Batch)
    QHash<QString, Waiting> m_waiting; // by lower-case "section/key"
    std::unique_ptr<Timer> m_waitTimer;
};

// The key of entry `index` of a numbered list in the store: " 0", " 1", ... (with the blank).
inline QString listEntryKey(int index) { return QLatin1Char(' ') + QString::number(index); }

// Learned ring gaps of the four lines: entry [line][k] for k = 1..6 (index 0 unused).
using RingGapTable = std::array<std::array<int, 7>, 4>;

// Reads "Line"+n / "Param"+k (default "6500") for every line and k; a value above 13000 is
// used as 13000 and "13000" is written back to the store.
RingGapTable loadRingGaps(SettingsStore &store);

// Compares "Modem" / "Line"+n with the device name shown for line n. For each line whose
// name changed: "Param1" = "6500" and "Calls" = "50" (plain writes), ringGap[n][1] = 6500, and
// the new name stored with the journaled writer. Returns a bit mask of the lines that changed.
unsigned checkModemChanges(SettingsStore &store, const std::array<QString, 4> &deviceNames, RingGapTable &ringGap);

} // namespace telvox
