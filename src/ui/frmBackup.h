#pragma once

#include "platform/shell/FileTransfer.h"

#include <QDialog>
#include <QStringList>

#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QProgressDialog;
class QPushButton;

namespace telvox {

class MessageLists;
class SettingsStore;
class Texts;
class UserPrompts;

// The backup window: copies, or moves ("Delete Source Files"), every "*.wav" file of the
// recording folder into the folder chosen in the drive and folder lists, which start at the
// file system's root. A progress window can cancel the transfer, every file that already
// exists at the target is asked about, and the last operation can be undone. Moving empties
// both message lists first; undoing the move brings the files and the list entries back.
class frmBackup final : public QDialog
{
    Q_OBJECT
public:
    struct Services
    {
        const Texts &texts;
        SettingsStore &settings;
        UserPrompts &prompts;
        MessageLists &lists;
        QString recordingFolder;
        QString startFolder = QStringLiteral("/");
    };

    explicit frmBackup(Services services, QWidget *parent = nullptr);
    ~frmBackup() override;

    // The folder list's path: the target of Ok.
    QString targetFolder() const { return m_folder; }
    void setTargetFolder(const QString &folder);

    QComboBox *Drive1() const { return m_drive1; }
    QListWidget *Dir1() const { return m_dir1; }
    QListWidget *File1() const { return m_file1; }
    QCheckBox *Check1() const { return m_check1; }
    QPushButton *OKButton() const { return m_ok; }
    QPushButton *cmdUndo() const { return m_undo; }
    // The progress window of the transfers.
    QProgressDialog *progress() const { return m_progress; }

    void Drive1_Change();
    void Check1_LostFocus();
    void OKButton_Click();
    void CancelButton_Click();
    // Reverses the last copy or move; returns the number of files removed or put back.
    int cmdUndo_Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fillDir1();
    void fillFile1();

    Services m_s;
    QString m_folder;
    FileTransfer m_transfer;
    std::optional<FileTransfer::Result> m_last;
    QStringList m_lastTenBefore; // the lists as they were before the last move
    QStringList m_unreadBefore;

    QComboBox *m_drive1;
    QLabel *m_lblFolder;
    QListWidget *m_dir1;
    QListWidget *m_file1;
    QCheckBox *m_check1;
    QPushButton *m_ok;
    QPushButton *m_cancel;
    QPushButton *m_undo;
    QProgressDialog *m_progress;
};

} // namespace telvox
