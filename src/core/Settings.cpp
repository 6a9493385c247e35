#include "core/Settings.h"

#include "core/EventLoop.h"
#include "core/IniText.h"
#include "core/PrivateFiles.h"
#include "core/TextFile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace telvox {

int parseLenientInt(const QString &text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    long long value = 0;
    while (i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')) {
        value = value * 10 + (text[i].unicode() - '0');
        if (value > 2147483647LL)
            value = 2147483647LL;
        ++i;
    }
    return static_cast<int>(negative ? -value : value);
}

SettingsStore::SettingsStore(const QString &storeFile, const QString &journalFile)
    : m_storeFile(QFileInfo(storeFile).absoluteFilePath())
    , m_journalFile(journalFile)
{
    checkLoadedFile();
}

namespace {

using Cause = SettingsStore::FileEvent::Cause;

// A copy that can stand in for the options file: it loads and holds something.
bool isGoodCopy(const QString &path)
{
    if (!QFileInfo(path).isFile() || QFileInfo(path).size() == 0)
        return false;
    const QSettings copy(path, QSettings::IniFormat);
    return copy.status() == QSettings::NoError && !copy.allKeys().isEmpty();
}

// Puts the last good copy in the options file's place, in one step: a copy, so that an edit
// of the file in place later leaves the copy alone; on a full disk, where a copy comes out
// short, a hard link, which needs no room (the next save replaces the file by a new one).
bool restoreBackup(const QString &backup, const QString &file)
{
    const QString fresh = file + QStringLiteral(".restore");
    const QByteArray freshName = QFile::encodeName(fresh);
    ::unlink(freshName.constData());
    if (!QFile::copy(backup, fresh) || QFileInfo(fresh).size() != QFileInfo(backup).size()) {
        ::unlink(freshName.constData());
        if (::link(QFile::encodeName(backup).constData(), freshName.constData()) != 0)
            return false;
    }
    if (::rename(freshName.constData(), QFile::encodeName(file).constData()) != 0) {
        ::unlink(freshName.constData());
        return false;
    }
    return true;
}

// Why the options file cannot be used as it is; nullopt when it can (or is not there yet).
std::optional<std::pair<Cause, QString>> unusable(const QString &path, const QSettings &loaded, const QString &backup)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT ? std::nullopt : std::optional(std::pair(Cause::System, systemReason(errno)));
    if (S_ISDIR(st.st_mode))
        return std::pair(Cause::System, systemReason(EISDIR));
    QFile file(path);
    if (!S_ISREG(st.st_mode) || !file.open(QIODevice::ReadOnly))
        return std::pair(Cause::System, S_ISREG(st.st_mode) ? file.errorString() : systemReason(EINVAL));
    if (st.st_size == 0)
        return QFileInfo(backup).size() > 0 ? std::optional(std::pair(Cause::Empty, QString())) : std::nullopt;
    if (loaded.status() == QSettings::FormatError)
        return std::pair(Cause::Damaged, QString());
    // Bytes that hold no option at all (binary junk the parser passes over) while the last
    // good copy holds options: damaged too, or the junk would become the next good copy.
    if (loaded.allKeys().isEmpty() && isGoodCopy(backup))
        return std::pair(Cause::Damaged, QString());
    return std::nullopt;
}


// Puts the file aside as "<file>.damaged-<time>", never over an earlier one kept in the same
// second (which gets "-2", "-3", ...). Returns the name it got, or "" when it could not move.
QString putAside(const QString &file)
{
    const QString base = file + QStringLiteral(".damaged-")
                         + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    const QByteArray from = QFile::encodeName(file);
    for (int n = 1; n < 1000; ++n) {
        const QString name = n == 1 ? base : base + QLatin1Char('-') + QString::number(n);
        const QByteArray to = QFile::encodeName(name);
        if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
            return name;
        if (errno == EEXIST)
            continue;
        // A file system without the no-replace rename: look first, then rename.
        if (errno != EINVAL && errno != ENOSYS)
            return QString();
        if (QFileInfo::exists(name))
            continue;
        return ::rename(from.constData(), to.constData()) == 0 ? name : QString();
    }
    return QString();
}

} // namespace

void SettingsStore::fileEvent(const FileEvent &event)
{
    if (m_eventHandler)
        m_eventHandler(event);
    else
        m_pendingEvents.push_back(event);
}

void SettingsStore::setFileEventHandler(std::function<void(const FileEvent &)> handler)
{
    m_eventHandler = std::move(handler);
    if (!m_eventHandler)
        return;
    for (const FileEvent &event : std::exchange(m_pendingEvents, {}))
        m_eventHandler(event);
}

