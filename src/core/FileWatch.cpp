#include "core/FileWatch.h"

#include "core/EventLoop.h"

#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>

#include <sys/stat.h>
#include <sys/vfs.h>

namespace telvox {

FileWatch::FileWatch(EventLoop &loop, QStringList files, std::function<void(const QString &file)> changed)
    : m_files(std::move(files))
    , m_changed(std::move(changed))
    , m_watcher(std::make_unique<QFileSystemWatcher>())
{
    for (const QString &file : std::as_const(m_files))
        m_stamps.insert(file, stampOf(file));
    m_settle = loop.createTimer(kSettleMs, [this] {
        m_settle->setEnabled(false);
        check();
    });
    m_poll = loop.createTimer(kPollMs, [this] { check(); });
    // Every notice (re)starts the wait, so that a save in several steps is read once, whole.
    const auto notice = [this] {
        m_settle->setEnabled(false);
        m_settle->setEnabled(true);
    };
    QObject::connect(m_watcher.get(), &QFileSystemWatcher::fileChanged, m_watcher.get(), notice);
    QObject::connect(m_watcher.get(), &QFileSystemWatcher::directoryChanged, m_watcher.get(), notice);
    rewatch();
}

FileWatch::~FileWatch() = default;

void FileWatch::stop()
{
    m_settle->setEnabled(false);
    m_poll->setEnabled(false);
    const QStringList watched = m_watcher->files() + m_watcher->directories();
    if (!watched.isEmpty())
        m_watcher->removePaths(watched);
    m_files.clear(); // a check now finds nothing to watch again
}

FileWatch::Stamp FileWatch::stampOf(const QString &file)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(file).constData(), &st) != 0)
        return {};
    return Stamp{true, static_cast<qint64>(st.st_size),
                 static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                 static_cast<quint64>(st.st_ino)};
}

void FileWatch::rewatch()
{
    // A file replaced by a rename is a new file: the old watch went with the old one. The
    // folder's watch sees files created, renamed in and deleted.
    const QStringList watched = m_watcher->files() + m_watcher->directories();
    QStringList add;
    for (const QString &file : std::as_const(m_files)) {
        const QString folder = QFileInfo(file).absolutePath();
        if (!watched.contains(folder) && !add.contains(folder) && QFileInfo(folder).isDir())
            add << folder;
        if (!watched.contains(file) && QFileInfo::exists(file))
            add << file;
    }
    QStringList failed;
    if (!add.isEmpty())
        failed = m_watcher->addPaths(add);
    // The poll runs while a folder is not watched or its watch cannot be trusted.
    bool poll = !failed.isEmpty();
    const QStringList folders = m_watcher->directories();
    for (const QString &file : std::as_const(m_files)) {
        const QString folder = QFileInfo(file).absolutePath();
        if (!folders.contains(folder) || !noticesCoverFolder(folder)) {
            poll = true;
            break;
        }
    }
    if (poll != m_poll->isEnabled())
        m_poll->setEnabled(poll);
}

bool FileWatch::polling() const { return m_poll->isEnabled(); }

bool FileWatch::noticesCoverFolder(const QString &folder)
{
    struct statfs fs = {};
    if (::statfs(QFile::encodeName(folder).constData(), &fs) != 0)
        return false;
    // Kinds of file system whose files change without the local kernel's notices.
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969UL:     // NFS
    case 0xFF534D42UL: // CIFS
    case 0xFE534D42UL: // SMB2
    case 0x517BUL:     // SMB
    case 0x65735546UL: // FUSE (sshfs and the like)
    case 0x01021997UL: // 9p
    case 0x564C:       // NCP
    case 0x6B414653UL: // AFS
    case 0x00C36400UL: // Ceph
    case 0x47504653UL: // GPFS
        return false;
    default:
        return true;
    }
}

void FileWatch::check()
{
    for (const QString &file : std::as_const(m_files)) {
        const Stamp now = stampOf(file);
        Stamp &before = m_stamps[file];
        if (now == before)
            continue;
        if (now.inode != before.inode && m_watcher->files().contains(file))
            m_watcher->removePath(file); // watching the old file, which is gone
        before = now;
        m_changed(file);
    }
    rewatch();
}

} // namespace telvox
