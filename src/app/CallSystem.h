#pragma once

#include "core/AppPaths.h"
#include "core/LoadSequence.h"
#include "core/Settings.h"
#include "core/ShutdownSequence.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <optional>

namespace telvox {

class AudioActionsRelay;
class AudioStack;
class CallBlockList;
class Dialler;
class EventLoop;
class FileWatch;
class LineBackend;
class LineBackendRegistry;
class MailForwarder;
class MediaDevice;
class MessageLists;
class MessageStore;
class RemoteRetrieval;
class RingSchedule;
class SettingsStore;
class StatusListModel;
class StatusLog;
class TelephonyCore;
class TelephonyService;
class Texts;
class UserFiles;
class UserPrompts;
class WaveDeviceProvider;
struct MainTimers;

// What the windows do for the call system. The call system runs the loading and the shutdown
// sequences itself and asks these hooks only for the steps that show something; without
// windows (the service, the scenario runner, tests) the defaults keep the check boxes' values
// and show nothing.
class CallSystemHooks
{
public:
    virtual ~CallSystemHooks() = default;

    // The main window's "legal notice" and "ring count" check boxes: set once by the loading,
    // read by the call flow on every call.
    virtual void setCheckBoxes(bool legal, bool ringCount)
    {
        m_legal = legal;
        m_ringCount = ringCount;
    }
    virtual bool legalChecked() const { return m_legal; }
    virtual bool ringCountChecked() const { return m_ringCount; }

    // Loading steps of the main window.
    virtual void CenterForm() {}
    virtual void paintBackground() {}
    // The setup dialog, loaded hidden: the device names it shows for lines 0..3. Without one
    // (nullopt) the call system reads the setup's options from the settings.
    virtual std::optional<std::array<QString, 4>> loadSetupHidden() { return std::nullopt; }
    virtual bool minimiseOnStart() const { return false; }
    virtual void minimiseWindow() {}
    virtual void showFirstRunWindows() {}
    // The call flow puts a dialled number into the dialler window while it is shown.
    virtual void showDialledNumber(const QString &number) { (void)number; }
    // A warning the user must see even without looking at the status list (the tray's
    // balloon); it is also a status line.
    virtual void alarm(const QString &text) { (void)text; }

    // Shutdown steps outside the call system.
    virtual void releaseWindowRegion() {}
    virtual void mediaCommand(const char *command) { (void)command; }
    virtual void unloadWindows() {}
    virtual void endProcess() {}

private:
    bool m_legal = false;
    bool m_ringCount = true;
};

// Everything below the windows, built once, in one order, for the program, the service, the
// scenario runner and the tests: settings, texts, the status list and log, the main timers,
// the line service (from the backend registry or given), the call flow with call screening,
// the message lists, the ring schedule, the audio stack, the dialler and mail forwarding.
// It runs the loading and the shutdown sequences; windows take part through CallSystemHooks.
//
// Its life: construct (settings, status, timers, lists, ring schedule), useLanguage (texts),
// build (lines and all on them), load (the loading sequence), start (what loading settled), shutdown.
class CallSystem final : public LoadHooks, public ShutdownHooks
{
public:
    struct Options
    {
        AppPaths paths = {};
        EventLoop &loop;
        UserPrompts &prompts;
        MediaDevice &announcements; // the loudspeakers of the touch-tone menu
        // The lines: the registry's first backend that has lines and builds, honouring the
        // backends' command-line option values...
        const LineBackendRegistry *lineBackends = nullptr;
        QHash<QString, QStringList> lineOptions = {};
        // ...or, without a registry, this service and its lines' wave devices (owned by the
        // caller, e.g. a virtual exchange set up by a scenario).
        TelephonyService *lineService = nullptr;
        WaveDeviceProvider *lineDevices = nullptr;
        // The default wave device (the computer's sound card), registered after the lines'.
        WaveDeviceProvider *soundCard = nullptr;
        // Every request the audio engine gets, from the call flow or from itself.
        std::function<void(const QString &)> audioTrace = {};
        // The program's own files: when the lists load, takes other accounts' access off the
        // files already there (a status line says how many).
        bool privateFiles = false;
        // The user's files (block and allow lists, ring rules, phonebook, mail password) are
        // read again when they change while running.
        bool watchUserFiles = true;
    };

    explicit CallSystem(Options options);
    ~CallSystem() override;
    CallSystem(const CallSystem &) = delete;
    CallSystem &operator=(const CallSystem &) = delete;

    // The texts in the language of `languageSetting` (the "Language" setting's values).
    const Texts &useLanguage(const QString &languageSetting);
    // Builds the lines and everything on them (after useLanguage).
    void build();
    // The windows' hooks; until then (or without windows) the headless defaults.
    void attach(CallSystemHooks &hooks) { m_hooks = &hooks; }
    // Back to the headless defaults (before the windows go).
    void detach() { m_hooks = &m_headless; }
    // Runs the main window's loading sequence.
    LoadResult load(LoadedState &state);
    // Applies what loading settled (ring gaps, stop triggers, busy detector) and starts mail
    // forwarding.
    void start(const LoadedState &state);
    // Runs the shutdown sequence.
    void shutdown();

