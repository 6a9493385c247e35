#pragma once

// The call system the program builds (call flow, audio stack, lists, dialler), on a real line
// backend (modems on the emulator, SIP lines against real peers), in real time, in a scratch
// program folder: the lines answer at `rings` rings, with the learned ring gaps of a line that
// rings every second. A test builds its backend, then calls start(); its destructor calls
// stop() before the backend goes.
#include "WaitFor.h"
#include "app/CallSystem.h"
#include "audio/AudioEngine.h"
#include "audio/AudioStack.h"
#include "core/QtEventLoop.h"
#include "platform/media/VirtualMediaDevice.h"
#include "records/MessageLists.h"
#include "support/AudioHarness.h"
#include "telephony/Dialler.h"
#include "telephony/TelephonyCore.h"

#include <QDir>

#include <utility>

namespace telvox::test {

struct LineProgram : CallSystemHooks
{
    explicit LineProgram(int rings, int lines = 1)
    {
        table.loadBuiltIn();
        for (const char *folder : {"LogFiles", "waveFiles", "tmp"})
            QDir().mkpath(dir.file(folder));
        SettingsStore settings(dir.file("telvox.ini"), dir.file("settings.txt"));
        settings.WriteSetting("Config", "Rings", QString::number(rings));
        for (int n = 0; n < lines; ++n) {
            settings.WriteSetting("Config", QStringLiteral("Line%1").arg(n), "1");
            for (int k = 1; k <= 6; ++k)
                settings.WriteSetting(QStringLiteral("Line%1").arg(n), QStringLiteral("Param%1").arg(k), "1500");
        }
    }
    // `backend` is the telephony service and the provider of the lines' audio devices.
    template <class Backend> void start(Backend &backend)
    {
        system = std::make_unique<CallSystem>(CallSystem::Options{
            .paths = {dir.path(), dir.file("telvox.ini"), dir.file("tmp") + "/", dir.file("telvox.lock")},
            .loop = loop,
            .prompts = prompts,
            .announcements = speaker,
            .lineService = &backend,
            .lineDevices = &backend});
        system->useLanguage("0");
        system->attach(*this);
        system->OpenDayLog();
        for (const QString &text : std::exchange(m_early, {}))
            system->statusLog().AddStatus(text);
        system->build();
        core = &system->telephony();
        audio = &system->audio();
        audio->setFolders(dir.file("tmp") + "/", dir.file("waveFiles") + "/");
        audio->setOutputFormat(OutputFormat::Pcm);
        system->EnumerateCodecs();
        system->ResetLineHandles();
        system->InitTapi();
        system->loadSetupHidden();
        system->OpenLines();
        system->LoadPhoneBook();
        LoadedState state;
        state.ringGap = loadRingGaps(system->settings());
        system->start(state);
    }
    void stop()
    {
        audio = nullptr;
        core = nullptr;
        system.reset();
    }
    // What the backend says, as a status line (kept until the call system runs).
    void news(const QString &text)
    {
        if (system)
            system->statusLog().AddStatus(text);
        else
            m_early << text;
    }
    QStringList recordings() const { return QDir(dir.file("waveFiles")).entryList(QDir::Files); }
    QString statusText() const { return system->statusList().lines().join('|'); }
    const LineSlot &slot(int line = 0) const { return core->lineTable()[line]; }
    StatusListModel &statusList() { return system->statusList(); }
    MessageLists &lists() { return system->messageLists(); }
    Dialler &dialler() { return system->dialler(); }

    ScratchDir dir;
    QtEventLoop loop;
    StringTable table;
    Texts texts{table, 0}; // the English texts of the backends' notices
    ScriptedPrompts prompts;
    VirtualMediaDevice speaker{loop};
    std::unique_ptr<CallSystem> system;
    TelephonyCore *core = nullptr;
    AudioStack *audio = nullptr;

private:
    QStringList m_early;
};

} // namespace telvox::test
