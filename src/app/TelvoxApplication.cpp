#include "app/TelvoxApplication.h"

#include "core/EventLoop.h"
#include "core/MainTimers.h"
#include "core/PrivateFiles.h"
#include "core/Settings.h"
#include "core/Texts.h"
#include "platform/shell/UserPrompts.h"
#include "app/LineBackendList.h"
#include "platform/telephony/LineBackends.h"
#include "sim/exchange/VirtualExchangeBackend.h"
#include "records/StatusLog.h"
#include "audio/AudioEngine.h"
#include "audio/AudioStack.h"
#include "audio/CodecConversion.h"
#include "platform/shell/MailClient.h"
#include "platform/wave/QtAudioDevices.h"
#include "records/CallBlockList.h"
#include "records/MailForward.h"
#include "records/MessageLists.h"
#include "records/RingSchedule.h"
#include "ui/MessageListsBinder.h"
#include "telephony/TelephonyCore.h"
#include "ui/frmMain.h"
#include "ui/frmPopCallID.h"
#include "ui/frmSplash.h"
#include "ui/frmVirtualExchange.h"
#include "platform/media/MediaControl.h"
#include "platform/media/QtMediaDevice.h"
#include "ui/DesktopShell.h"
#include "ui/ModalRunner.h"
#include "ui/SystemTray.h"
#include "ui/frmTip.h"
#include "ui/InstanceRaise.h"
#include "ui/InterfaceLanguage.h"
#include "telephony/Dialler.h"
#include "telephony/PhoneBookTable.h"
#include "ui/frmDialOut.h"
#include "ui/frmPBAdd.h"
#include "platform/media/QtSoundRecorder.h"
#include "platform/shell/AutostartEntry.h"
#include "ui/WidgetFolderPicker.h"
#include "ui/frmBackup.h"
#include "ui/frmGreeting.h"
#include "ui/frmSetup.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QListView>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>

