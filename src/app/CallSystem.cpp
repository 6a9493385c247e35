#include "app/CallSystem.h"

#include "app/UserFiles.h"

#include "audio/AudioEngine.h"
#include "audio/AudioStack.h"
#include "audio/RecordingKeeper.h"
#include "audio/RemoteRetrieval.h"
#include "audio/CodecConversion.h"
#include "core/EventLoop.h"
#include "core/FileWatch.h"
#include "core/MainTimers.h"
#include "core/OptionReader.h"
#include "core/PrivateFiles.h"
#include "core/Settings.h"
#include "core/Texts.h"
#include "platform/telephony/LineBackends.h"
#include "records/CallBlockList.h"
#include "records/CallRecords.h"
#include "records/MailForward.h"
#include "records/MessageLists.h"
#include "records/MessageStore.h"
#include "records/RingSchedule.h"
#include "records/StatusLog.h"
#include "telephony/Dialler.h"
#include "telephony/RemotePin.h"
#include "telephony/TelephonyCore.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace telvox {

namespace {

constexpr int kNoLineInUse = 1872;

// The lines a caller set up itself (a scenario's exchange, a test's), as a backend.
class GivenLines final : public LineBackend
{
public:
    GivenLines(TelephonyService &service, WaveDeviceProvider &devices)
        : m_service(service)
        , m_devices(devices)
    {
    }
    TelephonyService &service() override { return m_service; }
    WaveDeviceProvider &waveDevices() override { return m_devices; }

private:
    TelephonyService &m_service;
    WaveDeviceProvider &m_devices;
};

} // namespace

CallSystem::CallSystem(Options options)
    : m_o(std::move(options))
{
    m_settings = std::make_unique<SettingsStore>(m_o.paths.settingsFile, m_o.paths.file(QStringLiteral("settings.txt")));
    m_statusList = std::make_unique<StatusListModel>();
    m_statusLog = std::make_unique<StatusLog>(m_o.loop, m_o.paths.file(QStringLiteral("LogFiles")), *m_statusList);
    m_timers = std::make_unique<MainTimers>(m_o.loop);
    m_timers->timLog->setCallback([this] { m_statusLog->timLog_Timer(); });
    m_statusLog->setAlarmHandler([this](const QString &text) { m_hooks->alarm(text); });
    m_store = std::make_unique<MessageStore>(m_o.paths.file(MessageStore::defaultFileName()));
    m_lists = std::make_unique<MessageLists>(*m_store);
    QObject::connect(m_lists.get(), &MessageLists::recordingListed, m_lists.get(),
                     [this](const QString &folder, const QString &name, int line) {
                         if (m_forwarder)
                             m_forwarder->recordingListed(folder, name, line);
                         else
                             m_listedBeforeForwarding.append(Listed{folder, name, line});
                     });
    m_ringSchedule = std::make_unique<RingSchedule>();
}

CallSystem::~CallSystem()
{
    m_fileWatch.reset();
    m_userFiles.reset();
    m_settings->setFileEventHandler(nullptr);
    m_dialler.reset();
    m_remote.reset();
    m_forwarder.reset(); // a delivery under way is broken off and stays queued
    // The audio engine's devices report into the line table: they go before the call flow.
    m_audio.reset();
    m_telephony.reset();
    m_lineBackend.reset();
}

const Texts &CallSystem::useLanguage(const QString &languageSetting)
{
    m_texts = std::make_unique<Texts>(builtInStrings(), languageOffsetFor(languageSetting));
    return *m_texts;
}

