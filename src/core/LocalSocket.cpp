#include "core/LocalSocket.h"

#include "core/PrivateFiles.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace telvox {

namespace {

// The address of `path`; false when it does not fit a socket address.
bool socketAddress(const QString &path, sockaddr_un *address)
{
    const QByteArray name = QFile::encodeName(path);
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (name.isEmpty() || std::size_t(name.size()) >= sizeof address->sun_path)
        return false;
    std::memcpy(address->sun_path, name.constData(), std::size_t(name.size()));
    return true;
}

// Waits until `fd` is ready for `events` or `deadline` has passed; true when ready.
bool waitFor(int fd, short events, const QDeadlineTimer &deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int ms = int(qBound(qint64(0), deadline.remainingTime(), qint64(60000)));
        const int n = ::poll(&p, 1, deadline.isForever() ? -1 : ms);
        if (n > 0)
            return true;
        if (n == 0 && deadline.hasExpired())
            return false;
        if (n < 0 && errno != EINTR)
            return false;
    }
}

// Writes all of `data` to the non-blocking `fd` before `deadline`.
bool sendAll(int fd, const QByteArray &data, const QDeadlineTimer &deadline)
{
    qsizetype sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.constData() + sent, std::size_t(data.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitFor(fd, POLLOUT, deadline))
            continue;
        return false;
    }
    return true;
}

} // namespace

LocalConnection::LocalConnection(int fd, QObject *parent)
    : QObject(parent)
    , m_fd(fd)
    , m_notifier(new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this))
{
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { readAvailable(); });
}

LocalConnection::~LocalConnection() { close(); }

void LocalConnection::readAvailable()
{
    bool ended = false;
    bool got = false;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n > 0) {
            m_buffer.append(chunk, n);
            got = true;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        ended = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        break;
    }
    if (ended)
        m_notifier->setEnabled(false); // nothing more will come; the descriptor stays until close()
    if (got)
        emit readyRead();
    if (ended)
        emit disconnected();
}

QByteArray LocalConnection::readLine()
{
    const qsizetype end = m_buffer.indexOf('\n');
    const QByteArray line = end < 0 ? m_buffer : m_buffer.left(end + 1);
    m_buffer.remove(0, line.size());
    return line;
}

QByteArray LocalConnection::readAll() { return std::exchange(m_buffer, {}); }

bool LocalConnection::write(const QByteArray &data, int timeoutMs)
{
    return m_fd >= 0 && sendAll(m_fd, data, QDeadlineTimer(timeoutMs));
}

void LocalConnection::close()
{
    if (m_fd < 0)
        return;
    m_notifier->setEnabled(false);
    ::close(m_fd);
    m_fd = -1;
}

LocalListener::LocalListener(QObject *parent)
    : QObject(parent)
{
}

LocalListener::~LocalListener()
{
    if (m_fd < 0)
        return;
    ::close(m_fd);
    ::unlink(QFile::encodeName(m_path).constData());
}

bool LocalListener::listen(const QString &path, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (m_fd >= 0)
        return fail(QStringLiteral("already listening"));
    sockaddr_un address{};
    if (!socketAddress(path, &address))
        return fail(path + QStringLiteral(": not a usable socket path (empty or too long)"));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    ::unlink(address.sun_path);
    // Made with no rights for group or others, whatever the process's file mode mask is.
    const mode_t mask = ::umask(0077);
    const int bound = ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    const int bindError = errno;
    ::umask(mask);
    if (bound != 0 || ::listen(fd, 16) != 0) {
        const int why = bound != 0 ? bindError : errno;
        ::close(fd);
        return fail(path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(why)));
    }
    ::chmod(address.sun_path, S_IRUSR | S_IWUSR);
    m_fd = fd;
    m_path = path;
    m_notifier = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { acceptPending(); });
    return true;
}

void LocalListener::acceptPending()
{
    for (;;) {
        const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return; // EAGAIN: none left
        }
        if (!peerIsThisAccount(fd)) {
            ::close(fd); // another account's process is told nothing and asks nothing
            continue;
        }
        emit newConnection(new LocalConnection(fd, this));
    }
}

LocalClient::~LocalClient() { close(); }

bool LocalClient::connectTo(const QString &path, int timeoutMs)
{
    close();
    sockaddr_un address{};
    if (!socketAddress(path, &address))
        return false;
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) {
            if (!peerIsThisAccount(fd)) {
                ::close(fd); // another account's program is asked nothing and believed in nothing
                return false;
            }
            m_fd = fd;
            return true;
        }
        const int why = errno;
        ::close(fd);
        // A full queue (the listener is busy) is worth another try; nothing listening is not.
        if ((why != EAGAIN && why != EINTR) || deadline.hasExpired())
            return false;
        ::usleep(10000);
    }
}

bool LocalClient::send(const QByteArray &data, int timeoutMs)
{
    return m_fd >= 0 && sendAll(m_fd, data, QDeadlineTimer(timeoutMs));
}

QByteArray LocalClient::receiveUntilClosed(int timeoutMs)
{
    QByteArray answer;
    const QDeadlineTimer deadline(timeoutMs);
    char chunk[4096];
    while (m_fd >= 0) {
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n > 0) {
            answer.append(chunk, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitFor(m_fd, POLLIN, deadline))
            continue;
        break; // closed by the peer, failed, or out of time
    }
    return answer;
}

void LocalClient::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

} // namespace telvox
