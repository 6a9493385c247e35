#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

namespace telvox {

// What the windows ask of the desktop: open a document, a folder or a link with the user's
// own programs, and start the volume control. Each returns false when the desktop has no
// program for it; the callers then tell the user what is missing.
class DesktopShell
{
public:
    virtual ~DesktopShell() = default;
    // Opens a file, a web page or a mailto: link with the desktop's program for it.
    virtual bool openUrl(const QUrl &url) = 0;
    // Shows a folder in the desktop's file manager.
    virtual bool exploreFolder(const QString &folder) = 0;
    // Starts the sound volume control.
    virtual bool openVolumeControl() = 0;
};

// The volume control to start: pavucontrol where it is installed, otherwise the mixer of the
// desktop in use. `find` looks a program up on the PATH (empty when missing). An empty
// program means none was found.
struct ProgramCall
{
    QString program;
    QStringList arguments;
};
ProgramCall volumeControlCommand(const std::function<QString(const QString &)> &find, const QString &desktop);

// The MIME type whose default program opens the link: "inode/directory" for a folder,
// "x-scheme-handler/<scheme>" for a web or mail link, the file's type for a local file.
QString handlerTypeFor(const QUrl &url);

// The desktop through QDesktopServices (xdg-open) and detached processes. Before opening, it
// asks xdg-mime whether the desktop has a program for the link; xdg-open itself starts even
// when it has none, and then fails where nobody sees it.
class QtDesktopShell final : public DesktopShell
{
public:
    bool openUrl(const QUrl &url) override;
    bool exploreFolder(const QString &folder) override;
    bool openVolumeControl() override;
};

} // namespace telvox
