#include "app/WebAdapter.h"

#include "app/CallSystem.h"
#include "app/CompanionCommands.h"
#include "core/Settings.h"
#include "records/CallBlockList.h"
#include "records/CallRecords.h"
#include "records/MessageLists.h"
#include "records/MessageStore.h"
#include "telephony/PhoneBookTable.h"
#include "telephony/TelephonyCore.h"

#include <QDir>
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
    connect(&lists, &MessageLists::recordingListed, this, [this](const QString &, const QString &name, int line) {
        m_lineOf.insert(name, line);
        emit changed(QStringLiteral("message"), {{QStringLiteral("id"), idOf(name)}});
    });
    m_listsChanged.setSingleShot(true);
    m_listsChanged.setInterval(0);
    connect(&m_listsChanged, &QTimer::timeout, this, &WebAdapter::listsChanged);
    m_unread = QSet<QString>(lists.unreadEntries().cbegin(), lists.unreadEntries().cend());
    m_recent = QSet<QString>(lists.lastTenEntries().cbegin(), lists.lastTenEntries().cend());
    for (QStringListModel *model : {&lists.unread(), &lists.lastTen()}) {
        connect(model, &QAbstractItemModel::rowsInserted, &m_listsChanged, qOverload<>(&QTimer::start));
        connect(model, &QAbstractItemModel::rowsRemoved, &m_listsChanged, qOverload<>(&QTimer::start));
        connect(model, &QAbstractItemModel::modelReset, &m_listsChanged, qOverload<>(&QTimer::start));
    }
    for (int n = 0; n < kLineCount; ++n)
        m_seen[static_cast<std::size_t>(n)].state = lineState(n);
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &WebAdapter::pollLines);
    m_poll.start();
}

qint64 WebAdapter::idOf(const QString &entry)
{
    quint64 h = 1469598103934665603ULL;
    for (const char c : entry.toUtf8()) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ULL;
    }
    const auto id = static_cast<qint64>(h & ((quint64(1) << 53) - 1));
    return id == 0 ? 1 : id;
}

QString WebAdapter::recordingFolder() const { return recordingFolderOf(m_system.paths(), m_system.settings()); }

QHash<QString, QString> WebAdapter::phoneBookNames() const
{
    QHash<QString, QString> names;
    for (const phonebook::Entry &e : phonebook::listedEntries(m_system.paths().file(QStringLiteral("PhoneBook.txt"))))
        if (!e.name.trimmed().isEmpty())
            names.insert(e.tele.trimmed(), e.name.trimmed());
    return names;
}

WebMessage WebAdapter::describe(const QString &entry, bool unread, const QHash<QString, QString> &names) const
{
    const RecordingInfo info = describeRecording(recordingFolder(), entry, QString());
    WebMessage m;
    m.id = idOf(entry);
    m.caller = info.number;
    m.name = names.value(info.number);
    if (m.name.isEmpty())
        m.name = m_callerIdNames.value(info.number);
    m.time = info.when;
    m.seconds = info.lengthMs < 0 ? 0 : (info.lengthMs + 500) / 1000;
    m.line = m_lineOf.value(entry, -1);
    m.kind = info.mode;
    m.unread = unread;
    return m;
}

WebMessagePage WebAdapter::messages(List list, int offset, int limit) const
{
    const MessageLists &lists = m_system.messageLists();
    const bool unread = list == List::Unread;
    const QStringList entries = unread ? lists.unreadEntries() : lists.lastTenEntries();
    WebMessagePage page;
    page.total = static_cast<int>(entries.size());
    const QHash<QString, QString> names = phoneBookNames();
    // The lists keep the newest at the bottom.
    for (int i = offset; i < offset + limit && i < entries.size(); ++i)
        page.messages << describe(entries[entries.size() - 1 - i], unread, names);
    return page;
}

std::optional<WebAdapter::Found> WebAdapter::find(qint64 id) const
{
    const MessageLists &lists = m_system.messageLists();
    for (const bool unread : {true, false}) {
        const QStringList entries = unread ? lists.unreadEntries() : lists.lastTenEntries();
        for (int row = 0; row < entries.size(); ++row) {
            if (idOf(entries[row]) == id)
                return Found{entries[row], unread, row};
        }
    }
    return std::nullopt;
}

std::optional<WebMessage> WebAdapter::message(qint64 id) const
{
    const auto found = find(id);
    if (!found)
        return std::nullopt;
    return describe(found->entry, found->unread, phoneBookNames());
}

QString WebAdapter::audioFile(qint64 id) const
{
    const auto found = find(id);
    if (!found)
        return {};
    // Only a listed recording, and only a regular file: never a name the web gave.
    const QFileInfo file(QDir(recordingFolder()).filePath(found->entry));
    return file.isFile() ? file.absoluteFilePath() : QString();
}

bool WebAdapter::setUnread(qint64 id, bool unread)
{
    const auto found = find(id);
    if (!found)
        return false;
    if (found->unread == unread)
        return true;
    MessageLists &lists = m_system.messageLists();
    if (!unread)
        return markRecordingRead(lists, found->entry);
    // Back to the unread messages, at the bottom (newest), in the index the lists follow.
    MessageStore &store = m_system.messageStore();
    for (const StoredMessage &m : store.messages(MessageStore::List::Recent)) {
        if (m.entry == found->entry)
            return store.markUnread(m.id);
    }
    return false;
}

bool WebAdapter::remove(qint64 id)
{
    const auto found = find(id);
    if (!found)
        return false;
    // As the lists' Delete: the entry goes, the file stays.
    MessageLists &lists = m_system.messageLists();
    if (found->unread) {
        lists.lstUnread_Click(found->row);
        lists.mmuDelete1_Click();
    } else {
        lists.lstLastTen_Click(found->row);
        lists.mmuDelete_Click();
    }
    return true;
}

WebCalls WebAdapter::calls() const
{
    // The phonebook's names first, else what caller ID said during this run.
    QHash<QString, QString> names = m_callerIdNames;
    names.insert(phoneBookNames());
    const auto numbers = [&](const char *section) {
        QList<WebCall> out;
        const QStringList list = readCallRecords(m_system.messageStore(), QString::fromLatin1(section));
        for (auto it = list.crbegin(); it != list.crend(); ++it)
            out << WebCall{*it, names.value(it->trimmed()), {}, {}};
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
    const MessageLists &lists = m_system.messageLists();
    const QStringList unreadList = lists.unreadEntries();
    const QStringList recentList = lists.lastTenEntries();
    const QSet<QString> unread(unreadList.cbegin(), unreadList.cend());
    const QSet<QString> recent(recentList.cbegin(), recentList.cend());
    const auto read = [this](const QString &entry, bool nowUnread) {
        emit changed(QStringLiteral("read"), {{QStringLiteral("id"), idOf(entry)}, {QStringLiteral("unread"), nowUnread}});
    };
    const auto deleted = [this](const QString &entry) {
        emit changed(QStringLiteral("deleted"), {{QStringLiteral("id"), idOf(entry)}});
    };
    for (const QString &entry : unread - m_unread) {
        if (m_recent.contains(entry))
            read(entry, true);
    }
    for (const QString &entry : m_unread - unread) {
        if (recent.contains(entry))
            read(entry, false);
        else
            deleted(entry);
    }
    for (const QString &entry : m_recent - recent) {
        if (!unread.contains(entry))
            deleted(entry);
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
