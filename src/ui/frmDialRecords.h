#pragma once

#include <QDialog>

class QListWidget;
class QPushButton;
class QTreeWidget;

namespace telvox {

class MessageStore;
class Texts;

// "PhoneCalls": the last calls made and received, and the calls call blocking turned away
// (time, number, label; from the message store). Choosing a made or
// received entry closes the window with that number, which the dialler then dials at once.
class frmDialRecords final : public QDialog
{
    Q_OBJECT
public:
    frmDialRecords(const MessageStore &records, const Texts &texts, const QString &programFolder,
                   QWidget *parent = nullptr);

    QListWidget *lstMade() const { return m_lstMade; }
    QListWidget *lstReceived() const { return m_lstReceived; }
    QTreeWidget *lstBlocked() const { return m_lstBlocked; }
    void cmdMade_Click();
    void cmdReceived_Click();
    // The number chosen; empty when the window was closed without a choice.
    QString chosenNumber() const { return m_chosen; }

private:
    void choose(const QListWidget *list);

    QListWidget *m_lstMade;
    QListWidget *m_lstReceived;
    QTreeWidget *m_lstBlocked;
    QString m_chosen;
};

} // namespace telvox
