#pragma once

#include "app/TelvoxApplication.h"
#include "core/Settings.h"
#include "core/VirtualEventLoop.h"
#include "platform/media/VirtualMediaDevice.h"
#include "platform/shell/AutostartEntry.h"
#include "support/FakeShell.h"
#include "support/Program.h"
#include "ui/UiFakes.h"

namespace telvox::test {

// The whole program in a home folder, with virtual time, a silent media device and fake
// desktop services; modal windows go to `modal`, which the caller scripts. Counts the ends,
// restarts and first setups the program asks for.
struct AppRig
{
    explicit AppRig(const QString &home)
        : autostart(home + "/autostart")
        , app(AppPaths::underHome(home, "telvox"), loop, prompts, printer, options())
    {
        app.setEndProcessHandler([this](int code) {
            exitCode = code;
            ends << "exit";
        });
        app.setRestartHandler([this] { ends << "restart"; });
        app.setFirstSetupHandler([this] { ++setupOpened; });
    }
    TelvoxApplication::Options options()
    {
        TelvoxApplication::Options o;
        o.mediaDevice = &device;
        o.tray = &tray;
        o.shell = &shell;
        o.modal = &modal;
        o.folders = &folders;
        o.autostart = &autostart;
        return o;
    }
    VirtualEventLoop loop{QDateTime(QDate(2026, 3, 2), QTime(10, 0))};
    ScriptedPrompts prompts;
    RecordingPrinter printer;
    VirtualMediaDevice device{loop};
    FakeTray tray{true};
    RecordingShell shell;
    ScriptedModal modal;
    FakeFolders folders;
    AutostartEntry autostart;
    TelvoxApplication app;
    int exitCode = -1;
    int setupOpened = 0;
    QStringList ends; // "exit" and "restart", in order
};

} // namespace telvox::test
