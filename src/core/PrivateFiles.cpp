#include "core/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace telvox {

void usePrivateFileMode() { ::umask(077); }

QString systemReason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

bool tightenPermissions(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st = {};
    if (::lstat(native.constData(), &st) != 0 || S_ISLNK(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    if ((st.st_mode & 077) == 0)
        return false;
    return ::chmod(native.constData(), st.st_mode & 07700) == 0;
}

bool makePrivateFolder(const QString &folder)
{
    if (!QDir().mkpath(folder))
        return false;
    const QByteArray native = QFile::encodeName(folder);
    struct stat st = {};
    if (::stat(native.constData(), &st) != 0 || st.st_uid != ::geteuid())
        return false;
    return (st.st_mode & 0777) == 0700 || ::chmod(native.constData(), 0700) == 0;
}

int tightenTree(const QString &folder, int depth, bool includeFolder)
{
    int changed = includeFolder && tightenPermissions(folder) ? 1 : 0;
    if (depth <= 0)
        return changed;
    const QFileInfoList entries
        = QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (entry.isSymLink())
            continue;
        if (entry.isDir())
            changed += tightenTree(entry.absoluteFilePath(), depth - 1, true);
        else if (tightenPermissions(entry.absoluteFilePath()))
            ++changed;
    }
    return changed;
}

bool checkWritableFolder(const QString &folder, QString *reason)
{
    if (!QDir().mkpath(folder)) {
        // mkpath does not say why: the nearest existing level tells.
        QString level = QDir::cleanPath(folder);
        while (!level.isEmpty() && !QFileInfo::exists(level))
            level = QFileInfo(level).path();
        const int error = ::access(QFile::encodeName(level).constData(), W_OK) == 0 ? ENOTDIR : errno;
        if (reason)
            *reason = systemReason(error);
        return false;
    }
    const QDir dir(folder);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const QString probe = dir.filePath(QStringLiteral(".telvox-probe-%1-%2")
                                               .arg(::getpid())
                                               .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        const QByteArray native = QFile::encodeName(probe);
        const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            ::close(fd);
            ::unlink(native.constData());
            return true;
        }
        if (errno != EEXIST) {
            if (reason)
                *reason = systemReason(errno);
            return false;
        }
    }
    if (reason)
        *reason = systemReason(EEXIST);
    return false;
}

namespace {

const QString kWorkLock = QStringLiteral(".lock");

// Working folders of runs that ended without removing theirs (killed, a power cut): their
// lock file is there and nobody holds it. A folder without a lock file may be one that is
// being made just now, and is left alone.
void removeAbandonedWorkFolders(const QString &base)
{
    const QFileInfoList folders = QDir(base).entryInfoList({QStringLiteral("work-*")}, QDir::Dirs | QDir::Hidden);
    for (const QFileInfo &folder : folders) {
        if (folder.isSymLink() || folder.ownerId() != ::geteuid())
            continue;
        const QByteArray lock = QFile::encodeName(QDir(folder.absoluteFilePath()).filePath(kWorkLock));
        const int fd = ::open(lock.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue;
        const bool abandoned = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (abandoned)
            QDir(folder.absoluteFilePath()).removeRecursively();
        ::close(fd);
    }
}

} // namespace

std::shared_ptr<QTemporaryDir> makePrivateWorkFolder(const QString &base)
{
    if (!makePrivateFolder(base))
        return nullptr;
    removeAbandonedWorkFolders(base);
    auto *dir = new QTemporaryDir(QDir(base).filePath(QStringLiteral("work-XXXXXX")));
    if (!dir->isValid()) {
        delete dir;
        return nullptr;
    }
    // mkdtemp makes it 0700 already; say so explicitly in case the system differs.
    ::chmod(QFile::encodeName(dir->path()).constData(), 0700);
    // Held for as long as the run lasts, so that no other run takes the folder for abandoned.
    const QByteArray lock = QFile::encodeName(QDir(dir->path()).filePath(kWorkLock));
    const int fd = ::open(lock.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0)
        ::flock(fd, LOCK_EX | LOCK_NB);
    return std::shared_ptr<QTemporaryDir>(dir, [fd](QTemporaryDir *d) {
        if (fd >= 0)
            ::close(fd);
        delete d;
    });
}

bool isPrivateFolderOfOurs(const QString &folder)
{
    struct stat st = {};
    return ::lstat(QFile::encodeName(folder).constData(), &st) == 0 && S_ISDIR(st.st_mode)
           && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

QString privateSocketPath(const QString &folder, const QString &name, const QString &pointerFile, bool create)
{
    const QString direct = QDir(folder).filePath(name);
    if (QFile::encodeName(direct).size() <= kSocketPathBytes)
        return direct;
    // A folder named before (by this run or an earlier one) serves while it is ours alone.
    QFile pointer(pointerFile);
    if (pointer.open(QIODevice::ReadOnly)) {
        const QString named = QString::fromUtf8(pointer.readAll()).trimmed();
        const QString path = QDir(named).filePath(name);
        if (!named.isEmpty() && QFile::encodeName(path).size() <= kSocketPathBytes && isPrivateFolderOfOurs(named))
            return path;
    }
    if (!create)
        return QString();
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const bool runtimeUsable = !runtime.isEmpty() && isPrivateFolderOfOurs(runtime)
                               && QFile::encodeName(runtime).size() < kSocketPathBytes / 2;
    // mkdtemp makes a new folder (0700) under a name nobody has yet, or fails: a name taken
    // first by another account is never used.
    QByteArray pattern = QFile::encodeName((runtimeUsable ? runtime : QStringLiteral("/tmp")) + QStringLiteral("/telvox-XXXXXX"));
    if (!::mkdtemp(pattern.data()))
        return QString();
    const QString made = QFile::decodeName(pattern);
    QSaveFile out(pointerFile);
    if (!out.open(QIODevice::WriteOnly) || out.write(made.toUtf8() + '\n') < 0 || !out.commit()) {
        ::rmdir(pattern.constData());
        return QString();
    }
    return QDir(made).filePath(name);
}

bool peerIsThisAccount(int fd)
{
    struct ucred peer = {};
    socklen_t length = sizeof peer;
    return fd >= 0 && ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == ::geteuid();
}

} // namespace telvox
