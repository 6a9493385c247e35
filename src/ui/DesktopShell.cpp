#include "ui/DesktopShell.h"

#include <QDesktopServices>
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

bool QtDesktopShell::openUrl(const QUrl &url) { return QDesktopServices::openUrl(url); }

bool QtDesktopShell::exploreFolder(const QString &folder) { return QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); }

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
