#pragma once

#include "app/CallSystem.h"
#include "core/AppPaths.h"
#include "core/LoadSequence.h"

#include <QElapsedTimer>
#include <QHash>
#include <QStringList>

#include <functional>
#include <memory>

class QWidget;

namespace telvox {

class EventLoop;
class InstanceLock;
class Printer;
class Timer;
class UserPrompts;
class frmMain;
class frmPopCallID;
class frmSplash;
struct PublishedSetup;
class DesktopShell;
class MediaControl;
class MediaDevice;
class ModalRunner;
class SystemTray;
class LineBackendRegistry;
class MailClient;
class MessageListsBinder;
class HomeLink;
class WaveDeviceProvider;
class frmDialOut;
class AutostartEntry;
class FolderPicker;
class SoundRecorder;
class frmSetup;
class RaiseListener;

// The composition root: builds the call system and the windows, runs the entry procedure,
// the main window's loading and the shutdown; the windows take part in the call system's
// loading and shutdown through its hooks.
class TelvoxApplication final : public CallSystemHooks
{
public:
    struct Options
    {
        bool echoStatus = false; // print every status line to standard output
        // The service: no window is ever shown (no splash, no main window, no first-run
        // notice); everything else runs as on the desktop.
        bool headless = false;
        // The line backends to ask for lines; null: every backend of the program
        // (registerLineBackends). It must outlive the application.
        const LineBackendRegistry *lineBackends = nullptr;
        // The values of the backends' command-line options for this run, by option name
        // (the ports of --modem: the emulated modems of scripts/run, a modem being tried out).
        QHash<QString, QStringList> lineOptions;
        // Desktop services; null means the real one (sound card, tray, desktop, dialogs).
        MediaDevice *mediaDevice = nullptr;
        SystemTray *tray = nullptr;
        DesktopShell *shell = nullptr;
        ModalRunner *modal = nullptr;
        MediaDevice *announcements = nullptr; // the loudspeakers for the touch-tone menu
        MailClient *mail = nullptr;
        FolderPicker *folders = nullptr;     // the setup's folder browser
        SoundRecorder *recorder = nullptr;   // the touch-tone prompts' recorder
        AutostartEntry *autostart = nullptr; // "Load At System Start"
    };

    TelvoxApplication(AppPaths paths, EventLoop &loop, UserPrompts &prompts, Printer &printer, Options options);
    ~TelvoxApplication() override;

    enum class StartResult { Running, AlreadyRunning };
    // The entry procedure: refuses a second instance, fixes the language, shows the splash
    // window (not on the first start) and then loads the main window.
    StartResult Main();

    // Closing the main window (or SIGINT / SIGTERM) runs the shutdown sequence once.
    void shutdown();

    // Called when the process must end, with its exit code.
    void setEndProcessHandler(std::function<void(int)> handler) { m_endProcess = std::move(handler); }
    // Starts the program again once this run has ended (after the setup was saved); without
    // a handler it is not started again.
    void setRestartHandler(std::function<void()> handler) { m_restart = std::move(handler); }
    // The program's restart: a detached copy with the same arguments, a second later.
    static void restartDetached();

    bool isLoaded() const { return m_loaded; }
    // A second start that brought the running program's window forward: it did its job.
    bool raisedRunningInstance() const { return m_raisedRunning; }
    // Called once loading has finished (after the splash, when there is one).
    void setLoadedHandler(std::function<void()> handler) { m_loadedHandler = std::move(handler); }
    bool isFirstStart() const { return m_firstStart; }
    bool splashShown() const { return m_splashShown; }
    // Milliseconds the main window's loading took (without the splash window).
    qint64 loadMilliseconds() const { return m_loadMs; }

    const AppPaths &paths() const { return m_paths; }
    // Everything below the windows.
    CallSystem &system() { return *m_system; }
    SettingsStore &settings() { return m_system->settings(); }
    const Texts &texts() const { return m_system->texts(); }
    StatusLog &statusLog() { return m_system->statusLog(); }
    StatusListModel &statusList() { return m_system->statusList(); }
    MainTimers &timers() { return m_system->timers(); }
    frmMain *mainWindow() const { return m_main.get(); }
    const LoadedState &loadedState() const { return m_state; }
    MediaControl &media() { return *m_media; }
    // Called when the first-run notice was agreed to: the setup dialog opens from here.
    void setFirstSetupHandler(std::function<void()> handler) { m_firstSetup = std::move(handler); }
    // The first-run notice was closed with Exit: the program ends without loading further.
    bool firstRunRefused() const { return m_firstRunRefused; }
    TelephonyCore &telephony() { return m_system->telephony(); }
    // The name of the backend that carries the lines ("sip", "modem", "virtual").
    AudioStack &audio() { return m_system->audio(); }
    MessageLists &messageLists() { return m_system->messageLists(); }
    RingSchedule &ringSchedule() { return m_system->ringSchedule(); }
    MailForwarder *mailForwarder() const { return m_system->mailForwarder(); }
    CallBlockList &blockList() { return m_system->blockList(); }
    // The block-list editor, with `number` offered as a new entry (may be empty).
    void showBlockList(const QString &number);
    // The window that drives the lines' backend by hand (Ctrl+Shift+V; the virtual exchange's
    // far ends), created on first use; null when the backend has none.
    QWidget *showLineControls();
    Dialler &dialler() { return m_system->dialler(); }
    // The dialler window, shown modally.
    void showDialOut();
    // The status list's "add to phonebook": the entry editor with the selected caller's number.
    void addCallerToPhoneBook();
    // The setup dialog: created and loaded on first use, shown modally.
    frmSetup *setupDialog() const { return m_setup.get(); }
    void showSetup();
    // The backup window, shown modally.
    void showBackup();
    // The prompt recorders the setup opens: the capture recorder for the greeting and the
    // legal notice, the media recorder for the touch-tone prompts.
    void recordPrompt(const QString &promptName, bool captureRecorder);

