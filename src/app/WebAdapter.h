#pragma once

#include "web/WebBackend.h"

#include <QHash>
#include <QSet>
#include <QTimer>

#include <array>

namespace telvox {

class CallSystem;

// The web server's view of today's lists: the unread and recent recordings of MessageLists,
// the call records of the settings store, the block and allow lists and the line table. A
// message's id comes from its file name, so it stays the same across restarts and moves
// between the lists. Changes go through the same objects the desktop windows use, so both
// show them at once.
class WebAdapter final : public WebBackend
{
    Q_OBJECT
public:
    explicit WebAdapter(CallSystem &system, QObject *parent = nullptr);

    // The id of a recording's list entry: 53 bits of a 64-bit FNV-1a hash of the entry, never 0.
    static qint64 idOf(const QString &entry);

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
    struct Found
    {
        QString entry;
        bool unread = false;
        int row = -1;
    };
    std::optional<Found> find(qint64 id) const;
    WebMessage describe(const QString &entry, bool unread, const QHash<QString, QString> &names) const;
    QHash<QString, QString> phoneBookNames() const;
    QString recordingFolder() const;
    QString lineState(int line) const;
    void pollLines();
    void listsChanged();

    CallSystem &m_system;
    QHash<QString, int> m_lineOf; // the line of each recording listed during this run
    QHash<QString, QString> m_callerIdNames; // the names caller ID gave during this run, by number
    QTimer m_poll;
    QTimer m_listsChanged; // coalesces the list models' changes into one event
    QSet<QString> m_unread; // the lists as last announced, to tell what moved
    QSet<QString> m_recent;
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
