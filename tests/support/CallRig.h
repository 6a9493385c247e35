#pragma once

// The whole call path in virtual time: the virtual exchange, the call flow with its dialler,
// and the audio stack with the stop triggers and the touch-tone menu, in a scratch program
// folder. What a user finds afterwards (recordings, lists, the day log) is what tests check.
#include "audio/AudioEngine.h"
#include "audio/AudioStack.h"
#include "audio/CodecConversion.h"
#include "platform/media/VirtualMediaDevice.h"
#include "sim/exchange/VirtualExchange.h"
#include "sim/audio/SpeechLikeSource.h"
#include "support/ProgramFolder.h"
#include "telephony/Dialler.h"
#include "telephony/TelephonyCore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <memory>

namespace telvox::test {

struct CallRigOptions
{
    int lines = 1; // lines 0..lines-1 are enabled
    QString rings = QStringLiteral("3");
    StopTriggerOptions triggers;
    OutputFormat format = OutputFormat::Pcm;
    bool writeDefaultPrompts = true; // greeting.wav and legal.wav in the program folder
};

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
    if (seed)
        b.speech = std::make_shared<sim::SpeechLikeSource>(seed);
    else
        b.speech = std::make_shared<Silence>();
    return b;
}

struct CallRig : ProgramFolder
{
    using Options = CallRigOptions;

    explicit CallRig(Options options = Options{})
    {
        QDir().mkpath(dir.file("waveFiles"));
        QDir().mkpath(dir.file("tmp"));
        if (options.writeDefaultPrompts) {
            for (const char *name : {"greeting.wav", "legal.wav"})
                QFile::copy(QString(":/telvox/prompts/") + name, dir.file(name));
        }
        for (int n = 0; n < options.lines; ++n)
            settings.WriteSetting("Config", QStringLiteral("Line%1").arg(n), "1");
        settings.WriteSetting("Config", "Rings", options.rings);
        status.OpenDayLog();
        exchange = std::make_unique<VirtualExchange>(loop, ExchangeSetup{});
        core = std::make_unique<TelephonyCore>(
            TelephonyServices{*exchange, loop, settings, texts, status, prompts, timers, relay, dir.path()});
        core->setWindowChecks([] { return false; }, [this] { return legal; });
        audio = std::make_unique<AudioStack>(AudioStack::Services{loop, core->lineTable(), *exchange, lists, status,
                                                                  texts, prompts, timers, speaker,
                                                                  [this] { return legal; }, dir.path()});
        audio->devices().addProvider(*exchange);
        relay.setTarget(&audio->engine());
        audio->setFolders(dir.file("tmp") + "/", dir.file("waveFiles") + "/");
        audio->setOutputFormat(options.format);
        audio->conversion().EnumerateCodecs();
        dialler = std::make_unique<Dialler>(Dialler::Services{*core, loop, settings, status, texts, timers, relay});
        core->setDialerTimerStart([this](int line) { dialler->startWatch(line); });
        core->ResetLineHandles();
        if (!core->InitTapi())
            qFatal("the virtual exchange did not initialise");
        core->setSetupOptions(readSetupOptions(settings));
        core->classifyDevices();
        core->setRingGaps(loadRingGaps(settings));
        core->OpenLines();
        audio->startTriggers(options.triggers);
        loop.advance(0);
    }
    ~CallRig()
    {
        dialler.reset();
        audio.reset();
        core.reset();
    }

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
    LineSlot &slot(int line) { return core->lineTable()[line]; }
    // The line is back to where a new call finds it: no call, not recording, nothing captured.
    bool lineIsClean(int line)
    {
        return exchange->view(line).hCall == 0 && slot(line).recState == 0 && !audio->engine().isCapturing(line)
            && !timers.timWriteFile[line].isEnabled();
    }

    VirtualMediaDevice speaker{loop};
    AudioActionsRelay relay;
    std::unique_ptr<VirtualExchange> exchange;
    std::unique_ptr<TelephonyCore> core;
    std::unique_ptr<AudioStack> audio;
    std::unique_ptr<Dialler> dialler;
    bool legal = false;
};

} // namespace telvox::test
