#pragma once

#include "records/MessageStore.h"

#include <QObject>
#include <QStringListModel>

#include <optional>

namespace telvox {

// The two recording lists of the main window: `lstLastTen` (recordings that need no
// attention) and `lstUnread` (messages nobody has played yet), fifty entries each, newest at
// the bottom, kept in the message store. Also the current recording that the player opens,
// with its from-unread flag. The models follow the store: a change made through the store by
// anyone else (a web page, the telephone menu) shows at once.
class MessageLists final : public QObject
{
    Q_OBJECT
public:
    static constexpr int kCapacity = MessageStore::kListCapacity;

    explicit MessageLists(MessageStore &store, QObject *parent = nullptr);

    MessageStore &store() { return m_store; }

    QStringListModel &lastTen() { return m_lastTen; }
    QStringListModel &unread() { return m_unread; }
    QStringList lastTenEntries() const { return m_lastTen.stringList(); }
    QStringList unreadEntries() const { return m_unread.stringList(); }

    void LoadMessageLists();
    // Reads both lists back from the store and selects the last entries.
    void MaintainLists();

    // A finished recording: listed (unread when its file name begins with "A", or when
    // `unread`) when the file exists in `recordFolder`. `name` is a file name, or a whole
    // path for a recording kept elsewhere. Returns whether it was listed now (a recording the
    // store already holds is not listed again). `line` is the line it came from (-1: unknown).
    bool addRecording(const QString &recordFolder, const QString &name, bool unread = false, int line = -1);
    // The same with everything known of the recording (`message.entry` is the name; its path,
    // when empty, is taken from the folder). The id, or nothing when the file is missing or
    // the store refused; `alreadyKnown` says whether the store held it before.
    std::optional<qint64> listRecording(const QString &recordFolder, NewMessage message, bool *alreadyKnown = nullptr);

    // Selecting an entry, by click or by program: it becomes the current recording.
    void lstLastTen_Click(int row);
    void lstUnread_Click(int row);
    int selectedLastTen() const { return m_selectedLastTen; }
    int selectedUnread() const { return m_selectedUnread; }

    // Removes the selected entry of a list (the file stays). Nothing selected: nothing happens.
    void mmuDelete_Click();
    void mmuDelete1_Click();

    // Empties both lists (the recordings were moved away by a backup).
    void clearAll();
    // Puts these entries (oldest first) back as the two lists (a backup's undo).
    void restoreLists(const QStringList &lastTen, const QStringList &unread, const QString &recordFolder);

    // Played from the unread list: the selected unread entry moves to the bottom of lstLastTen.
    void markSelectedUnreadAsHeard();

    QString currentRecording() const { return m_current; }
    bool currentFromUnread() const { return m_fromUnread; }

signals:
    // A new recording entered a list (mail forwarding picks it up here).
    void recordingListed(const QString &folder, const QString &name, int line);
    // The current recording changed (lblFileName shows it).
    void currentRecordingChanged(const QString &name, bool fromUnread);
    // A list's selected row changed by program; views follow it.
    void lastTenSelected(int row);
    void unreadSelected(int row);

private:
    void selectLast();
    // The models to the store's lists; a selected entry stays selected where it went.
    void reload();
    qint64 selectedId(bool unread) const;

    MessageStore &m_store;
    QStringListModel m_lastTen;
    QStringListModel m_unread;
    QList<qint64> m_lastTenIds;
    QList<qint64> m_unreadIds;
    int m_selectedLastTen = -1;
    int m_selectedUnread = -1;
    QString m_current;
    bool m_fromUnread = false;
};

// The caller's number in a caller-ID status line ("12:00:00 CallerID:5551234 ..."): the text
// after "CallerID:" up to the next space, trimmed. Nothing when the line has no "CallerID".
std::optional<QString> callerNumberFromStatusLine(const QString &line);

} // namespace telvox