namespace telvox {

namespace {
constexpr int kSplashMilliseconds = 2500;
}

namespace {

// The service the options give (tests), or else one of our own of type `Own`, made now and
// kept in `own`; either way `given` points at it afterwards.
template <class Own, class Service, class Held>
void givenOrOwn(Service *&given, std::unique_ptr<Held> &own)
{
    if (given)
        return;
    own = std::make_unique<Own>();
    given = own.get();
}

} // namespace

TelvoxApplication::TelvoxApplication(AppPaths paths, EventLoop &loop, UserPrompts &prompts, Printer &printer,
                                     Options options)
    : m_paths(std::move(paths))
    , m_loop(loop)
    , m_prompts(prompts)
    , m_printer(printer)
    , m_options(options)
{
    // Calls, numbers and names are private: every file made from here on is the user's alone,
    // and so is the program folder.
    usePrivateFileMode();
    QDir().mkpath(m_paths.programFolder);
    makePrivateFolder(m_paths.programFolder);
    m_settings = std::make_unique<SettingsStore>(m_paths.settingsFile, m_paths.file(QStringLiteral("settings.txt")));
    m_statusList = std::make_unique<StatusListModel>();
    m_statusLog = std::make_unique<StatusLog>(m_loop, m_paths.file(QStringLiteral("LogFiles")), *m_statusList);
    m_timers = std::make_unique<MainTimers>(m_loop);
    m_timers->timLog->setCallback([this] { m_statusLog->timLog_Timer(); });

    // Desktop services: the ones given (tests), otherwise the real ones.
    // From here on every service pointer of m_options is set.
    givenOrOwn<QtMediaDevice>(m_options.mediaDevice, m_ownMediaDevice);
    givenOrOwn<QtSystemTray>(m_options.tray, m_ownTray);
    givenOrOwn<QtDesktopShell>(m_options.shell, m_ownShell);
    givenOrOwn<WidgetModalRunner>(m_options.modal, m_ownModal);
    givenOrOwn<QtSoundRecorder>(m_options.recorder, m_ownRecorder);
    givenOrOwn<WidgetFolderPicker>(m_options.folders, m_ownFolders);
    givenOrOwn<AutostartEntry>(m_options.autostart, m_ownAutostart);
    givenOrOwn<QtMediaDevice>(m_options.announcements, m_ownAnnouncements);
    givenOrOwn<XdgEmailClient>(m_options.mail, m_ownMail);
    if (!m_options.lineBackends) {
        m_ownLineBackends = std::make_unique<LineBackendRegistry>();
        registerLineBackends(*m_ownLineBackends);
        m_options.lineBackends = m_ownLineBackends.get();
    }
    m_media = std::make_unique<MediaControl>(*m_options.mediaDevice);
    m_media->setRecorder(m_options.recorder);

    if (m_options.echoStatus) {
        QObject::connect(m_statusList.get(), &QAbstractItemModel::rowsInserted,
                         [this](const QModelIndex &, int first, int last) {
                             QTextStream out(stdout);
                             for (int row = first; row <= last; ++row)
                                 out << m_statusList->lines().at(row) << Qt::endl;
                         });
    }
}

TelvoxApplication::~TelvoxApplication()
{
    m_splashTimer.reset();
    m_splash.reset();
    m_raiseListener.reset();
    m_listsBinder.reset();
    m_dialler.reset();
    m_forwarder.reset(); // a delivery under way is broken off and stays queued
    m_setup.reset();
    m_virtualExchange.reset();
    m_popCallId.reset();
    m_main.reset();
    // The audio engine's devices report into the line table: they go before the call flow.
    m_audio.reset();
    m_telephony.reset();
    m_lineBackend.reset();
}

TelvoxApplication::StartResult TelvoxApplication::Main()
{
    m_lock = std::make_unique<QLockFile>(m_paths.lockFile);
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0) && m_lock->error() == QLockFile::LockFailedError) {
        // The running program shows its window instead; the message only when it cannot.
        if (askRunningInstanceToRaise(m_paths.lockFile + QStringLiteral(".raise"))) {
            m_lock.reset();
            return StartResult::AlreadyRunning;
        }
        m_prompts.messageBox(QStringLiteral("Telvox Is Already Running"), MessageIcon::Critical,
                             QStringLiteral("Telvox"));
        m_lock.reset();
        return StartResult::AlreadyRunning;
    }

    const QString language = m_settings->ReadSetting(QStringLiteral("Config"), QStringLiteral("Language"));
    if (language.isEmpty()) {
        // First start: the language of the user's locale until another is chosen in the setup.
        m_firstStart = true;
        const QString chosen = systemLanguageSetting();
        m_settings->WriteSettingJournaled(QStringLiteral("Config"), QStringLiteral("Language"), chosen);
        m_texts = std::make_unique<Texts>(builtInStrings(), languageOffsetFor(chosen));
        installQtTranslations(m_texts->languageOffset());
        m_loop.doEvents();
        loadMainWindow();
        return StartResult::Running;
    }

    m_texts = std::make_unique<Texts>(builtInStrings(), languageOffsetFor(language));
    installQtTranslations(m_texts->languageOffset());
    if (m_options.headless) {
        m_loop.doEvents();
        loadMainWindow();
        return StartResult::Running;
    }
    m_splash = std::make_unique<frmSplash>(*m_texts);
    m_splash->show();
    m_splashShown = true;
    m_splashTimer = m_loop.createTimer(kSplashMilliseconds, [this] {
        m_splashTimer->setEnabled(false);
        m_splash->hide();
        m_loop.post([this] {
            m_splash.reset();
            loadMainWindow();
        });
    });
    m_splashTimer->setEnabled(true);
    m_loop.doEvents();
    return StartResult::Running;
}

