#pragma once

#include <QObject>
#include <QStringListModel>

#include <optional>

namespace telvox {

class SettingsStore;

// The two recording lists of the main window: `lstLastTen` (recordings that need no
// attention) and `lstUnread` (messages nobody has played yet), fifty entries each, newest at
// the bottom, kept in the settings store under "Data" and "DataUnread" with the keys " 0" to
// " 49". Also the current recording that the player opens, with its from-unread flag.
class MessageLists final : public QObject
{
    Q_OBJECT
public:
    static constexpr int kCapacity = 50;

    explicit MessageLists(SettingsStore &settings, QObject *parent = nullptr);

    QStringListModel &lastTen() { return m_lastTen; }
    QStringListModel &unread() { return m_unread; }
    QStringList lastTenEntries() const { return m_lastTen.stringList(); }
    QStringList unreadEntries() const { return m_unread.stringList(); }

    void LoadMessageLists();
    // Drops the oldest entry of a list above fifty, saves both lists, selects the last entries.
    void MaintainLists();
    void SaveLists();

    // A finished recording: listed (unread when its file name begins with "A", or when
    // `unread`) when the file exists in `recordFolder`. `name` is a file name, or a whole
    // path for a recording kept elsewhere. Returns whether it was listed. `line` is the line it
    // came from (-1: unknown).
    bool addRecording(const QString &recordFolder, const QString &name, bool unread = false, int line = -1);

    // Selecting an entry, by click or by program: it becomes the current recording.
    void lstLastTen_Click(int row);
    void lstUnread_Click(int row);
    int selectedLastTen() const { return m_selectedLastTen; }
    int selectedUnread() const { return m_selectedUnread; }

    // Removes the selected entry of a list (the file stays). Nothing selected: nothing happens.
    void mmuDelete_Click();
    void mmuDelete1_Click();

    // Empties both lists and stores fifty empty values in "Data" and "DataUnread" (the
    // recordings were moved away by a backup).
    void clearAll();

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

    SettingsStore &m_settings;
    QStringListModel m_lastTen;
    QStringListModel m_unread;
    int m_selectedLastTen = -1;
    int m_selectedUnread = -1;
    QString m_current;
    bool m_fromUnread = false;
};

// The caller's number in a caller-ID status line ("12:00:00 CallerID:5551234 ..."): the text
// after "CallerID:" up to the next space, trimmed. Nothing when the line has no "CallerID".
std::optional<QString> callerNumberFromStatusLine(const QString &line);

// The entries of a stored list ("Data", "DataUnread"): the non-empty values of keys " 0" to
// " 49" in order; writing stores all fifty keys, blank beyond the entries.
QStringList readStoredList(const SettingsStore &settings, const QString &section);
void writeStoredList(SettingsStore &settings, const QString &section, const QStringList &entries);

} // namespace telvox
