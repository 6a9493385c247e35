#include "core/LoadSequence.h"
#include "core/VirtualEventLoop.h"
#include "support/FakeShell.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <stdexcept>

using namespace telvox;
using namespace telvox::test;

namespace {

// Records every hook with the markers "Steps.txt" held at that moment.
class RecordingHooks final : public LoadHooks
{
public:
    explicit RecordingHooks(QString folder)
        : m_folder(std::move(folder))
    {
    }

    QStringList calls;
    bool tapiOk = true;
    bool throwInTapi = false;
    bool minimise = false;
    std::array<QString, 4> names{"Modem A", "", "", ""};
    std::array<int, 4> ringWatch{-1, -1, -1, -1};
    QString ringsFile;

    void CenterForm() override { note("CenterForm"); }
    void paintBackground() override { note("paintBackground"); }
    void setCheckBoxes(bool legal, bool ringCount) override
    {
        note(QString("setCheckBoxes %1 %2").arg(legal).arg(ringCount));
    }
    void OpenDayLog() override { note("OpenDayLog"); }
    void ResetLineHandles() override { note("ResetLineHandles"); }
    bool InitTapi() override
    {
        note("InitTapi");
        if (throwInTapi)
            throw std::runtime_error("crash while initialising telephony");
        return tapiOk;
    }
    void showFirstRunWindows() override { note("showFirstRunWindows"); }
    void setRingWatchInterval(int line, int ms) override { ringWatch[static_cast<std::size_t>(line)] = ms; }
    std::array<QString, 4> loadSetupHidden() override
    {
        note("loadSetupHidden");
        return names;
    }
    void OpenLines() override { note("OpenLines"); }
    void LoadMessageLists() override { note("LoadMessageLists"); }
    void LoadPhoneBook() override { note("LoadPhoneBook"); }
    void LoadRingRules(const QString &file) override
    {
        ringsFile = file;
        note("LoadRingRules");
    }
    bool minimiseOnStart() const override { return minimise; }
    void minimiseWindow() override { note("minimiseWindow"); }
    void restoreMousePointer() override { note("restoreMousePointer"); }
    void EnumerateCodecs() override { note("EnumerateCodecs"); }

private:
    void note(const QString &what)
    {
        QByteArray steps = readAll(m_folder + "/Steps.txt");
        steps.replace("\r\n", ",");
        calls << what + " [" + QString::fromLatin1(steps) + "]";
    }
    QString m_folder;
};

struct Fixture
{
    // The program folder is `below` in a scratch folder (its parent a file when "blocker/home").
    explicit Fixture(const QString &below = QString())
        : paths(AppPaths::underHome(below.isEmpty() ? dir.path() : dir.file(below), "telvox"))
    {
        if (!below.isEmpty())
            writeBytes(dir.file("blocker"), "a file, not a folder");
    }
    ScratchDir dir;
    AppPaths paths;
    VirtualEventLoop loop; // outlives the store, whose waiting values use its timer
    SettingsStore settings{paths.settingsFile, paths.file("settings.txt")};
    RecordingHooks hooks{paths.programFolder};
    LoadedState state;
    LoadResult run() { return runLoadSequence(paths, settings, loop, hooks, state); }
};

} // namespace

class tst_LoadSequence : public QObject
{
    Q_OBJECT
private slots:
    void firstStartRunsEveryStepInOrder()
    {
        Fixture f;
        QCOMPARE(f.run(), LoadResult::Loaded);
        const QStringList expected = {
            "CenterForm []",
            "paintBackground []",
            "setCheckBoxes 0 1 []",
            "OpenDayLog [1,]",
            "ResetLineHandles [1,2,3,]",
            "InitTapi [1,2,3,6,8,]",
            "showFirstRunWindows [1,2,3,6,8,9,]",
            "loadSetupHidden [1,2,3,6,8,9,]",
            "OpenLines [1,2,3,6,8,9,]",
            "LoadMessageLists [1,2,3,6,8,9,]",
            "LoadPhoneBook [1,2,3,6,8,9,]",
            "restoreMousePointer [1,2,3,6,8,9,10,]",
            "EnumerateCodecs [1,2,3,6,8,9,10,]",
        };
        QCOMPARE(f.hooks.calls, expected);
        QCOMPARE(readAll(f.paths.file("Steps.txt")), QByteArray("1\r\n2\r\n3\r\n6\r\n8\r\n9\r\n10\r\n"));
        QVERIFY(QDir(f.paths.file("LogFiles")).exists());
        QVERIFY(QDir(f.paths.file("waveFiles")).exists());
        QCOMPARE(f.settings.ReadSetting("Config", "TvxPath"), f.paths.programFolder);
        QCOMPARE(f.state.recordingFolder, f.paths.programFolder + "/waveFiles/"); // not beside the prompts
        QVERIFY(f.state.tempFolder.endsWith('/'));
        QCOMPARE(f.hooks.ringWatch, (std::array<int, 4>{6500, 6500, 6500, 6500}));
        QCOMPARE(f.state.stopOptions.silenceLevel, 100);
        QCOMPARE(f.state.stopOptions.silenceSeconds, 5);
        QVERIFY(!f.state.stopOptions.silence && !f.state.stopOptions.fastBusy);
        QCOMPARE(f.state.modemsChanged, 1u); // only line 0 has a name different from the (empty) stored one
        QCOMPARE(f.settings.ReadSetting("Modem", "Line0"), QString("Modem A"));
    }