void TelvoxApplication::loadMainWindow()
{
    m_loadClock.start();
    m_main = std::make_unique<frmMain>(
        frmMain::Services{*m_texts, *m_settings, *m_statusList, *m_statusLog, m_prompts, m_printer});
    m_main->setShutdownHandler([this] { shutdown(); });
    if (m_lock && m_lock->isLocked() && !m_options.headless) // a service has no window to show
        m_raiseListener = std::make_unique<RaiseListener>(m_paths.lockFile + QStringLiteral(".raise"),
                                                          [this] { m_main->bringToFront(); });
    m_main->setDesktopServices(
        {*m_timers, *m_media, *m_options.tray, *m_options.shell, *m_options.modal, m_loop, m_paths.programFolder});

    // The lines: the first backend of the registry that has lines of its own and builds
    // carries them (the virtual exchange when no other does); what the backends said comes
    // to the status list when the line service is initialised.
    LineBackendRegistry::Built built = m_options.lineBackends->build(LineBackendContext{
        m_loop, *m_settings, *m_texts, m_options.lineOptions,
        [this](const QString &news) { m_statusLog->AddStatus(news); }});
    m_lineBackend = std::move(built.backend);
    m_lineBackendName = built.name;
    m_lineNotes = built.notes;
    TelephonyService &lineService = m_lineBackend->service();
    m_audioRelay = std::make_unique<AudioActionsRelay>();
    m_telephony = std::make_unique<TelephonyCore>(TelephonyServices{lineService, m_loop, *m_settings, *m_texts,
                                                                    *m_statusLog, m_prompts, *m_timers, *m_audioRelay,
                                                                    m_paths.programFolder});
    startCallScreening();
    m_lists = std::make_unique<MessageLists>(*m_settings);
    m_ringSchedule = std::make_unique<RingSchedule>();
    m_audio = std::make_unique<AudioStack>(AudioStack::Services{
        m_loop, m_telephony->lineTable(), lineService, *m_lists, *m_statusLog, *m_texts, m_prompts, *m_timers,
        *m_options.announcements,
        [this] { return m_main && m_main->chkLegal()->isChecked(); }, m_paths.programFolder});
    m_audio->devices().addProvider(m_lineBackend->waveDevices());
    m_lineBackend->start();
    // The computer's own sound card is the default device (the greeting recorder's microphone).
    m_soundCard = std::make_unique<QtAudioDevices>();
    m_audio->devices().addProvider(*m_soundCard, true);
    m_audioRelay->setTarget(&m_audio->engine());
    m_telephony->setPickRingCount([this](int rings) { return m_ringSchedule->PickRingCount(rings, m_loop.currentDateTime()); });
    m_telephony->setWindowChecks([this] { return m_main->chkRingCount()->isChecked(); },
                                 [this] { return m_main->chkLegal()->isChecked(); });
    m_popCallId = std::make_unique<frmPopCallID>(*m_telephony);
    m_dialler = std::make_unique<Dialler>(
        Dialler::Services{*m_telephony, m_loop, *m_settings, *m_statusLog, *m_texts, *m_timers, *m_audioRelay});
    m_telephony->setDialerTimerStart([this](int line) { m_dialler->startWatch(line); });
    m_telephony->setDialOutField([this](const QString &number) {
        if (m_dialOut)
            m_dialOut->txtDialOut()->setText(number);
    });
    QObject::connect(m_main.get(), &frmMain::dialOutRequested, m_main.get(), [this] { showDialOut(); });
    QObject::connect(m_main.get(), &frmMain::virtualExchangeRequested, m_main.get(), [this] { showVirtualExchange(); });
    QObject::connect(m_main.get(), &frmMain::setupRequested, m_main.get(), [this] { showSetup(); });
    QObject::connect(m_main.get(), &frmMain::backupRequested, m_main.get(), [this] { showBackup(); });

    const LoadResult result = runLoadSequence(m_paths, *m_settings, m_loop, *this, m_state);
    if (result == LoadResult::TelephonyUnavailable) {
        // The telephony service said why; the process ends without the shutdown sequence.
        endProcess();
        return;
    }
    if (m_firstRunRefused)
        return; // the user left at the first-run notice; the process is ending
    if (m_exitRequested) {
        shutdown(); // the first setup was saved: the program ends, to start afresh
        return;
    }
    m_telephony->setRingGaps(m_state.ringGap);
    m_audio->startTriggers(m_state.stopOptions);
    m_listsBinder = std::make_unique<MessageListsBinder>(MessageListsBinder::Services{
        *m_lists, *m_main, *m_timers->timPlayAll, m_prompts, *m_statusList,
        *m_options.mail, m_state.recordingFolder, m_texts.get(),
        m_paths.file(QStringLiteral("PhoneBook.txt"))});
    startMailForwarding();
    if (auto *addPB = m_main->findChild<QAction *>(QStringLiteral("mmuAddPB")))
        QObject::connect(addPB, &QAction::triggered, m_main.get(), [this] { addCallerToPhoneBook(); });
    SetupOptions options = m_telephony->setupOptions();
    options.fastBusy = m_state.stopOptions.fastBusy;
    m_telephony->setSetupOptions(options);
    m_loaded = true;
    m_loadMs = m_loadClock.elapsed();
    if (m_loadedHandler)
        m_loadedHandler();
    if (m_options.headless)
        return; // the service shows no window
    if (m_main->isInTray())
        return; // minimised on start: the tray icon stands for the window
    if (m_main->windowState() & Qt::WindowMinimized)
        m_main->showMinimized();
    else
        m_main->show();
}