void CallSystem::build()
{
    // The user's files are watched from before they are first read, so that an edit made
    // while the program loads is not missed.
    if (m_o.watchUserFiles) {
        m_fileWatch = std::make_unique<FileWatch>(m_o.loop, UserFiles::watchedFiles(m_o.paths.programFolder),
                                                  [this](const QString &file) {
                                                      if (m_userFiles)
                                                          m_userFiles->reread(file);
                                                      else if (!m_changedWhileLoading.contains(file))
                                                          m_changedWhileLoading << file;
                                                  });
    }
    if (m_o.lineBackends) {
        // The first backend of the registry that has lines of its own and builds carries them;
        // what the backends said comes to the status list when the line service initialises.
        LineBackendRegistry::Built built = m_o.lineBackends->build(LineBackendContext{
            m_o.loop, *m_settings, *m_texts, m_o.lineOptions,
            [this](const QString &news) {
                if (news.startsWith(QLatin1String("Line")) && news.size() > 4 && news.at(4).isDigit())
                    m_lineNews.insert(news.at(4).digitValue(), news);
                m_statusLog->AddStatus(news);
            },
            [this](const QString &number) {
                if (!number.isEmpty())
                    AddReceivedCall(*m_store, number);
            }});
        m_lineBackend = std::move(built.backend);
        m_lineBackendName = built.name;
        m_lineLabelText = built.labelText;
        m_lineNotes = built.notes;
    } else {
        m_lineBackend = std::make_unique<GivenLines>(*m_o.lineService, *m_o.lineDevices);
    }
    TelephonyService &lines = m_lineBackend->service();
    m_audioRelay = std::make_unique<AudioActionsRelay>();
    m_telephony = std::make_unique<TelephonyCore>(TelephonyServices{lines, m_o.loop, *m_settings, *m_store, *m_texts,
                                                                    *m_statusLog, m_o.prompts,
                                                                    *m_audioRelay, m_o.paths.programFolder});
    m_blockList = std::make_unique<CallBlockList>(m_o.paths.programFolder, readBlockingOptions(*m_settings));
    m_telephony->setCallScreen(m_blockList.get());
    m_audio = std::make_unique<AudioStack>(AudioStack::Services{
        m_o.loop, m_telephony->lineTable(), lines, *m_lists, *m_statusLog, *m_texts, m_o.prompts, *m_timers,
        m_o.announcements, [this] { return m_hooks->legalChecked(); }, m_o.paths.programFolder});
    m_audio->devices().addProvider(m_lineBackend->waveDevices());
    m_lineBackend->start();
    if (m_o.soundCard) // the default device (the greeting recorder's microphone)
        m_audio->devices().addProvider(*m_o.soundCard, true);
    if (m_o.audioTrace)
        m_audio->engine().setRequestTrace(m_o.audioTrace);
    m_audio->engine().setAlarmHandler([this](const QString &text) { m_hooks->alarm(text); });
    m_audio->engine().keeper().setNameLookup([this](const QString &number) { return phoneBookName(number); });
    m_audioRelay->setTarget(&m_audio->engine());
    // The setup's loading publishes the format again; until then the stored one.
    m_audio->setOutputFormat(outputFormatFromSetting(QString::number(OptionReader(*m_settings).outputFormat())));

    m_telephony->setPickRingCount(
        [this](int rings) { return m_ringSchedule->PickRingCount(rings, m_o.loop.currentDateTime()); });
    m_telephony->setWindowChecks([this] { return m_hooks->ringCountChecked(); },
                                 [this] { return m_hooks->legalChecked(); });
    // The dialler, as its window uses it: status line, "Made" record, "~number" in the name.
    m_dialler = std::make_unique<Dialler>(Dialler::Services{*m_telephony, m_o.loop, *m_settings, *m_store, *m_statusLog,
                                                            *m_texts, *m_audioRelay});
    m_telephony->setDialerTimerStart([this](int line) { m_dialler->startWatch(line); });
    m_telephony->setDialOutField([this](const QString &number) { m_hooks->showDialledNumber(number); });

    // Remote retrieval hears every key first. The PIN's hash is read from the options file at
    // each attempt: `telvox --set-pin` changes it from another process while this one runs.
    const int offset = m_texts->languageOffset();
    m_remote = std::make_unique<RemoteRetrieval>(RemoteRetrieval::Services{
        m_o.loop, *m_telephony, m_audio->engine(), *m_store, *m_statusLog, *m_texts,
        [file = m_o.paths.settingsFile] {
            const QSettings stored(file, QSettings::IniFormat);
            return stored.value(remotepin::section() + QLatin1Char('/') + remotepin::hashKey())
                .toString()
                .trimmed()
                .toLatin1();
        },
        offset == 1000 ? SpeechLanguage::Mandarin : offset == 2000 ? SpeechLanguage::Cantonese : SpeechLanguage::English});
    m_telephony->setDigitFilter([this](int line, QChar key) { return m_remote && m_remote->key(line, key); });
}

