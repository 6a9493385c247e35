#pragma once

#include "platform/shell/FileTransfer.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace telvox {

class MailClient;
class MessageLists;
class SettingsStore;
class Texts;
class UserPrompts;

// Hands the current recording to the mail program as the attachment of a new message whose
// subject is the file name. A missing file is reported ("File Not Found") and nothing is
// handed over; a refusal of the mail program is reported with its code ("Send Mail").
// Returns the mail program's result, or nothing when no message was handed over.
std::optional<int> MailRecording(MailClient &mail, UserPrompts &prompts, const QString &recordFolder,
                                 const QString &currentRecording);

// Every "*.wav" file of the recording folder (any case of the extension), by name.
QStringList recordingFiles(const QString &recordFolder);

// The backup's Ok: after the confirmation (copy: text 1087, move: text 1088; Cancel ends it)
// copies or moves every recording into `targetFolder`. Moving first empties both message
// lists. Returns the transfer's result, or nothing when the user cancelled the confirmation.
std::optional<FileTransfer::Result> BackupRecordings(const QString &recordFolder, const QString &targetFolder,
                                                     bool move, MessageLists &lists, const Texts &texts,
                                                     UserPrompts &prompts, const FileTransfer &transfer,
                                                     const FileTransfer::Progress &progress,
                                                     const FileTransfer::AskConflict &ask);

} // namespace telvox
