#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace telvox {

class CallBlockList;
class MessageStore;
class SettingsStore;
class Texts;

// The small editor of call blocking: the block list and the allow list (one entry a line of
// BlockList.txt and AllowList.txt, a label after a tab), the blocking options, and the
// callers blocked lately. Saving writes both files (their comment lines kept at the top) and
// applies them at once.
class frmBlockList final : public QDialog
{
    Q_OBJECT
public:
    struct Services
    {
        const Texts &texts;
        SettingsStore &settings;
        CallBlockList &lists;
        const MessageStore &store; // the calls turned away lately
    };
    explicit frmBlockList(Services services, QWidget *parent = nullptr);

    // Puts a caller's number into the entry field, ready to be added.
    void offerNumber(const QString &number);

    void cmdBlockAdd_Click();
    void cmdAllowAdd_Click();
    void cmdSave_Click();

    QListWidget *lstBlocked() const { return m_blocked; }
    QListWidget *lstAllowed() const { return m_allowed; }
    QListWidget *lstRecent() const { return m_recent; }
    QLineEdit *txtEntry() const { return m_entry; }
    QLineEdit *txtLabel() const { return m_label; }
    QCheckBox *chkBlockWithheld() const { return m_withheld; }
    QCheckBox *chkPhonebookOnly() const { return m_phonebookOnly; }
    QCheckBox *chkNotice() const { return m_notice; }
    QComboBox *cboSipReject() const { return m_sipReject; }
    QPushButton *cmdBlockAdd() const { return m_blockAdd; }
    QPushButton *cmdAllowAdd() const { return m_allowAdd; }
    QPushButton *cmdSave() const { return m_save; }

private:
    void addTo(QListWidget *list);

    Services m_s;
    QListWidget *m_blocked;
    QListWidget *m_allowed;
    QListWidget *m_recent;
    QLineEdit *m_entry;
    QLineEdit *m_label;
    QCheckBox *m_withheld;
    QCheckBox *m_phonebookOnly;
    QCheckBox *m_notice;
    QComboBox *m_sipReject;
    QPushButton *m_blockAdd;
    QPushButton *m_allowAdd;
    QPushButton *m_save;
};

} // namespace telvox
