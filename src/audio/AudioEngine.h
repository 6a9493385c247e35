#pragma once

#include "audio/RecordingFile.h"
#include "audio/RecordingJournal.h"
#include "platform/wave/WaveDevice.h"
#include "telephony/AudioActions.h"

#include <QString>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace telvox {

class CodecConversion;
class ConversionQueue;
struct ConvertedBuffer;
class EventLoop;
class LineTable;
class MessageLists;
class RecordingKeeper;
class StatusLog;
class TelephonyService;
class Texts;
class UserPrompts;
struct MainTimers;

// The audio of the lines: capture of a call with two one-second buffers, conversion to
// TrueSpeech, the recording file finished once the capture has closed, and the prompts played
// to the line. A call's audio goes, second by second, into a journal in the recordings folder
// (RecordingJournal) that becomes the recording at the end of the call, or at the next start
// after a crash; a prompt recording goes into the slot's working file ("tvxt" + slot in this
// run's private working folder). Slot n is line n; slot 3 also serves the greeting recorder's
// microphone. Device callbacks only set flags; the main window's timers poll them and do the
// work.
//
// Nothing is lost without a word: a recordings folder that cannot be written, that goes away
// or fills up during a call is reported in the status list, by a message box and through the
// alarm handler (the tray), and the call is recorded into the fallback folder instead.
class AudioEngine final : public AudioActions
{
public:
    struct Services
    {
        EventLoop &loop;
        LineTable &lines;
        TelephonyService &telephony;
        WaveDevices &devices;
        CodecConversion &conversion;
        MessageLists &lists;
        StatusLog &status;
        const Texts &texts;
        UserPrompts &prompts;
        MainTimers &timers;
    };
    struct Folders
    {
        QString program;   // prompts
        QString temp;      // working files, ends with a separator
        QString recording; // recordings, ends with a separator
        QString fallback;  // recordings when `recording` cannot be written ("" for none)
    };

    static constexpr std::uint32_t kBufferBytes = 16000; // one second
    // Below this much free space in the recordings folder the status list says so.
    static constexpr qint64 kLowSpaceBytes = 50LL * 1024 * 1024;
    // During a capture the folder and its free space are looked at every this many buffers.
    static constexpr int kCheckEveryBuffers = 5;

    AudioEngine(Services services, Folders folders, OutputFormat format);
    // The capture name that records a greeting into the slot's working file (no recording,
    // no detectors).
    static QString greetingCaptureName();
    ~AudioEngine() override;

    // The stop-recording detectors run on every captured buffer of a call (not of a greeting
    // recording); `captureStarted` resets their per-slot state.
    void setBufferAnalyser(std::function<void(int slot, std::span<const std::int16_t>)> analyse);
    void setCaptureStarted(std::function<void(int slot)> started);
    // Told of every request of the call flow's kind (PlayGreeting, PlayLegalNotice,
    // StartLineRecording, waveInReset, ClosePromptOutput), whoever makes it: the call flow or
    // the engine itself (the recording that follows the legal notice). For traces.
    void setRequestTrace(std::function<void(const QString &request)> trace);

    // TrueSpeech conversion on a worker thread (the running program, on the Qt event loop) or
    // inline on the caller's thread (the default; virtual time stays deterministic). The
    // threaded results reach the journal in order through the event loop, and every end of a
    // capture waits for its last buffers first.
    void setThreadedConversion(bool threaded);
    bool isThreadedConversion() const;

    // --- Capture ---------------------------------------------------------------------------
    void GetWaveDeviceId(const QString &deviceClass, int slot);
    void StartCapture(int deviceId, const QString &name, int slot);
    void timChangeBuffer_Timer(int slot);
    void ProcessCaptureBuffer(int slot, int buffer);
    void CloseCapture(int slot);
    // Ends the slot's capture at once without writing anything: the device is reset and
    // closed, the poll and the write timer stop, the conversion closes.
    void abandonCapture(int slot) override;
    QString workingFile(int slot) const;
    // The journal of the slot's call capture ("" when none is open).
    QString journalFile(int slot) const;

    // --- Recording files -------------------------------------------------------------------
    void StartLineRecording(int slot) override;
    void timWriteFile_Timer(int slot);
    // Writes the slot's finished capture as `name`; returns the name listed ("" when none).
    QString WriteRecording(const QString &name, int slot);
    void waveInReset(int slot) override;
    // When the program ends: every call capture still running, or closed but not yet written,
    // becomes its recording file now with what was captured, so that quitting in the middle
    // of a call (or just after one) loses nothing. The detectors see none of these last
    // buffers: the call is ending anyway.
    void finishRecordingsNow();
    // At start: every journal left by a crash in the recordings folder or the fallback folder
    // becomes its recording, listed as unread, with a status line for each. Returns how many.
    int recoverRecordings();
    // Whether recordings can be written into the recordings folder (made when missing); when
    // not, says so loudly and where calls will be recorded instead.
    bool checkRecordingFolder();
    // Hears every failure that the user must know about (the tray shows it).
    void setAlarmHandler(std::function<void(const QString &)> handler);
    void setLowSpaceThreshold(qint64 bytes) { m_lowSpace = bytes; }