void SettingsStore::checkLoadedFile()
{
    std::optional<std::pair<Cause, QString>> problem;
    {
        const QSettings loaded(m_storeFile, QSettings::IniFormat);
        problem = unusable(m_storeFile, loaded, backupFile());
    }
    if (!problem) {
        loadFile();
        m_fileGood = QFileInfo(m_storeFile).size() > 0;
        if (m_fileGood)
            keepBackup();
        return;
    }
    // Nothing of the user's is thrown away: the file goes aside, the last good copy (if there
    // is one) takes its place.
    const QString keptAs = putAside(m_storeFile);
    const bool aside = !keptAs.isEmpty();
    const bool restored = aside && isGoodCopy(backupFile()) && restoreBackup(backupFile(), m_storeFile);
    if (restored)
        loadFile();
    m_fileGood = restored;
    FileEvent event{restored ? FileEvent::Kind::Restored : FileEvent::Kind::Unrecoverable, problem->first,
                    problem->second, aside ? keptAs : m_storeFile};
    fileEvent(event);
}

SettingsStore::FileStamp SettingsStore::stampOnDisk() const
{
    struct stat st = {};
    if (::stat(QFile::encodeName(m_storeFile).constData(), &st) != 0)
        return FileStamp{};
    return FileStamp{qint64(st.st_ino), qint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

bool SettingsStore::loadFile()
{
    const FileStamp stamp = stampOnDisk();
    QMap<QString, QVariant> values;
    {
        const QSettings file(m_storeFile, QSettings::IniFormat);
        if (file.status() != QSettings::NoError)
            return false;
        for (const QString &key : file.allKeys())
            values.insert(key, file.value(key));
    }
    // A file emptied or damaged behind this process's back does not wipe what it holds.
    if (values.isEmpty() && !m_values.isEmpty())
        return false;
    m_values = std::move(values);
    for (auto it = m_changes.constBegin(); it != m_changes.constEnd(); ++it) {
        if (it.value())
            m_values.insert(it.key(), *it.value());
        else
            m_values.remove(it.key());
    }
    m_stamp = stamp;
    return true;
}

bool SettingsStore::writeFile(QString *reason, bool durable)
{
    const QByteArray text = iniText(m_values);
    const QByteArray target = QFile::encodeName(m_storeFile);
    QByteArray fresh = target + ".XXXXXX";
    const int fd = ::mkostemp(fresh.data(), O_CLOEXEC);
    if (fd < 0) {
        *reason = systemReason(errno);
        return false;
    }
    const auto fail = [&](int error) {
        ::close(fd);
        ::unlink(fresh.constData());
        *reason = systemReason(error);
        return false;
    };
    for (qsizetype done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.constData() + done, size_t(text.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(n < 0 ? errno : ENOSPC);
        done += n;
    }
    // The file keeps its permissions (private where it holds passwords); a new one is private.
    struct stat old = {};
    const bool hadFile = ::stat(target.constData(), &old) == 0;
    ::fchmod(fd, hadFile ? (old.st_mode & 07777) : 0600);
    // Every version of the file gets a later modification time than the one before, to the
    // millisecond: readers that keep a file's contents while its size and time stay the same
    // (QSettings does, in each process) never mistake a new version for one they read.
    timespec times[2] = {{0, UTIME_OMIT}, {}};
    ::clock_gettime(CLOCK_REALTIME, &times[1]);
    if (hadFile) {
        const qint64 floor = qint64(old.st_mtim.tv_sec) * 1000000000 + old.st_mtim.tv_nsec + 1000000;
        if (qint64(times[1].tv_sec) * 1000000000 + times[1].tv_nsec < floor)
            times[1] = {time_t(floor / 1000000000), long(floor % 1000000000)};
    }
    ::futimens(fd, times);
    if (durable && ::fsync(fd) != 0)
        return fail(errno);
    struct stat written = {};
    if (::fstat(fd, &written) != 0)
        return fail(errno);
    if (written.st_size != text.size())
        return fail(EIO);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(fresh.constData());
        *reason = systemReason(error);
        return false;
    }
    if (::rename(fresh.constData(), target.constData()) != 0) {
        const int error = errno;
        ::unlink(fresh.constData());
        *reason = systemReason(error);
        return false;
    }
    // The new name on the disk too (a crash now keeps the new file or the old one, whole).
    const int dir = durable ? ::open(QFile::encodeName(QFileInfo(m_storeFile).absolutePath()).constData(),
                                     O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                            : -1;
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    m_stamp = stampOnDisk();
    return true;
}

void SettingsStore::keepBackup()
{
    // An empty file (a save cut short on a full disk) never becomes the last good copy.
    if (QFileInfo(m_storeFile).size() == 0)
        return;
    // A hard link costs no space and no write: the next save replaces the file by a new one,
    // and the link keeps the old. Where links are not possible, a copy.
    const QByteArray file = QFile::encodeName(m_storeFile);
    const QByteArray backup = QFile::encodeName(backupFile());
    const QByteArray fresh = backup + ".new";
    ::unlink(fresh.constData());
    if (::link(file.constData(), fresh.constData()) != 0 && !QFile::copy(m_storeFile, backupFile() + QStringLiteral(".new")))
        return;
    // (When the file is the backup already, a restored copy, the rename leaves both names.)
    ::rename(fresh.constData(), backup.constData());
    ::unlink(fresh.constData());
}

SettingsStore::~SettingsStore()
{
    m_eventHandler = nullptr; // whoever listened may be gone by now
    sync();
}

namespace {
QString waitingKey(const QString &section, const QString &key)
{
    return (section + QLatin1Char('/') + key).toLower();
}
} // namespace

QString SettingsStore::storeFile() const { return m_storeFile; }

namespace {
QStringView groupOf(const QString &path)
{
    const qsizetype slash = path.indexOf(u'/');
    return slash < 0 ? QStringView() : QStringView(path).first(slash);
}
} // namespace

QStringList SettingsStore::sections() const
{
    QStringList out;
    for (auto it = m_values.keyBegin(); it != m_values.keyEnd(); ++it) {
        const QStringView group = groupOf(*it);
        if (!group.isEmpty() && (out.isEmpty() || out.back() != group))
            out << group.toString();
    }
    return out;
}

QString SettingsStore::storedGroup(const QString &section) const
{
    for (auto it = m_values.keyBegin(); it != m_values.keyEnd(); ++it) {
        const QStringView group = groupOf(*it);
        if (!group.isEmpty() && group.compare(section, Qt::CaseInsensitive) == 0)
            return group.toString();
    }
    return QString();
}

QString SettingsStore::storedPath(const QString &section, const QString &key) const
{
    // Every spelling of the section is searched (a store edited by hand may hold several).
    for (auto it = m_values.keyBegin(); it != m_values.keyEnd(); ++it) {
        const QStringView group = groupOf(*it);
        if (group.size() == section.size() && group.compare(section, Qt::CaseInsensitive) == 0
            && QStringView(*it).sliced(group.size() + 1).compare(key, Qt::CaseInsensitive) == 0)
            return *it;
    }
    return QString();
}

QString SettingsStore::ReadSetting(const QString &section, const QString &key, const QString &defaultValue) const
{
    if (!m_waiting.isEmpty()) {
        const auto waiting = m_waiting.constFind(waitingKey(section, key));
        if (waiting != m_waiting.constEnd())
            return waiting->value;
    }
    auto found = m_values.constFind(section + QLatin1Char('/') + key);
    if (found == m_values.constEnd()) {
        const QString stored = storedPath(section, key);
        if (stored.isEmpty())
            return defaultValue;
        found = m_values.constFind(stored);
    }
    return found->toString();
}

QString SettingsStore::writePath(const QString &section, const QString &key) const
{
    QString path = section + QLatin1Char('/') + key;
    if (!m_values.contains(path)) {
        const QString stored = storedPath(section, key);
        if (!stored.isEmpty()) {
            path = stored;
        } else {
            // A new key goes into the section as it is already spelt in the store.
            const QString group = storedGroup(section);
            if (!group.isEmpty())
                path = group + QLatin1Char('/') + key;
        }
    }
    return path;
}

void SettingsStore::setValue(const QString &path, const std::optional<QString> &value)
{
    if (value)
        m_values.insert(path, *value);
    else
        m_values.remove(path);
    m_changes.insert(path, value);
    m_dirty = true;
}

void SettingsStore::WriteSetting(const QString &section, const QString &key, const QString &value)
{
    if (!m_waiting.isEmpty())
        m_waiting.remove(waitingKey(section, key));
    const QString path = writePath(section, key);
    const auto stored = m_values.constFind(path);
    // Rewriting the file for a value it already holds costs a rename and two disk flushes.
    if (stored != m_values.constEnd() && stored->typeId() == QMetaType::QString && stored->toString() == value)
        return;
    setValue(path, value);
    if (!m_batchDerived) // set only while a Derived batch is open
        m_mustLast = true;
    if (m_batchDepth == 0)
        sync();
}

void SettingsStore::removeSection(const QString &section)
{
    bool removed = false;
    for (const QString &path : m_values.keys()) {
        const QStringView group = groupOf(path);
        if (!group.isEmpty() && group.compare(section, Qt::CaseInsensitive) == 0) {
            setValue(path, std::nullopt);
            removed = true;
            m_mustLast = true;
        }
    }
    if (removed && m_batchDepth == 0)
        sync();
}

void SettingsStore::WriteSettingLater(EventLoop &loop, const QString &section, const QString &key, const QString &value)
{
    const QString name = waitingKey(section, key);
    if (!m_waiting.contains(name) && ReadSetting(section, key) == value)
        return;
    m_waiting.insert(name, Waiting{section, key, value});
    if (m_batchDepth > 0)
        return; // the batch's end writes it
    if (!m_waitTimer) {
        m_waitTimer = loop.createTimer(kDeferMs, [this] {
            if (m_batchDepth == 0) // else the batch's end writes them
                sync();
        });
    }
    m_waitTimer->setEnabled(true); // a running timer keeps its period: the oldest value waits longest
}

void SettingsStore::sync()
{
    if (m_waitTimer)
        m_waitTimer->setEnabled(false);
    const auto waiting = std::exchange(m_waiting, {});
    for (const Waiting &w : waiting)
        setValue(writePath(w.section, w.key), w.value);
    // What another process saved since this one last read or wrote the file is read in (when
    // it loads), this process's unsaved changes on top.
    if (stampOnDisk() != m_stamp)
        loadFile();
    if (!m_dirty)
        return;
    const bool fileExists = QFileInfo::exists(m_storeFile);
    if (m_fileGood && fileExists)
        keepBackup();
    QString reason;
    if (!writeFile(&reason, m_mustLast || fileExists)) {
        // The file on disk is as it was; the values stay here and go with the next write.
        if (!m_saveFailing) {
            m_saveFailing = true;
            fileEvent(FileEvent{FileEvent::Kind::SaveFailed, FileEvent::Cause::System, reason, QString()});
        }
        return;
    }
    m_dirty = false;
    m_mustLast = false;
    m_changes.clear();
    m_fileGood = true;
    if (m_saveFailing) {
        m_saveFailing = false;
        fileEvent(FileEvent{FileEvent::Kind::SavedAgain, FileEvent::Cause::System, QString(), QString()});
    }
}

namespace {
// The journal's line for a value the store holds already (none for the "Data" section); a
// journal that cannot be written is only a lost trace.
void appendJournal(const QString &journalFile, const QString &section, const QString &key, const QString &value)
{
    if (section != QLatin1String("Data"))
        appendLocalLine(journalFile, section + QLatin1Char('@') + key + QLatin1Char('@') + value);
}
} // namespace

void SettingsStore::WriteSettingJournaled(const QString &section, const QString &key, const QString &value)
{
    WriteSetting(section, key, value);
    appendJournal(m_journalFile, section, key, value);
}

void SettingsStore::WriteSettingJournaledLater(EventLoop &loop, const QString &section, const QString &key,
                                               const QString &value)
{
    WriteSettingLater(loop, section, key, value);
    appendJournal(m_journalFile, section, key, value);
}

void SettingsStore::WriteSettingJournaled(const QString &section, const QString &key, int value)
{
    WriteSettingJournaled(section, key, QString::number(value));
}

RingGapTable loadRingGaps(SettingsStore &store)
{
    RingGapTable table{};
    SettingsStore::Batch batch(store);
    for (int n = 0; n < 4; ++n) {
        const QString section = QStringLiteral("Line%1").arg(n);
        for (int k = 1; k <= 6; ++k) {
            const QString key = QStringLiteral("Param%1").arg(k);
            int value = parseLenientInt(store.ReadSetting(section, key, QStringLiteral("6500")));
            if (value > 13000) {
                value = 13000;
                store.WriteSetting(section, key, QStringLiteral("13000"));
            }
            table[static_cast<std::size_t>(n)][static_cast<std::size_t>(k)] = value;
        }
    }
    return table;
}

unsigned checkModemChanges(SettingsStore &store, const std::array<QString, 4> &deviceNames, RingGapTable &ringGap)
{
    unsigned changed = 0;
    SettingsStore::Batch batch(store); // every changed line in one write of the file
    for (int n = 0; n < 4; ++n) {
        const QString key = QStringLiteral("Line%1").arg(n);
        const QString &current = deviceNames[static_cast<std::size_t>(n)];
        if (store.ReadSetting(QStringLiteral("Modem"), key) == current)
            continue;
        store.WriteSetting(key, QStringLiteral("Param1"), QStringLiteral("6500"));
        store.WriteSetting(key, QStringLiteral("Calls"), QStringLiteral("50"));
        ringGap[static_cast<std::size_t>(n)][1] = 6500;
        store.WriteSettingJournaled(QStringLiteral("Modem"), key, current);
        changed |= 1u << n;
    }
    return changed;
}

} // namespace telvox