    // CallSystemHooks: the steps of the loading and the shutdown that concern the windows.
    void setCheckBoxes(bool legal, bool ringCount) override;
    bool legalChecked() const override;
    bool ringCountChecked() const override;
    void CenterForm() override;
    void paintBackground() override;
    std::optional<std::array<QString, 4>> loadSetupHidden() override;
    bool minimiseOnStart() const override { return m_minOnStart; }
    void minimiseWindow() override;
    void showFirstRunWindows() override;
    void showDialledNumber(const QString &number) override;
    void alarm(const QString &text) override;
    void releaseWindowRegion() override;
    void mediaCommand(const char *command) override;
    void unloadWindows() override;
    void endProcess() override;

    // Whether `text` is one of the last status lines printed by --echo-status.
    bool echoedRecently(const QString &text) const { return m_echoed.contains(text); }

private:
    void loadMainWindow();
    std::unique_ptr<frmMain> buildMainWindow();
    // A second start asked for the window: shown now, or once loaded when still starting.
    void raiseRequested();
    void addBlockingCommands(); // AppForwarding.cpp
    frmSetup &loadedSetup();
    // AppSetupValues.cpp: the setup's values at start-up, and the line chosen by default.
    void applySetup(const PublishedSetup &published);
    bool selectFirstLineByDefault(const std::array<bool, 4> &selected, bool firstLineUsable);
    ModalRunner &modal();

    AppPaths m_paths;
    EventLoop &m_loop;
    UserPrompts &m_prompts;
    Printer &m_printer;
    Options m_options;

    std::unique_ptr<InstanceLock> m_lock;
    std::unique_ptr<RaiseListener> m_raiseListener; // a second start brings the window forward
    std::unique_ptr<MediaDevice> m_ownMediaDevice;
    std::unique_ptr<SystemTray> m_ownTray;
    std::unique_ptr<DesktopShell> m_ownShell;
    std::unique_ptr<ModalRunner> m_ownModal;
    std::unique_ptr<MediaControl> m_media;
    std::function<void()> m_firstSetup;
    bool m_firstRunRefused = false;
    bool m_raisedRunning = false;
    bool m_raiseWhenLoaded = false; // a second start asked for the window before it was there
    std::unique_ptr<LineBackendRegistry> m_ownLineBackends;
    std::unique_ptr<WaveDeviceProvider> m_soundCard;
    std::unique_ptr<MediaDevice> m_ownAnnouncements;
    std::unique_ptr<MailClient> m_ownMail;
    std::unique_ptr<CallSystem> m_system;
    std::unique_ptr<MessageListsBinder> m_listsBinder;
    std::unique_ptr<HomeLink> m_home; // MQTT and the webhook
    frmDialOut *m_dialOut = nullptr; // the dialler window while it is shown
    std::unique_ptr<frmMain> m_main;
    // The main window's controls, built while the splash shows; the loading takes them.
    std::unique_ptr<frmMain> m_builtMain;
    std::unique_ptr<frmPopCallID> m_popCallId;
    std::unique_ptr<QWidget> m_lineControls;
    std::unique_ptr<FolderPicker> m_ownFolders;
    std::unique_ptr<SoundRecorder> m_ownRecorder;
    std::unique_ptr<AutostartEntry> m_ownAutostart;
    std::unique_ptr<frmSetup> m_setup;
    bool m_minOnStart = false;
    bool m_exitRequested = false; // the setup was saved while the main window was loading
    std::unique_ptr<frmSplash> m_splash;
    std::unique_ptr<Timer> m_splashTimer;
    std::function<void(int)> m_endProcess;
    std::function<void()> m_restart;
    bool m_restartRequested = false; // the setup was saved: start again to apply it
    LoadedState m_state;
    QElapsedTimer m_loadClock;
    qint64 m_loadMs = 0;
    bool m_firstStart = false;
    bool m_splashShown = false;
    bool m_loaded = false;
    std::function<void()> m_loadedHandler;
    bool m_shutdownDone = false;
    QStringList m_echoed; // the last lines --echo-status printed, without their time
};

} // namespace telvox
