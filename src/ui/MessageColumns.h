#pragma once

#include <QListWidget>
#include <QString>
#include <QStringList>

#include <vector>

class QHeaderView;

namespace telvox {

class Texts;

namespace phonebook {
struct Entry;
}

// What the recording lists show beside a recording's file name. Nothing of it is stored: the
// list entries stay the bare file names.
struct MessageFacts
{
    QString when;   // "yyyy-mm-dd hh:mm" from the name's time stamp; empty when it has none
    QString length; // "m:ss" from the wave header; empty for a missing or unreadable file
    QString caller; // the phonebook name of the number after the time stamp, else that number
    QString number; // the number after the time stamp; empty when the name has none
};

// The item data roles the list widgets carry the facts in.
enum MessageColumnRole { kWhenRole = 0x0100 + 40, kLengthRole, kCallerRole };

// The facts of `entry` (a file name as the recording writer makes it) in `folder`, with
// `book` as the phonebook. Only the header of the file is read.
MessageFacts messageFacts(const QString &folder, const QString &entry, const std::vector<phonebook::Entry> &book);

// The line a notification of a new message shows: who called and how long,
// "Anna Meyer (5551234), 0:21", "5551234, 0:21" or "Unknown caller, 0:21", in the language of
// `texts`.
QString messageAnnouncement(const MessageFacts &facts, const Texts &texts);

// A recording list drawn in four titled columns: date and time, length, caller and file name.
// The header sits above the items and scrolls sideways with them; the file name stays the
// item's text, so selection, type-ahead and everything else that reads the list is unchanged.
class MessageListWidget final : public QListWidget
{
    Q_OBJECT
public:
    // `titles`: the four column titles in the order above.
    MessageListWidget(const QStringList &titles, QWidget *parent = nullptr);

    void setColumnTitles(const QStringList &titles);
    QHeaderView *columnHeader() const { return m_header; }

protected:
    void updateGeometries() override;

private:
    QHeaderView *m_header;
};

} // namespace telvox
