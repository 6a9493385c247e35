#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

namespace telvox {

// Copies or moves files into a folder, file by file, with progress that can cancel and a
// question for every file that already exists at the target (never overwritten silently).
// What was done is kept, so the last operation can be undone.
class FileTransfer
{
public:
    enum class Conflict { Overwrite, Skip, Cancel };

    struct Result
    {
        bool move = false;
        bool cancelled = false;
        QList<QPair<QString, QString>> done; // (source, target) of each file transferred
        QStringList failed;                   // sources that could not be transferred
        QStringList overwritten;              // targets that existed and were replaced
    };

    // Called before each file with (files done, total, current file); false cancels.
    using Progress = std::function<bool(int, int, const QString &)>;
    // Asked for a target that exists already.
    using AskConflict = std::function<Conflict(const QString &target)>;

    Result run(const QStringList &sources, const QString &targetFolder, bool move, const Progress &progress,
               const AskConflict &ask) const;
    // Reverses a result: copies are deleted, moved files go back. Overwritten targets cannot be
    // restored and stay. Returns the number of files put back or removed.
    int undo(const Result &result) const;
};

} // namespace telvox
