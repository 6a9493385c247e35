#include "app/TelvoxApplication.h"

#include "core/EventLoop.h"
#include "core/InstanceLock.h"
#include "core/MainTimers.h"
#include "core/PrivateFiles.h"
#include "core/Settings.h"
#include "core/Texts.h"
#include "platform/shell/UserPrompts.h"
#include "app/HomeLink.h"
#include "app/LineBackendList.h"
#include "app/ServiceMode.h"
#include "platform/telephony/LineBackends.h"
#include "audio/AudioEngine.h"
#include "audio/AudioStack.h"
#include "audio/CodecConversion.h"
#include "platform/shell/MailClient.h"
#include "platform/wave/ModuleSoundCard.h"
#include "records/MessageLists.h"
#include "records/StatusLog.h"
#include "ui/MessageListsBinder.h"
#include "telephony/TelephonyCore.h"
#include "ui/frmMain.h"
#include "sim/exchange/VirtualExchangeBackend.h"
#include "ui/frmPopCallID.h"
#include "ui/frmSplash.h"
#include "platform/media/MediaControl.h"
#include "platform/media/ModuleMedia.h"
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
#include "platform/shell/AutostartEntry.h"
#include "ui/WidgetFolderPicker.h"
#include "ui/frmBackup.h"
#include "ui/frmGreeting.h"
#include "ui/frmSetup.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListView>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>

#include <algorithm>

namespace telvox {

namespace {
constexpr int kSplashMilliseconds = 2500;

// The socket on which the running program hears a second start, beside the lock.
QString raiseSocketPath(const AppPaths &paths, bool create)
{
    const QFileInfo lock(paths.lockFile);
    return privateSocketPath(lock.path(), lock.fileName() + QStringLiteral(".raise"),
                             paths.lockFile + QStringLiteral(".rundir"), create);
}
} // namespace

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
    // Desktop services: the ones given (tests), otherwise the real ones.
    // From here on every service pointer of m_options is set.
    givenOrOwn<ModuleMediaDevice>(m_options.mediaDevice, m_ownMediaDevice);
    givenOrOwn<QtSystemTray>(m_options.tray, m_ownTray);
    givenOrOwn<QtDesktopShell>(m_options.shell, m_ownShell);
    givenOrOwn<WidgetModalRunner>(m_options.modal, m_ownModal);
    givenOrOwn<ModuleSoundRecorder>(m_options.recorder, m_ownRecorder);
    givenOrOwn<WidgetFolderPicker>(m_options.folders, m_ownFolders);
    givenOrOwn<AutostartEntry>(m_options.autostart, m_ownAutostart);
    givenOrOwn<ModuleMediaDevice>(m_options.announcements, m_ownAnnouncements);
    givenOrOwn<XdgEmailClient>(m_options.mail, m_ownMail);
    if (!m_options.lineBackends) {
        m_ownLineBackends = std::make_unique<LineBackendRegistry>();
        registerLineBackends(*m_ownLineBackends);
        m_options.lineBackends = m_ownLineBackends.get();
    }
    m_media = std::make_unique<MediaControl>(*m_options.mediaDevice);
    m_media->setRecorder(m_options.recorder);
    // The computer's own sound card is the default device (the greeting recorder's microphone).
    m_soundCard = std::make_unique<ModuleSoundCard>();
    m_system = std::make_unique<CallSystem>(CallSystem::Options{.paths = m_paths,
                                                                .loop = m_loop,
                                                                .prompts = m_prompts,
                                                                .announcements = *m_options.announcements,
                                                                .lineBackends = m_options.lineBackends,
                                                                .lineOptions = m_options.lineOptions,
                                                                .soundCard = m_soundCard.get(),
                                                                .privateFiles = true});

    if (m_options.echoStatus) {
        QObject::connect(&statusList(), &QAbstractItemModel::rowsInserted,
                         [this](const QModelIndex &, int first, int last) {
                             QTextStream out(stdout);
                             for (int row = first; row <= last; ++row) {
                                 const QString &line = statusList().lines().at(row);
                                 out << line << Qt::endl;
                                 m_echoed << withoutTimeOfDay(line);
                                 if (m_echoed.size() > 32)
                                     m_echoed.removeFirst();
                             }
                         });
    }
}

