#pragma once

#include "audio/RecordingFile.h"
#include "records/MessageStore.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace telvox {

class EventLoop;
class LineTable;
class MessageLists;
class RecordingJournal;
class StatusLog;
class Texts;
class Timer;
class UserPrompts;

// The one owner of a recording once the audio is written: it chooses the folder a call is
// recorded into, moves a journal to the fallback folder when the recordings folder fails,
// finishes the journal into its recording, lists it in the message store and tells the user
// of anything that went wrong. At start it turns journals left by a crash into recordings
// and reconciles the store with the folders.
//
// The folders are the truth. A recording in the recordings folder or the fallback folder
// that the store does not hold is listed unread ("found"); an entry whose file is gone
// leaves the lists. As listing is idempotent (one entry per file), a kill at any step of a
// recording's end lists it exactly once: before the rename the journal is recovered, after it
// the file is found.
//
// A recordings folder on another disk or a mount is remembered by its device and a marker
// file in it. While it is not there (its disk not mounted: the folder missing, or an empty
// mount point on the disk beneath), it is never made again; calls are recorded into the
// fallback folder, with a status line, and when it comes back the folders are reconciled.
class RecordingKeeper
{
public:
    struct Services
    {
        EventLoop &loop;
        LineTable &lines;
        MessageLists &lists;
        StatusLog &status;
        const Texts &texts;
        UserPrompts &prompts;
    };
    // The marker file that identifies a recordings folder.
    static QString markerName() { return QStringLiteral(".telvox-recordings"); }
    // While the recordings folder is away it is looked for this often, and a recording the
    // index could not take (its disk full) is listed again.
    static constexpr int kWatchMs = 10000;

    RecordingKeeper(Services services, QString recording, QString fallback);
    ~RecordingKeeper();
    RecordingKeeper(const RecordingKeeper &) = delete;
    RecordingKeeper &operator=(const RecordingKeeper &) = delete;

    void setFolders(const QString &recording, const QString &fallback);
    void setAlarmHandler(std::function<void(const QString &)> handler) { m_alarm = std::move(handler); }
    // The phonebook's name for a caller's number ("" when none), stored with each message.
    void setNameLookup(std::function<QString(const QString &)> nameOf) { m_nameOf = std::move(nameOf); }
    // The status line, the alarm handler and (with `box`) a message box shown from the event
    // loop; the same message box is not shown twice while its cause stands.
    void alarm(const QString &text, bool box = true);

    // Opens the journal of a new call in the recordings folder, or in the fallback folder when
    // the recordings folder cannot take it (saying so). False when neither can.
    bool openJournal(RecordingJournal &journal, const QString &name, OutputFormat format);
    // During a call: the journal's folder failed (`reason`); the journal moves to the fallback
    // folder. False when it is there already or cannot go.
    bool moveToFallback(RecordingJournal &journal, const QString &reason, int textId);
    bool isFallback(const QString &folder) const;
    // The end of a call's recording: finished, moved to the fallback folder when its folder
    // refuses, listed, the user told. Returns the entry listed ("" when none).
    QString finish(std::unique_ptr<RecordingJournal> journal, int slot);

    // Whether the recordings folder can be written (made when it is new, or was removed from
    // its disk); when not, says so and where calls are recorded instead.
    bool checkRecordingFolder();
    // Every journal a crash left in the recordings or fallback folder becomes its recording,
    // listed unread, with a status line each. Returns how many.
    int recoverRecordings();
    // Lists what the folders hold and the store does not; takes out of the lists what the
    // folders no longer hold. Returns how many entries changed.
    int reconcile();
    // Start-up: folder check, recovery, reconciliation.
    void startUp();

    // For tests of a kill: called after a recording's rename, before its listing; returning
    // false ends the finish there, as a kill would.
    void setAfterRename(std::function<bool()> hook) { m_afterRename = std::move(hook); }

private:
    enum class FolderState { Present, Missing, Unusable };
    // Looks at the recordings folder (see the class comment); makes it only where that is safe.
    FolderState lookAtFolder(QString *reason);
    void watchTick();
    QString listedName(const QString &folder, const QString &fileName) const;
    bool list(const QString &folder, const QString &fileName, int slot, MessageOrigin origin, bool unread);

    Services m_s;
    QString m_recording;
    QString m_fallback;
    std::function<void(const QString &)> m_alarm;
    std::function<bool()> m_afterRename;
    std::function<QString(const QString &)> m_nameOf;
    QString m_lastBox;
    bool m_missing = false; // the recordings folder's disk is away
    struct Pending
    {
        QString folder, fileName;
        int slot;
        MessageOrigin origin;
        bool unread;
        QString reason; // why the index refused it, as last told
    };
    std::vector<Pending> m_pending; // finished recordings the index refused so far
    std::unique_ptr<Timer> m_watch;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

// Seconds of audio in a recording file (from its header's format and its size).
int recordingSeconds(const QString &path);

} // namespace telvox
