#pragma once

#include "core/AppPaths.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <memory>

class QTextStream;

namespace telvox {

class MessageLists;
class MessageStore;
class SettingsStore;
class Texts;

// What a recording's name and header tell: "A2026-12-04~08-30-15~5551234.wav" is a message
// ("A"; "M" a conversation, "O" a dialled call) of that local time from 5551234.
struct RecordingInfo
{
    QString name;
    QString path;
    QChar mode;
    QDateTime when;       // invalid when the name holds no time stamp
    QString number;       // caller (or dialled) number, "" when unknown
    QString phoneBookName; // the phonebook's name for the number, "" when none
    qint64 lengthMs = -1; // -1: not a readable wave file
};

// No phonebook file ("") leaves the name empty.
RecordingInfo describeRecording(const QString &folder, const QString &name, const QString &phoneBookFile);

// The folder recordings are written to: "SaveFile", or the program folder when none is set.
QString recordingFolderOf(const AppPaths &paths, const SettingsStore &settings);

// The unread messages and the recent recordings, one per line with date, length, number and
// phonebook name, and where they are (read from the message store in the program folder).
QStringList recordingListing(const AppPaths &paths, SettingsStore &settings, const Texts &texts);

// The last numbers received and dialled.
QStringList lastCallsReport(const MessageStore &store, const Texts &texts);

// The commands that read the program folder, for a service nobody looks at. They work while
// the service runs: changes to the lists are left to it, through its control socket.
enum class CompanionCommand { List, Play, MarkRead, Status, Dial, HangUp };

// Runs one command; the text goes to `out`, complaints to `err`. Returns the exit status.
// Dial ("LINE NUMBER") and HangUp ("LINE") need the running service: they go through its
// control socket.
int runCompanionCommand(CompanionCommand command, const QString &argument, const AppPaths &paths,
                        QTextStream &out, QTextStream &err);

// Moves `name` from the unread messages to the recent recordings of `lists` (the lists
// as the service or the main window keep them). Returns false when it is not unread.
bool markRecordingRead(MessageLists &lists, const QString &name);

// The message store of the program folder, with the lists of an earlier version's options
// file moved into it.
std::unique_ptr<MessageStore> openMessageStore(const AppPaths &paths, SettingsStore &settings);

} // namespace telvox