TelvoxApplication::~TelvoxApplication()
{
    m_home.reset(); // it reads the call system, which goes below
    m_splashTimer.reset();
    m_splash.reset();
    m_raiseListener.reset();
    m_system->detach(); // the windows go first
    m_listsBinder.reset();
    m_setup.reset();
    m_lineControls.reset();
    m_popCallId.reset();
    m_main.reset();
    m_builtMain.reset();
    m_system.reset();
}

TelvoxApplication::StartResult TelvoxApplication::Main()
{
    m_lock = std::make_unique<InstanceLock>();
    if (m_lock->tryLock(m_paths.lockFile) == InstanceLock::Result::HeldElsewhere) {
        // The running program shows its window instead; the message only when it cannot.
        const QString raise = raiseSocketPath(m_paths, false);
        if (!raise.isEmpty() && askRunningInstanceToRaise(raise)) {
            m_lock.reset();
            m_raisedRunning = true;
            return StartResult::AlreadyRunning;
        }
        m_prompts.messageBox(QStringLiteral("Telvox Is Already Running"), MessageIcon::Critical,
                             QStringLiteral("Telvox"));
        m_lock.reset();
        return StartResult::AlreadyRunning;
    }
    // From the moment the lock is ours a second start is heard, during the splash and the
    // loading as well: otherwise a second start in those seconds found nobody to ask and ended
    // with an error. (A service has no window to show.)
    if (!m_options.headless)
        if (const QString raise = raiseSocketPath(m_paths, true); !raise.isEmpty())
            m_raiseListener = std::make_unique<RaiseListener>(raise, [this] { raiseRequested(); });

    const QString language = settings().ReadSetting(QStringLiteral("Config"), QStringLiteral("Language"));
    if (language.isEmpty()) {
        // First start: the language of the user's locale until another is chosen in the setup.
        m_firstStart = true;
        const QString chosen = systemLanguageSetting();
        // Saved with the loading's first save (the program folder, a moment later): a crash
        // before it leaves a first start to run again, which chooses the same language.
        settings().WriteSettingJournaledLater(m_loop, QStringLiteral("Config"), QStringLiteral("Language"), chosen);
        installQtTranslations(m_system->useLanguage(chosen).languageOffset());
        m_loop.doEvents();
        loadMainWindow();
        return StartResult::Running;
    }

    installQtTranslations(m_system->useLanguage(language).languageOffset());
    if (m_options.headless) {
        m_loop.doEvents();
        loadMainWindow();
        return StartResult::Running;
    }
    m_splash = std::make_unique<frmSplash>(texts());
    m_splash->show();
    m_splashShown = true;
    m_splashTimer = m_loop.createTimer(kSplashMilliseconds, [this] {
        m_splashTimer->setEnabled(false);
        m_splash->hide();
        m_loop.post([this] {
            m_splash.reset();
            if (m_shutdownDone)
                return; // ended during the splash
            loadMainWindow();
        });
    });
    m_splashTimer->setEnabled(true);
    m_loop.doEvents();
    // The splash's seconds are otherwise idle: the main window's controls are built meanwhile,
    // hidden, so that the window follows the splash sooner. Its loading (the settings, the lines,
    // the lists) still begins when the splash ends.
    m_loop.post([this] {
        if (m_splash && !m_shutdownDone && !m_main && !m_builtMain)
            m_builtMain = buildMainWindow();
    });
    return StartResult::Running;
}

std::unique_ptr<frmMain> TelvoxApplication::buildMainWindow()
{
    return std::make_unique<frmMain>(
        frmMain::Services{m_system->texts(), settings(), statusList(), statusLog(), m_prompts, m_printer});
}

