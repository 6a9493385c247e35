#include "app/WebAdapter.h"

#include "app/CallSystem.h"
#include "app/CompanionCommands.h"
#include "audio/RecordingJournal.h"
#include "audio/RecordingKeeper.h"
#include "core/Settings.h"
#include "records/CallBlockList.h"
#include "records/CallRecords.h"
#include "records/MessageLists.h"
#include "records/MessageStore.h"
#include "telephony/PhoneBookTable.h"
#include "telephony/TelephonyCore.h"

#include <QDir>
#include <QJsonObject>
#include <QFileInfo>
#include <QSaveFile>

namespace telvox {

namespace {

constexpr int kPollMs = 250;

QString callerOf(const QString &callerId)
{
    return callerId.startsWith(QLatin1Char('~')) ? callerId.mid(1) : callerId;
}

} // namespace

WebAdapter::WebAdapter(CallSystem &system, QObject *parent)
    : WebBackend(parent)
    , m_system(system)
{
    MessageLists &lists = m_system.messageLists();
    connect(&lists, &MessageLists::recordingListed, this, [this](const QString &folder, const QString &name, int) {
        QJsonObject data;
        if (const auto m = m_system.messageStore().messageAt(QDir(folder).filePath(name)))
            data.insert(QStringLiteral("id"), m->id);
        emit changed(QStringLiteral("message"), data);
    });
    m_listsChanged.setSingleShot(true);
    m_listsChanged.setInterval(0);
    connect(&m_listsChanged, &QTimer::timeout, this, &WebAdapter::listsChanged);
    m_unread = listIds(true);
    m_recent = listIds(false);
    connect(&m_system.messageStore(), &MessageStore::changed, &m_listsChanged, qOverload<>(&QTimer::start));
    for (int n = 0; n < kLineCount; ++n)
        m_seen[static_cast<std::size_t>(n)].state = lineState(n);
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &WebAdapter::pollLines);
    m_poll.start();
}

QSet<qint64> WebAdapter::listIds(bool unread) const
{
    QSet<qint64> ids;
    for (const StoredMessage &m :
         m_system.messageStore().messages(unread ? MessageStore::List::Unread : MessageStore::List::Recent))
        ids.insert(m.id);
    return ids;
}

QHash<QString, QString> WebAdapter::phoneBookNames() const
{
    QHash<QString, QString> names;
    for (const phonebook::Entry &e : phonebook::listedEntries(m_system.paths().file(QStringLiteral("PhoneBook.txt"))))
        if (!e.name.trimmed().isEmpty())
            names.insert(e.tele.trimmed(), e.name.trimmed());
    return names;
}

WebMessage WebAdapter::describe(const StoredMessage &stored, const QHash<QString, QString> &names) const
{
    WebMessage m;
    m.id = stored.id;
    // An entry listed without its details (an earlier version's lists, a backup's undo) has
    // them in its file name; only its length needs the file.
    m.caller = stored.caller.isEmpty() ? recordingCallerOf(stored.fileName) : stored.caller;
    m.name = names.value(m.caller);
    if (m.name.isEmpty())
        m.name = stored.callerName;
    if (m.name.isEmpty())
        m.name = m_callerIdNames.value(m.caller);
    m.time = stored.time.isValid() ? stored.time : recordingStartOf(stored.fileName);
    m.seconds = stored.seconds > 0 ? stored.seconds : qMax(0, recordingSeconds(stored.path()));
    m.line = stored.line;
    m.kind = stored.kind;
    m.unread = stored.unread;
    return m;
}

WebMessagePage WebAdapter::messages(List list, int offset, int limit) const
{
    const QList<StoredMessage> stored = m_system.messageStore().messages(
        list == List::Unread ? MessageStore::List::Unread : MessageStore::List::Recent);
    WebMessagePage page;
    page.total = static_cast<int>(stored.size());
    if (offset >= stored.size() || limit <= 0)
        return page;
    const QHash<QString, QString> names = phoneBookNames();
    // The store gives the oldest first.
    for (qsizetype i = offset; i < qsizetype(offset) + limit && i < stored.size(); ++i)
        page.messages << describe(stored[stored.size() - 1 - i], names);
    return page;
}

std::optional<StoredMessage> WebAdapter::listed(qint64 id) const
{
    if (id <= 0)
        return std::nullopt;
    std::optional<StoredMessage> m = m_system.messageStore().message(id);
    if (m && !m->listed)
        return std::nullopt;
    return m;
}

std::optional<WebMessage> WebAdapter::message(qint64 id) const
{
    const auto stored = listed(id);
    if (!stored)
        return std::nullopt;
    return describe(*stored, phoneBookNames());
}

QString WebAdapter::audioFile(qint64 id) const
{
    const auto stored = listed(id);
    if (!stored)
        return {};
    // Only the file the store holds for a listed message, and only a regular file.
    const QFileInfo file(stored->path());
    return file.isFile() ? file.absoluteFilePath() : QString();
}

bool WebAdapter::setUnread(qint64 id, bool unread)
{
    const auto stored = listed(id);
    if (!stored)
        return false;
    if (stored->unread == unread)
        return true;
    MessageStore &store = m_system.messageStore();
    return unread ? store.markUnread(id) : store.markRead(id);
}

bool WebAdapter::remove(qint64 id)
{
    // As the lists' Delete: the entry leaves its list, the file stays.
    return listed(id) && m_system.messageStore().removeFromList(id);
}

