#include "app/CompanionCommands.h"

#include "app/CallSystem.h"
#include "app/ServiceControl.h"
#include "core/OptionReader.h"
#include "core/QtEventLoop.h"
#include "core/Settings.h"
#include "core/Texts.h"
#include "platform/media/ModuleMedia.h"
#include "platform/media/WaveFileInfo.h"
#include "records/CallBlockList.h"
#include "records/CallRecords.h"
#include "records/MessageLists.h"
#include "records/StatusLog.h"
#include "telephony/PhoneBookTable.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTextStream>
#include <QThread>

namespace telvox {

namespace {

QString lengthText(qint64 ms)
{
    if (ms < 0)
        return QStringLiteral("?:??");
    const qint64 seconds = ms / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

Texts textsOf(const SettingsStore &settings)
{
    return Texts(builtInStrings(),
                 languageOffsetFor(settings.ReadSetting(QStringLiteral("Config"), QStringLiteral("Language"))));
}

// A file named on the command line: a path as given, else a name in the recording folder.
QString resolveRecording(const QString &argument, const QString &folder)
{
    if (QFileInfo(argument).isFile())
        return QFileInfo(argument).absoluteFilePath();
    return QDir(folder).filePath(argument);
}

int playFile(const QString &path, const Texts &texts, QTextStream &out, QTextStream &err)
{
    ModuleMediaDevice player;
    if (!player.open(path)) {
        err << texts.LoadText(1670).arg(path, texts.LoadText(1002)) << Qt::endl;
        return 1;
    }
    out << texts.LoadText(1669).arg(QFileInfo(path).fileName(), lengthText(player.lengthMs())) << Qt::endl;
    player.play();
    // The player reports its progress through the event loop; the sound card takes a moment to
    // start, and the length is the limit should it never report the end.
    QElapsedTimer clock;
    clock.start();
    const qint64 limit = qMax<qint64>(player.lengthMs(), 0) + 5000;
    bool started = false;
    while (clock.elapsed() < limit) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(20);
        if (!player.lastError().isEmpty())
            break;
        if (player.isPlaying())
            started = true;
        else if (started || clock.elapsed() > 3000)
            break;
    }
    if (!player.lastError().isEmpty() || !started) {
        err << texts.LoadText(1670).arg(path, player.lastError().isEmpty() ? QStringLiteral("no sound output")
                                                                            : player.lastError())
            << Qt::endl;
        return 1;
    }
    return 0;
}

// A line in today's day log, stamped as the program stamps its status lines; the program's
// status list shows it from the log.
void addToDayLog(const AppPaths &paths, const QString &text)
{
    QtEventLoop loop;
    StatusListModel list;
    StatusLog log(loop, paths.file(QStringLiteral("LogFiles")), list);
    log.OpenDayLog();
    log.AddStatus(text);
}

} // namespace

RecordingInfo describeRecording(const QString &folder, const QString &name, const QString &phoneBookFile)
{
    static const QRegularExpression pattern(
        QStringLiteral("^([A-Za-z])(\\d{4}-\\d{2}-\\d{2}~\\d{2}-\\d{2}-\\d{2})(?:~(.*?))?(?:\\(\\d+\\))?\\.[^.]+$"));
    RecordingInfo info;
    info.name = name;
    info.path = QDir(folder).filePath(name);
    const QRegularExpressionMatch m = pattern.match(name);
    if (m.hasMatch()) {
        info.mode = m.captured(1).at(0);
        info.when = QDateTime::fromString(m.captured(2), QStringLiteral("yyyy-MM-dd~hh-mm-ss"));
        info.number = m.captured(3);
    }
    if (!info.number.isEmpty() && !phoneBookFile.isEmpty()) {
        for (const phonebook::Entry &e : phonebook::listedEntries(phoneBookFile)) {
            if (e.tele.trimmed() == info.number) {
                info.phoneBookName = e.name.trimmed();
                break;
            }
        }
    }
    const WaveFileInfo wave = readWaveFileInfo(info.path);
    if (wave.valid)
        info.lengthMs = wave.lengthMs();
    return info;
}

QString recordingFolderOf(const AppPaths &paths, const SettingsStore &settings)
{
    return OptionReader(settings).recordingFolder(paths.programFolder);
}

QStringList recordingListing(const AppPaths &paths, SettingsStore &settings, const Texts &texts)
{
    const std::unique_ptr<MessageStore> store = openMessageStore(paths, settings);
    MessageLists lists(*store);
    lists.LoadMessageLists();
    const QString folder = recordingFolderOf(paths, settings);
    const QString phoneBook = paths.file(QStringLiteral("PhoneBook.txt"));
    QStringList lines;
    const auto section = [&](int title, const QStringList &names) {
        lines << QStringLiteral("%1 (%2):").arg(texts.LoadText(title)).arg(names.size());
        if (names.isEmpty())
            lines << QStringLiteral("  ") + texts.LoadText(1655);
        // Newest first: the lists keep the newest at the bottom.
        for (auto it = names.crbegin(); it != names.crend(); ++it) {
            const RecordingInfo r = describeRecording(folder, *it, phoneBook);
            QString line = QStringLiteral("  %1  %2  %3")
                               .arg(r.when.isValid() ? r.when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                                                     : QStringLiteral("-------------------"),
                                    lengthText(r.lengthMs).rightJustified(6), r.name);
            if (!r.number.isEmpty())
                line += QStringLiteral("  ") + r.number;
            if (!r.phoneBookName.isEmpty())
                line += QStringLiteral("  ") + r.phoneBookName;
            lines << line;
        }
    };
    section(1653, lists.unreadEntries());
    section(1654, lists.lastTenEntries());
    lines << texts.LoadText(1671).arg(folder);
    return lines;
}

std::unique_ptr<MessageStore> openMessageStore(const AppPaths &paths, SettingsStore &settings)
{
    auto store = std::make_unique<MessageStore>(paths.file(MessageStore::defaultFileName()));
    keepEarlierRecordingFolder(settings, paths.programFolder);
    store->migrateFromSettings(settings, recordingFolderOf(paths, settings));
    migrateBlockedCalls(*store, paths.programFolder);
    return store;
}

QStringList lastCallsReport(const MessageStore &store, const Texts &texts)
{
    QStringList lines;
    const auto section = [&](int title, const QString &name) {
        const QList<CallRecord> records = store.callRecordEntries(name);
        QStringList newestFirst;
        for (auto it = records.crbegin(); it != records.crend(); ++it) {
            newestFirst << (it->when.isValid() ? QStringLiteral("%1 (%2)").arg(
                                                     it->number, it->when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                                               : it->number);
        }
        lines << texts.LoadText(title) + QStringLiteral(": ")
                     + (records.isEmpty() ? texts.LoadText(1655) : newestFirst.join(QStringLiteral(", ")));
    };
    section(1665, QStringLiteral("Received"));
    section(1666, QStringLiteral("Made"));
    section(1812, QStringLiteral("Blocked"));
    return lines;
}

bool markRecordingRead(MessageLists &lists, const QString &name)
{
    const qsizetype row = lists.unreadEntries().indexOf(name);
    if (row < 0)
        return false;
    lists.lstUnread_Click(static_cast<int>(row));
    lists.markSelectedUnreadAsHeard();
    return true;
}

int runCompanionCommand(CompanionCommand command, const QString &argument, const AppPaths &paths,
                        QTextStream &out, QTextStream &err)
{
    SettingsStore settings(paths.settingsFile, paths.file(QStringLiteral("settings.txt")));
    const Texts texts = textsOf(settings);
    // An options file found damaged, empty or unreadable (and restored from its last good
    // copy), or one that cannot be saved, is told as the program tells it: on stderr here, and
    // in the day log. What the command prints and returns stays as it is.
    settings.setFileEventHandler([&](const SettingsStore::FileEvent &event) {
        bool alarm = false;
        const QString text = CallSystem::optionsFileEventText(texts, settings.storeFile(), event, &alarm);
        err << text << Qt::endl;
        addToDayLog(paths, text);
    });
    const auto unhook = qScopeGuard([&settings] { settings.setFileEventHandler(nullptr); });
    QString reply;
    switch (command) {
    case CompanionCommand::List:
        for (const QString &line : recordingListing(paths, settings, texts))
            out << line << Qt::endl;
        return 0;
    case CompanionCommand::Play:
        return playFile(resolveRecording(argument, recordingFolderOf(paths, settings)), texts, out, err);
    case CompanionCommand::MarkRead: {
        const QString name = QFileInfo(argument).fileName();
        // The running service keeps the lists in memory: it makes the change itself.
        if (askService(paths, QStringLiteral("mark-read ") + name, &reply)) {
            const bool done = reply.startsWith(QLatin1String("ok"));
            (done ? out : err) << (done ? texts.LoadText(1667) : texts.LoadText(1668)).arg(name) << Qt::endl;
            return done ? 0 : 1;
        }
        const std::unique_ptr<MessageStore> store = openMessageStore(paths, settings);
        MessageLists lists(*store);
        lists.LoadMessageLists();
        if (!markRecordingRead(lists, name)) {
            err << texts.LoadText(1668).arg(name) << Qt::endl;
            return 1;
        }
        out << texts.LoadText(1667).arg(name) << Qt::endl;
        return 0;
    }
    case CompanionCommand::Dial:
    case CompanionCommand::HangUp: {
        const bool dial = command == CompanionCommand::Dial;
        const QString line = QStringLiteral("Line") + argument.section(QLatin1Char(' '), 0, 0);
        if (!askService(paths, (dial ? QStringLiteral("dial ") : QStringLiteral("hangup ")) + argument, &reply,
                        10000)) {
            err << texts.LoadText(1656) << Qt::endl;
            return 1;
        }
        if (reply.startsWith(QLatin1String("ok"))) {
            out << (dial ? texts.LoadText(1675).arg(line, argument.section(QLatin1Char(' '), 1))
                         : texts.LoadText(1677).arg(line))
                << Qt::endl;
            return 0;
        }
        const QString why = reply.trimmed().section(QStringLiteral(": "), 1);
        err << texts.LoadText(dial ? 1676 : 1678).arg(line, why) << Qt::endl;
        return 1;
    }
    case CompanionCommand::Status:
        if (askService(paths, QStringLiteral("status"), &reply)) {
            out << reply;
            return 0;
        }
        out << texts.LoadText(1656) << Qt::endl;
        for (const QString &line : lastCallsReport(*openMessageStore(paths, settings), texts))
            out << line << Qt::endl;
        return 0;
    }
    return 2;
}

} // namespace telvox