void TelvoxApplication::loadMainWindow()
{
    m_loadClock.start();
    m_main = m_builtMain ? std::move(m_builtMain) : buildMainWindow();
    m_main->setShutdownHandler([this] { shutdown(); });
    m_main->setDesktopServices(
        {timers(), *m_media, *m_options.tray, *m_options.shell, *m_options.modal, m_loop, m_paths.programFolder});

    // The lines and everything on them: the call system; the windows take part through its
    // hooks.
    m_system->attach(*this);
    m_system->build();
    m_popCallId = std::make_unique<frmPopCallID>(telephony());
    m_popCallId->setCaptions(texts());
    QObject::connect(m_main.get(), &frmMain::dialOutRequested, m_main.get(), [this] { showDialOut(); });
    QObject::connect(m_main.get(), &frmMain::lineControlsRequested, m_main.get(), [this] { showLineControls(); });
    QObject::connect(m_main.get(), &frmMain::setupRequested, m_main.get(), [this] { showSetup(); });
    QObject::connect(m_main.get(), &frmMain::backupRequested, m_main.get(), [this] { showBackup(); });

    const LoadResult result = m_system->load(m_state);
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
    m_system->start(m_state);
    m_main->setLineControlsAvailable(virtualExchangeOf(&m_system->lineBackend()) != nullptr);
    m_home = std::make_unique<HomeLink>(*m_system);
    m_listsBinder = std::make_unique<MessageListsBinder>(MessageListsBinder::Services{
        messageLists(), *m_main, *timers().timPlayAll, m_prompts, statusList(),
        *m_options.mail, m_state.recordingFolder, &texts(),
        m_paths.file(QStringLiteral("PhoneBook.txt"))});
    addBlockingCommands();
    QObject::connect(m_main.get(), &frmMain::addToPhoneBookRequested, m_main.get(), [this] { addCallerToPhoneBook(); });
    m_loaded = true;
    m_loadMs = m_loadClock.elapsed();
    if (m_loadedHandler)
        m_loadedHandler();
    if (m_options.headless)
        return; // the service shows no window
    if (std::exchange(m_raiseWhenLoaded, false)) {
        m_main->bringToFront(); // a second start asked for it while this one was starting
        return;
    }
    if (m_main->isInTray())
        return; // minimised on start: the tray icon stands for the window
    if (m_main->windowState() & Qt::WindowMinimized)
        m_main->showMinimized();
    else
        m_main->show();
}

void TelvoxApplication::raiseRequested()
{
    if (m_loaded && m_main) {
        m_main->bringToFront();
        return;
    }
    m_raiseWhenLoaded = true;
    if (m_splash)
        m_splash->raise();
}

void TelvoxApplication::shutdown()
{
    if (m_shutdownDone)
        return;
    m_shutdownDone = true;
    if (!m_main) {
        // Asked to end during the splash (a signal): nothing is loaded yet, so nothing needs
        // closing; the process just ends.
        if (m_splashTimer)
            m_splashTimer->setEnabled(false);
        m_splash.reset();
        endProcess();
        return;
    }
    if (m_listsBinder)
        m_listsBinder->stopWatching();
    m_home.reset(); // says "offline" while the lines are still there to read
    m_system->shutdown();
}

void TelvoxApplication::CenterForm() { m_main->CenterForm(); }

void TelvoxApplication::paintBackground() { m_main->paintBackground(); }

void TelvoxApplication::setCheckBoxes(bool legal, bool ringCount)
{
    m_main->setCheckBoxes(legal, ringCount);
    m_main->setCaptions();
}

bool TelvoxApplication::legalChecked() const { return m_main && m_main->chkLegal()->isChecked(); }

bool TelvoxApplication::ringCountChecked() const { return m_main && m_main->chkRingCount()->isChecked(); }

void TelvoxApplication::showDialledNumber(const QString &number)
{
    if (m_dialOut)
        m_dialOut->txtDialOut()->setText(number);
}

void TelvoxApplication::alarm(const QString &text) { m_options.tray->showMessage(QStringLiteral("Telvox"), text); }

ModalRunner &TelvoxApplication::modal() { return *m_options.modal; }

