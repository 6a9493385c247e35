#include "core/InstanceLock.h"

#include "core/PrivateFiles.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace telvox {

InstanceLock::~InstanceLock() { unlock(); }

InstanceLock::Result InstanceLock::tryLock(const QString &path, QString *reason)
{
    unlock();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        if (reason)
            *reason = systemReason(errno);
        return Result::Failed;
    }
    int taken;
    do
        taken = ::flock(fd, LOCK_EX | LOCK_NB);
    while (taken != 0 && errno == EINTR);
    if (taken != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return Result::HeldElsewhere;
        if (reason)
            *reason = systemReason(error);
        return Result::Failed;
    }
    m_fd = fd;
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    if (::ftruncate(fd, 0) == 0)
        (void)!::pwrite(fd, pid.constData(), size_t(pid.size()), 0);
    return Result::Taken;
}

void InstanceLock::unlock()
{
    if (m_fd < 0)
        return;
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}

} // namespace telvox
