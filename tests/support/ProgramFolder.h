#pragma once

// A scratch program folder with the services nearly every part is built on: the English texts,
// the options, the status list with its day log, the main timers, scripted message boxes and
// the message lists, in virtual time.
#include "core/MainTimers.h"
#include "core/Settings.h"
#include "core/Texts.h"
#include "core/VirtualEventLoop.h"
#include "records/MessageLists.h"
#include "records/StatusLog.h"
#include "support/FakeShell.h"
#include "support/StatusTexts.h"

#include <QDir>

namespace telvox::test {

struct ProgramFolder
{
    explicit ProgramFolder(const QDateTime &start = QDateTime(QDate(2026, 12, 4), QTime(8, 30, 15)))
        : loop(start)
    {
        table.loadBuiltIn();
        QDir().mkpath(dir.file(QStringLiteral("LogFiles")));
    }
    QStringList statusTexts() const { return test::statusTexts(statusList); }

    ScratchDir dir;
    VirtualEventLoop loop;
    StringTable table;
    Texts texts{table, 0};
    SettingsStore settings{dir.file(QStringLiteral("telvox.ini")), dir.file(QStringLiteral("settings.txt"))};
    StatusListModel statusList;
    StatusLog status{loop, dir.file(QStringLiteral("LogFiles")), statusList};
    MainTimers timers{loop};
    ScriptedPrompts prompts;
    MessageStore store{dir.file(MessageStore::defaultFileName())};
    MessageLists lists{store};
};

} // namespace telvox::test
