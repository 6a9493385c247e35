#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QFileSystemWatcher;

namespace telvox {

class EventLoop;
class Timer;

// Watches a few files for changes made while the program runs: edited in place, replaced by
// an editor that writes a new file and renames it over the old one, created or deleted. A
// change is reported once the file has been quiet for a moment (an editor's save is several
// system calls); a change that leaves the file exactly as it was (size, time, inode) is not
// reported. Where the system's change notices fail (no inotify watches left, a network
// folder, whose changes made on other machines the notices never see), a slow poll finds the
// change all the same; elsewhere nothing wakes the program while the files stay as they are.
class FileWatch
{
public:
    FileWatch(EventLoop &loop, QStringList files, std::function<void(const QString &file)> changed);
    ~FileWatch();
    FileWatch(const FileWatch &) = delete;
    FileWatch &operator=(const FileWatch &) = delete;

    static constexpr int kSettleMs = 300;
    static constexpr int kPollMs = 5000;

    // Compares every file with what it was and reports the changed ones.
    void check();
    // Whether the slow poll runs (some folder cannot be trusted to the change notices).
    bool polling() const;
    // Whether the system's change notices see every change in `folder`: not on a network or
    // user-space file system, where another machine or process writes behind their back.
    static bool noticesCoverFolder(const QString &folder);
    // Stops watching for good (the program is ending). Called a moment before the watch is
    // destroyed: the system frees a removed watch only after a grace period, and closing the
    // watch while that is pending waits it out (15 ms and more), so the removal goes first and
    // the rest of the shutdown runs while the system frees it.
    void stop();

private:
    struct Stamp
    {
        bool exists = false;
        qint64 size = 0;
        qint64 modifiedNs = 0;
        quint64 inode = 0;
        bool operator==(const Stamp &) const = default;
    };
    static Stamp stampOf(const QString &file);
    // Puts the files that exist (again) under watch, with the folders that hold them.
    void rewatch();

    QStringList m_files;
    std::function<void(const QString &)> m_changed;
    QHash<QString, Stamp> m_stamps;
    std::unique_ptr<QFileSystemWatcher> m_watcher;
    std::unique_ptr<Timer> m_settle;
    std::unique_ptr<Timer> m_poll;
};

} // namespace telvox
