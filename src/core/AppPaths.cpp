#include "core/AppPaths.h"

#include "core/OptionReader.h"
#include "core/PrivateFiles.h"
#include "core/Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

namespace telvox {

QString withSeparator(QString path)
{
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

QString recordingFolderFor(const QString &programFolder, const QString &saveFile)
{
    const QDir program(programFolder);
    if (saveFile.trimmed().isEmpty())
        return withSeparator(program.filePath(QStringLiteral("waveFiles")));
    return withSeparator(program.absoluteFilePath(saveFile));
}

bool keepEarlierRecordingFolder(SettingsStore &settings, const QString &programFolder)
{
    const QString config = QStringLiteral("Config");
    const QDir program(programFolder);
    if (programFolder.isEmpty() || OptionReader(settings).recordingFolderChosen()
        || program.exists(QStringLiteral("waveFiles")))
        return false;
    for (const QString &section : {QStringLiteral("DataUnread"), QStringLiteral("Data")}) {
        for (int k = 0; k < 50; ++k) {
            const QString entry = settings.ReadSetting(section, QLatin1Char(' ') + QString::number(k));
            if (entry.isEmpty() || entry.contains(QLatin1Char('/')) || isPromptFileName(entry)
                || !QFileInfo(program.filePath(entry)).isFile())
                continue;
            settings.WriteSetting(config, QStringLiteral("SaveFile"), withSeparator(program.absolutePath()));
            return true;
        }
    }
    return false;
}

bool isPromptFileName(const QString &fileName)
{
    static const QStringList prompts{QStringLiteral("greeting.wav"), QStringLiteral("legal.wav"),
                                     QStringLiteral("blocked.wav"),  QStringLiteral("01.wav"),
                                     QStringLiteral("02.wav"),       QStringLiteral("03.wav"),
                                     QStringLiteral("04.wav")};
    return prompts.contains(fileName, Qt::CaseInsensitive);
}

QString findFileIgnoringCase(const QString &folder, const QString &name)
{
    const QDir dir(folder);
    if (dir.exists(name))
        return dir.filePath(name);
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden);
    for (const QString &entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return dir.filePath(entry);
    }
    return dir.filePath(name);
}

QString applicationName()
{
    const QString exe = QCoreApplication::applicationFilePath();
    const QString base = QFileInfo(exe).completeBaseName();
    return base.isEmpty() ? QStringLiteral("telvox") : base;
}

AppPaths AppPaths::underHome(const QString &home, const QString &appName)
{
    AppPaths p;
    p.programFolder = QDir::cleanPath(QDir(home).absolutePath());
    p.settingsFile = p.programFolder + QLatin1Char('/') + appName + QStringLiteral(".ini");
    p.tempFolder = withSeparator(p.programFolder);
    p.lockFile = p.programFolder + QLatin1Char('/') + appName + QStringLiteral(".lock");
    return p;
}

AppPaths AppPaths::fromEnvironment(const QString &appName)
{
    const QString home = qEnvironmentVariable("TELVOX_HOME");
    if (!home.isEmpty())
        return underHome(home, appName);

    AppPaths p;
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    p.programFolder = QDir::cleanPath(data + QStringLiteral("/Telvox"));
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    p.settingsFile = QDir::cleanPath(config + QStringLiteral("/Telvox/") + appName + QStringLiteral(".ini"));
    // $XDG_RUNTIME_DIR is the user's own (0700, on a memory file system); it is used only when
    // it really is (ours, private). Without it the program folder serves, never a folder
    // shared with other accounts (Qt's own fallback lies under /tmp).
    const QString userRuntime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const bool runtimeUsable = !userRuntime.isEmpty() && isPrivateFolderOfOurs(userRuntime);
    p.tempFolder = withSeparator(runtimeUsable ? userRuntime + QStringLiteral("/telvox") : p.programFolder);
    p.lockFile = (runtimeUsable ? userRuntime : p.programFolder) + QLatin1Char('/') + appName + QStringLiteral(".lock");
    return p;
}

QString AppPaths::file(const QString &name) const { return programFolder + QLatin1Char('/') + name; }

} // namespace telvox
