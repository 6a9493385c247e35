#include "records/RecordingActions.h"

#include "core/AppPaths.h"

#include "core/Texts.h"
#include "platform/shell/MailClient.h"
#include "platform/shell/UserPrompts.h"
#include "records/MessageLists.h"

#include <QDir>
#include <QFile>

namespace telvox {

std::optional<int> MailRecording(MailClient &mail, UserPrompts &prompts, const QString &recordFolder,
                                 const QString &currentRecording)
{
    const QString path = QDir(recordFolder).filePath(currentRecording);
    if (currentRecording.isEmpty() || !QFile::exists(path)) {
        prompts.messageBox(QStringLiteral("File Not Found ('") + currentRecording + QStringLiteral("')"),
                           MessageIcon::Critical, QStringLiteral("Mail To..."));
        // Handing the mail program a message without its attachment helps nobody: stop here.
        return std::nullopt;
    }
    const int result = mail.composeWithAttachment(currentRecording, path);
    if (result != 0) {
        prompts.messageBox(QStringLiteral("Error sending message. Message has not been sent.\r\r"
                                          "MAPISendMessage returned with error ")
                               + QString::number(result),
                           MessageIcon::Critical, QStringLiteral("Send Mail"));
    }
    return result;
}

QStringList recordingFiles(const QString &recordFolder)
{
    const QDir dir(recordFolder);
    const QStringList names = dir.entryList({QStringLiteral("*.wav")}, QDir::Files, QDir::Name | QDir::IgnoreCase);
    QStringList paths;
    for (const QString &name : names) {
        if (!isPromptFileName(name)) // the prompts stay where the calls need them
            paths << dir.filePath(name);
    }
    return paths;
}

std::optional<FileTransfer::Result> BackupRecordings(const QString &recordFolder, const QString &targetFolder,
                                                     bool move, MessageLists &lists, const Texts &texts,
                                                     UserPrompts &prompts, const FileTransfer &transfer,
                                                     const FileTransfer::Progress &progress,
                                                     const FileTransfer::AskConflict &ask)
{
    const MessageResult answer = prompts.messageBox(texts.LoadText(move ? 1088 : 1087), MessageIcon::None,
                                                    texts.LoadText(1004), MessageButtons::OkCancel);
    if (answer == MessageResult::Cancel)
        return std::nullopt;
    if (move)
        lists.clearAll();
    return transfer.run(recordingFiles(recordFolder), targetFolder, move, progress, ask);
}

} // namespace telvox