LoadResult CallSystem::load(LoadedState &state)
{
    m_loading = &state;
    const LoadResult result = runLoadSequence(m_o.paths, *m_settings, m_o.loop, *this, state);
    m_loading = nullptr;
    return result;
}

void CallSystem::start(const LoadedState &state)
{
    m_telephony->setRingGaps(state.ringGap);
    m_audio->startTriggers(state.stopOptions);
    SetupOptions options = m_telephony->setupOptions();
    options.fastBusy = state.stopOptions.fastBusy;
    m_telephony->setSetupOptions(options);
    startMailForwarding();
    // The user's own files: what in them cannot be used is said now, and they are read again
    // whenever they change.
    m_userFiles = std::make_unique<UserFiles>(UserFiles::Services{
        m_o.loop, *m_statusLog, *m_texts, m_o.paths.programFolder, *m_blockList, *m_ringSchedule, *m_telephony,
        [this](const QString &password) {
            if (m_forwarder)
                m_forwarder->setPassword(password);
        }});
    m_userFiles->reportLoaded();
    for (const QString &file : std::exchange(m_changedWhileLoading, {}))
        m_userFiles->reread(file);
}

void CallSystem::shutdown()
{
    if (m_fileWatch)
        m_fileWatch->stop();
    runShutdownSequence(*this);
}

QString CallSystem::phoneBookName(const QString &number) const
{
    for (int k = 0; k < PhoneBookTable::kEntries; ++k) {
        const auto &entry = m_telephony->phoneBook().entry(k);
        if (!number.isEmpty() && entry.tele.trimmed() == number)
            return entry.name.trimmed();
    }
    return m_telephony->sentName(number);
}

void CallSystem::startMailForwarding()
{
    // The phonebook's name for a number in the mail's subject, else the name the caller's
    // line gave (a SIP display name).
    auto nameOf = [this](const QString &number) { return phoneBookName(number); };
    // The queue folder of an earlier version moves into the store first.
    const QString oldQueue = m_o.paths.file(QStringLiteral("MailQueue"));
    QString why;
    const int moved = migrateMailQueue(*m_store, oldQueue, &why);
    if (moved > 0)
        m_statusLog->AddStatus(m_texts->LoadText(1255).arg(moved).arg(QDir::toNativeSeparators(oldQueue),
                                                                       QDir::toNativeSeparators(m_store->path())));
    else if (moved < 0)
        m_statusLog->AddAlarm(m_texts->LoadText(1256).arg(QDir::toNativeSeparators(oldQueue), why));
    m_forwarder = std::make_unique<MailForwarder>(MailForwarder::Services{*m_texts, *m_statusLog, *m_store, nameOf},
                                                  readForwardOptions(*m_settings, m_o.paths.programFolder));
    // Of the recordings listed at start-up, those of calls cut off by a crash, and those a
    // kill kept from their listing, never had their mail; recordings that were there before
    // this index was (an earlier install's) are not mailed now.
    const QDateTime since = m_store->inUseSince();
    for (const Listed &l : std::exchange(m_listedBeforeForwarding, {})) {
        const std::optional<StoredMessage> m = m_store->messageAt(QDir(l.folder).filePath(l.name));
        const bool recent = since.isValid() && QFileInfo(QDir(l.folder).filePath(l.name)).lastModified() >= since;
        if (m && (m->origin == MessageOrigin::Recovered || (m->origin == MessageOrigin::Found && recent)))
            m_forwarder->recordingListed(l.folder, l.name, l.line);
    }
    QObject::connect(m_forwarder.get(), &MailForwarder::mailRefused, m_forwarder.get(),
                     [this](const QString &text) { m_hooks->alarm(text); });
    if (m_forwarder->options().enabled)
        m_forwarder->start(); // what an earlier run left in the queue goes first
}