void TelvoxApplication::shutdown()
{
    if (m_shutdownDone)
        return;
    m_shutdownDone = true;
    runShutdownSequence(*this);
}

void TelvoxApplication::CenterForm() { m_main->CenterForm(); }

void TelvoxApplication::paintBackground() { m_main->paintBackground(); }

void TelvoxApplication::setCheckBoxes(bool legal, bool ringCount)
{
    m_main->setCheckBoxes(legal, ringCount);
    m_main->setCaptions();
}

void TelvoxApplication::OpenDayLog() { m_statusLog->OpenDayLog(); }

void TelvoxApplication::setRingWatchInterval(int line, int ms) { m_timers->Timer1[line].setInterval(ms); }

void TelvoxApplication::ResetLineHandles() { m_telephony->ResetLineHandles(); }

bool TelvoxApplication::InitTapi()
{
    for (const QString &note : std::as_const(m_lineNotes))
        m_statusLog->AddStatus(note);
    m_lineBackend->beforeLinesOpen();
    return m_telephony->InitTapi();
}

std::array<QString, 4> TelvoxApplication::loadSetupHidden()
{
    frmSetup &setup = loadedSetup();
    // On the virtual exchange a store without any line selection opens Line0, so that a new
    // user can try calls from the Virtual Exchange window at once.
    bool anySelection = false;
    for (int k = 0; k < 4; ++k)
        anySelection = anySelection
                       || !m_settings->ReadSetting(QStringLiteral("Config"), QStringLiteral("Line") + QString::number(k)).isEmpty();
    if (!anySelection && setup.Check1(0)->isEnabled()) {
        m_settings->WriteSetting(QStringLiteral("Config"), QStringLiteral("Line0"), QStringLiteral("1"));
        setup.Check1(0)->setChecked(true);
    }
    std::array<QString, 4> names;
    for (int n = 0; n < 4; ++n)
        names.at(std::size_t(n)) = setup.txtLine(n)->text();
    return names;
}

ModalRunner &TelvoxApplication::modal() { return *m_options.modal; }

frmSetup &TelvoxApplication::loadedSetup()
{
    if (!m_setup) {
        std::array<QString, 4> services;
        services.fill(m_texts->LoadText(1507)); // every line runs on the virtual exchange
        m_setup = std::make_unique<frmSetup>(
            frmSetup::Services{
                *m_texts, *m_settings, m_prompts, modal(),
                *m_options.folders, *m_options.autostart, m_paths.programFolder,
                QCoreApplication::applicationFilePath(), [this] { return m_telephony->classifyDevices(); },
                services, [this](const QString &prompt, bool capture) { recordPrompt(prompt, capture); },
                [this](const PublishedSetup &published) {
                    m_audio->setOutputFormat(outputFormatFromSetting(QString::number(published.outputFormat)));
                    SetupOptions options = m_telephony->setupOptions();
                    options.txtRings = published.txtRings;
                    options.actionMan = published.actionMan;
                    options.popCallId = published.popCallId;
                    m_telephony->setSetupOptions(options);
                    m_minOnStart = published.minOnStart;
                },
                [this] {
                    // Saving ends the program by pressing the main window's Exit, and the
                    // program starts again with the new settings; during the first start's
                    // loading the exit waits until loading has finished.
                    m_restartRequested = true;
                    if (m_loaded)
                        m_main->cmdExit_Click();
                    else
                        m_exitRequested = true;
                }},
            m_main.get());
        if (m_ownFolders) // our own picker opens its dialogs over the setup window
            static_cast<WidgetFolderPicker &>(*m_ownFolders).setOwner(m_setup.get());
    }
    if (!m_setup->isFormLoaded())
        m_setup->Form_Load();
    return *m_setup;
}

