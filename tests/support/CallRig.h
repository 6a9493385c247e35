#pragma once

// The whole call path in virtual time: the call system (call flow, dialler, audio stack with
// the stop triggers and the touch-tone menu) on the virtual exchange, in a scratch program
// folder. What a user finds afterwards (recordings, lists, the day log) is what tests check.
#include "app/CallSystem.h"
#include "audio/AudioEngine.h"
#include "audio/AudioStack.h"
#include "audio/CodecConversion.h"
#include "core/MainTimers.h"
#include "core/VirtualEventLoop.h"
#include "platform/media/VirtualMediaDevice.h"
#include "records/MessageLists.h"
#include "sim/audio/SpeechLikeSource.h"
#include "sim/exchange/VirtualExchange.h"
#include "support/FakeShell.h"
#include "support/Files.h"
#include "support/StatusTexts.h"
#include "support/WaveBytes.h"
#include "telephony/Dialler.h"
#include "telephony/TelephonyCore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <memory>

namespace telvox::test {

struct CallRig;

struct CallRigOptions
{
    int lines = 1; // lines 0..lines-1 are enabled
    QString rings = QStringLiteral("3");
    StopTriggerOptions triggers = {};
    OutputFormat format = OutputFormat::Pcm;
    bool writeDefaultPrompts = true; // greeting.wav and legal.wav in the program folder
    bool countRings = false;         // the ring-count box: a status line counts each ring
    std::vector<std::pair<QString, QString>> config = {}; // more "Config" options
    ExchangeSetup exchange = {};
    std::function<void(CallRig &)> before = {}; // writes settings and files before the build
};

inline IncomingCall callFrom(const QByteArray &number, CallerIdTiming timing = CallerIdTiming::AfterFirstRing)
{
    IncomingCall c;
    c.number = number;
    c.callerIdTiming = timing;
    return c;
}

// A silent prompt of `ms` milliseconds (8 kHz, 16 bits, mono) as `path`.
inline bool writeSilentPrompt(const QString &path, int ms)
{
    return writeBytes(path, riff(chunk("fmt ", fmtBody(1, 1, 8000, 16)) + chunk("data", QByteArray(ms * 16, '\0'))));
}

// A far end that never makes a sound.
class Silence final : public sim::SampleSource
{
public:
    void read(std::span<std::int16_t> out) override { std::fill(out.begin(), out.end(), std::int16_t{0}); }
};

// A caller who speaks synthetic talk from `seed`; 0 for `pickUpAfterRing` leaves the handset down.
inline IncomingCall caller(const QByteArray &number, std::uint64_t seed, int pickUpAfterRing = 0)
{
    IncomingCall in;
    in.number = number;
    in.pickUpAfterRing = pickUpAfterRing;
    in.speech = std::make_shared<sim::SpeechLikeSource>(seed);
    return in;
}

// A called party: answers (or not) after `answerAfterMs`, then speaks talk from `seed`, or
// nothing when `seed` is 0.
inline OutgoingBehaviour calledParty(OutgoingBehaviour::Kind kind, int answerAfterMs, std::uint64_t seed = 0)
{
    OutgoingBehaviour b;
    b.kind = kind;
    b.answerAfterMs = answerAfterMs;
    b.speech = seed ? std::shared_ptr<sim::SampleSource>(std::make_shared<sim::SpeechLikeSource>(seed))
                    : std::make_shared<Silence>();
    return b;
}

// The call system as the program builds it, on a virtual exchange, without windows: the
// legal-notice box is `legal`. `requests` lists every request the audio engine gets
// ("PlayGreeting 0", "StartLineRecording 0 A~5551234", "waveInReset 1", ...).
struct CallRig : CallSystemHooks
{
    using Options = CallRigOptions;