    void laterStartUsesStoredOptions()
    {
        Fixture f;
        f.settings.WriteSetting("Config", "SaveFile", f.dir.path() + "/calls/");
        f.settings.WriteSetting("Config", "Legal", "1");
        f.settings.WriteSetting("Config", "RingCount", "0");
        f.settings.WriteSetting("Config", "Silence", "1");
        f.settings.WriteSetting("Config", "SilenceLevel", "40");
        f.settings.WriteSetting("Config", "FBS", "1");
        f.settings.WriteSetting("Line1", "Param1", "0");
        f.settings.WriteSetting("Line3", "Param1", "20000");
        f.settings.WriteSetting("Modem", "Line0", "Modem A");
        QVERIFY(writeBytes(f.paths.file("Rings.txt"), ""));
        f.hooks.minimise = true;

        QCOMPARE(f.run(), LoadResult::Loaded);
        QVERIFY(!f.hooks.calls.join('|').contains("showFirstRunWindows"));
        QVERIFY(f.hooks.calls.contains("setCheckBoxes 1 0 []"));
        QVERIFY(f.hooks.calls.contains("LoadRingRules [1,2,3,6,8,9,10,]"));
        QCOMPARE(f.hooks.ringsFile, f.paths.file("Rings.txt"));
        QVERIFY(f.hooks.calls.indexOf("minimiseWindow [1,2,3,6,8,9,10,]")
                < f.hooks.calls.indexOf("restoreMousePointer [1,2,3,6,8,9,10,]"));
        QCOMPARE(f.state.recordingFolder, f.dir.path() + "/calls/");
        // Param1 = 0 keeps the design interval; 20000 is clamped to 13000.
        QCOMPARE(f.hooks.ringWatch, (std::array<int, 4>{6500, -1, 6500, 13000}));
        QVERIFY(f.state.stopOptions.silence && f.state.stopOptions.fastBusy);
        QCOMPARE(f.state.stopOptions.silenceLevel, 40);
        QCOMPARE(f.state.modemsChanged, 0u);
    }

    void crashAfterMarker8LeavesTheTrace()
    {
        Fixture f;
        f.hooks.throwInTapi = true;
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, f.run());
        QCOMPARE(readAll(f.paths.file("Steps.txt")), QByteArray("1\r\n2\r\n3\r\n6\r\n8\r\n"));

        // The next start recreates the trace from scratch.
        Fixture again;
        again.hooks.tapiOk = false;
        QCOMPARE(again.run(), LoadResult::TelephonyUnavailable);
        QVERIFY(!QDir(again.paths.file("waveFiles")).exists());
        QCOMPARE(again.hooks.calls.last(), QString("InitTapi [1,2,3,6,8,]"));
    }

    void defaultPromptsAreWrittenOnlyWhenMissing()
    {
        ScratchDir dir;
        WriteDefaultPrompts(dir.path());
        const QByteArray greeting = readAll(dir.file("greeting.wav"));
        const QByteArray legal = readAll(dir.file("legal.wav"));
        // RIFF/WAVE, PCM, mono, 8000 Hz, 16 bit, with a fact chunk holding the sample count.
        for (const QByteArray &wav : {greeting, legal}) {
            QVERIFY(wav.startsWith("RIFF") && wav.mid(8, 8) == "WAVEfmt ");
            QCOMPARE(wav.mid(20, 16), QByteArray::fromHex("01000100401f0000803e000002001000"));
            QCOMPARE(wav.mid(36, 4), QByteArray("fact"));
            QCOMPARE(wav.mid(48, 4), QByteArray("data"));
        }
        QCOMPARE(greeting.size() - 56, 2 * 18400); // 2.3 s
        QCOMPARE(legal.size() - 56, 2 * 26800);    // 3.35 s

        // A user's own greeting (any spelling) is never replaced; a deleted one comes back.
        QFile::remove(dir.file("greeting.wav"));
        QVERIFY(writeBytes(dir.file("Greeting.wav"), "mine"));
        QFile::remove(dir.file("legal.wav"));
        WriteDefaultPrompts(dir.path());
        QVERIFY(!QFile::exists(dir.file("greeting.wav")));
        QCOMPARE(readAll(dir.file("Greeting.wav")), QByteArray("mine"));
        QCOMPARE(readAll(dir.file("legal.wav")), legal);
    }

    void unusableProgramFolderDoesNotStopLoading()
    {
        // A program folder that cannot exist (its parent is a file): nothing can be written,
        // even by root, and loading still completes.
        Fixture f("blocker/home");
        QCOMPARE(f.run(), LoadResult::Loaded);
        QCOMPARE(f.hooks.calls.last(), QString("EnumerateCodecs []"));
        QVERIFY(!QFile::exists(f.paths.file("Steps.txt")));
    }
};

QTEST_GUILESS_MAIN(tst_LoadSequence)
#include "tst_LoadSequence.moc"
