#pragma once

// A full disk and a disk pulled out, as the recording code meets them.
#include <QFile>
#include <QString>

#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace telvox::test {

// A size limit on every file this process writes (a write past it fails with EFBIG, as a full
// disk fails one), lifted again at the end.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit m_saved = {};
    void (*m_oldHandler)(int) = nullptr;
};

// A small memory file system mounted on a folder, where this process may mount (root);
// unmounted at the end.
class SmallFileSystem
{
public:
    SmallFileSystem(const QString &folder, const char *options)
        : m_folder(QFile::encodeName(folder))
    {
        m_mounted = ::geteuid() == 0 && ::mount("tmpfs", m_folder.constData(), "tmpfs", 0, options) == 0;
        if (m_mounted)
            ::chmod(m_folder.constData(), 0700);
    }
    ~SmallFileSystem() { unmount(); }
    SmallFileSystem(const SmallFileSystem &) = delete;
    SmallFileSystem &operator=(const SmallFileSystem &) = delete;
    bool mounted() const { return m_mounted; }
    // Taken away as a pulled disk is: at once, with files still open.
    void unmount()
    {
        if (m_mounted)
            ::umount2(m_folder.constData(), MNT_DETACH);
        m_mounted = false;
    }

private:
    QByteArray m_folder;
    bool m_mounted = false;
};

} // namespace telvox::test