void TelvoxApplication::showSetup()
{
    frmSetup &setup = loadedSetup();
    modal().runModal(setup);
}

void TelvoxApplication::showBackup()
{
    frmBackup backup(frmBackup::Services{*m_texts, *m_settings, m_prompts, *m_lists, m_state.recordingFolder},
                     m_main.get());
    modal().runModal(backup);
}

void TelvoxApplication::recordPrompt(const QString &promptName, bool captureRecorder)
{
    QWidget *owner = m_setup ? static_cast<QWidget *>(m_setup.get()) : m_main.get();
    if (captureRecorder) {
        const ProgramCall desktopRecorder
            = soundRecorderCommand([](const QString &name) { return QStandardPaths::findExecutable(name); });
        frmGreeting recorder(frmGreeting::Services{m_audio->engine(), m_telephony->lineTable(), *m_timers, m_loop,
                                                   *m_media, m_prompts, *m_texts, m_paths.programFolder,
                                                   desktopRecorder,
                                                   [](const ProgramCall &call) {
                                                       return QProcess::startDetached(call.program, call.arguments);
                                                   }},
                             promptName, owner);
        modal().runModal(recorder);
        return;
    }
    frmGreeting1 recorder(frmGreeting1::Services{*m_media, m_prompts, *m_texts, m_paths.programFolder}, promptName,
                          owner);
    modal().runModal(recorder);
}

void TelvoxApplication::OpenLines() { m_telephony->OpenLines(); }

void TelvoxApplication::LoadPhoneBook() { m_telephony->LoadPhoneBook(); }

void TelvoxApplication::LoadMessageLists()
{
    // The folders are settled by now (temporary folder at step 10, recordings at step 19).
    m_audio->setFolders(m_state.tempFolder, m_state.recordingFolder);
    tightenExistingFiles();
    AudioEngine &engine = m_audio->engine();
    engine.setAlarmHandler([this](const QString &text) { m_options.tray->showMessage(QStringLiteral("Telvox"), text); });
    engine.checkRecordingFolder();
    m_lists->LoadMessageLists();
    // Calls cut off by a crash or a power cut come back before anything else happens.
    engine.recoverRecordings();
}

void TelvoxApplication::tightenExistingFiles()
{
    // Files of earlier versions (or copied in) may be readable by every account.
    int changed = tightenTree(m_paths.programFolder, 3, true);
    changed += tightenPermissions(m_paths.settingsFile) ? 1 : 0;
    const QFileInfo settingsFolder(QFileInfo(m_paths.settingsFile).path());
    if (settingsFolder.fileName() == QLatin1String("Telvox"))
        changed += tightenPermissions(settingsFolder.filePath()) ? 1 : 0;
    // The recordings: the files always; the folder itself only when it is Telvox's own, as a
    // folder chosen elsewhere may be shared on purpose.
    const QString recordings = QDir::cleanPath(m_state.recordingFolder);
    const QString program = QDir::cleanPath(m_paths.programFolder);
    if (recordings != program && QFileInfo(recordings).isDir()) {
        const bool own = recordings.startsWith(program + QLatin1Char('/'));
        changed += tightenTree(recordings, own ? 3 : 1, own);
    }
    if (changed > 0)
        m_statusLog->AddStatus(m_texts->LoadText(1808).arg(changed));
}

void TelvoxApplication::LoadRingRules(const QString &ringsFile) { m_ringSchedule->LoadRingRules(ringsFile); }

void TelvoxApplication::EnumerateCodecs() { m_audio->conversion().EnumerateCodecs(); }