    const AppPaths &paths() const { return m_o.paths; }
    EventLoop &loop() { return m_o.loop; }
    SettingsStore &settings() { return *m_settings; }
    Texts &texts() { return *m_texts; }
    const Texts &texts() const { return *m_texts; }
    StatusListModel &statusList() { return *m_statusList; }
    StatusLog &statusLog() { return *m_statusLog; }
    MainTimers &timers() { return *m_timers; }
    // The backend carrying the lines (an adapter around the given service without a registry).
    LineBackend &lineBackend() { return *m_lineBackend; }
    int lineLabelText() const { return m_lineLabelText; } // 0 when the lines were given
    // "sip", "modem", "virtual" ("" when the lines were given), and what it last said of a
    // line (news that begins with "Line<n>": a registration, a modem that stopped answering).
    QString lineBackendName() const { return m_lineBackendName; }
    QString lastLineNews(int line) const { return m_lineNews.value(line); }
    TelephonyCore &telephony() { return *m_telephony; }
    AudioActionsRelay &audioRelay() { return *m_audioRelay; }
    AudioStack &audio() { return *m_audio; }
    MessageLists &messageLists() { return *m_lists; }
    MessageStore &messageStore() { return *m_store; }
    RingSchedule &ringSchedule() { return *m_ringSchedule; }
    CallBlockList &blockList() { return *m_blockList; }
    Dialler &dialler() { return *m_dialler; }
    MailForwarder *mailForwarder() const { return m_forwarder.get(); } // null until started
    RemoteRetrieval &remoteRetrieval() { return *m_remote; }

    // LoadHooks
    void CenterForm() override { m_hooks->CenterForm(); }
    void paintBackground() override { m_hooks->paintBackground(); }
    void setCheckBoxes(bool legal, bool ringCount) override { m_hooks->setCheckBoxes(legal, ringCount); }
    void OpenDayLog() override;
    void setRingWatchInterval(int line, int ms) override;
    void ResetLineHandles() override;
    bool InitTapi() override;
    std::array<QString, 4> loadSetupHidden() override;
    void OpenLines() override;
    void LoadPhoneBook() override;
    void LoadMessageLists() override;
    void LoadRingRules(const QString &ringsFile) override;
    void EnumerateCodecs() override;
    bool minimiseOnStart() const override { return m_hooks->minimiseOnStart(); }
    void minimiseWindow() override { m_hooks->minimiseWindow(); }
    void showFirstRunWindows() override { m_hooks->showFirstRunWindows(); }

    // ShutdownHooks
    void releaseWindowRegion() override { m_hooks->releaseWindowRegion(); }
    void mediaCommand(const char *command) override { m_hooks->mediaCommand(command); }
    void closeLogChannel() override;
    void closeOpenLines() override;
    void lineShutdown() override;
    void disableLogTimer() override;
    void unloadWindows() override { m_hooks->unloadWindows(); }
    void endProcess() override { m_hooks->endProcess(); }

    // The status line that tells the user what happened to the options file `file`; `alarm`
    // says whether it also deserves a notification. The companion commands say the same.
    static QString optionsFileEventText(const Texts &texts, const QString &file, const SettingsStore::FileEvent &event,
                                        bool *alarm);

private:
    void tightenExistingFiles(const QString &recordingFolder);
    void optionsFileEvent(const SettingsStore::FileEvent &event);
    QString phoneBookName(const QString &number) const;
    void startMailForwarding();

    Options m_o;
    CallSystemHooks m_headless;
    CallSystemHooks *m_hooks = &m_headless;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<Texts> m_texts;
    std::unique_ptr<StatusListModel> m_statusList;
    std::unique_ptr<StatusLog> m_statusLog;
    std::unique_ptr<MainTimers> m_timers;
    std::unique_ptr<LineBackend> m_lineBackend;
    int m_lineLabelText = 0;
    QString m_lineBackendName;
    QHash<int, QString> m_lineNews;
    QStringList m_lineNotes; // what the backends said while building, shown at InitTapi
    std::unique_ptr<AudioActionsRelay> m_audioRelay;
    std::unique_ptr<CallBlockList> m_blockList;
    std::unique_ptr<TelephonyCore> m_telephony;
    std::unique_ptr<MessageStore> m_store;
    std::unique_ptr<MessageLists> m_lists;
    std::unique_ptr<RingSchedule> m_ringSchedule;
    std::unique_ptr<AudioStack> m_audio;
    std::unique_ptr<Dialler> m_dialler;
    std::unique_ptr<RemoteRetrieval> m_remote;
    std::unique_ptr<MailForwarder> m_forwarder;
    LoadedState *m_loading = nullptr; // what the loading sequence settles, while it runs
    std::unique_ptr<UserFiles> m_userFiles;
    std::unique_ptr<FileWatch> m_fileWatch;
    QStringList m_changedWhileLoading;
    bool m_logWatched = false;
    // Recordings listed before mail forwarding starts (found or recovered at start-up): their
    // mails are queued when it does.
    struct Listed
    {
        QString folder, name;
        int line;
    };
    QList<Listed> m_listedBeforeForwarding;
};

} // namespace telvox
