#include "ui/DesktopShell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>

namespace telvox {

ProgramCall volumeControlCommand(const std::function<QString(const QString &)> &find, const QString &desktop)
{
    const QString pavucontrol = find(QStringLiteral("pavucontrol"));
    if (!pavucontrol.isEmpty())
        return {pavucontrol, {}};
    struct Candidate
    {
        const char *desktopName; // matched against XDG_CURRENT_DESKTOP; nullptr: any desktop
        const char *program;
        QStringList arguments;
    };
    const Candidate candidates[] = {
        {"GNOME", "gnome-control-center", {QStringLiteral("sound")}},
        {"KDE", "kcmshell6", {QStringLiteral("kcm_pulseaudio")}},
        {"KDE", "kcmshell5", {QStringLiteral("kcm_pulseaudio")}},
        {"XFCE", "pavucontrol-qt", {}},
        {"MATE", "mate-volume-control", {}},
        {"LXQt", "pavucontrol-qt", {}},
        {nullptr, "pavucontrol-qt", {}},
        {nullptr, "gnome-control-center", {QStringLiteral("sound")}},
        {nullptr, "mate-volume-control", {}},
        {nullptr, "kcmshell6", {QStringLiteral("kcm_pulseaudio")}},
        {nullptr, "kcmshell5", {QStringLiteral("kcm_pulseaudio")}},
    };
    for (const Candidate &c : candidates) {
        if (c.desktopName && !desktop.contains(QLatin1String(c.desktopName), Qt::CaseInsensitive))
            continue;
        const QString path = find(QString::fromLatin1(c.program));
        if (!path.isEmpty())
            return {path, c.arguments};
    }
    return {};
}

QString handlerTypeFor(const QUrl &url)
{
    if (!url.isLocalFile())
        return QStringLiteral("x-scheme-handler/") + url.scheme().toLower();
    const QFileInfo info(url.toLocalFile());
    if (info.isDir())
        return QStringLiteral("inode/directory");
    return QMimeDatabase().mimeTypeForFile(info).name();
}

namespace {

// Whether the desktop has a default program for the type. Without xdg-mime it cannot be
// known; xdg-open is then left to try.
bool desktopCanOpen(const QUrl &url)
{
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty())
        return true;
    QProcess query;
    query.start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"), handlerTypeFor(url)});
    if (!query.waitForFinished(3000)) {
        query.kill();
        query.waitForFinished(1000);
        return true;
    }
    return !query.readAllStandardOutput().trimmed().isEmpty();
}

} // namespace

bool QtDesktopShell::openUrl(const QUrl &url) { return desktopCanOpen(url) && QDesktopServices::openUrl(url); }

bool QtDesktopShell::exploreFolder(const QString &folder) { return openUrl(QUrl::fromLocalFile(folder)); }

bool QtDesktopShell::openVolumeControl()
{
    const ProgramCall call = volumeControlCommand(
        [](const QString &name) { return QStandardPaths::findExecutable(name); },
        qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
    if (call.program.isEmpty())
        return false;
    return QProcess::startDetached(call.program, call.arguments);
}

} // namespace telvox
