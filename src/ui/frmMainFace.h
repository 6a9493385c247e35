#pragma once

// The painted face of the main window: what frmMain holds beyond the controls it started
// with. Only frmMain's own sources include this.

#include "ui/frmMain.h"

#include "ui/Artwork.h"
#include "ui/WavePlayer.h"

#include <QKeySequence>
#include <QList>
#include <QPair>

#include <memory>
#include <optional>

class QFrame;
class QListWidget;
class QScrollBar;

namespace telvox {

class HotLabel;
class frmAbout;
class frmBrows;

struct frmMain::Face
{
    std::optional<DesktopServices> desktop;
    double twipsPerPixelX = 15.0;
    double twipsPerPixelY = 15.0;
    double scale = 1.0; // design pixels (at 15 twips per pixel) to screen pixels

    // The picture of the current language (imgBG, imgBGcn or imgBGbig5) at the window's size,
    // made when first painted; the other two are never loaded.
    Artwork background;
    ArtworkWidget *Picture1 = nullptr;
    QLabel *lblTitle = nullptr;

    HotLabel *lblSetup = nullptr;
    HotLabel *lblLog = nullptr;
    HotLabel *lblBackup = nullptr;
    HotLabel *lblSearch = nullptr;
    HotLabel *lblDial = nullptr;
    HotLabel *lblHelp = nullptr;
    HotLabel *lblExit = nullptr;
    HotLabel *lblMin = nullptr;
    HotLabel *lblSpeaker = nullptr;
    HotLabel *lblPlay = nullptr;
    HotLabel *lblPause = nullptr;
    HotLabel *lblStop = nullptr;

    QPushButton *cmdParam = nullptr;
    QPushButton *cmdBackup = nullptr;
    QPushButton *cmdBrows = nullptr;
    QPushButton *cmdHelp = nullptr;
    QPushButton *cmdPlay = nullptr;
    QPushButton *cmdPause = nullptr;
    QPushButton *cmdStop = nullptr;

    QScrollBar *HScroll1 = nullptr;
    QLabel *lblSeek = nullptr;
    QLabel *lblFileName = nullptr;
    QLabel *lblFileSize = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr; // over the unread list
    QLabel *Label4 = nullptr; // over the last fifty
    QListWidget *lstLastTen = nullptr;
    QListWidget *lstUnread = nullptr;
    QFrame *Frame4 = nullptr;
    QMenu *mmuFile = nullptr;
    QMenu *mmuFile1 = nullptr;

    QList<QPair<HotLabel *, QKeySequence>> keys; // the window's command keys, for the tool tips

    std::unique_ptr<WavePlayer> player;
    frmBrows *browser = nullptr; // created on first use, then reused
    frmAbout *about = nullptr;

    QString currentRecording;
    bool fromUnread = false;
    bool inTray = false;
    int unread = 0;            // the unread messages, for the tray's tool tip and badge
    QMenu *trayMenu = nullptr; // Show, Play newest, Quit
    bool noTrayReported = false;
};

} // namespace telvox
