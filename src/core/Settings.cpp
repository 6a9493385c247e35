#include "core/Settings.h"

#include "core/EventLoop.h"
#include "core/TextFile.h"

#include <QFile>
#include <QStringConverter>

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
    : m_settings(std::make_unique<QSettings>(storeFile, QSettings::IniFormat))
    , m_journalFile(journalFile)
{
}

SettingsStore::~SettingsStore() { sync(); }

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
    for (const Waiting &w : waiting)
        m_settings->setValue(writePath(w.section, w.key), w.value);
    // QSettings writes the file only when a value was set since its last write.
    m_settings->sync();
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
