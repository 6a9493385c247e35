#pragma once

#include <QString>

namespace telvox {

class SettingsStore;

// The "Config" options that more than one part of the program reads, one function per key,
// each with its default and its one reading rule. The setup window, the call system started
// without that window (the service, the scenario runner) and the loading sequence all read
// through here, so a stored or hand-edited value means the same on every path.
//
// Flags: on when the value reads as a number other than 0 ("1", "2", "-1", "3x"); off when
// empty, "0" or text that is no number. The setup window writes 0 or 1; a hand-edited
// ActionMan=2 therefore means manual answering wherever it is read, and the window shows its
// box ticked.
class OptionReader
{
public:
    static constexpr int kDefaultRings = 8;
    static constexpr int kDefaultSilenceLevel = 100;
    static constexpr int kDefaultSilenceSeconds = 5;

    explicit OptionReader(const SettingsStore &settings)
        : m_settings(settings)
    {
    }

    // "Rings": the ring count the lines answer at, as stored; empty (or blanks only) means 8.
    // Other text is passed on as it is: the setup window's check and the ring handler judge it.
    QString rings() const;
    bool manualAnswer() const;     // "ActionMan": the user answers, not the program
    bool popCallerId() const;      // "PopCallId": the caller-ID window opens on a call
    bool hangUpOnFastBusy() const; // "FBS": a fast busy tone ends the recording
    bool stopOnSilence() const;    // "Silence": a long silence ends the recording
    int silenceLevel() const;      // "SilenceLevel", 100 when empty
    int silenceSeconds() const;    // "SilenceD", 5 when empty
    bool minimiseOnStart() const;  // "MinOnStart"
    // "Line0" to "Line3": the line is opened and records. Exactly "1", the value the setup
    // window writes; the line manager opens a line on nothing else.
    bool lineSelected(int line) const;
    int outputFormat() const;      // "WaveFileFormat": 0 plain WAV, 1 compressed
    // "Language": 0 English, 1 Simplified Chinese, 2 Traditional Chinese; anything but "1" or
    // "2" (blanks aside) is English, as the texts are chosen (languageOffsetFor).
    int language() const;
    // "SaveFile": the recordings folder as stored, and whether one was chosen (blanks are
    // none); recordingFolder() resolves it as recordingFolderFor does (waveFiles/ in the
    // program folder when none was chosen, a relative one inside the program folder).
    QString recordingFolderSetting() const;
    bool recordingFolderChosen() const;
    QString recordingFolder(const QString &programFolder) const;

    static QString lineKey(int line);

private:
    QString value(const QString &key, const QString &defaultValue = QString()) const;
    bool flag(const QString &key) const;

    const SettingsStore &m_settings;
};

} // namespace telvox
