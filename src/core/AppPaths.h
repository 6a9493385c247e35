#pragma once

#include <QString>

namespace telvox {

// Where Telvox keeps its files. The program folder holds every fixed file (Steps.txt,
// LogFiles/, the prompts, PhoneBook.txt, Rings.txt, callerid.txt, settings.txt, dtmf.txt,
// waveFiles/). It is $TELVOX_HOME when that is set (tests, portable use), otherwise the
// per-user data folder (~/.local/share/Telvox); the settings store follows it.
struct AppPaths
{
    QString programFolder; // without a trailing separator
    QString settingsFile;  // the per-user settings store (INI)
    // Where each run makes its private working folder (see makePrivateWorkFolder): the
    // per-user runtime folder ($XDG_RUNTIME_DIR/telvox) when there is one, otherwise the
    // program folder; never a folder shared with other accounts. Ends with a separator.
    QString tempFolder;
    QString lockFile;      // single-instance lock

    // Builds the paths from the environment. `appName` is the executable's base name.
    static AppPaths fromEnvironment(const QString &appName);
    // Paths rooted at `home`, as with $TELVOX_HOME = home.
    static AppPaths underHome(const QString &home, const QString &appName);

    // programFolder + separator + name
    QString file(const QString &name) const;
};

// The executable's file name without extension, taken at run time ("telvox").
QString applicationName();

// `path` with a trailing "/" (added when missing).
QString withSeparator(QString path);

// The recording folder for the stored "Config" / "SaveFile" value, ending with a separator:
// that folder (a relative one is taken inside the program folder), or "waveFiles/" in the
// program folder while none is stored. Never the program folder itself, where the prompts are.
QString recordingFolderFor(const QString &programFolder, const QString &saveFile);

class SettingsStore;

// An earlier version that was never given a folder kept its recordings in the program folder
// itself. When the options still list such a recording there (and no "waveFiles/" exists yet),
// the program folder is stored as the chosen folder, so an upgrade leaves every message listed
// where it lies. Returns whether it stored it.
bool keepEarlierRecordingFolder(SettingsStore &settings, const QString &programFolder);

// True for the name of a prompt the program plays to callers ("greeting.wav", "legal.wav",
// "blocked.wav", "01.wav" to "04.wav", in any case): such files are never recordings.
bool isPromptFileName(const QString &fileName);

// The file `name` in `folder`, found without regard to case ("Greeting.wav" and
// "greeting.wav" lead to the same file). Returns folder + "/" + name when none exists.
QString findFileIgnoringCase(const QString &folder, const QString &name);

} // namespace telvox
