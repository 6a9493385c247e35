#pragma once

#include <QObject>

class QFileSystemWatcher;
class QListWidget;
class QMenu;
class QAction;
class QLabel;
class QPushButton;

namespace telvox {

class MailClient;
class MessageLists;
class StatusListModel;
class Texts;
class Timer;
class UserPrompts;
class frmMain;

// Puts the two recording lists on the main window: their items follow the lists, a click or
// a selection by program makes the entry the player's current recording, a double-click
// plays it, the pop-up menus play, delete and play all, and playing an unread message moves it
// to the handled ones. The caller column follows the phonebook file: an edit there shows at
// once. Also the status list's "add caller to phonebook" entry.
class MessageListsBinder final : public QObject
{
    Q_OBJECT
public:
    struct Services
    {
        MessageLists &lists;
        frmMain &window;
        Timer &timPlayAll;
        UserPrompts &prompts;
        StatusListModel &statusList;
        MailClient &mail;
        QString recordFolder;
        const Texts *texts = nullptr; // the menus' language, and the mail messages; without, the design's captions
        QString phoneBookPath = {};   // names the callers in the lists' caller column
    };

    explicit MessageListsBinder(Services services, QObject *parent = nullptr);

    void mmuPlay_Click();
    void mmuPlay1_Click();
    void mmuPlayAll_Click();
    void mmumailto_Click();
    void timPlayAll_Timer();
    // "加入电话簿": the caller of the selected caller-ID status line; returns the number when
    // the line has one (the phonebook editor takes it), else shows the message.
    QString mmuAddPB_Click(int statusRow);

    QAction *mailToAction() const { return m_mmumailto; }

signals:
    // "Block this caller" in a recording list's menu, with the recording's number.
    void blockCallerRequested(const QString &number);

public:
    // An action of a new message's notification ("play", "read").
    void messageActionChosen(const QString &entry, const QString &action);

    // The program is ending: the phonebook is no longer watched (see FileWatch::stop).
    void stopWatching();

private:
    void announce(const QString &entry);
    void refill(QListWidget *widget, const QStringList &entries);
    void watchPhoneBook();
    void pressPlay();
    bool playerIdle() const;

    Services m_s;
    QListWidget *m_lstLastTen;
    QListWidget *m_lstUnread;
    QLabel *m_lblFileName;
    QPushButton *m_cmdPlay;
    QPushButton *m_cmdPause;
    QAction *m_mmumailto = nullptr;
    QStringList m_announced; // the unread messages already announced
    QFileSystemWatcher *m_phoneBookWatch = nullptr;
    QString m_phoneBookStamp; // time and size of the phonebook file the lists show
};

} // namespace telvox
