#include "platform/shell/FileTransfer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace telvox {

namespace {

bool moveFile(const QString &from, const QString &to)
{
    if (QFile::rename(from, to))
        return true;
    // Another file system: copy, then remove the source only when the copy is complete.
    if (!QFile::copy(from, to))
        return false;
    if (QFileInfo(to).size() != QFileInfo(from).size()) {
        QFile::remove(to);
        return false;
    }
    return QFile::remove(from);
}

} // namespace

FileTransfer::Result FileTransfer::run(const QStringList &sources, const QString &targetFolder, bool move,
                                       const Progress &progress, const AskConflict &ask) const
{
    Result result;
    result.move = move;
    const QDir target(targetFolder);
    const int total = static_cast<int>(sources.size());
    for (int i = 0; i < total; ++i) {
        const QString &source = sources[i];
        if (progress && !progress(i, total, source)) {
            result.cancelled = true;
            break;
        }
        const QString destination = target.filePath(QFileInfo(source).fileName());
        if (QFileInfo(destination).absoluteFilePath() == QFileInfo(source).absoluteFilePath())
            continue; // the target is the recording folder itself
        if (QFile::exists(destination)) {
            const Conflict answer = ask ? ask(destination) : Conflict::Skip;
            if (answer == Conflict::Cancel) {
                result.cancelled = true;
                break;
            }
            if (answer == Conflict::Skip)
                continue;
            if (!QFile::remove(destination)) {
                result.failed << source;
                continue;
            }
            result.overwritten << destination;
        }
        const bool ok = move ? moveFile(source, destination) : QFile::copy(source, destination);
        if (ok)
            result.done.append({source, destination});
        else
            result.failed << source;
    }
    if (progress && !result.cancelled)
        progress(total, total, QString());
    return result;
}

int FileTransfer::undo(const Result &result) const
{
    int undone = 0;
    for (const auto &[source, destination] : result.done) {
        if (result.overwritten.contains(destination))
            continue;
        const bool ok = result.move ? (!QFile::exists(source) && moveFile(destination, source)) : QFile::remove(destination);
        undone += ok ? 1 : 0;
    }
    return undone;
}

} // namespace telvox
