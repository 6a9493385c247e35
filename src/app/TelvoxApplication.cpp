#include "app/TelvoxApplication.h"

#include "core/EventLoop.h"
#include "core/MainTimers.h"
#include "core/Settings.h"
#include "core/Texts.h"
#include "platform/shell/UserPrompts.h"
#include "records/StatusLog.h"
#include "ui/frmMain.h"
#include "ui/frmSplash.h"

#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QTextStream>

namespace telvox {

namespace {
constexpr int kSplashMilliseconds = 2500;
}

TelvoxApplication::TelvoxApplication(AppPaths paths, EventLoop &loop, UserPrompts &prompts, Printer &printer,
                                     Options options)
    : m_paths(std::move(paths))
    , m_loop(loop)
    , m_prompts(prompts)
    , m_printer(printer)
    , m_options(options)
{
    QDir().mkpath(m_paths.programFolder);
    m_settings = std::make_unique<SettingsStore>(m_paths.settingsFile, m_paths.file(QStringLiteral("settings.txt")));
    m_table = std::make_unique<StringTable>();
    m_table->loadBuiltIn();
    m_statusList = std::make_unique<StatusListModel>();
    m_statusLog = std::make_unique<StatusLog>(m_loop, m_paths.file(QStringLiteral("LogFiles")), *m_statusList);
    m_timers = std::make_unique<MainTimers>(m_loop);
    m_timers->timLog->setCallback([this] { m_statusLog->timLog_Timer(); });

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
    m_main.reset();
}

TelvoxApplication::StartResult TelvoxApplication::Main()
{
    m_lock = std::make_unique<QLockFile>(m_paths.lockFile);
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0) && m_lock->error() == QLockFile::LockFailedError) {
        m_prompts.messageBox(QStringLiteral("Telvox Is Already Running"), MessageIcon::Critical,
                             QStringLiteral("Telvox"));
        m_lock.reset();
        return StartResult::AlreadyRunning;
    }

    const QString language = m_settings->ReadSetting(QStringLiteral("Config"), QStringLiteral("Language"));
    if (language.isEmpty()) {
        // First start: Simplified Chinese until another language is chosen in the setup.
        m_firstStart = true;
        m_settings->WriteSettingJournaled(QStringLiteral("Config"), QStringLiteral("Language"), QStringLiteral("1"));
        m_texts = std::make_unique<Texts>(*m_table, 1000);
        m_loop.doEvents();
        loadMainWindow();
        return StartResult::Running;
    }

    m_texts = std::make_unique<Texts>(*m_table, languageOffsetFor(language));
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
    const LoadResult result = runLoadSequence(m_paths, *m_settings, m_loop, *this, m_state);
    if (result == LoadResult::TelephonyUnavailable) {
        // The telephony service said why; the process ends without the shutdown sequence.
        endProcess();
        return;
    }
    m_loaded = true;
    m_loadMs = m_loadClock.elapsed();
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

void TelvoxApplication::paintBackground() {}

void TelvoxApplication::setCheckBoxes(bool legal, bool ringCount)
{
    m_main->setCheckBoxes(legal, ringCount);
    m_main->setCaptions();
}

void TelvoxApplication::OpenDayLog() { m_statusLog->OpenDayLog(); }

void TelvoxApplication::setRingWatchInterval(int line, int ms) { m_timers->Timer1[line].setInterval(ms); }

void TelvoxApplication::minimiseWindow() { m_main->setWindowState(m_main->windowState() | Qt::WindowMinimized); }

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

void TelvoxApplication::endProcess()
{
    if (m_lock)
        m_lock->unlock();
    if (m_endProcess)
        m_endProcess(0);
}

} // namespace telvox
