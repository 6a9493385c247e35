#pragma once

#include "core/AppPaths.h"
#include "core/Settings.h"

#include <QString>

#include <array>
#include <memory>

class QTemporaryDir;

namespace telvox {

class EventLoop;

// What the main window's loading asks of the window and of the subsystems. Each subsystem
// fills in its own steps; the order in which they run is fixed by runLoadSequence().
class LoadHooks
{
public:
    virtual ~LoadHooks() = default;

    virtual void CenterForm() {}
    // Paints the background picture chosen by the language and applies the window outline.
    virtual void paintBackground() {}
    // Sets chkLegal and chkRingCount and the window's localised captions and tool tips.
    virtual void setCheckBoxes(bool legal, bool ringCount) { (void)legal, (void)ringCount; }
    // Opens today's log as the log channel and fills the status list from it.
    virtual void OpenDayLog() {}
    virtual void ResetLineHandles() {}
    // Initialises the telephony service; false ends the process (the service said why).
    virtual bool InitTapi() { return true; }
    // First start: the tips window, then the setup dialog, both modal.
    virtual void showFirstRunWindows() {}
    virtual void setRingWatchInterval(int line, int ms) { (void)line, (void)ms; }
    // Loads the setup dialog hidden; returns the device names it shows for lines 0..3.
    virtual std::array<QString, 4> loadSetupHidden() { return {}; }
    virtual void OpenLines() {}
    virtual void LoadMessageLists() {}
    virtual void LoadPhoneBook() {}
    virtual void LoadRingRules(const QString &ringsFile) { (void)ringsFile; }
    // The minimise-on-start option published by the setup dialog.
    virtual bool minimiseOnStart() const { return false; }
    virtual void minimiseWindow() {}
    virtual void restoreMousePointer() {}
    virtual void EnumerateCodecs() {}
};

// Silence and busy-tone options, read once at the end of loading.
struct StopTriggerOptions
{
    bool silence = false;   // "Silence"
    int silenceLevel = 100; // "SilenceLevel"
    int silenceSeconds = 5; // "SilenceD"
    bool fastBusy = false;  // "FBS"
};

// What loading established for the rest of the run.
struct LoadedState
{
    QString tempFolder;      // this run's private working folder; ends with a separator
    std::shared_ptr<QTemporaryDir> workFolder; // owns tempFolder: removed when the run ends
    QString recordingFolder; // ends with a separator
    RingGapTable ringGap{};
    StopTriggerOptions stopOptions;
    unsigned modemsChanged = 0; // bit n: line n's device name changed
};

enum class LoadResult { Loaded, TelephonyUnavailable };

// Writes the default greeting, legal notice and refusal prompt into the program folder when
// missing ("greeting.wav", "legal.wav", "blocked.wav"); an existing prompt (any spelling of the name) is kept.
void WriteDefaultPrompts(const QString &programFolder);

// The loading sequence of the main window, in its fixed order, with the start-up trace
// "Steps.txt" (markers 1, 2, 3, 6, 8, 9, 10, each written as soon as its stage finished).
LoadResult runLoadSequence(const AppPaths &paths, SettingsStore &settings, EventLoop &loop, LoadHooks &hooks,
                           LoadedState &state);

} // namespace telvox
