#pragma once

#include <QString>

namespace telvox {

class AudioActions;
class EventLoop;
class LineTable;
class MediaDevice;
class StatusLog;
class Texts;

// The caller's touch-tone commands: a key sequence ends after three idle ticks of the line's
// timTollSaver (800 ms each); "1" to "4" play an announcement on the computer's loudspeakers,
// "##" ends the recording and hangs up, anything else goes to dtmf.txt (and numbers to the log).
class ToneMenu
{
public:
    struct Services
    {
        EventLoop &loop;
        LineTable &lines;
        AudioActions &audio;
        StatusLog &status;
        const Texts &texts;
        MediaDevice &announcements; // the default sound output
    };

    ToneMenu(Services services, QString programFolder);

    // Installs the timTollSaver handler.
    void attach();
    void timTollSaver_Timer(int line);
    void HandleToneCommand(int line);

    // The announcement file chosen last (also the setup dialog's current prompt file).
    QString currentPromptFile() const { return m_currentPrompt; }
    void setCurrentPromptFile(const QString &path) { m_currentPrompt = path; }

private:
    Services m_s;
    QString m_programFolder;
    QString m_currentPrompt;
};

} // namespace telvox
