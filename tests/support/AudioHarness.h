#pragma once

// A line slot's audio path in virtual time: the audio engine on paced wave devices, with the
// lists, the status log and the compression manager it works with.
#include "audio/AudioEngine.h"
#include "audio/AudioStack.h"
#include "audio/CodecConversion.h"
#include "sim/exchange/VirtualExchange.h"
#include "platform/wave/PacedWaveDevices.h"
#include "support/Files.h"
#include "support/ProgramFolder.h"
#include "telephony/LineCall.h"

#include <QDir>

#include <functional>

namespace telvox::test {

constexpr int kIn = 16;
constexpr int kOut = 32;

struct Harness : ProgramFolder
{
    explicit Harness(OutputFormat format = OutputFormat::Pcm)
    {
        QDir().mkpath(dir.file("tmp"));
        QDir().mkpath(dir.file("rec"));
        manager.addDriver(codec::makeTrueSpeechDriver());
        conversion.EnumerateCodecs();
        // By default the far end speaks a counting signal; it keeps what it hears.
        speak = [this](std::span<std::int16_t> out) {
            for (auto &s : out)
                s = static_cast<std::int16_t>((spoken++ * 37) % 20000 - 10000);
        };
        paced.addInput(kIn, [this](std::span<std::int16_t> out) { speak(out); });
        const auto hear = [this](std::span<const std::int16_t> in) { heard.insert(heard.end(), in.begin(), in.end()); };
        paced.addOutput(kOut, hear);
        paced.addOutput(kIn, hear); // a line device plays and records under one id

        devices.addProvider(paced);
        startEngine(format);
        status.OpenDayLog();
        lines.device(0).waveDeviceId = kIn;
    }

    // A new engine, as the next start of the program makes it (the old one goes without a word).
    void startEngine(OutputFormat format = OutputFormat::Pcm)
    {
        engine.reset();
        engine = std::make_unique<AudioEngine>(
            AudioEngine::Services{loop, lines, exchange, devices, conversion, lists, status, texts, prompts, timers},
            AudioEngine::Folders{dir.path(), dir.file("tmp") + "/", dir.file("rec") + "/", fallback()}, format);
        relay.setTarget(engine.get());
    }
    LineCall &call(int slot = 0) { return lines.call(slot); }
    // Starts a recording of line 0 of the given kind, as the call flow would.
    void startRecording(CallKind kind, const QString &caller = QString(), RecState state = RecState::Idle)
    {
        caller.isEmpty() ? call().clearCaller() : call().setCaller(caller);
        call().prepareRecording(kind, state);
        lines.device(0).waveDeviceId = kIn;
        engine->StartLineRecording(0);
    }
    // The caller hangs up: stop requested, the device returns its buffer.
    void stop(int slot = 0)
    {
        call(slot).requestCaptureStop();
        engine->waveInReset(slot);
    }
    QStringList recordings() const { return QDir(dir.file("rec")).entryList(QDir::Files); }
    QString fallback() const { return dir.file("FallbackRecordings") + "/"; }
    std::vector<std::int16_t> expectedSpeech(std::int64_t from, std::int64_t count) const
    {
        std::vector<std::int16_t> v;
        for (std::int64_t i = from; i < from + count; ++i)
            v.push_back(static_cast<std::int16_t>((i * 37) % 20000 - 10000));
        return v;
    }
    // The default far end's counting signal from its first sample: nothing lost, nothing twice.
    bool isSpeechFromTheStart(const std::vector<std::int16_t> &samples) const
    {
        return samples == expectedSpeech(0, std::int64_t(samples.size()));
    }

    AudioActionsRelay relay; // the calls' audio: the engine of the moment
    LineTable lines{loop, relay};
    VirtualExchange exchange{loop, ExchangeSetup{}};
    PacedWaveDevices paced{loop};
    WaveDevices devices;
    codec::AudioCompressionManager manager;
    CodecConversion conversion{manager, prompts};
    std::unique_ptr<AudioEngine> engine;
    std::int64_t spoken = 0;
    std::function<void(std::span<std::int16_t>)> speak;
    std::vector<std::int16_t> heard;
};


} // namespace telvox::test