    // --- Prompts ---------------------------------------------------------------------------
    bool ReadWaveFile(const QString &path, int slot);
    void PlayWave(int deviceId, int slot);
    void ClosePromptOutput(int slot) override;
    void PlayGreeting(int slot) override;
    void PlayLegalNotice(int slot) override;
    void PlayBlockedNotice(int slot) override;
    // Plays line audio (8000 Hz, 16-bit mono) to the line at once, cutting off whatever
    // played; `lines[slot].playing` is true until it has been heard. False when the line's
    // output cannot be opened.
    bool playToLine(int slot, const QByteArray &pcm);
    // Stops and closes the line's output; nothing is playing afterwards.
    void stopLineOutput(int slot);
    void timPlayGreetingExM_Timer(int slot);
    void timPlayLegalO_Timer(int slot);
    void timPlayGreetingExO_Timer(int slot);

    // --- State for the greeting recorder, the triggers and tests ---------------------------
    std::uint32_t lastWaveResult() const { return m_lastWaveResult; }
    int deviceClosed(int slot) const { return m_slots.at(std::size_t(slot)).deviceClosed.load(); }
    void setDeviceClosed(int slot, int value) { m_slots.at(std::size_t(slot)).deviceClosed = value; }
    QString captureName(int slot) const { return m_slots.at(std::size_t(slot)).captureName; }
    bool isCapturing(int slot) const { return bool(m_slots.at(std::size_t(slot)).waveIn); }
    OutputFormat outputFormat() const { return m_format; }
    void setOutputFormat(OutputFormat format) { m_format = format; }
    void setFolders(Folders folders);
    // The owner of finished recordings: folders, fallback, listing, reconciliation.
    RecordingKeeper &keeper() { return *m_keeper; }
    const Folders &folders() const { return m_folders; }
    // Frees the slot's two capture buffers (the greeting recorder, once it wrote its file).
    void releaseCaptureBuffers(int slot);

private:
    struct Slot
    {
        std::unique_ptr<WaveIn> waveIn;
        std::array<WaveBuffer, 2> buffers;
        int nextBuffer = 0;
        std::atomic<int> bufferDone{0};
        std::atomic<int> deviceClosed{0};
        QString captureName;
        std::vector<std::int16_t> samples; // the last buffer, for the analyser
        std::unique_ptr<RecordingJournal> journal; // a call capture's audio so far
        std::uint64_t capture = 0; // numbers the slot's captures: late conversions are told apart
        int buffersSinceCheck = 0;
        bool spaceWarned = false; // low space was reported for this capture
        bool writeStopped = false; // a write failed for good: the capture keeps nothing more

        std::unique_ptr<WaveOut> waveOut;
        WaveBuffer prompt;
        bool hasPrompt = false;
    };
    Slot &slot(int index) { return m_slots.at(static_cast<std::size_t>(index)); }
    void PrepareCaptureBuffers(int slot);
    void QueueCaptureBuffer(int slot, int &buffer);
    void doEvents(int times = 1);
    bool legalNoticeSteps(int slot);
    // Plays the prompt file of the program folder to the line; Timer3 waits for its end.
    void playThenTimer3(int slot, const QString &prompt);
    // The capture has closed: end the conversion and write the file (or drop it).
    void finishCapture(int slot);
    bool openJournal(int slot, const QString &name);
    void appendToJournal(int slot, const char *data, qint64 size);
    void converted(const ConvertedBuffer &buffer);
    void checkDuringCapture(int slot);
    // The status line, the alarm handler and (with `box`) a message box shown from the
    // event loop, never from inside the capture's processing.
    void alarm(const QString &text, bool box = true);

    Services m_s;
    Folders m_folders;
    OutputFormat m_format;
    std::array<Slot, 4> m_slots;
    std::unique_ptr<ConversionQueue> m_queue;
    std::uint32_t m_lastWaveResult = 0;
    std::function<void(int, std::span<const std::int16_t>)> m_analyse;
    std::function<void(int)> m_captureStarted;
    std::function<void(const QString &)> m_requestTrace;
    void traceRequest(const QString &request) const;
    bool m_finishing = false;
    qint64 m_lowSpace = kLowSpaceBytes;
    std::unique_ptr<RecordingKeeper> m_keeper;
};

} // namespace telvox
