#pragma once

// The call flow and the audio stack on a real line backend (modems on the emulator, SIP lines
// against real peers), in real time, in a scratch program folder: the lines answer at `rings`
// rings, with the learned ring gaps of a line that rings every second. A test builds its
// backend, then calls start(); its destructor calls stop() before the backend goes.
#include "WaitFor.h"
#include "audio/AudioEngine.h"
#include "audio/AudioStack.h"
#include "core/QtEventLoop.h"
#include "platform/media/VirtualMediaDevice.h"
#include "records/MessageLists.h"
#include "support/AudioHarness.h"
#include "telephony/TelephonyCore.h"

#include <QDir>

namespace telvox::test {

struct LineProgram
{
    explicit LineProgram(int rings, int lines = 1)
    {
        table.loadBuiltIn();
        for (const char *folder : {"LogFiles", "waveFiles", "tmp"})
            QDir().mkpath(dir.file(folder));
        settings.WriteSetting("Config", "Rings", QString::number(rings));
        for (int n = 0; n < lines; ++n) {
            settings.WriteSetting("Config", QStringLiteral("Line%1").arg(n), "1");
            for (int k = 1; k <= 6; ++k)
                settings.WriteSetting(QStringLiteral("Line%1").arg(n), QStringLiteral("Param%1").arg(k), "1500");
        }
        status.OpenDayLog();
    }
    // `backend` is the telephony service and the provider of the lines' audio devices.
    template <class Backend> void start(Backend &backend)
    {
        core = std::make_unique<TelephonyCore>(
            TelephonyServices{backend, loop, settings, store, texts, status, prompts, relay, dir.path()});
        core->setWindowChecks([] { return true; }, [] { return false; });
        audio = std::make_unique<AudioStack>(AudioStack::Services{loop, core->lineTable(), backend, lists, status, texts,
                                                                  prompts, timers, speaker, [] { return false; }, dir.path()});
        audio->devices().addProvider(backend);
        relay.setTarget(&audio->engine());
        audio->setFolders(dir.file("tmp") + "/", dir.file("waveFiles") + "/");
        audio->setOutputFormat(OutputFormat::Pcm);
        core->ResetLineHandles();
        core->InitTapi();
        core->setSetupOptions(readSetupOptions(settings));
        core->classifyDevices();
        core->setRingGaps(loadRingGaps(settings));
        core->OpenLines();
        audio->startTriggers(StopTriggerOptions{});
    }
    void stop()
    {
        audio.reset();
        core.reset();
    }
    QStringList recordings() const { return QDir(dir.file("waveFiles")).entryList(QDir::Files); }
    QString statusText() const { return statusList.lines().join('|'); }
    const LineSlot &slot(int line = 0) const { return core->lineTable()[line]; }

    ScratchDir dir;
    QtEventLoop loop;
    StringTable table;
    Texts texts{table, 0};
    SettingsStore settings{dir.file("telvox.ini"), dir.file("settings.txt")};
    StatusListModel statusList;
    StatusLog status{loop, dir.file("LogFiles"), statusList};
    MainTimers timers{loop};
    ScriptedPrompts prompts;
    MessageStore store{dir.file(MessageStore::defaultFileName())};
    MessageLists lists{store};
    VirtualMediaDevice speaker{loop};
    AudioActionsRelay relay;
    std::unique_ptr<TelephonyCore> core;
    std::unique_ptr<AudioStack> audio;
};

} // namespace telvox::test
