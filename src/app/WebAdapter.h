#pragma once

#include "records/MessageStore.h"
#include "web/WebBackend.h"

#include <QHash>
#include <QSet>
#include <QTimer>

#include <array>

namespace telvox {

class CallSystem;

// The web server's view of today's lists: the unread and recent messages of the message
// store, the call records, the block and allow lists and the line table. A message's id is
// the store's, so it stays the same across restarts and while the message moves between the
// lists; a message that left the lists has no id on the web any more. Changes go through the
// store the desktop windows follow, so both show them at once.
class WebAdapter final : public WebBackend
{
    Q_OBJECT
public:
    explicit WebAdapter(CallSystem &system, QObject *parent = nullptr);

    WebMessagePage messages(List list, int offset, int limit) const override;
    std::optional<WebMessage> message(qint64 id) const override;
    QString audioFile(qint64 id) const override;
    bool setUnread(qint64 id, bool unread) override;
    bool remove(qint64 id) override;
    WebCalls calls() const override;
    QList<WebListEntry> numberList(bool allowList) const override;
    bool setNumberList(bool allowList, const QList<WebListEntry> &entries, QString *error) override;
    QList<WebLine> lines() const override;

private:
    // The listed message of `id`; nothing for an unknown id or one deleted from the lists.
    std::optional<StoredMessage> listed(qint64 id) const;
    WebMessage describe(const StoredMessage &stored, const QHash<QString, QString> &names) const;
    QHash<QString, QString> phoneBookNames() const;
    QString lineState(int line) const;
    void pollLines();
    void listsChanged();
    QSet<qint64> listIds(bool unread) const;

    CallSystem &m_system;
    QHash<QString, QString> m_callerIdNames; // the names caller ID gave during this run, by number
    QTimer m_poll;
    QTimer m_listsChanged; // coalesces the store's changes into one event
    QSet<qint64> m_unread; // the lists as last announced, to tell what moved
    QSet<qint64> m_recent;
    struct Seen
    {
        QString state;
        qint64 ringTime = 0;
        bool call = false;
        QString callerId;
    };
    std::array<Seen, 4> m_seen;
};

} // namespace telvox