frmSetup &TelvoxApplication::loadedSetup()
{
    if (!m_setup) {
        // Beside each line the backend that carries it; the lines the loading found are known
        // by now (the setup is first loaded during the loading, after the lines were counted).
        std::array<QString, 4> services;
        const int labelText = m_system->lineLabelText();
        for (std::size_t n = 0; labelText != 0 && n < std::min<std::size_t>(telephony().numDevs(), 4); ++n)
            services.at(n) = texts().LoadText(labelText);
        m_setup = std::make_unique<frmSetup>(
            frmSetup::Services{
                m_system->texts(), settings(), m_prompts, modal(),
                *m_options.folders, *m_options.autostart, m_paths.programFolder,
                QCoreApplication::applicationFilePath(), [this] { return telephony().classifyDevices(); },
                services, [this](const QString &prompt, bool capture) { recordPrompt(prompt, capture); },
                [this](const PublishedSetup &published) { applySetup(published); },
                [this] {
                    // Saving ends the program by pressing the main window's Exit, and the
                    // program starts again with the new settings; during the first start's
                    // loading the exit waits until loading has finished.
                    m_restartRequested = true;
                    if (m_loaded)
                        m_main->cmdExit_Click();
                    else
                        m_exitRequested = true;
                },
                true, m_options.lineBackends->settingsPages()},
            m_main.get());
        m_setup->setLinesAtOnce(m_system->lineBackend().linesRecordingAtOnce());
        if (m_ownFolders) // our own picker opens its dialogs over the setup window
            static_cast<WidgetFolderPicker &>(*m_ownFolders).setOwner(m_setup.get());
    }
    if (!m_setup->isFormLoaded()) {
        m_setup->Form_Load();
        std::array<bool, 4> selected{};
        for (int n = 0; n < 4; ++n)
            selected.at(std::size_t(n)) = m_setup->Check1(n)->isChecked();
        if (selectFirstLineByDefault(selected, m_setup->Check1(0)->isEnabled())) {
            const QSignalBlocker quiet(m_setup->Check1(0));
            m_setup->Check1(0)->setChecked(true);
        }
    }
    return *m_setup;
}

void TelvoxApplication::showSetup()
{
    frmSetup &setup = loadedSetup();
    modal().runModal(setup);
}

void TelvoxApplication::showBackup()
{
    frmBackup backup(frmBackup::Services{texts(), settings(), m_prompts, messageLists(), m_state.recordingFolder},
                     m_main.get());
    modal().runModal(backup);
}

void TelvoxApplication::recordPrompt(const QString &promptName, bool captureRecorder)
{
    QWidget *owner = m_setup ? static_cast<QWidget *>(m_setup.get()) : m_main.get();
    if (captureRecorder) {
        const ProgramCall desktopRecorder
            = soundRecorderCommand([](const QString &name) { return QStandardPaths::findExecutable(name); });
        frmGreeting recorder(frmGreeting::Services{audio().engine(), telephony().lineTable(), timers(), m_loop,
                                                   *m_media, m_prompts, texts(), m_paths.programFolder,
                                                   desktopRecorder,
                                                   [](const ProgramCall &call) {
                                                       return QProcess::startDetached(call.program, call.arguments);
                                                   }},
                             promptName, owner);
        modal().runModal(recorder);
        return;
    }
    frmGreeting1 recorder(frmGreeting1::Services{*m_media, m_prompts, texts(), m_paths.programFolder}, promptName,
                          owner);
    modal().runModal(recorder);
}

void TelvoxApplication::showDialOut()
{
    frmDialOut window(frmDialOut::Services{dialler(), texts(), settings(), m_prompts, modal(),
                                           m_paths.file(QStringLiteral("PhoneBook.txt")),
                                           [this] { telephony().LoadPhoneBook(); }},
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
    frmPBAdd editor(frmPBAdd::Services{m_prompts, texts().LoadText(1401), &texts()}, path,
                    static_cast<int>(phonebook::listedEntries(path).size()), m_main.get());
    editor.Text2()->setText(number);
    modal().runModal(editor);
}

QWidget *TelvoxApplication::showLineControls()
{
    if (!m_lineControls)
        m_lineControls = lineControlsWindow(m_system->lineBackend(), texts());
    if (!m_lineControls)
        return nullptr; // the backend's lines have no far ends to drive
    m_lineControls->show();
    m_lineControls->raise();
    return m_lineControls.get();
}

void TelvoxApplication::minimiseWindow()
{
    // A second start during the splash asked for the window: it is shown, not minimised.
    if (!m_options.headless && !m_raiseWhenLoaded)
        m_main->minimiseAtStart();
}

void TelvoxApplication::showFirstRunWindows()
{
    // Nobody can agree to the notice at a service: recordings go to the program folder until
    // the setup, opened on the desktop, chooses a folder ("SaveFile" stays empty till then).
    if (m_options.headless)
        return;
    frmTip tip(texts(), m_main.get());
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
