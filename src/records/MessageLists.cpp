#include "records/MessageLists.h"

#include "core/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace telvox {

namespace {

void removeRow(QStringListModel &model, int row)
{
    if (row >= 0 && row < model.rowCount())
        model.removeRows(row, 1);
}

void appendRow(QStringListModel &model, const QString &text)
{
    const int row = model.rowCount();
    model.insertRows(row, 1);
    model.setData(model.index(row), text);
}

} // namespace

QStringList readStoredList(const SettingsStore &settings, const QString &section)
{
    QStringList entries;
    for (int i = 0; i < MessageLists::kCapacity; ++i) {
        const QString value = settings.ReadSetting(section, listEntryKey(i));
        if (!value.isEmpty())
            entries << value;
    }
    return entries;
}

void writeStoredList(SettingsStore &settings, const QString &section, const QStringList &entries)
{
    // Every key is written, so that entries beyond the new end are cleared. ("Data" is never
    // journalled, so its entries need no journalled write.)
    for (int i = 0; i < MessageLists::kCapacity; ++i)
        settings.WriteSetting(section, listEntryKey(i), i < entries.size() ? entries[i] : QString());
}

MessageLists::MessageLists(SettingsStore &settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
{
}

void MessageLists::LoadMessageLists()
{
    m_lastTen.setStringList(readStoredList(m_settings, QStringLiteral("Data")));
    m_unread.setStringList(readStoredList(m_settings, QStringLiteral("DataUnread")));
    selectLast();
}

void MessageLists::MaintainLists()
{
    if (m_lastTen.rowCount() > kCapacity)
        removeRow(m_lastTen, 0);
    if (m_unread.rowCount() > kCapacity)
        removeRow(m_unread, 0);
    SaveLists();
    selectLast();
}

void MessageLists::SaveLists()
{
    SettingsStore::Batch batch(m_settings);
    writeStoredList(m_settings, QStringLiteral("Data"), m_lastTen.stringList());
    writeStoredList(m_settings, QStringLiteral("DataUnread"), m_unread.stringList());
}

void MessageLists::selectLast()
{
    // Selecting by program has the effect of a click; an empty list selects nothing.
    if (m_lastTen.rowCount() > 0)
        lstLastTen_Click(m_lastTen.rowCount() - 1);
    else
        m_selectedLastTen = -1;
    if (m_unread.rowCount() > 0)
        lstUnread_Click(m_unread.rowCount() - 1);
    else
        m_selectedUnread = -1;
}

bool MessageLists::addRecording(const QString &recordFolder, const QString &name, bool unread, int line)
{
    if (name.isEmpty() || !QFile::exists(QDir(recordFolder).filePath(name)))
        return false;
    unread = unread || QFileInfo(name).fileName().startsWith(QLatin1Char('A'));
    appendRow(unread ? m_unread : m_lastTen, name);
    MaintainLists();
    emit recordingListed(recordFolder, name, line);
    return true;
}

void MessageLists::lstLastTen_Click(int row)
{
    if (row < 0 || row >= m_lastTen.rowCount())
        return;
    m_selectedLastTen = row;
    m_current = m_lastTen.stringList().at(row);
    m_fromUnread = false;
    emit lastTenSelected(row);
    emit currentRecordingChanged(m_current, m_fromUnread);
}

void MessageLists::lstUnread_Click(int row)
{
    if (row < 0 || row >= m_unread.rowCount())
        return;
    m_selectedUnread = row;
    m_current = m_unread.stringList().at(row);
    m_fromUnread = true;
    emit unreadSelected(row);
    emit currentRecordingChanged(m_current, m_fromUnread);
}

void MessageLists::mmuDelete_Click()
{
    if (m_selectedLastTen < 0 || m_selectedLastTen >= m_lastTen.rowCount())
        return;
    removeRow(m_lastTen, m_selectedLastTen);
    m_selectedLastTen = -1;
    MaintainLists();
}

void MessageLists::mmuDelete1_Click()
{
    if (m_selectedUnread < 0 || m_selectedUnread >= m_unread.rowCount())
        return;
    removeRow(m_unread, m_selectedUnread);
    m_selectedUnread = -1;
    MaintainLists();
}

void MessageLists::clearAll()
{
    m_lastTen.setStringList({});
    m_unread.setStringList({});
    m_selectedLastTen = -1;
    m_selectedUnread = -1;
    SaveLists();
}

void MessageLists::markSelectedUnreadAsHeard()
{
    if (m_selectedUnread < 0 || m_selectedUnread >= m_unread.rowCount())
        return;
    const QString entry = m_unread.stringList().at(m_selectedUnread);
    appendRow(m_lastTen, entry);
    removeRow(m_unread, m_selectedUnread);
    m_selectedUnread = -1;
    MaintainLists();
}

std::optional<QString> callerNumberFromStatusLine(const QString &line)
{
    const qsizetype at = line.indexOf(QLatin1String("CallerID"));
    if (at < 0)
        return std::nullopt;
    const qsizetype colon = line.indexOf(QLatin1String("CallerID:"));
    if (colon < 0)
        return QString();
    qsizetype start = colon + 9;
    while (start < line.size() && line[start] == QLatin1Char(' '))
        ++start;
    const qsizetype end = line.indexOf(QLatin1Char(' '), start);
    return (end < 0 ? line.mid(start) : line.mid(start, end - start)).trimmed();
}

} // namespace telvox
