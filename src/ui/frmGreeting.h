#pragma once

#include "ui/DesktopShell.h"

#include <QDialog>

#include <functional>
#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;

namespace telvox {

class AudioEngine;
class EventLoop;
class LineCall;
class LineTable;
class MediaControl;
class Texts;
class Timer;
class UserPrompts;
struct MainTimers;

// The desktop's own sound recorder where one is installed (`find` looks a program up on the
// PATH and answers empty when it is missing); an empty program means there is none.
ProgramCall soundRecorderCommand(const std::function<QString(const QString &)> &find);

// The capture recorder for "Greeting.wav" and "legal.wav": records the default microphone
// through the audio engine on line slot 3 (PCM 8000 Hz, 16 bit, mono, the format the line
// playback expects) and writes the prompt one timer tick after Stop.
class frmGreeting final : public QDialog
{
    Q_OBJECT
public:
    struct Services
    {
        AudioEngine &engine;
        LineTable &lines;
        MainTimers &timers;
        EventLoop &loop;
        MediaControl &media;
        UserPrompts &prompts;
        const Texts &texts;
        QString programFolder;
        ProgramCall soundRecorder; // empty program: none installed
        std::function<bool(const ProgramCall &)> launch;
    };
    static constexpr int kSlot = 3;

    frmGreeting(Services services, const QString &promptName, QWidget *parent = nullptr);
    ~frmGreeting() override;

    QString targetPath() const { return m_target; }
    bool isPlaying() const { return m_playing; }
    QPushButton *cmdRecord() const { return m_cmdRecord; }
    QPushButton *cmdStop() const { return m_cmdStop; }
    QPushButton *cmdPlay() const { return m_cmdPlay; }
    QPushButton *Command1() const { return m_command1; }
    QLabel *Label2() const { return m_label2; }
    Timer &Timer1() const { return *m_timer1; }
    // While recording: the time recorded ("0:07") and the loudness of the last quarter second.
    QLabel *lblElapsed() const { return m_lblElapsed; }
    QProgressBar *barLevel() const { return m_barLevel; }

    void cmdRecord_Click();
    void cmdStop_Click();
    void cmdPlay_Click();
    void Timer1_Timer();
    // The microphone capture runs as a recording on line slot 3.
    LineCall &recorderCall();
    void Command1_Click();

    // Closing the window (any way) while recording drops the recording.
    void done(int result) override;

private:
    Services m_s;
    QString m_target;
    bool m_playing = false;
    std::unique_ptr<Timer> m_timer1;
    QPushButton *m_cmdRecord;
    QPushButton *m_cmdStop;
    QPushButton *m_cmdPlay;
    QPushButton *m_command1;
    QLabel *m_label1;
    QLabel *m_label2;
    QLabel *m_label3;
    QLabel *m_lblElapsed;
    QProgressBar *m_barLevel;
    std::unique_ptr<Timer> m_meter; // follows the recording while it runs
    void showRecordingProgress();
};

// The media recorder for the touch-tone prompts "01.wav" to "04.wav": records at 11025 Hz,
// 16 bit, mono through the media control's recording alias and saves on Stop.
class frmGreeting1 final : public QDialog
{
    Q_OBJECT
public:
    struct Services
    {
        MediaControl &media;
        UserPrompts &prompts;
        const Texts &texts;
        QString programFolder;
    };

    frmGreeting1(Services services, const QString &promptName, QWidget *parent = nullptr);
    ~frmGreeting1() override;

    QString targetPath() const { return m_target; }
    bool isRecording() const { return m_recording; }
    QPushButton *cmdRecord() const { return m_cmdRecord; }
    QPushButton *cmdStop() const { return m_cmdStop; }
    QPushButton *cmdPlay() const { return m_cmdPlay; }

    void cmdRecord_Click();
    void cmdStop_Click();
    void cmdPlay_Click();

    // Closing the window (any way) while recording drops the recording.
    void done(int result) override;

private:
    void send(const QString &command);

    Services m_s;
    QString m_target;
    bool m_recording = false;
    QString m_reply; // the media control's last answer and code, kept as the recorder did
    int m_lastError = 0;
    QPushButton *m_cmdRecord;
    QPushButton *m_cmdStop;
    QPushButton *m_cmdPlay;
    QLabel *m_label1;
};

} // namespace telvox
