#pragma once

// The whole call path in virtual time: the virtual exchange, the call flow with its dialler,
// and the audio stack with the stop triggers and the touch-tone menu, in a scratch program
// folder. What a user finds afterwards (recordings, lists, the day log) is what tests check.
#include "audio/AudioEngine.h"
#include "audio/AudioStack.h"
#include "audio/CodecConversion.h"
#include "core/MainTimers.h"
#include "core/Settings.h"
#include "core/Texts.h"
#include "core/VirtualEventLoop.h"
#include "platform/media/VirtualMediaDevice.h"
#include "sim/exchange/VirtualExchange.h"
#include "records/MessageLists.h"
#include "records/StatusLog.h"
#include "support/FakeShell.h"
#include "support/StatusTexts.h"
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
    bool writeDefaultPrompts = true; // greeting.wav and legal.wav in the program folder
};

struct CallRig
{
    using Options = CallRigOptions;

    explicit CallRig(Options options = Options{})
    {
        table.loadBuiltIn();
        QDir().mkpath(dir.file("LogFiles"));
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
        audio->setOutputFormat(OutputFormat::Pcm);
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

    QStringList statusTexts() const { return test::statusTexts(statusList); }
    QStringList recordings() const { return QDir(dir.file("waveFiles")).entryList(QDir::Files, QDir::Name); }
    // Seconds of audio in a PCM recording (8000 samples of 16 bits a second after 44 bytes).
    double seconds(const QString &recording) const
    {
        return double(QFileInfo(dir.file("waveFiles/" + recording)).size() - 44) / 16000.0;
    }
    LineSlot &slot(int line) { return core->lineTable()[line]; }
    // The line is back to where a new call finds it: no call, not recording, nothing captured.
    bool lineIsClean(int line)
    {
        return exchange->view(line).hCall == 0 && slot(line).recState == 0 && !audio->engine().isCapturing(line)
            && !timers.timWriteFile[line].isEnabled();
    }

    ScratchDir dir;
    VirtualEventLoop loop{QDateTime(QDate(2026, 12, 4), QTime(8, 30, 15))};
    StringTable table;
    Texts texts{table, 0};
    SettingsStore settings{dir.file("telvox.ini"), dir.file("settings.txt")};
    StatusListModel statusList;
    StatusLog status{loop, dir.file("LogFiles"), statusList};
    MainTimers timers{loop};
    ScriptedPrompts prompts;
    MessageLists lists{settings};
    VirtualMediaDevice speaker{loop};
    AudioActionsRelay relay;
    std::unique_ptr<VirtualExchange> exchange;
    std::unique_ptr<TelephonyCore> core;
    std::unique_ptr<AudioStack> audio;
    std::unique_ptr<Dialler> dialler;
    bool legal = false;
};

} // namespace telvox::test
