#pragma once

#include <QDialog>

#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QScrollBar;

namespace telvox {

class DesktopShell;
class EventLoop;
class MediaControl;
class SettingsStore;
class Texts;
class Timer;
class UserPrompts;
class WavePlayer;

// The wave-file browser: a drive list, a folder list and a file list ("*.wav" at first, or
// the names containing the filter text), the player, "Show in File Manager", and a pop-up
// menu with Play and Delete on the file list.
class frmBrows final : public QDialog
{
    Q_OBJECT
public:
    struct Services
    {
        const Texts &texts;
        SettingsStore &settings;
        UserPrompts &prompts;
        MediaControl &media;
        EventLoop &loop;
        DesktopShell &shell;
        QString programFolder;
    };

    explicit frmBrows(Services services, QWidget *parent = nullptr);
    ~frmBrows() override;

    QComboBox *Drive1() const { return m_Drive1; }
    QListWidget *Dir1() const { return m_Dir1; }
    QListWidget *File1() const { return m_File1; }
    QLineEdit *Text1() const { return m_Text1; }
    WavePlayer &player() const { return *m_player; }

    // The folder Dir1 shows and File1 lists.
    QString dirPath() const { return m_dirPath; }
    void setDirPath(const QString &path); // Dir1_Change
    QString filePattern() const { return m_pattern; }

    void Drive1_Change();
    void Command1_Click(); // Show in File Manager
    void Command2_Click(); // apply the filter
    void File1_DblClick();
    void mmuPlay_Click();
    void mmuDelete_Click();
    void refreshFiles();

protected:
    // Each time the window opens it shows the folder as it is now.
    void showEvent(QShowEvent *event) override;

private:
    void fillDrives();
    void fillFolders();
    QString recordingsOrProgramFolder() const;

    Services m_s;
    QString m_dirPath;
    QString m_pattern = QStringLiteral("*.wav");
    std::unique_ptr<Timer> m_tmMMTIMER;
    std::unique_ptr<Timer> m_tmPlay;
    std::unique_ptr<WavePlayer> m_player;

    QComboBox *m_Drive1;
    QLabel *m_lblDir;
    QListWidget *m_Dir1;
    QListWidget *m_File1;
    QLineEdit *m_Text1;
    QPushButton *m_Command2;
    QPushButton *m_Command1;
    QLabel *m_Label1;
    QLabel *m_Label2;
    QLabel *m_lblFileName;
    QLabel *m_lblFileSize;
    QPushButton *m_cmdPlay;
    QPushButton *m_cmdPause;
    QPushButton *m_cmdStop;
    QScrollBar *m_HScroll1;
    QMenu *m_mmuBrow;
};

} // namespace telvox
