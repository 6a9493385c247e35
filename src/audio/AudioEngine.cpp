#include "audio/AudioEngine.h"

#include "audio/CodecConversion.h"
#include "audio/CodecConversionQueue.h"
#include "audio/RecordingKeeper.h"
#include "audio/WaveFile.h"
#include "core/AppPaths.h"
#include "core/EventLoop.h"
#include "core/MainTimers.h"
#include "core/PrivateFiles.h"
#include "core/Texts.h"
#include "platform/shell/UserPrompts.h"
#include "platform/telephony/TelephonyService.h"
#include "records/MessageLists.h"
#include "records/StatusLog.h"
#include "telephony/LineCall.h"
#include "telephony/LineTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <cerrno>
#include <cstring>

namespace telvox {

namespace {
const QString kGreetingCapture = QStringLiteral("Greeting.wav");
const QString kLegalCapture = QStringLiteral("legal.wav");

bool isPromptCapture(const QString &name) { return name == kGreetingCapture || name == kLegalCapture; }

QString folderText(const QString &folder) { return QDir::toNativeSeparators(QDir::cleanPath(folder)); }
} // namespace

AudioEngine::AudioEngine(Services services, Folders folders, OutputFormat format)
    : m_s(services)
    , m_folders(std::move(folders))
    , m_format(format)
    , m_queue(std::make_unique<ConversionQueue>(m_s.conversion, m_s.loop,
                                                [this](const ConvertedBuffer &b) { converted(b); }))
    , m_keeper(std::make_unique<RecordingKeeper>(
          RecordingKeeper::Services{m_s.loop, m_s.lines, m_s.lists, m_s.status, m_s.texts, m_s.prompts},
          m_folders.recording, m_folders.fallback))
{
    MainTimers &t = m_s.timers;
    t.timChangeBuffer.setHandler([this](int n) { timChangeBuffer_Timer(n); });
    t.timWriteFile.setHandler([this](int n) { timWriteFile_Timer(n); });
    LineTable &lines = m_s.lines;
    lines.setTimerHandler(CallTimer::timPlayGreetingExM, [this](int n) { timPlayGreetingExM_Timer(n); });
    lines.setTimerHandler(CallTimer::timPlayLegalO, [this](int n) { timPlayLegalO_Timer(n); });
    lines.setTimerHandler(CallTimer::timPlayGreetingExO, [this](int n) { timPlayGreetingExO_Timer(n); });
}

AudioEngine::~AudioEngine()
{
    // Devices go before the buffers they may still hold.
    for (Slot &s : m_slots) {
        if (s.waveIn)
            s.waveIn->reset();
        s.waveIn.reset();
        if (s.waveOut)
            s.waveOut->reset();
        s.waveOut.reset();
    }
}

void AudioEngine::setThreadedConversion(bool threaded) { m_queue->setThreaded(threaded); }

bool AudioEngine::isThreadedConversion() const { return m_queue->isThreaded(); }

void AudioEngine::setBufferAnalyser(std::function<void(int, std::span<const std::int16_t>)> analyse)
{
    m_analyse = std::move(analyse);
}

void AudioEngine::setCaptureStarted(std::function<void(int)> started) { m_captureStarted = std::move(started); }

void AudioEngine::setRequestTrace(std::function<void(const QString &)> trace) { m_requestTrace = std::move(trace); }

void AudioEngine::traceRequest(const QString &request) const
{
    if (m_requestTrace)
        m_requestTrace(request);
}

void AudioEngine::doEvents(int times)
{
    for (int i = 0; i < times; ++i)
        m_s.loop.doEvents();
}

QString AudioEngine::greetingCaptureName() { return kGreetingCapture; }

QString AudioEngine::workingFile(int slot) const { return m_folders.temp + QStringLiteral("tvxt") + QString::number(slot); }

QString AudioEngine::journalFile(int slot) const
{
    const Slot &s = m_slots.at(static_cast<std::size_t>(slot));
    return s.journal && s.journal->isOpen() ? s.journal->path() : QString();
}

void AudioEngine::alarm(const QString &text, bool box) { m_keeper->alarm(text, box); }

void AudioEngine::setAlarmHandler(std::function<void(const QString &)> handler)
{
    m_keeper->setAlarmHandler(std::move(handler));
}

void AudioEngine::setFolders(Folders folders)
{
    m_folders = std::move(folders);
    m_keeper->setFolders(m_folders.recording, m_folders.fallback);
}

bool AudioEngine::checkRecordingFolder() { return m_keeper->checkRecordingFolder(); }

int AudioEngine::recoverRecordings() { return m_keeper->recoverRecordings(); }

bool AudioEngine::openJournal(int slot, const QString &name)
{
    Slot &s = this->slot(slot);
    s.journal = std::make_unique<RecordingJournal>();
    s.buffersSinceCheck = 0;
    s.spaceWarned = false;
    s.writeStopped = false;
    if (m_keeper->openJournal(*s.journal, name, m_format)) {
        checkDuringCapture(slot);
        return true;
    }
    s.journal.reset();
    return false;
}

void AudioEngine::appendToJournal(int slot, const char *data, qint64 size)
{
    Slot &s = this->slot(slot);
    if (!s.journal || !s.journal->isOpen() || s.writeStopped || size <= 0)
        return;
    if (s.journal->append(data, size)) {
        s.journal->syncIfDue();
        return;
    }
    const int error = s.journal->error();
    const QString folder = s.journal->folder();
    const QString reason = s.journal->errorText();
    const bool noSpace = error == ENOSPC || error == EFBIG || error == EDQUOT;
    // A folder that went read-only or away: the call goes on in the fallback folder.
    if (!noSpace && m_keeper->moveToFallback(*s.journal, reason, 1804) && s.journal->append(data, size))
        return;
    // Out of space (or nowhere else to go): the capture ends here, cleanly. The journal holds
    // whole blocks only, so the recording made of it is correct.
    s.writeStopped = true;
    alarm(m_s.texts.LoadText(1806).arg(QString::number(slot), folderText(folder), reason));
    if (m_s.lines.call(slot).requestCaptureStop())
        waveInReset(slot);
}

void AudioEngine::converted(const ConvertedBuffer &buffer)
{
    // A capture that has ended took its last buffers before it ended; one abandoned dropped them.
    if (buffer.keep && buffer.capture == slot(buffer.slot).capture)
        appendToJournal(buffer.slot, reinterpret_cast<const char *>(buffer.output.data()),
                        static_cast<qint64>(buffer.output.size()));
}

void AudioEngine::checkDuringCapture(int slot)
{
    Slot &s = this->slot(slot);
    if (!s.journal || !s.journal->isOpen() || s.writeStopped)
        return;
    if (!s.journal->stillInPlace()) {
        const QString gone = s.journal->folder();
        if (!m_keeper->moveToFallback(*s.journal, systemReason(ENOENT), 1810))
            alarm(m_s.texts.LoadText(1803).arg(folderText(gone), systemReason(ENOENT)));
    }
    if (s.spaceWarned)
        return;
    const QStorageInfo storage(s.journal->folder());
    if (!storage.isValid() || !storage.isReady())
        return;
    const qint64 available = storage.bytesAvailable();
    if (available >= 0 && available < m_lowSpace) {
        s.spaceWarned = true;
        alarm(m_s.texts.LoadText(1805).arg(QString::number(available / (1024 * 1024)), folderText(s.journal->folder())),
              false);
    }
}

// --- Capture ------------------------------------------------------------------------------

void AudioEngine::GetWaveDeviceId(const QString &deviceClass, int slot)
{
    const LineSlot &line = m_s.lines[slot];
    std::uint32_t id = 0;
    const std::int32_t result = m_s.telephony.lineGetID(line.hLine, 0, line.hCall, kCallSelectCall, id, deviceClass);
    if (result != 0)
        return;
    m_s.lines.device(slot).waveDeviceId = id == 0xFFFFFFFFu ? -1 : static_cast<std::int32_t>(id);
}

void AudioEngine::StartCapture(int deviceId, const QString &name, int slot)
{
    Slot &s = this->slot(slot);
    // The slot's previous capture gets its last buffers before its stream is reopened.
    m_queue->drain(slot);
    ++s.capture;
    if (m_captureStarted)
        m_captureStarted(slot);
    // Only TrueSpeech recordings need a conversion stream; a prompt recording never does.
    if (m_format == OutputFormat::TrueSpeech && name != kGreetingCapture && name != kLegalCapture)
        m_s.conversion.OpenConversion(slot);
    s.nextBuffer = 0;
    if (s.waveIn) {
        // A capture of this slot that never closed: end it before the device is opened again.
        s.waveIn->reset();
        s.waveIn->close();
        s.waveIn.reset();
        s.deviceClosed = 0; // that close is not the end of the new capture
        s.bufferDone = 0;
    }
    if (s.journal) {
        // The previous call's recording, not yet finished, is finished now under its name.
        const QString previous = s.captureName;
        s.captureName = name;
        WriteRecording(previous, slot);
    }
    // The previous capture's close, if the write timer has not taken it yet, is not the end of
    // this one (it would finish the new recording a second or two after its start).
    s.deviceClosed = 0;
    s.captureName = name;
    PcmFormat format; // PCM, mono, 8000 Hz, 16 bit
    std::atomic<int> *done = &s.bufferDone;
    std::atomic<int> *closed = &s.deviceClosed;
    m_lastWaveResult = m_s.devices.waveInOpen(
        deviceId, format,
        [done, closed](WaveMessage m) {
            if (m == WaveMessage::Done)
                *done = 1;
            else if (m == WaveMessage::Close)
                *closed = 1;
        },
        s.waveIn);
    if (m_lastWaveResult != MMSYSERR_NOERROR) {
        s.waveIn.reset();
        return;
    }
    PrepareCaptureBuffers(slot);
    QueueCaptureBuffer(slot, s.nextBuffer);
    m_lastWaveResult = s.waveIn->start();
    if (m_lastWaveResult != MMSYSERR_NOERROR)
        return;
    if (isPromptCapture(name))
        QFile::remove(workingFile(slot));
    else
        openJournal(slot, name);
    if (name != kGreetingCapture)
        m_s.timers.timWriteFile[slot].setEnabled(true);
    m_s.timers.timChangeBuffer[slot].setEnabled(true);
}

void AudioEngine::PrepareCaptureBuffers(int slot)
{
    Slot &s = this->slot(slot);
    for (WaveBuffer &b : s.buffers) {
        b = WaveBuffer{};
        b.data.assign(kBufferBytes, 0);
        m_lastWaveResult = s.waveIn->prepareHeader(b);
        if (m_lastWaveResult != MMSYSERR_NOERROR)
            return;
    }
}

void AudioEngine::QueueCaptureBuffer(int slot, int &buffer)
{
    Slot &s = this->slot(slot);
    m_lastWaveResult = s.waveIn->addBuffer(s.buffers.at(static_cast<std::size_t>(buffer)));
    buffer = 1 - buffer;
}

void AudioEngine::timChangeBuffer_Timer(int slot)
{
    Slot &s = this->slot(slot);
    if (s.bufferDone != 1 || !s.waveIn)
        return;
    if (m_s.lines[slot].recState != RecState::Idle) {
        QueueCaptureBuffer(slot, s.nextBuffer);
        s.bufferDone = 0;
        doEvents();
        ProcessCaptureBuffer(slot, s.nextBuffer);
        doEvents();
    } else {
        s.bufferDone = 0;
        m_s.timers.timChangeBuffer[slot].setEnabled(false);
        ProcessCaptureBuffer(slot, 1 - s.nextBuffer);
        CloseCapture(slot);
    }
}

void AudioEngine::ProcessCaptureBuffer(int slot, int buffer)
{
    Slot &s = this->slot(slot);
    const WaveBuffer &b = s.buffers.at(static_cast<std::size_t>(buffer));
    const std::uint32_t recorded = std::min<std::uint32_t>(b.bytesRecorded, static_cast<std::uint32_t>(b.data.size()));
    if (recorded == 0)
        m_s.status.AddStatus(QStringLiteral("WaveInBuffer.Recorded=0"));
    const bool prompt = isPromptCapture(s.captureName);
    const bool convert = m_format == OutputFormat::TrueSpeech && !prompt;
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(b.data.data());
    // The converted buffer goes to the journal now (inline) or when the worker hands it back;
    // one that cannot be converted contributes nothing. A dialled call not yet answered is
    // converted all the same, so that the stream's state follows the line.
    if (convert && !m_queue->convert(slot, s.capture, m_s.lines[slot].recState != RecState::AwaitingAnswer,
                                     std::span<const std::uint8_t>(bytes, recorded)))
        return;
    if (prompt) {
        QFile file(workingFile(slot));
        if (file.open(QIODevice::WriteOnly | QIODevice::Append) && m_s.lines[slot].recState != RecState::AwaitingAnswer)
            file.write(b.data.data(), recorded);
        file.close();
    } else if (!convert && m_s.lines[slot].recState != RecState::AwaitingAnswer) {
        appendToJournal(slot, b.data.data(), recorded);
    }
    if (!prompt && ++s.buffersSinceCheck >= kCheckEveryBuffers) {
        s.buffersSinceCheck = 0;
        checkDuringCapture(slot);
    }
    if (s.captureName == kGreetingCapture)
        return;
    if (m_analyse && !m_finishing) {
        // Copied (the buffer holds bytes, not aligned samples) into the slot's own scratch,
        // so the analysis allocates nothing per buffer. An empty buffer is analysed too.
        s.samples.resize(recorded / 2);
        if (!s.samples.empty())
            std::memcpy(s.samples.data(), b.data.data(), s.samples.size() * 2);
        m_analyse(slot, s.samples);
    }
}

void AudioEngine::CloseCapture(int slot)
{
    Slot &s = this->slot(slot);
    if (!s.waveIn)
        return;
    for (WaveBuffer &b : s.buffers)
        m_lastWaveResult = s.waveIn->unprepareHeader(b);
    m_lastWaveResult = s.waveIn->close();
    s.waveIn.reset();
}

void AudioEngine::abandonCapture(int slot)
{
    traceRequest(QStringLiteral("abandonCapture %1").arg(slot));
    Slot &s = this->slot(slot);
    m_s.timers.timChangeBuffer[slot].setEnabled(false);
    m_s.timers.timWriteFile[slot].setEnabled(false);
    if (s.waveIn) {
        m_lastWaveResult = s.waveIn->reset();
        CloseCapture(slot);
    }
    s.bufferDone = 0;
    s.deviceClosed = 0;
    m_queue->drop(slot);
    if (m_format == OutputFormat::TrueSpeech)
        m_s.conversion.CloseConversion(slot);
    if (s.journal)
        s.journal->discard();
    s.journal.reset();
    releaseCaptureBuffers(slot);
}

void AudioEngine::waveInReset(int slot)
{
    traceRequest(QStringLiteral("waveInReset %1").arg(slot));
    Slot &s = this->slot(slot);
    if (s.waveIn)
        m_lastWaveResult = s.waveIn->reset();
}

void AudioEngine::finishRecordingsNow()
{
    m_finishing = true;
    for (int n = 0; n < static_cast<int>(m_slots.size()); ++n) {
        Slot &s = slot(n);
        // Only call captures arm the write timer; it stays on until their file is written.
        if (!m_s.timers.timWriteFile[n].isEnabled())
            continue;
        m_s.timers.timChangeBuffer[n].setEnabled(false);
        m_s.timers.timWriteFile[n].setEnabled(false);
        if (s.waveIn) {
            // The buffer at the device comes back with what it holds.
            m_lastWaveResult = s.waveIn->reset();
            if (s.bufferDone == 1) {
                s.bufferDone = 0;
                ProcessCaptureBuffer(n, 1 - s.nextBuffer);
            }
            CloseCapture(n);
        }
        s.deviceClosed = 0;
        finishCapture(n);
    }
    m_finishing = false;
}

// --- Recording files ----------------------------------------------------------------------

void AudioEngine::StartLineRecording(int slot)
{
    traceRequest(QStringLiteral("StartLineRecording %1 %2%3")
                     .arg(QString::number(slot), modeLetter(m_s.lines[slot].mode), m_s.lines[slot].callerId));
    GetWaveDeviceId(QStringLiteral("wave/in"), slot);
    const LineSlot &line = m_s.lines[slot];
    const QString name = recordingName(line.mode == CallKind::None ? QChar('M') : modeLetter(line.mode).at(0),
                                       m_s.loop.currentDateTime(), line.callerId);
    StartCapture(line.waveDeviceId, name, slot);
    m_s.lines.call(slot).captureStarted();
}

void AudioEngine::timWriteFile_Timer(int slot)
{
    Slot &s = this->slot(slot);
    if (s.deviceClosed == 1) {
        s.deviceClosed = 2;
        return;
    }
    if (s.deviceClosed != 2)
        return;
    s.deviceClosed = 0;
    m_s.timers.timWriteFile[slot].setEnabled(false);
    finishCapture(slot);
}

void AudioEngine::finishCapture(int slot)
{
    m_queue->drain(slot); // the buffers still being converted belong to this recording
    if (m_format == OutputFormat::TrueSpeech)
        m_s.conversion.CloseConversion(slot);
    // A dialled call that was never answered (recState 2) leaves no file.
    Slot &s = this->slot(slot);
    if (m_s.lines[slot].recState != RecState::AwaitingAnswer) {
        WriteRecording(s.captureName, slot);
        return;
    }
    if (s.journal)
        s.journal->discard();
    s.journal.reset();
    releaseCaptureBuffers(slot);
}

void AudioEngine::releaseCaptureBuffers(int slot)
{
    for (WaveBuffer &b : this->slot(slot).buffers)
        b = WaveBuffer{};
}

QString AudioEngine::WriteRecording(const QString &name, int slot)
{
    (void)name; // the journal knows its recording's name
    Slot &s = this->slot(slot);
    releaseCaptureBuffers(slot);
    return m_keeper->finish(std::move(s.journal), slot);
}

} // namespace telvox
