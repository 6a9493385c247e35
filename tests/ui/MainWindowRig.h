#pragma once

#include "core/MainTimers.h"
#include "core/Settings.h"
#include "core/Texts.h"
#include "core/VirtualEventLoop.h"
#include "platform/media/MediaControl.h"
#include "platform/media/VirtualMediaDevice.h"
#include "records/StatusLog.h"
#include "support/FakeShell.h"
#include "ui/UiFakes.h"
#include "ui/frmMain.h"

#include <memory>

namespace telvox::test {

// A main window with virtual time, a silent media device and fake desktop services.
struct MainWindowRig
{
    explicit MainWindowRig(int languageOffset = 0, bool trayAvailable = true)
        : tray(trayAvailable)
    {
        table.loadBuiltIn();
        texts = std::make_unique<Texts>(table, languageOffset);
        window = std::make_unique<frmMain>(
            frmMain::Services{*texts, settings, statusList, statusLog, prompts, printer});
        window->setDesktopServices({timers, media, tray, shell, modal, loop, dir.path()});
        window->setShutdownHandler([this] { ++shutdowns; });
        window->paintBackground();
        window->setCaptions();
    }

    template <typename T>
    T *child(const char *name) const
    {
        return window->findChild<T *>(QString::fromLatin1(name));
    }
    QString mediaSays(const QString &command) { return media.sendString(command).text; }

    ScratchDir dir;
    StringTable table;
    std::unique_ptr<Texts> texts;
    SettingsStore settings{dir.file("telvox.ini"), dir.file("settings.txt")};
    VirtualEventLoop loop{QDateTime(QDate(2026, 3, 2), QTime(10, 0))};
    StatusListModel statusList;
    StatusLog statusLog{loop, dir.file("LogFiles"), statusList};
    ScriptedPrompts prompts;
    RecordingPrinter printer;
    MainTimers timers{loop};
    VirtualMediaDevice device{loop};
    MediaControl media{device};
    FakeTray tray;
    RecordingShell shell;
    ScriptedModal modal;
    std::unique_ptr<frmMain> window;
    int shutdowns = 0;
};

} // namespace telvox::test
