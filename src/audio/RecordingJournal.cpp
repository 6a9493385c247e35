#include "audio/RecordingJournal.h"

#include "core/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtEndian>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace telvox {

namespace {

std::atomic<int> g_serial{0};

QByteArray native(const QString &path) { return QFile::encodeName(path); }

// Whole samples (PCM) or whole codec blocks (TrueSpeech): a cut inside one would make noise.
qint64 blockBytes(OutputFormat format) { return format == OutputFormat::TrueSpeech ? 32 : 2; }

bool writeAllAt(int fd, const char *data, qint64 size, qint64 offset)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, static_cast<size_t>(size), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
        offset += n;
    }
    return true;
}

// Renames `from` to `name` in `folder` without replacing anything: a name already taken gets
// "_2", "_3", ... Returns the name used, or "" (errno set).
QString renameWithoutReplacing(const QString &from, const QString &folder, const QString &name)
{
    const QDir dir(folder);
    const QString stem = name.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive) ? name.chopped(4) : name;
    for (int n = 1; n < 1000; ++n) {
        const QString target = n == 1 ? name : stem + QStringLiteral("_%1.wav").arg(n);
        const QByteArray to = native(dir.filePath(target));
        if (::renameat2(AT_FDCWD, native(from).constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
            return target;
        if (errno == EEXIST)
            continue;
        if (errno != EINVAL && errno != ENOSYS)
            return QString();
        // A file system without the no-replace rename (some network shares).
        struct stat st = {};
        if (::lstat(to.constData(), &st) == 0)
            continue;
        if (::rename(native(from).constData(), to.constData()) == 0)
            return target;
        return QString();
    }
    errno = EEXIST;
    return QString();
}

void syncFolder(const QString &folder)
{
    const int fd = ::open(native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

RecordingJournal::~RecordingJournal() { close(); }

void RecordingJournal::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool RecordingJournal::fail(int error)
{
    m_error = error;
    return false;
}

QString RecordingJournal::errorText() const { return systemReason(m_error); }

QString RecordingJournal::journalNameFor(const QString &finalName, int serial)
{
    return QLatin1Char('.') + finalName + QStringLiteral(".%1-%2.part").arg(::getpid()).arg(serial);
}

QString RecordingJournal::finalNameOf(const QString &journalName)
{
    static const QRegularExpression pattern(QStringLiteral("^\\.(.+\\.wav)\\.\\d+-\\d+\\.part$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = pattern.match(journalName);
    return m.hasMatch() ? m.captured(1) : QString();
}

bool RecordingJournal::isJournalName(const QString &name) { return !finalNameOf(name).isEmpty(); }

bool RecordingJournal::open(const QString &folder, const QString &finalName, OutputFormat format)
{
    close();
    m_folder = QDir::cleanPath(folder);
    m_finalName = finalName;
    m_format = format;
    m_dataBytes = 0;
    m_error = 0;
    const QDir dir(m_folder);
    for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
        m_path = dir.filePath(journalNameFor(finalName, g_serial++));
        m_fd = ::open(native(m_path).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_fd < 0 && errno != EEXIST)
            return fail(errno);
    }
    if (m_fd < 0)
        return fail(EEXIST);
    ::flock(m_fd, LOCK_EX | LOCK_NB); // a file system without locks still records
    const QByteArray header = waveHeader(format, 0);
    m_headerBytes = header.size();
    if (!writeAllAt(m_fd, header.constData(), header.size(), 0)) {
        const int error = errno;
        discard();
        return fail(error);
    }
    m_sinceSync.start();
    return true;
}

bool RecordingJournal::append(const char *data, qint64 size)
{
    if (m_fd < 0)
        return fail(EBADF);
    const qint64 start = m_headerBytes + m_dataBytes;
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(m_fd, data + done, static_cast<size_t>(size - done), static_cast<off_t>(start + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            // Keep the whole blocks that made it; the file never ends inside one.
            const qint64 kept = done - done % blockBytes(m_format);
            m_dataBytes += kept;
            (void)::ftruncate(m_fd, static_cast<off_t>(m_headerBytes + m_dataBytes));
            return fail(error);
        }
        done += n;
    }
    m_dataBytes += size;
    return true;
}

void RecordingJournal::syncIfDue()
{
    if (m_fd < 0 || m_sinceSync.elapsed() < 1000)
        return;
    ::fdatasync(m_fd);
    m_sinceSync.restart();
}

bool RecordingJournal::stillInPlace() const
{
    if (m_fd < 0)
        return false;
    struct stat mine = {}, there = {};
    if (::fstat(m_fd, &mine) != 0 || mine.st_nlink == 0)
        return false;
    return ::stat(native(m_path).constData(), &there) == 0 && there.st_dev == mine.st_dev && there.st_ino == mine.st_ino;
}

bool RecordingJournal::relocate(const QString &folder)
{
    if (m_fd < 0)
        return fail(EBADF);
    RecordingJournal next;
    if (!next.open(folder, m_finalName, m_format))
        return fail(next.error());
    QByteArray block(64 * 1024, Qt::Uninitialized);
    for (qint64 at = 0; at < m_dataBytes;) {
        const qint64 want = std::min<qint64>(block.size(), m_dataBytes - at);
        const ssize_t n = ::pread(m_fd, block.data(), static_cast<size_t>(want), static_cast<off_t>(m_headerBytes + at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || !next.append(block.constData(), n)) {
            const int error = n <= 0 ? (n < 0 ? errno : EIO) : next.error();
            next.discard();
            return fail(error);
        }
        at += n;
    }
    // The old journal goes when its folder still allows it; where it cannot (a folder made
    // read-only), it keeps only its header, which a later recovery removes as too short.
    if (stillInPlace() && ::unlink(native(m_path).constData()) != 0)
        (void)::ftruncate(m_fd, static_cast<off_t>(m_headerBytes));
    close();
    m_fd = next.m_fd;
    next.m_fd = -1;
    m_folder = next.m_folder;
    m_path = next.m_path;
    m_dataBytes = next.m_dataBytes;
    m_error = 0;
    m_sinceSync.restart();
    return true;
}

WriteOutcome RecordingJournal::finish()
{
    WriteOutcome outcome;
    if (m_fd < 0) {
        fail(EBADF);
        return outcome;
    }
    if (m_headerBytes + m_dataBytes < kMinimumRecordingBytes) {
        discard();
        outcome.status = WriteOutcome::Status::TooShort;
        return outcome;
    }
    const QByteArray header = waveHeader(m_format, static_cast<std::uint32_t>(m_dataBytes));
    if (!writeAllAt(m_fd, header.constData(), header.size(), 0) || ::fdatasync(m_fd) != 0) {
        fail(errno);
        return outcome;
    }
    if (!stillInPlace()) {
        fail(ENOENT);
        return outcome;
    }
    const QString name = renameWithoutReplacing(m_path, m_folder, m_finalName);
    if (name.isEmpty()) {
        fail(errno);
        return outcome;
    }
    syncFolder(m_folder);
    close();
    outcome.fileName = name;
    outcome.status = WriteOutcome::Status::Written;
    return outcome;
}

void RecordingJournal::discard()
{
    if (m_fd >= 0 && stillInPlace())
        ::unlink(native(m_path).constData());
    close();
}

std::vector<RecoveredRecording> recoverJournals(const QString &folder)
{
    std::vector<RecoveredRecording> recovered;
    const QDir dir(folder);
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &name : names) {
        const QString finalName = RecordingJournal::finalNameOf(name);
        if (finalName.isEmpty())
            continue;
        const QString path = dir.filePath(name);
        const int fd = ::open(native(path).constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue;
        // A journal that a running process holds is that process's call, not a leftover.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            ::close(fd);
            continue;
        }
        char head[22] = {};
        struct stat st = {};
        if (::fstat(fd, &st) != 0 || ::pread(fd, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)
            || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) {
            ::close(fd);
            continue; // not one of ours
        }
        const quint16 tag = qFromLittleEndian<quint16>(head + 20);
        if (tag != 1 && tag != 0x22) {
            ::close(fd);
            continue;
        }
        RecordingJournal journal;
        journal.m_fd = fd;
        journal.m_folder = QDir::cleanPath(folder);
        journal.m_path = path;
        journal.m_finalName = finalName;
        journal.m_format = tag == 1 ? OutputFormat::Pcm : OutputFormat::TrueSpeech;
        journal.m_headerBytes = waveHeader(journal.m_format, 0).size();
        const qint64 data = std::max<qint64>(0, st.st_size - journal.m_headerBytes);
        journal.m_dataBytes = data - data % blockBytes(journal.m_format);
        if (journal.m_headerBytes + journal.m_dataBytes != st.st_size)
            (void)::ftruncate(fd, static_cast<off_t>(journal.m_headerBytes + journal.m_dataBytes));
        const WriteOutcome outcome = journal.finish();
        if (outcome.status != WriteOutcome::Status::Written)
            continue;
        RecoveredRecording r;
        r.folder = journal.m_folder;
        r.fileName = outcome.fileName;
        r.started = recordingStartOf(finalName);
        r.caller = recordingCallerOf(finalName);
        r.dataBytes = journal.m_dataBytes;
        recovered.push_back(r);
    }
    return recovered;
}

QDateTime recordingStartOf(const QString &recordingName)
{
    return QDateTime::fromString(recordingName.mid(1, 19), QStringLiteral("yyyy-MM-dd~HH-mm-ss"));
}

QString recordingCallerOf(const QString &recordingName)
{
    QString rest = recordingName.mid(20);
    if (rest.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive))
        rest.chop(4);
    return rest.startsWith(QLatin1Char('~')) ? rest.mid(1) : QString();
}

} // namespace telvox
