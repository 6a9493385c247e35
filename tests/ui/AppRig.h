#pragma once

#include "app/TelvoxApplication.h"
#include "core/VirtualEventLoop.h"
#include "platform/media/VirtualMediaDevice.h"
#include "support/FakeShell.h"
#include "ui/UiFakes.h"

namespace telvox::test {

// The whole program in a home folder, with virtual time, a silent media device and fake
// desktop services; modal windows go to `modal`, which the caller scripts.
struct AppRig
{
    explicit AppRig(const QString &home)
        : app(AppPaths::underHome(home, "telvox"), loop, prompts, printer, options())
    {
        app.setEndProcessHandler([this](int code) { exitCode = code; });
    }
    TelvoxApplication::Options options()
    {
        TelvoxApplication::Options o;
        o.mediaDevice = &device;
        o.tray = &tray;
        o.shell = &shell;
        o.modal = &modal;
        return o;
    }
    VirtualEventLoop loop{QDateTime(QDate(2026, 3, 2), QTime(10, 0))};
    ScriptedPrompts prompts;
    RecordingPrinter printer;
    VirtualMediaDevice device{loop};
    FakeTray tray{true};
    RecordingShell shell;
    ScriptedModal modal;
    TelvoxApplication app;
    int exitCode = -1;
};

} // namespace telvox::test
