#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

namespace telvox {

// One recording as the web page lists it. `id` is stable for the life of the recording and
// fits a JavaScript number (below 2^53).
struct WebMessage
{
    qint64 id = 0;
    QString caller;      // the number caller ID gave (or the number dialled), "" when none
    QString name;        // the phonebook's name, else the caller-ID name, "" when none
    QDateTime time;      // when the call began (local time); invalid when unknown
    qint64 seconds = 0;  // playing time
    int line = -1;       // the line it came from, -1 when unknown
    QChar kind;          // 'A' message, 'M' conversation, 'O' dialled call
    bool unread = false;
};

struct WebMessagePage
{
    QList<WebMessage> messages; // newest first
    int total = 0;              // in the whole list
};

struct WebCall
{
    QString number;
    QString name;   // the phonebook's name, "" when none
    QDateTime time; // invalid for records of an earlier version
    QString label;  // the block-list entry's label of a blocked call
};

struct WebCalls
{
    QList<WebCall> received; // newest first
    QList<WebCall> made;     // newest first
    QList<WebCall> blocked;  // newest first
};

struct WebListEntry
{
    QString entry; // a number, a prefix ("0900*"), or the words for withheld / unavailable
    QString label;
};

struct WebLine
{
    int line = 0;
    bool open = false;
    QString state;        // "closed", "idle", "ringing", "call", "playing", "recording", ...
    QString caller;       // the caller of the call on the line, "" when none
    QString backend;      // "virtual", "modem", "sip"
    QString registration; // SIP only: what the registrar last said, "" otherwise
};

// What the web server needs of the rest of the program: the message store, the call records,
// the block and allow lists and the lines. Everything runs on the event loop's thread.
// Ids that are not (or no longer) in the store are simply unknown: nothing here ever takes a
// file path from the web.
class WebBackend : public QObject
{
    Q_OBJECT
public:
    enum class List { Unread, Recent };

    using QObject::QObject;

    virtual WebMessagePage messages(List list, int offset, int limit) const = 0;
    virtual std::optional<WebMessage> message(qint64 id) const = 0;
    // The recording's audio file; "" for an unknown id.
    virtual QString audioFile(qint64 id) const = 0;
    // Returns false for an unknown id.
    virtual bool setUnread(qint64 id, bool unread) = 0;
    virtual bool remove(qint64 id) = 0;

    virtual WebCalls calls() const = 0;

    virtual QList<WebListEntry> numberList(bool allowList) const = 0;
    // Replaces a list; false (with `error`) when the list cannot be written.
    virtual bool setNumberList(bool allowList, const QList<WebListEntry> &entries, QString *error) = 0;

    virtual QList<WebLine> lines() const = 0;

signals:
    // Something the page shows changed: `type` is one of "ring", "callerid", "message"
    // (a new recording), "messages" (the lists changed: read, unread, deleted), "line",
    // "calls", "lists"; `data` carries the details.
    void changed(const QString &type, const QJsonObject &data);
};

} // namespace telvox
