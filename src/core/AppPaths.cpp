#include "core/AppPaths.h"

#include "core/PrivateFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace telvox {

QString withSeparator(QString path)
{
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
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
