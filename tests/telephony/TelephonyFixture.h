#pragma once

#include "sim/exchange/VirtualExchange.h"
#include "support/Files.h"
#include "support/ProgramFolder.h"
#include "telephony/AudioActions.h"
#include "telephony/TelephonyCore.h"

#include <QStringList>

#include <memory>

namespace telvox::test {

// Records every audio request. A prompt "plays" for `promptMs` (0: nothing to play), the way
// the wave-out device would report its end; a recording marks the line as recording.
class RecordingAudio final : public AudioActions
{
public:
    explicit RecordingAudio(EventLoop &loop)
    {
        for (int n = 0; n < 4; ++n) {
            m_end[std::size_t(n)] = loop.createTimer(1000, [this, n] {
                m_end[std::size_t(n)]->setEnabled(false);
                table->device(n).playing = false;
            });
        }
    }

    // A greeting already playing goes on alone; the greeting and the refusal notice start the
    // greeting watch (Timer3) as the audio engine does.
    void PlayGreeting(int line) override { play("PlayGreeting", line, !(*table)[line].playing, true); }
    void PlayBlockedNotice(int line) override { play("PlayBlockedNotice", line, true, true); }
    void PlayLegalNotice(int line) override { play("PlayLegalNotice", line, true, false); }
    void StartLineRecording(int line) override
    {
        const LineSlot &slot = (*table)[line];
        calls << QStringLiteral("StartLineRecording %1 %2%3").arg(line).arg(modeLetter(slot.mode), slot.callerId);
        table->call(line).captureStarted();
    }
    void waveInReset(int line) override { calls << QStringLiteral("waveInReset %1").arg(line); }
    void abandonCapture(int line) override { calls << QStringLiteral("abandonCapture %1").arg(line); }
    void ClosePromptOutput(int line) override
    {
        calls << QStringLiteral("ClosePromptOutput %1").arg(line);
        table->device(line).playing = false;
    }

    LineTable *table = nullptr;
    int promptMs = 2300;
    QStringList calls;

private:
    void play(const char *request, int line, bool starts, bool greetingWatch)
    {
        calls << QStringLiteral("%1 %2").arg(QLatin1String(request)).arg(line);
        if (!starts)
            return;
        startPrompt(line);
        if (greetingWatch)
            table->call(line).watchGreeting();
    }
    void startPrompt(int line)
    {
        if (promptMs <= 0)
            return;
        table->device(line).playing = true;
        m_end[std::size_t(line)]->setInterval(promptMs);
        m_end[std::size_t(line)]->setEnabled(true);
    }

    std::array<std::unique_ptr<Timer>, 4> m_end;
};

inline IncomingCall callFrom(const QByteArray &number, CallerIdTiming timing = CallerIdTiming::AfterFirstRing)
{
    IncomingCall c;
    c.number = number;
    c.callerIdTiming = timing;
    return c;
}

// The telephony core on a virtual exchange in virtual time, in English, with a fresh program
// folder. Construct, adjust the settings or the exchange setup, then start().
struct TelephonyFixture : ProgramFolder
{
    explicit TelephonyFixture(ExchangeSetup setup = {})
        : ProgramFolder(QDateTime(QDate(2026, 1, 5), QTime(9, 0)))
        , exchangeSetup(std::move(setup))
    {
        settings.WriteSetting("Config", "Line0", "1");
    }

    // Initialises, classifies, opens the selected lines and loads the learned ring gaps, as the
    // loading sequence does. Returns InitTapi's result.
    bool start()
    {
        exchange = std::make_unique<VirtualExchange>(loop, exchangeSetup);
        core = std::make_unique<TelephonyCore>(TelephonyServices{*exchange, loop, settings, texts, status, prompts,
                                                                 timers, audio, dir.path()});
        audio.table = &core->lineTable();
        core->setWindowChecks([this] { return ringCountChecked; }, [this] { return legalChecked; });
        core->ResetLineHandles();
        if (!core->InitTapi())
            return false;
        SetupOptions options = readSetupOptions(settings);
        core->setSetupOptions(options);
        classification = core->classifyDevices();
        core->setRingGaps(loadRingGaps(settings));
        core->OpenLines();
        core->LoadPhoneBook();
        loop.advance(0);
        return true;
    }

    // Options of the "Config" section, written before start().
    void configure(std::initializer_list<std::pair<const char *, const char *>> options)
    {
        for (const auto &[key, value] : options)
            settings.WriteSetting(QStringLiteral("Config"), QString::fromLatin1(key), QString::fromLatin1(value));
    }
    QByteArray fileBytes(const QString &name) const { return readAll(dir.file(name)); }
    const LineSlot &slot(int n) const { return core->lineTable()[n]; }
    const Timer &timer(CallTimer which, int line) const { return core->lineTable().call(line).timer(which); }
    QString setting(const QString &section, const QString &key) { return settings.ReadSetting(section, key); }

    ExchangeSetup exchangeSetup;
    RecordingAudio audio{loop};
    std::unique_ptr<VirtualExchange> exchange;
    std::unique_ptr<TelephonyCore> core;
    DeviceClassification classification;
    bool ringCountChecked = true;
    bool legalChecked = false;
};

} // namespace telvox::test
