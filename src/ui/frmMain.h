#pragma once

#include <QWidget>

#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QIcon;
class QLabel;
class QListView;
class QMenu;
class QPushButton;
class QRegion;

namespace telvox {

class Printer;
class SettingsStore;
class StatusListModel;
class StatusLog;
class Texts;
class UserPrompts;
class DesktopShell;
class EventLoop;
class MainTimers;
class MediaControl;
class ModalRunner;
class SystemTray;
class WavePlayer;
enum class TrayClick;

// The main window: the status list, the two options, and the launching point of every other
// window. It stays loaded for the whole run; closing it hides it to the tray where there is
// one, and ends the program otherwise.
class frmMain final : public QWidget
{
    Q_OBJECT
public:
    struct Services
    {
        Texts &texts;
        SettingsStore &settings;
        StatusListModel &statusList;
        StatusLog &statusLog;
        UserPrompts &prompts;
        Printer &printer;
    };

    explicit frmMain(Services services, QWidget *parent = nullptr);
    ~frmMain() override;

    // Runs the shutdown sequence; set by the composition root. Closing the window calls it.
    void setShutdownHandler(std::function<void()> handler) { m_shutdown = std::move(handler); }

    // Loading steps that belong to the window.
    void CenterForm();
    void setCheckBoxes(bool legal, bool ringCount);
    void setCaptions();

    QCheckBox *chkLegal() const { return m_chkLegal; }
    QCheckBox *chkRingCount() const { return m_chkRingCount; }
    QListView *lstStatus() const { return m_lstStatus; }
    QPushButton *cmdDialOut() const { return m_cmdDialOut; }

    void cmdExit_Click();
    void cmdLog_Click();
    void mmuPrintLog_Click();

    // The desktop side of the window: the player, the tray, links and child windows. Set by
    // the composition root before loading; until then those commands do nothing.
    struct DesktopServices
    {
        MainTimers &timers; // tmMMTIMER, tmPlay and timPlayAll
        MediaControl &media;
        SystemTray &tray;
        DesktopShell &shell;
        ModalRunner &modal;
        EventLoop &loop;
        QString programFolder;
    };
    void setDesktopServices(DesktopServices desktop);

    // Loading: paints the picture of the language and applies the window outline.
    void paintBackground();
    // The window outline at the screen's twips per pixel.
    QRegion BuildOutline() const;
    // The recording the player plays: set by the message lists when one is selected.
    void setCurrentRecording(const QString &name, bool fromUnread);
    bool isInTray() const;
    WavePlayer *player() const;

    void cmdParam_Click();
    void cmdBackup_Click();
    void cmdBrows_Click();
    void cmdHelp_Click();
    void lblSpeaker_Click();
    void lblMin_Click();
    void Form_Resize();
    void trayIcon_Click(TrayClick click);
    // The tray shows the number of unread messages; a new one is announced by a desktop
    // notification, whether the window is in the tray or not.
    void setUnreadCount(int count);
    // Brings the window to the front, from the tray or from under other windows (a second
    // start of the program asks for it).
    void bringToFront();
    // "Minimise on start": straight to the tray where there is one, else minimised.
    void minimiseAtStart();
    // Whether the lines have far ends to drive by hand (the virtual exchange): the menus offer
    // its window only then.
    void setLineControlsAvailable(bool available);
    // A desktop notification of the new message `name`: `text` says who called and how long;
    // its "Play" and "Mark read" actions come back as messageActionChosen.
    void announceMessage(const QString &name, const QString &text);

signals:
    // The dial-out button was pressed (the "d" key presses it too).
    void dialOutRequested();
    // Ctrl+Shift+V: the window that drives the lines by hand (the virtual exchange's far ends).
    void lineControlsRequested();
    // The status list's menu: "Add to PhoneBook", and "Block this caller" with the status line
    // that was current.
    void addToPhoneBookRequested();
    void blockCallerRequested(const QString &statusLine);
    // Setup and Backup were pressed; their dialogs connect here.
    void setupRequested();
    void backupRequested();
    // A message of the unread list started playing: the lists move it to the handled ones.
    void unreadPlayed(const QString &name);
    // The tray menu's "Play newest": the lists choose the newest message and play it.
    void playNewestRequested();
    // An action of a new message's notification: "play" or "read", with the message's name.
    void messageActionChosen(const QString &name, const QString &action);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void useBackgroundOfLanguage();
    void chkLegal_Click();
    void chkRingCount_Click();
    struct Face;
    void buildFace();
    void setFaceCaptions();
    QString recordingFolder() const;
    void buildTrayMenu();
    void showTrayIcon();
    void hideToTray();
    QString trayToolTip() const;
    QIcon trayIcon() const;

    Services m_s;
    std::function<void()> m_shutdown;
    bool m_closing = false;
    bool m_quitting = false; // Exit was chosen: closing ends the program

    QListView *m_lstStatus;
    QCheckBox *m_chkLegal;
    QLabel *m_lblLegal;
    QCheckBox *m_chkRingCount;
    QLabel *m_lblRingCount;
    QPushButton *m_cmdLog;
    QPushButton *m_cmdDialOut;
    QPushButton *m_cmdExit;
    QMenu *m_mmuLog;
    QAction *m_mmuAddPB;
    QAction *m_mmuPrintLog;
    QAction *m_mmuBlockCaller;
    QAction *m_mmuLineControls;
    std::unique_ptr<Face> m_face;
};

} // namespace telvox
