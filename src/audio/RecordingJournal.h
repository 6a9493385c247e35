#pragma once

#include "audio/RecordingFile.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QString>

#include <vector>

namespace telvox {

// A journal left behind by a process that ended without finishing it.
struct RecoveredRecording
{
    QString folder;
    QString fileName;  // the recording it became
    QDateTime started; // when the call's recording started, from the name
    QString caller;    // the caller ID in the name ("" when none)
    qint64 dataBytes = 0;
};

// Turns every journal in `folder` that no running process holds into its recording: the
// data cut to whole blocks, the header rebuilt from its length, the rename as at the end of
// a call. Journals too short for a recording are removed.
std::vector<RecoveredRecording> recoverJournals(const QString &folder);

// The audio of a call as it arrives, in a hidden file next to where the recording will be
// (".<name>.<pid>-<n>.part" in the recordings folder, so that the final rename stays on one
// file system). The file starts with the wave header of the output format with a length of 0
// and grows by every buffer, written through to the system at once and to the disk at least
// once a second: a crash or a power cut loses at most the last second. At the end of the call
// the header gets the final length and the file is renamed to the recording's name; a journal
// left by a crash is turned into its recording at the next start (recoverJournals).
//
// While a journal is open it holds an exclusive lock on the file, so that a journal of a
// process still running is never taken for one left by a crash.
class RecordingJournal
{
public:
    RecordingJournal() = default;
    ~RecordingJournal();
    RecordingJournal(const RecordingJournal &) = delete;
    RecordingJournal &operator=(const RecordingJournal &) = delete;

    // Creates the journal of the recording `finalName` in `folder` (exclusive create, mode
    // 0600). False with error() set when it cannot.
    bool open(const QString &folder, const QString &finalName, OutputFormat format);
    bool isOpen() const { return m_fd >= 0; }

    // Appends audio. A write that fails (or writes only part) takes the file back to its last
    // whole block, so that what stays is always a valid recording; false with error() set.
    bool append(const char *data, qint64 size);
    // Forces the written audio to the disk when the last sync is a second old or more.
    void syncIfDue();

    // Whether the journal's path still leads to this file (its folder was not removed,
    // renamed or unmounted).
    bool stillInPlace() const;
    // Moves the journal, with the audio so far, into `folder` and goes on there. False (the
    // journal stays where it was) when the new one cannot be made.
    bool relocate(const QString &folder);

    // Ends the journal: the header with the final length, the data to the disk, then the
    // rename to the recording's name in the journal's folder (a name already taken gets "_2",
    // "_3", ... before ".wav"; nothing is ever overwritten). A recording below the minimum
    // size is removed. On failure the journal file stays (error() says why) and can still
    // be relocated or recovered.
    WriteOutcome finish();
    // Removes the journal and its audio.
    void discard();

    qint64 dataBytes() const { return m_dataBytes; }
    QString path() const { return m_path; }
    QString folder() const { return m_folder; }
    QString finalName() const { return m_finalName; }
    int error() const { return m_error; }
    QString errorText() const;

    // The journal name of a recording name, and back ("" when `journalName` is none).
    static QString journalNameFor(const QString &finalName, int serial);
    static QString finalNameOf(const QString &journalName);
    static bool isJournalName(const QString &name);

private:
    friend std::vector<RecoveredRecording> recoverJournals(const QString &folder);
    bool fail(int error);
    void close();

    int m_fd = -1;
    QString m_folder;
    QString m_path;
    QString m_finalName;
    OutputFormat m_format = OutputFormat::Pcm;
    qint64 m_headerBytes = 0;
    qint64 m_dataBytes = 0;
    int m_error = 0;
    QElapsedTimer m_sinceSync;
};

// The time stamp and caller part of a recording name ("A2026-12-04~08-30-15~555.wav").
QDateTime recordingStartOf(const QString &recordingName);
QString recordingCallerOf(const QString &recordingName);

} // namespace telvox
