#include "ui/frmGreeting.h"
#include "ui/ScreenFit.h"

#include "audio/AudioEngine.h"
#include "audio/PromptRecording.h"
#include "audio/WaveFile.h"
#include "core/AppPaths.h"
#include "core/EventLoop.h"
#include "core/MainTimers.h"
#include "core/Texts.h"
#include "platform/media/MediaControl.h"
#include "platform/shell/UserPrompts.h"
#include "telephony/LineCall.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>
#include <cstdint>

namespace telvox {

namespace {

// A path as the media control reads it: in double quotes when it contains blanks.
QString mediaPath(const QString &path)
{
    return path.contains(QLatin1Char(' ')) ? QLatin1Char('"') + path + QLatin1Char('"') : path;
}

QPushButton *button(const QString &name, const QString &text, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

// The Record / Stop / Play row both prompt recorders show.
QHBoxLayout *transportRow(const Texts &texts, QWidget *parent, QPushButton *&record, QPushButton *&stop,
                          QPushButton *&play)
{
    auto *row = new QHBoxLayout;
    record = button(QStringLiteral("cmdRecord"), texts.LoadText(1039), parent);
    stop = button(QStringLiteral("cmdStop"), texts.LoadText(1016), parent);
    play = button(QStringLiteral("cmdPlay"), texts.LoadText(1015), parent);
    row->addWidget(record);
    row->addWidget(stop);
    row->addWidget(play);
    return row;
}

// Plays `target` on the sound card under its own name; false when the file is missing (after
// the message).
bool playPrompt(MediaControl &media, UserPrompts &prompts, const Texts &texts, const QString &target)
{
    if (!QFile::exists(target)) {
        prompts.messageBox(texts.LoadText(1002), MessageIcon::Critical, texts.LoadText(1003));
        return false;
    }
    media.sendString(QStringLiteral("Close ") + mediaPath(target));
    media.sendString(QStringLiteral("Open ") + mediaPath(target));
    media.sendString(QStringLiteral("Play ") + mediaPath(target));
    return true;
}

constexpr int kBytesPerSecond = 16000; // 8000 samples of 16 bits
constexpr int kLevelFloorDb = 60;
constexpr int kLevelTip = 1898;
constexpr int kGreetingTitle = 1899;
constexpr int kLegalTitle = 1915;
constexpr int kMenuPromptTitle = 1916;

// What the prompt is, for the recorder's title: the greeting, the legal notice or a touch-tone
// menu prompt ("01.wav" to "04.wav").
QString promptTitle(const Texts &texts, const QString &promptName)
{
    const QString name = promptName.toLower();
    if (name == QLatin1String("greeting.wav"))
        return texts.LoadText(kGreetingTitle);
    if (name == QLatin1String("legal.wav"))
        return texts.LoadText(kLegalTitle);
    return texts.LoadText(kMenuPromptTitle).arg(promptName);
}

} // namespace

ProgramCall soundRecorderCommand(const std::function<QString(const QString &)> &find)
{
    static const char *const recorders[] = {"gnome-sound-recorder", "krecorder", "audio-recorder", "audacity"};
    for (const char *name : recorders) {
        const QString program = find(QString::fromLatin1(name));
        if (!program.isEmpty())
            return {program, {}};
    }
    return {};
}

// --- frmGreeting ------------------------------------------------------------------------------

frmGreeting::frmGreeting(Services services, const QString &promptName, QWidget *parent)
    : QDialog(parent)
    , m_s(std::move(services))
    , m_target(findFileIgnoringCase(m_s.programFolder, promptName))
{
    setObjectName(QStringLiteral("frmGreeting"));
    // The title says which prompt is recorded.
    setWindowTitle(m_s.texts.LoadText(1723) + QStringLiteral(" - ") + promptTitle(m_s.texts, promptName));
    m_timer1 = m_s.loop.createTimer(1000, [this] { Timer1_Timer(); });
    m_meter = m_s.loop.createTimer(250, [this] { showRecordingProgress(); });

    auto *root = new QVBoxLayout(this);
    m_label1 = new QLabel(m_s.texts.LoadText(1058), this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setWordWrap(true);
    m_label2 = new QLabel(QStringLiteral("Sound File:  ") + m_target, this);
    m_label2->setObjectName(QStringLiteral("Label2"));
    m_label3 = new QLabel(QStringLiteral("Sound Format: PCM 8K,16Bit,Mono"), this);
    m_label3->setObjectName(QStringLiteral("Label3"));
    root->addWidget(m_label1);
    root->addWidget(m_label2);
    root->addWidget(m_label3);
    auto *progress = new QHBoxLayout;
    m_lblElapsed = new QLabel(QStringLiteral("0:00"), this);
    m_lblElapsed->setObjectName(QStringLiteral("lblElapsed"));
    m_barLevel = new QProgressBar(this);
    m_barLevel->setObjectName(QStringLiteral("barLevel"));
    m_barLevel->setRange(0, kLevelFloorDb);
    m_barLevel->setValue(0);
    m_barLevel->setTextVisible(false);
    m_barLevel->setToolTip(m_s.texts.LoadText(kLevelTip));
    m_barLevel->setAccessibleName(m_s.texts.LoadText(kLevelTip));
    progress->addWidget(m_lblElapsed);
    progress->addWidget(m_barLevel, 1);
    root->addLayout(progress);
    root->addLayout(transportRow(m_s.texts, this, m_cmdRecord, m_cmdStop, m_cmdPlay));
    m_command1 = button(QStringLiteral("Command1"), m_s.texts.LoadText(1113), this);
    root->addWidget(m_command1);
    if (m_s.soundRecorder.program.isEmpty()) {
        m_command1->setEnabled(false);
        m_command1->setToolTip(m_s.texts.LoadText(1502));
    } else {
        m_command1->setToolTip(m_s.soundRecorder.program);
    }

    connect(m_cmdRecord, &QPushButton::clicked, this, &frmGreeting::cmdRecord_Click);
    connect(m_cmdStop, &QPushButton::clicked, this, &frmGreeting::cmdStop_Click);
    connect(m_cmdPlay, &QPushButton::clicked, this, &frmGreeting::cmdPlay_Click);
    connect(m_command1, &QPushButton::clicked, this, &frmGreeting::Command1_Click);
    fitOnScreen(*this);
}

frmGreeting::~frmGreeting() = default;

void frmGreeting::cmdRecord_Click()
{
    if (m_s.engine.isCapturing(kSlot)) {
        // Slot 3 is line 3's: a call is being recorded there right now.
        m_s.prompts.messageBox(m_s.texts.LoadText(1503), MessageIcon::Exclamation, windowTitle());
        return;
    }
    m_cmdRecord->setEnabled(false);
    m_cmdPlay->setEnabled(false);
    m_s.engine.setDeviceClosed(kSlot, 0);
    m_s.engine.StartCapture(-1, QStringLiteral("Greeting.wav"), kSlot);
    if (!m_s.engine.isCapturing(kSlot)) {
        // No microphone (or it refused the format): nothing to wait for.
        m_s.engine.releaseCaptureBuffers(kSlot);
        m_s.prompts.messageBox(m_s.texts.LoadText(1504), MessageIcon::Exclamation, windowTitle());
        m_cmdRecord->setEnabled(true);
        m_cmdPlay->setEnabled(true);
        return;
    }
    recorderCall().captureStarted();
    m_lblElapsed->setText(QStringLiteral("0:00"));
    m_meter->setEnabled(true);
}

void frmGreeting::showRecordingProgress()
{
    if (m_s.lines[kSlot].recState != RecState::Recording) {
        m_meter->setEnabled(false);
        m_barLevel->setValue(0);
        return;
    }
    // The working file holds the capture as 8 kHz 16-bit samples, one second after another.
    QFile working(m_s.engine.workingFile(kSlot));
    if (!working.open(QIODevice::ReadOnly))
        return;
    const qint64 size = working.size();
    const qint64 seconds = size / kBytesPerSecond;
    m_lblElapsed->setText(QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0')));
    const qint64 tail = qMin<qint64>(size, kBytesPerSecond / 4) & ~qint64(1);
    working.seek(size - tail);
    const QByteArray bytes = working.read(tail);
    double sum = 0;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        const auto sample = std::int16_t(quint16(quint8(bytes[i])) | quint16(quint8(bytes[i + 1])) << 8);
        sum += double(sample) * double(sample);
    }
    const qsizetype count = bytes.size() / 2;
    const double rms = count > 0 ? std::sqrt(sum / double(count)) : 0.0;
    // Shown in decibels below full scale: the bar is empty at -60 dBFS and full at 0.
    const double dbfs = rms > 0 ? 20.0 * std::log10(rms / 32767.0) : -double(kLevelFloorDb);
    m_barLevel->setValue(qBound(0, int(std::lround(dbfs + kLevelFloorDb)), kLevelFloorDb));
}

void frmGreeting::cmdStop_Click()
{
    if (!m_playing) {
        m_s.timers.timWriteFile[kSlot].setEnabled(false);
        if (m_s.lines[kSlot].recState == RecState::Recording && recorderCall().requestCaptureStop())
            m_s.engine.waveInReset(kSlot); // the capture finishes the working file
        m_timer1->setEnabled(true);
    } else {
        m_s.media.sendString(QStringLiteral("close ") + mediaPath(m_target));
        m_playing = false;
    }
    m_cmdRecord->setEnabled(true);
    m_cmdPlay->setEnabled(true);
}

LineCall &frmGreeting::recorderCall() { return m_s.lines.call(kSlot); }

void frmGreeting::Timer1_Timer()
{
    m_s.engine.setDeviceClosed(kSlot, 0);
    m_timer1->setEnabled(false);
    writePromptRecording(m_s.engine.workingFile(kSlot), m_target);
    m_s.engine.releaseCaptureBuffers(kSlot);
}

void frmGreeting::cmdPlay_Click()
{
    if (!playPrompt(m_s.media, m_s.prompts, m_s.texts, m_target))
        return;
    m_cmdRecord->setEnabled(false);
    m_playing = true;
}

void frmGreeting::Command1_Click()
{
    if (!m_s.soundRecorder.program.isEmpty() && m_s.launch)
        m_s.launch(m_s.soundRecorder);
}

void frmGreeting::done(int result)
{
    // Closed while recording: the capture ends without writing anything.
    if (m_s.lines[kSlot].recState == RecState::Recording
        && m_s.engine.captureName(kSlot) == QLatin1String("Greeting.wav") && recorderCall().requestCaptureStop())
        m_s.engine.abandonCapture(kSlot);
    if (m_timer1->isEnabled())
        Timer1_Timer(); // stopped just before closing: the prompt is still written
    if (m_playing)
        cmdStop_Click();
    QDialog::done(result);
}

// --- frmGreeting1 -----------------------------------------------------------------------------

frmGreeting1::frmGreeting1(Services services, const QString &promptName, QWidget *parent)
    : QDialog(parent)
    , m_s(std::move(services))
    , m_target(findFileIgnoringCase(m_s.programFolder, promptName))
{
    setObjectName(QStringLiteral("frmGreeting1"));
    setWindowTitle(m_s.texts.LoadText(1039) + QStringLiteral(" - ") + promptTitle(m_s.texts, promptName));
    auto *root = new QVBoxLayout(this);
    m_label1 = new QLabel(m_s.texts.LoadText(1058), this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setWordWrap(true);
    root->addWidget(m_label1);
    root->addLayout(transportRow(m_s.texts, this, m_cmdRecord, m_cmdStop, m_cmdPlay));
    connect(m_cmdRecord, &QPushButton::clicked, this, &frmGreeting1::cmdRecord_Click);
    connect(m_cmdStop, &QPushButton::clicked, this, &frmGreeting1::cmdStop_Click);
    connect(m_cmdPlay, &QPushButton::clicked, this, &frmGreeting1::cmdPlay_Click);
    fitOnScreen(*this);
}

frmGreeting1::~frmGreeting1() = default;

void frmGreeting1::send(const QString &command)
{
    const MediaReply reply = m_s.media.sendString(command);
    m_reply = reply.text;
    m_lastError = static_cast<int>(reply.error);
}

void frmGreeting1::cmdRecord_Click()
{
    m_cmdRecord->setEnabled(false);
    m_cmdPlay->setEnabled(false);
    send(QStringLiteral("Open New type WaveAudio alias wave"));
    send(QStringLiteral("set wave samplespersec 11025"));
    send(QStringLiteral("set wave channels 1"));
    send(QStringLiteral("set wave bitspersample 16"));
    send(QStringLiteral("record wave"));
    if (m_lastError == static_cast<int>(MediaError::NoInputDevice)) {
        // Without a microphone nothing would ever be recorded: say so and stay idle.
        send(QStringLiteral("close wave"));
        m_s.prompts.messageBox(m_s.texts.LoadText(1504), MessageIcon::Exclamation, windowTitle());
        m_cmdRecord->setEnabled(true);
        m_cmdPlay->setEnabled(true);
        return;
    }
    m_recording = true;
}

void frmGreeting1::cmdStop_Click()
{
    if (m_recording) {
        send(QStringLiteral("stop wave"));
        send(QStringLiteral("save wave ") + mediaPath(m_target));
        send(QStringLiteral("close wave"));
    } else {
        send(QStringLiteral("close ") + mediaPath(m_target));
    }
    m_cmdRecord->setEnabled(true);
    m_cmdPlay->setEnabled(true);
    m_recording = false;
}

void frmGreeting1::cmdPlay_Click()
{
    if (playPrompt(m_s.media, m_s.prompts, m_s.texts, m_target))
        m_cmdRecord->setEnabled(false);
}

void frmGreeting1::done(int result)
{
    if (m_recording) {
        // Closed while recording: what was recorded is dropped, the old prompt stays.
        send(QStringLiteral("close wave"));
        m_recording = false;
    }
    QDialog::done(result);
}

} // namespace telvox
