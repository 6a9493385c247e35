#include "core/Settings.h"

#include "core/EventLoop.h"
#include "core/PrivateFiles.h"
#include "core/TextFile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QStringConverter>

#include <algorithm>
#include <cerrno>
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
    : m_storeFile(storeFile)
    , m_settings(std::make_unique<QSettings>(storeFile, QSettings::IniFormat))
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


// The system's reason why `bytes` cannot be written in `folder` now (a full disk says "No
// space left on device"); empty when a trial write of that size succeeds.
QString writeTrialReason(const QString &folder, qint64 bytes)
{
    const QByteArray pattern = QFile::encodeName(folder + QStringLiteral("/.telvox-trial-XXXXXX"));
    QByteArray name = pattern;
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        return systemReason(errno);
    QString reason;
    const QByteArray block(4096, '\0');
    for (qint64 left = std::max<qint64>(bytes, 1); left > 0 && reason.isEmpty(); left -= block.size()) {
        if (::write(fd, block.constData(), static_cast<size_t>(std::min<qint64>(left, block.size()))) < 0)
            reason = systemReason(errno);
    }
    ::close(fd);
    ::unlink(name.constData());
    return reason;
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
    const auto problem = unusable(m_storeFile, *m_settings, backupFile());
    if (!problem) {
        m_fileGood = QFileInfo(m_storeFile).size() > 0;
        if (m_fileGood)
            keepBackup();
        return;
    }
    // Nothing of the user's is thrown away: the file goes aside, the last good copy (if there
    // is one) takes its place.
    m_settings.reset();
    const QString keptAs = m_storeFile + QStringLiteral(".damaged-")
                           + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    const bool aside = ::rename(QFile::encodeName(m_storeFile).constData(), QFile::encodeName(keptAs).constData()) == 0;
    const bool restored = aside && isGoodCopy(backupFile()) && restoreBackup(backupFile(), m_storeFile);
    m_settings = std::make_unique<QSettings>(m_storeFile, QSettings::IniFormat);
    m_fileGood = restored;
    FileEvent event{restored ? FileEvent::Kind::Restored : FileEvent::Kind::Unrecoverable, problem->first,
                    problem->second, aside ? keptAs : m_storeFile};
    fileEvent(event);
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

QString SettingsStore::storeFile() const { return m_settings->fileName(); }

QString SettingsStore::storedGroup(const QString &section) const
{
    const QStringList groups = m_settings->childGroups();
    for (const QString &g : groups) {
        if (g.compare(section, Qt::CaseInsensitive) == 0)
            return g;
    }
    return QString();
}

QString SettingsStore::storedPath(const QString &section, const QString &key) const
{
    // Every spelling of the section is searched (a store edited by hand may hold several).
    const QStringList groups = m_settings->childGroups();
    for (const QString &g : groups) {
        if (g.compare(section, Qt::CaseInsensitive) != 0)
            continue;
        m_settings->beginGroup(g);
        const QStringList keys = m_settings->childKeys();
        m_settings->endGroup();
        for (const QString &k : keys) {
            if (k.compare(key, Qt::CaseInsensitive) == 0)
                return g + QLatin1Char('/') + k;
        }
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
    const QString exact = section + QLatin1Char('/') + key;
    if (m_settings->contains(exact))
        return m_settings->value(exact).toString();
    const QString stored = storedPath(section, key);
    if (stored.isEmpty())
        return defaultValue;
    return m_settings->value(stored, defaultValue).toString();
}

QString SettingsStore::writePath(const QString &section, const QString &key) const
{
    QString path = section + QLatin1Char('/') + key;
    if (!m_settings->contains(path)) {
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

void SettingsStore::WriteSetting(const QString &section, const QString &key, const QString &value)
{
    if (!m_waiting.isEmpty())
        m_waiting.remove(waitingKey(section, key));
    const QString path = writePath(section, key);
    const QVariant stored = m_settings->value(path);
    // Rewriting the file for a value it already holds costs a rename and two disk flushes.
    if (stored.typeId() == QMetaType::QString && stored.toString() == value)
        return;
    m_settings->setValue(path, value);
    m_dirty = true;
    if (m_batchDepth == 0)
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
    for (const Waiting &w : waiting) {
        m_settings->setValue(writePath(w.section, w.key), w.value);
        m_dirty = true;
    }
    if (!m_dirty) {
        m_settings->sync(); // takes in what another process saved
        return;
    }
    if (m_fileGood && QFileInfo::exists(m_storeFile))
        keepBackup();
    if (m_saveFailing) {
        // A QSettings keeps the first error it met for good, and forgets that it has values to
        // save once a save failed: a new one (sharing the unsaved values) is asked to save.
        m_settings = std::make_unique<QSettings>(m_storeFile, QSettings::IniFormat);
        const QStringList keys = m_settings->allKeys();
        if (!keys.isEmpty())
            m_settings->setValue(keys.first(), m_settings->value(keys.first()));
    }
    // QSettings writes the file only when a value was set since its last write.
    m_settings->sync();
    const QFileInfo onDisk(m_storeFile);
    bool saved = m_settings->status() == QSettings::NoError;
    if (saved && onDisk.size() == 0 && !m_settings->allKeys().isEmpty()) {
        // A save that left an empty file behind: the last good copy goes back in its place.
        saved = false;
        if (isGoodCopy(backupFile()))
            restoreBackup(backupFile(), m_storeFile);
    }
    if (!saved) {
        if (!m_saveFailing) {
            m_saveFailing = true;
            QString reason = writeTrialReason(onDisk.absolutePath(), std::max<qint64>(onDisk.size(), 4096));
            if (reason.isEmpty())
                reason = systemReason(EIO);
            fileEvent(FileEvent{FileEvent::Kind::SaveFailed, FileEvent::Cause::System, reason, QString()});
        }
        return; // still to be saved: tried again with the next write
    }
    m_dirty = false;
    m_fileGood = true;
    if (m_saveFailing) {
        m_saveFailing = false;
        fileEvent(FileEvent{FileEvent::Kind::SavedAgain, FileEvent::Cause::System, QString(), QString()});
    }
}

void SettingsStore::WriteSettingJournaled(const QString &section, const QString &key, const QString &value)
{
    WriteSetting(section, key, value);
    if (section == QLatin1String("Data"))
        return;
    // The store already holds the value; a journal that cannot be written is only a lost trace.
    appendLocalLine(m_journalFile, section + QLatin1Char('@') + key + QLatin1Char('@') + value);
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