    explicit CallRig(Options options = Options{})
        : exchange(std::make_unique<VirtualExchange>(loop, std::move(options.exchange)))
        , countRings(options.countRings)
    {
        for (const char *folder : {"waveFiles", "tmp", "LogFiles"})
            QDir().mkpath(dir.file(folder));
        if (options.writeDefaultPrompts) {
            for (const char *name : {"greeting.wav", "legal.wav"})
                QFile::copy(QString(":/telvox/prompts/") + name, dir.file(name));
        }
        for (int n = 0; n < options.lines; ++n)
            settings.WriteSetting("Config", QStringLiteral("Line%1").arg(n), "1");
        settings.WriteSetting("Config", "Rings", options.rings);
        for (const auto &[key, value] : options.config)
            settings.WriteSetting("Config", key, value);
        if (options.before)
            options.before(*this);
        system.useLanguage("0");
        system.attach(*this);
        system.OpenDayLog();
        system.build();
        core = &system.telephony();
        audio = &system.audio();
        dialler = &system.dialler();
        audio->setFolders(dir.file("tmp") + "/", dir.file("waveFiles") + "/");
        audio->setOutputFormat(options.format);
        system.EnumerateCodecs();
        system.ResetLineHandles();
        if (!system.InitTapi())
            qFatal("the virtual exchange did not initialise");
        system.loadSetupHidden();
        system.OpenLines();
        system.LoadPhoneBook();
        LoadedState state;
        state.ringGap = loadRingGaps(settings);
        state.stopOptions = options.triggers;
        system.start(state);
        loop.advance(0);
    }

    bool legalChecked() const override { return legal; }
    bool ringCountChecked() const override { return countRings; }

    QStringList statusTexts() const { return test::statusTexts(statusList); }
    QStringList recordings() const { return QDir(dir.file("waveFiles")).entryList(QDir::Files, QDir::Name); }
    QString recordingPath(const QString &recording) const { return dir.file("waveFiles/" + recording); }
    // Seconds of audio in a PCM recording (8000 samples of 16 bits a second after 44 bytes).
    double seconds(const QString &recording) const
    {
        return double(QFileInfo(recordingPath(recording)).size() - 44) / 16000.0;
    }
    // Runs until the line's recording state is `state` (1 recording, 2 awaiting the answer).
    bool until(int line, int state, int ms = 60000)
    {
        return loop.advanceUntil([&] { return slot(line).recState == state; }, ms);
    }
    const LineSlot &slot(int line) { return core->lineTable()[line]; }
    const Timer &timer(CallTimer which, int line) { return core->call(line).timer(which); }
    QString setting(const QString &section, const QString &key) { return settings.ReadSetting(section, key); }
    QByteArray fileBytes(const QString &name) const { return readAll(dir.file(name)); }
    const Texts &texts() const { return system.texts(); }
    // The line is back to where a new call finds it: no call, not recording, nothing captured.
    bool lineIsClean(int line)
    {
        return exchange->view(line).hCall == 0 && slot(line).recState == 0 && !audio->engine().isCapturing(line)
            && !timers.timWriteFile[line].isEnabled();
    }

    ScratchDir dir;
    VirtualEventLoop loop{QDateTime(QDate(2026, 12, 4), QTime(8, 30, 15))};
    ScriptedPrompts prompts;
    VirtualMediaDevice speaker{loop};
    std::unique_ptr<VirtualExchange> exchange;
    QStringList requests;
    CallSystem system{{.paths = {dir.path(), dir.file("telvox.ini"), dir.file("tmp") + "/", dir.file("telvox.lock")},
                       .loop = loop,
                       .prompts = prompts,
                       .announcements = speaker,
                       .lineService = exchange.get(),
                       .lineDevices = exchange.get(),
                       .audioTrace = [this](const QString &request) { requests << request; }}};
    SettingsStore &settings = system.settings();
    StatusListModel &statusList = system.statusList();
    MainTimers &timers = system.timers();
    MessageLists &lists = system.messageLists();
    MessageStore &store = system.messageStore();
    TelephonyCore *core = nullptr;
    AudioStack *audio = nullptr;
    Dialler *dialler = nullptr;
    bool legal = false;
    bool countRings;
};

} // namespace telvox::test
