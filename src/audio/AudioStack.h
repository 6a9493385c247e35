#pragma once

#include "audio/RecordingFile.h"
#include "core/LoadSequence.h"
#include "platform/codec/AudioCompressionManager.h"
#include "platform/wave/WaveDevice.h"
#include "telephony/AudioActions.h"

#include <functional>
#include <memory>

namespace telvox {

class AudioEngine;
class CodecConversion;
class EventLoop;
class LineTable;
class MediaDevice;
class MessageLists;
class StatusLog;
class StopTriggers;
class TelephonyService;
class Texts;
class ToneMenu;
class UserPrompts;
struct MainTimers;

// Where calls are recorded when the recordings folder cannot be written: a folder inside the
// program folder, ending with a separator.
QString fallbackRecordingFolder(const QString &programFolder);

// Forwards the call flow's audio requests to the audio engine, which can only be built once
// the call flow (and its line table) exists.
class AudioActionsRelay final : public AudioActions
{
public:
    void setTarget(AudioActions *target) { m_target = target; }
    void PlayGreeting(int line) override { if (m_target) m_target->PlayGreeting(line); }
    void PlayLegalNotice(int line) override { if (m_target) m_target->PlayLegalNotice(line); }
    void PlayBlockedNotice(int line) override { if (m_target) m_target->PlayBlockedNotice(line); }
    void StartLineRecording(int line) override { if (m_target) m_target->StartLineRecording(line); }
    void waveInReset(int line) override { if (m_target) m_target->waveInReset(line); }
    void abandonCapture(int line) override { if (m_target) m_target->abandonCapture(line); }
    void ClosePromptOutput(int line) override { if (m_target) m_target->ClosePromptOutput(line); }

private:
    AudioActions *m_target = nullptr;
};

// The audio side of the system, built in one place for the program and the scenario runner:
// the wave devices (the line service adds its lines' audio), the compression manager with the
// TrueSpeech driver, the audio engine, the stop-recording triggers and the touch-tone menu.
class AudioStack
{
public:
    struct Services
    {
        EventLoop &loop;
        LineTable &lines;
        TelephonyService &telephony;
        MessageLists &lists;
        StatusLog &status;
        const Texts &texts;
        UserPrompts &prompts;
        MainTimers &timers;
        MediaDevice &announcements;     // the computer's loudspeakers
        std::function<bool()> legalNotice; // chkLegal
        QString programFolder;
    };

    explicit AudioStack(Services services);
    ~AudioStack();

    WaveDevices &devices() { return m_devices; }
    AudioEngine &engine() { return *m_engine; }
    CodecConversion &conversion() { return *m_conversion; }
    ToneMenu &toneMenu() { return *m_toneMenu; }
    StopTriggers *triggers() { return m_triggers.get(); }

    // Loading: the folders and the output format are known once the setup has loaded.
    void setFolders(const QString &tempFolder, const QString &recordingFolder);
    void setOutputFormat(OutputFormat format);
    // The stop-recording options are read at the end of loading.
    void startTriggers(const StopTriggerOptions &options);

private:
    Services m_s;
    WaveDevices m_devices;
    codec::AudioCompressionManager m_manager;
    std::unique_ptr<CodecConversion> m_conversion;
    std::unique_ptr<AudioEngine> m_engine;
    std::unique_ptr<StopTriggers> m_triggers;
    std::unique_ptr<ToneMenu> m_toneMenu;
};

} // namespace telvox