void CallSystem::OpenDayLog()
{
    if (!m_logWatched) {
        m_logWatched = true;
        // From here on a failure to write the day log is a status line and a notification,
        // once per failure.
        m_statusLog->setWriteFailureHandler([this](const QString &path, const QString &reason) {
            if (reason.isEmpty())
                m_statusLog->AddStatus(m_texts->LoadText(1857).arg(path));
            else
                m_statusLog->AddAlarm(m_texts->LoadText(1856).arg(path, reason));
        });
    }
    m_statusLog->OpenDayLog();
    // What happened to the options file before the log was open comes now, the rest as it happens.
    m_settings->setFileEventHandler([this](const SettingsStore::FileEvent &event) { optionsFileEvent(event); });
}

QString CallSystem::optionsFileEventText(const Texts &texts, const QString &file, const SettingsStore::FileEvent &event,
                                         bool *alarm)
{
    using Kind = SettingsStore::FileEvent::Kind;
    using Cause = SettingsStore::FileEvent::Cause;
    const QString reason = event.cause == Cause::Empty     ? texts.LoadText(1837)
                           : event.cause == Cause::Damaged ? texts.LoadText(1838)
                                                           : event.reason;
    *alarm = event.kind != Kind::SavedAgain;
    switch (event.kind) {
    case Kind::Restored:
        return texts.LoadText(1853).arg(file, reason, event.keptAs);
    case Kind::Unrecoverable:
        return texts.LoadText(1859).arg(file, reason, event.keptAs);
    case Kind::SaveFailed:
        return texts.LoadText(1854).arg(file, reason);
    case Kind::SavedAgain:
        break;
    }
    return texts.LoadText(1858).arg(file);
}

void CallSystem::optionsFileEvent(const SettingsStore::FileEvent &event)
{
    bool alarm = false;
    const QString text = optionsFileEventText(*m_texts, m_settings->storeFile(), event, &alarm);
    if (alarm)
        m_statusLog->AddAlarm(text);
    else
        m_statusLog->AddStatus(text);
}

void CallSystem::setRingWatchInterval(int line, int ms) { m_telephony->call(line).setRingWatchInterval(ms); }

void CallSystem::ResetLineHandles() { m_telephony->ResetLineHandles(); }

bool CallSystem::InitTapi()
{
    for (const QString &note : std::as_const(m_lineNotes))
        m_statusLog->AddStatus(note);
    m_lineBackend->beforeLinesOpen();
    return m_telephony->InitTapi();
}

std::array<QString, 4> CallSystem::loadSetupHidden()
{
    if (std::optional<std::array<QString, 4>> names = m_hooks->loadSetupHidden())
        return *names;
    // No setup dialog: its options as its loading would publish them.
    m_telephony->setSetupOptions(readSetupOptions(*m_settings));
    return m_telephony->classifyDevices().txtLine;
}

void CallSystem::OpenLines()
{
    m_telephony->OpenLines();
    // Nothing else would tell that calls ring unanswered: say it where the user looks.
    const LineTable &table = m_telephony->lineTable();
    for (int n = 0; n < 4; ++n) {
        if (table[n].hLine != 0)
            return;
    }
    m_statusLog->AddStatus(m_texts->LoadText(kNoLineInUse));
}