WebCalls WebAdapter::calls() const
{
    // The phonebook's names first, else what caller ID said during this run.
    QHash<QString, QString> names = m_callerIdNames;
    names.insert(phoneBookNames());
    const auto numbers = [&](const char *section) {
        QList<WebCall> out;
        const QList<CallRecord> list = m_system.messageStore().callRecordEntries(QString::fromLatin1(section));
        for (auto it = list.crbegin(); it != list.crend(); ++it)
            out << WebCall{it->number, names.value(it->number.trimmed()), it->when, {}};
        return out;
    };
    WebCalls c;
    c.received = numbers("Received");
    c.made = numbers("Made");
    for (const BlockedCall &b : readBlockedCalls(m_system.messageStore()))
        c.blocked << WebCall{b.number, names.value(b.number), b.when, b.label};
    return c;
}

QList<WebListEntry> WebAdapter::numberList(bool allowList) const
{
    QList<WebListEntry> out;
    CallBlockList &lists = m_system.blockList();
    for (const BlockEntry &e : allowList ? lists.allowed() : lists.blocked())
        out << WebListEntry{e.text, e.label};
    return out;
}

bool WebAdapter::setNumberList(bool allowList, const QList<WebListEntry> &entries, QString *error)
{
    CallBlockList &lists = m_system.blockList();
    QSaveFile file(allowList ? lists.allowFile() : lists.blockFile());
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    QByteArray text;
    for (const WebListEntry &e : entries)
        text += blockListLine(e.entry, e.label).toUtf8() + '\n';
    file.write(text);
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    lists.reload();
    emit changed(QStringLiteral("lists"), {{QStringLiteral("list"), allowList ? QStringLiteral("allow")
                                                                               : QStringLiteral("block")}});
    return true;
}

QString WebAdapter::lineState(int line) const
{
    const LineSlot &slot = m_system.telephony().lineTable()[line];
    if (slot.hLine == 0)
        return QStringLiteral("closed");
    if (slot.recState == RecState::AwaitingAnswer)
        return QStringLiteral("dialling");
    if (slot.recState == RecState::Recording)
        return slot.mode == CallKind::Message   ? QStringLiteral("recording-message")
               : slot.mode == CallKind::Dialled ? QStringLiteral("recording-dialled")
                                                : QStringLiteral("recording-conversation");
    if (slot.playing)
        return QStringLiteral("playing");
    if (slot.hCall != 0)
        return QStringLiteral("call");
    return QStringLiteral("idle");
}

QList<WebLine> WebAdapter::lines() const
{
    QList<WebLine> out;
    const QString backend = m_system.lineBackendName();
    for (int n = 0; n < kLineCount; ++n) {
        const LineSlot &slot = m_system.telephony().lineTable()[n];
        WebLine l;
        l.line = n;
        l.open = slot.hLine != 0;
        l.state = lineState(n);
        l.caller = slot.hCall != 0 ? callerOf(slot.callerId) : QString();
        l.backend = backend;
        if (backend == QLatin1String("sip"))
            l.registration = m_system.lastLineNews(n);
        out << l;
    }
    return out;
}

void WebAdapter::listsChanged()
{
    const QSet<qint64> unread = listIds(true);
    const QSet<qint64> recent = listIds(false);
    const auto read = [this](qint64 id, bool nowUnread) {
        emit changed(QStringLiteral("read"), {{QStringLiteral("id"), id}, {QStringLiteral("unread"), nowUnread}});
    };
    const auto deleted = [this](qint64 id) { emit changed(QStringLiteral("deleted"), {{QStringLiteral("id"), id}}); };
    for (const qint64 id : unread - m_unread) {
        if (m_recent.contains(id))
            read(id, true);
    }
    for (const qint64 id : m_unread - unread) {
        if (recent.contains(id))
            read(id, false);
        else
            deleted(id);
    }
    for (const qint64 id : m_recent - recent) {
        if (!unread.contains(id))
            deleted(id);
    }
    m_unread = unread;
    m_recent = recent;
    emit changed(QStringLiteral("messages"), {});
}

void WebAdapter::pollLines()
{
    const LineTable &table = m_system.telephony().lineTable();
    for (int n = 0; n < kLineCount; ++n) {
        Seen &seen = m_seen[static_cast<std::size_t>(n)];
        const LineSlot &slot = table[n];
        // A ring: the latest ring's time moved, or a call is offered on a line that had none.
        const bool call = slot.hCall != 0;
        if (call && slot.recState == RecState::Idle && !slot.playing
            && (slot.ringTime != seen.ringTime || !seen.call))
            emit changed(QStringLiteral("ring"), {{QStringLiteral("line"), n}});
        seen.ringTime = slot.ringTime;
        seen.call = call;
        if (slot.callerId != seen.callerId && !slot.callerId.isEmpty()) {
            const QString number = callerOf(slot.callerId);
            QString name = phoneBookNames().value(number);
            if (const QString given = m_system.telephony().callerName().trimmed(); !given.isEmpty()) {
                m_callerIdNames.insert(number, given);
                if (name.isEmpty())
                    name = given;
            }
            emit changed(QStringLiteral("callerid"), {{QStringLiteral("line"), n},
                                                      {QStringLiteral("number"), number},
                                                      {QStringLiteral("name"), name}});
        }
        seen.callerId = slot.callerId;
        const QString state = lineState(n);
        if (state != seen.state) {
            emit changed(QStringLiteral("line"), {{QStringLiteral("line"), n}, {QStringLiteral("state"), state}});
            // A call that ended may have added to the call records or the blocked calls.
            if (state == QLatin1String("idle"))
                emit changed(QStringLiteral("calls"), {});
            seen.state = state;
        }
    }
}

} // namespace telvox
