#include "records/MessageLists.h"

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

// Brings `model` to `wanted` by removing rows and appending new ones where that is enough
// (what a new recording or a deleted entry does), so that views see rows arrive one by one;
// any other change resets the model.
void follow(QStringListModel &model, const QStringList &wanted)
{
    QStringList now = model.stringList();
    if (now == wanted)
        return;
    for (int row = int(now.size()) - 1; row >= 0; --row) {
        if (!wanted.contains(now[row])) {
            removeRow(model, row);
            now.removeAt(row);
        }
    }
    if (now.size() <= wanted.size() && wanted.mid(0, now.size()) == now) {
        for (qsizetype i = now.size(); i < wanted.size(); ++i)
            appendRow(model, wanted[i]);
        return;
    }
    model.setStringList(wanted);
}

} // namespace

MessageLists::MessageLists(MessageStore &store, QObject *parent)
    : QObject(parent)
    , m_store(store)
{
    connect(&m_store, &MessageStore::changed, this, &MessageLists::reload);
}

qint64 MessageLists::selectedId(bool unread) const
{
    const QList<qint64> &ids = unread ? m_unreadIds : m_lastTenIds;
    const int row = unread ? m_selectedUnread : m_selectedLastTen;
    return row >= 0 && row < ids.size() ? ids[row] : 0;
}

void MessageLists::reload()
{
    const qint64 lastTenSelected = selectedId(false);
    const qint64 unreadSelected = selectedId(true);
    const auto fill = [](const QList<StoredMessage> &messages, QStringListModel &model, QList<qint64> &ids) {
        QStringList entries;
        ids.clear();
        for (const StoredMessage &m : messages) {
            entries << m.entry;
            ids << m.id;
        }
        follow(model, entries);
    };
    fill(m_store.messages(MessageStore::List::Recent), m_lastTen, m_lastTenIds);
    fill(m_store.messages(MessageStore::List::Unread), m_unread, m_unreadIds);
    m_selectedLastTen = int(m_lastTenIds.indexOf(lastTenSelected));
    m_selectedUnread = int(m_unreadIds.indexOf(unreadSelected));
}

void MessageLists::LoadMessageLists()
{
    reload();
    selectLast();
}

void MessageLists::MaintainLists()
{
    reload();
    selectLast();
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
    NewMessage message;
    message.entry = name;
    message.unread = unread;
    message.line = line;
    bool known = false;
    return listRecording(recordFolder, message, &known).has_value() && !known;
}

std::optional<qint64> MessageLists::listRecording(const QString &recordFolder, NewMessage message, bool *alreadyKnown)
{
    const QString &name = message.entry;
    if (message.path.isEmpty())
        message.path = QDir(recordFolder).filePath(name);
    if (name.isEmpty() || !QFile::exists(message.path))
        return std::nullopt;
    message.unread = message.unread || QFileInfo(name).fileName().startsWith(QLatin1Char('A'));
    bool known = false;
    const std::optional<qint64> id = m_store.addMessage(message, &known);
    if (alreadyKnown)
        *alreadyKnown = known;
    if (!id || known)
        return id;
    MaintainLists();
    emit recordingListed(recordFolder, name, message.line);
    return id;
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
    const qint64 id = selectedId(false);
    if (id == 0)
        return;
    m_selectedLastTen = -1;
    m_store.removeFromList(id);
    MaintainLists();
}

void MessageLists::mmuDelete1_Click()
{
    const qint64 id = selectedId(true);
    if (id == 0)
        return;
    m_selectedUnread = -1;
    m_store.removeFromList(id);
    MaintainLists();
}

void MessageLists::clearAll()
{
    m_selectedLastTen = -1;
    m_selectedUnread = -1;
    m_store.replaceLists({}, {}, QString());
    reload();
}

void MessageLists::restoreLists(const QStringList &lastTen, const QStringList &unread, const QString &recordFolder)
{
    m_store.replaceLists(lastTen, unread, recordFolder);
    LoadMessageLists();
}

void MessageLists::markSelectedUnreadAsHeard()
{
    const qint64 id = selectedId(true);
    if (id == 0)
        return;
    m_selectedUnread = -1;
    m_store.markRead(id);
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
