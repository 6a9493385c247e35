#include "core/LoadSequence.h"

#include "core/EventLoop.h"
#include "core/OptionReader.h"
#include "core/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <optional>

namespace telvox {

namespace {

// "Steps.txt": recreated at every start; each marker reaches the disk at once, so after a
// crash the last line tells how far loading got.
class StepsTrace
{
public:
    explicit StepsTrace(const QString &path)
        : m_file(path)
    {
        (void)m_file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    }
    void mark(const char *marker)
    {
        if (!m_file.isOpen())
            return;
        m_file.write(marker);
        m_file.write("\r\n");
        m_file.flush();
    }
    void close() { m_file.close(); }

private:
    QFile m_file;
};

} // namespace

void WriteDefaultPrompts(const QString &programFolder)
{
    const QDir dir(programFolder);
    const struct
    {
        const char *file;
        const char *resource;
    } prompts[] = {{"greeting.wav", ":/telvox/prompts/greeting.wav"},
                   {"legal.wav", ":/telvox/prompts/legal.wav"},
                   {"blocked.wav", ":/telvox/prompts/blocked.wav"}};
    for (const auto &prompt : prompts) {
        const QString name = QString::fromLatin1(prompt.file);
        if (QFileInfo::exists(findFileIgnoringCase(programFolder, name)))
            continue;
        QFile resource(QString::fromLatin1(prompt.resource));
        if (!resource.open(QIODevice::ReadOnly))
            continue;
        QFile out(dir.filePath(name));
        if (out.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            out.write(resource.readAll());
    }
}

LoadResult runLoadSequence(const AppPaths &paths, SettingsStore &settings, EventLoop &loop, LoadHooks &hooks,
                           LoadedState &state)
{
    const QString config = QStringLiteral("Config");
    QDir program(paths.programFolder);

    hooks.CenterForm();                                                          // 1
    hooks.paintBackground();                                                     // 2
    loop.doEvents();
    hooks.setCheckBoxes(settings.ReadSetting(config, QStringLiteral("Legal"), QStringLiteral("0")) == QLatin1String("1"),
                        settings.ReadSetting(config, QStringLiteral("RingCount"), QStringLiteral("1"))
                            == QLatin1String("1"));                              // 3
    // The program folder is known again at every start: saved with the loading's next save.
    settings.WriteSettingLater(loop, config, QStringLiteral("TvxPath"), paths.programFolder); // 4
    StepsTrace steps(paths.file(QStringLiteral("Steps.txt")));                   // 5
    if (!program.exists(QStringLiteral("LogFiles")))                              // 6
        program.mkpath(QStringLiteral("LogFiles"));
    steps.mark("1");
    hooks.OpenDayLog();                                                          // 7
    steps.mark("2");
    steps.mark("3");                                                             // 8
    hooks.ResetLineHandles();                                                    // 9
    steps.mark("6");
    // 10: working files live in a folder of this process alone, so that two runs (two
    // users, two test runs) never write into each other's captures.
    state.workFolder = makePrivateWorkFolder(paths.tempFolder);
    if (!state.workFolder)
        state.workFolder = makePrivateWorkFolder(paths.programFolder);
    state.tempFolder = withSeparator(state.workFolder ? state.workFolder->path() : paths.programFolder);
    WriteDefaultPrompts(paths.programFolder);                                    // 11
    steps.mark("8");
    if (!hooks.InitTapi())                                                       // 12
        return LoadResult::TelephonyUnavailable;
    if (!program.exists(QStringLiteral("waveFiles")))                             // 13
        program.mkpath(QStringLiteral("waveFiles"));
    steps.mark("9");
    if (!OptionReader(settings).recordingFolderChosen())                         // 14
        hooks.showFirstRunWindows();
    // What steps 15 to 21 settle (ring gaps, lines taken out of use, modems that changed)
    // reaches the options file in one save: each save costs two flushes to the disk. (Not
    // earlier: the first-run windows above save the user's choices as they are made.) Every
    // value they write, each start works out again from the machine and the folders.
    std::optional<SettingsStore::Batch> oneSave(std::in_place, settings, SettingsStore::Kind::Derived);
    state.ringGap = loadRingGaps(settings);                                      // 15
    for (int n = 0; n < 4; ++n) {                                                // 16
        const int gap = state.ringGap[static_cast<std::size_t>(n)][1];
        if (gap != 0)
            hooks.setRingWatchInterval(n, gap);
    }
    const std::array<QString, 4> deviceNames = hooks.loadSetupHidden();         // 17
    hooks.OpenLines();                                                           // 18
    keepEarlierRecordingFolder(settings, paths.programFolder);
    // A relative folder (a hand-edited store) is taken inside the program folder, never in
    // whatever folder the program happened to be started from.
    state.recordingFolder = OptionReader(settings).recordingFolder(paths.programFolder); // 19
    hooks.LoadMessageLists();                                                    // 20
    state.modemsChanged = checkModemChanges(settings, deviceNames, state.ringGap); // 21
    oneSave.reset();
    hooks.LoadPhoneBook();                                                       // 22
    steps.mark("10");
    const QString rings = paths.file(QStringLiteral("Rings.txt"));               // 23
    if (QFile::exists(rings))
        hooks.LoadRingRules(rings);
    steps.close();                                                               // 24
    if (hooks.minimiseOnStart())                                                 // 25
        hooks.minimiseWindow();
    hooks.restoreMousePointer();                                                 // 26
    hooks.EnumerateCodecs();                                                     // 27
    StopTriggerOptions &o = state.stopOptions;                                   // 28
    const OptionReader options(settings);
    o.silence = options.stopOnSilence();
    o.silenceLevel = options.silenceLevel();
    o.silenceSeconds = options.silenceSeconds();
    o.fastBusy = options.hangUpOnFastBusy();
    return LoadResult::Loaded;
}

} // namespace telvox