void CallSystem::LoadPhoneBook() { m_telephony->LoadPhoneBook(); }

void CallSystem::LoadMessageLists()
{
    // The folders are settled by now (temporary folder at step 10, recordings at step 19).
    m_audio->setFolders(m_loading->tempFolder, m_loading->recordingFolder);
    if (m_o.privateFiles)
        tightenExistingFiles(m_loading->recordingFolder);
    if (!m_store->isPersistent())
        m_audio->engine().keeper().alarm(m_texts->LoadText(1794).arg(QDir::toNativeSeparators(m_store->path()), m_store->errorText()));
    // The lists of an earlier version's options file move into the store once.
    const int moved = m_store->migrateFromSettings(*m_settings, m_loading->recordingFolder);
    if (moved > 0)
        m_statusLog->AddStatus(m_texts->LoadText(1796).arg(moved).arg(QDir::toNativeSeparators(m_store->path())));
    else if (moved < 0)
        m_audio->engine().keeper().alarm(m_texts->LoadText(1797).arg(QDir::toNativeSeparators(m_settings->storeFile()), m_store->errorText()));
    // So do the blocked calls an earlier version kept in a file of their own.
    QString why;
    const int blocked = migrateBlockedCalls(*m_store, m_o.paths.programFolder, &why);
    const QString blockedFile = QDir::toNativeSeparators(m_o.paths.file(blockedCallsFileName()));
    if (blocked > 0)
        m_statusLog->AddStatus(m_texts->LoadText(1253).arg(blocked).arg(blockedFile, QDir::toNativeSeparators(m_store->path())));
    else if (blocked < 0)
        m_audio->engine().keeper().alarm(m_texts->LoadText(1254).arg(blockedFile, why));
    m_lists->LoadMessageLists();
    // The folder is looked at, calls cut off by a crash come back, and the index is
    // reconciled with the folders, before anything else happens.
    m_audio->engine().keeper().startUp();
}

void CallSystem::tightenExistingFiles(const QString &recordingFolder)
{
    // Files of earlier versions (or copied in) may be readable by every account.
    int changed = tightenTree(m_o.paths.programFolder, 3, true);
    changed += tightenPermissions(m_o.paths.settingsFile) ? 1 : 0;
    const QFileInfo settingsFolder(QFileInfo(m_o.paths.settingsFile).path());
    if (settingsFolder.fileName() == QLatin1String("Telvox"))
        changed += tightenPermissions(settingsFolder.filePath()) ? 1 : 0;
    // The recordings: the files always; the folder itself only when it is Telvox's own, as a
    // folder chosen elsewhere may be shared on purpose.
    const QString recordings = QDir::cleanPath(recordingFolder);
    const QString program = QDir::cleanPath(m_o.paths.programFolder);
    if (recordings != program && QFileInfo(recordings).isDir()) {
        const bool own = recordings.startsWith(program + QLatin1Char('/'));
        changed += tightenTree(recordings, own ? 3 : 1, own);
    }
    if (changed > 0)
        m_statusLog->AddStatus(m_texts->LoadText(1808).arg(changed));
}

void CallSystem::LoadRingRules(const QString &ringsFile) { m_ringSchedule->LoadRingRules(ringsFile); }

void CallSystem::EnumerateCodecs() { m_audio->conversion().EnumerateCodecs(); }

void CallSystem::closeLogChannel() { m_statusLog->closeChannel(); }

void CallSystem::closeOpenLines()
{
    // Calls still being recorded keep what was captured before their lines close.
    if (m_audio)
        m_audio->engine().finishRecordingsNow();
    m_telephony->closeOpenLines();
}

void CallSystem::lineShutdown()
{
    m_telephony->lineShutdown();
    if (m_lineBackend)
        m_lineBackend->afterShutdown();
}

void CallSystem::disableLogTimer() { m_timers->timLog->setEnabled(false); }

} // namespace telvox