void TelvoxApplication::closeOpenLines()
{
    // Calls still being recorded keep what was captured before their lines close.
    if (m_audio)
        m_audio->engine().finishRecordingsNow();
    m_telephony->closeOpenLines();
}

void TelvoxApplication::lineShutdown()
{
    m_telephony->lineShutdown();
    if (m_lineBackend)
        m_lineBackend->afterShutdown();
}

void TelvoxApplication::showDialOut()
{
    frmDialOut window(frmDialOut::Services{*m_dialler, *m_texts, *m_settings, m_prompts, modal(),
                                           m_paths.file(QStringLiteral("PhoneBook.txt")),
                                           [this] { m_telephony->LoadPhoneBook(); }},
                      m_main.get());
    m_dialOut = &window;
    modal().runModal(window);
    m_dialOut = nullptr;
}

void TelvoxApplication::addCallerToPhoneBook()
{
    const QString number = m_listsBinder->mmuAddPB_Click(m_main->lstStatus()->currentIndex().row());
    if (number.isEmpty())
        return;
    // The new entry follows the last one the dialler would list.
    const QString path = m_paths.file(QStringLiteral("PhoneBook.txt"));
    frmPBAdd editor(frmPBAdd::Services{m_prompts, m_texts->LoadText(1401), m_texts.get()}, path,
                    static_cast<int>(phonebook::listedEntries(path).size()), m_main.get());
    editor.Text2()->setText(number);
    modal().runModal(editor);
}

VirtualExchange *TelvoxApplication::virtualExchange() const { return virtualExchangeOf(m_lineBackend.get()); }

frmVirtualExchange *TelvoxApplication::showVirtualExchange()
{
    VirtualExchange *exchange = virtualExchange();
    if (!exchange)
        return nullptr; // the lines are real ones: no far ends to drive
    if (!m_virtualExchange)
        m_virtualExchange = std::make_unique<frmVirtualExchange>(*exchange, *m_texts);
    m_virtualExchange->show();
    m_virtualExchange->raise();
    return m_virtualExchange.get();
}

void TelvoxApplication::minimiseWindow()
{
    if (!m_options.headless)
        m_main->setWindowState(m_main->windowState() | Qt::WindowMinimized);
}

void TelvoxApplication::showFirstRunWindows()
{
    // Nobody can agree to the notice at a service: recordings go to the program folder until
    // the setup, opened on the desktop, chooses a folder ("SaveFile" stays empty till then).
    if (m_options.headless)
        return;
    frmTip tip(*m_texts, m_main.get());
    if (modal().runModal(tip) != QDialog::Accepted) {
        // Not agreed: the program ends at once; "SaveFile" stays empty, so the notice returns.
        m_firstRunRefused = true;
        endProcess();
        return;
    }
    if (m_firstSetup)
        m_firstSetup();
    else
        showSetup();
}

void TelvoxApplication::releaseWindowRegion()
{
    if (m_main)
        m_main->clearMask();
}

void TelvoxApplication::mediaCommand(const char *command) { m_media->sendString(QString::fromLatin1(command)); }

void TelvoxApplication::closeLogChannel() { m_statusLog->closeChannel(); }

void TelvoxApplication::disableLogTimer() { m_timers->timLog->setEnabled(false); }

void TelvoxApplication::unloadWindows()
{
    if (m_splashTimer)
        m_splashTimer->setEnabled(false);
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *w : windows)
        w->hide();
}

void TelvoxApplication::restartDetached()
{
    // A second's wait lets this process close its lines and devices before the new one opens
    // them.
    QStringList arguments{QStringLiteral("-c"), QStringLiteral("sleep 1; exec \"$0\" \"$@\""),
                          QCoreApplication::applicationFilePath()};
    arguments += QCoreApplication::arguments().mid(1);
    QProcess::startDetached(QStringLiteral("/bin/sh"), arguments);
}

void TelvoxApplication::endProcess()
{
    if (m_lock)
        m_lock->unlock();
    if (m_restartRequested) {
        m_restartRequested = false;
        if (m_restart)
            m_restart();
    }
    if (m_endProcess)
        m_endProcess(0);
}

} // namespace telvox
