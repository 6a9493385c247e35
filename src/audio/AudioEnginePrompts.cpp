// The audio engine's prompts: greeting and legal-notice playback into a line, and the timers
// that start the recording after them. (The capture and recording files are in AudioEngine.cpp.)
#include "audio/AudioEngine.h"

#include "audio/WaveFile.h"
#include "core/AppPaths.h"
#include "core/EventLoop.h"
#include "core/Texts.h"
#include "platform/shell/UserPrompts.h"
#include "platform/telephony/TelephonyService.h"
#include "records/CallBlockList.h"
#include "records/StatusLog.h"
#include "telephony/LineCall.h"
#include "telephony/LineTable.h"

#include <QFile>
#include <QFileInfo>

namespace telvox {

bool AudioEngine::ReadWaveFile(const QString &path, int slot)
{
    Slot &s = this->slot(slot);
    s.prompt = WaveBuffer{};
    s.hasPrompt = false;
    // Every prompt is played in the line's format; other PCM formats are converted on the way.
    // A file that is there but cannot be played is reported, and the built-in prompt of that
    // name plays instead: the caller still hears a greeting.
    LinePrompt prompt = readLinePrompt(path);
    if (prompt.problem != PromptProblem::None) {
        const QString builtIn = builtInPromptFor(path);
        m_s.status.AddStatus(promptRefusedText(m_s.texts, QFileInfo(path).fileName(), prompt.problem,
                                               prompt.claimedRate, !builtIn.isEmpty()));
        prompt = readLinePrompt(builtIn);
    }
    if (!prompt.audio)
        return false;
    const QByteArray &line = *prompt.audio;
    s.prompt.data.assign(line.begin(), line.end());
    s.hasPrompt = !s.prompt.data.empty();
    return s.hasPrompt;
}

void AudioEngine::PlayWave(int deviceId, int slot)
{
    Slot &s = this->slot(slot);
    if (s.waveOut) {
        s.waveOut->reset();
        s.waveOut->close();
        s.waveOut.reset();
    }
    if (!s.hasPrompt)
        return;
    LineDevice *line = &m_s.lines.device(slot);
    m_lastWaveResult = m_s.devices.waveOutOpen(
        deviceId, PcmFormat{},
        [line](WaveMessage m) {
            if (m == WaveMessage::Done)
                line->playing = false;
        },
        s.waveOut);
    if (m_lastWaveResult != MMSYSERR_NOERROR) {
        s.waveOut.reset();
        s.prompt = WaveBuffer{};
        s.hasPrompt = false;
        return;
    }
    if (s.waveOut->prepareHeader(s.prompt) != MMSYSERR_NOERROR)
        return;
    line->playing = true;
    m_lastWaveResult = s.waveOut->write(s.prompt);
    if (m_lastWaveResult != MMSYSERR_NOERROR) {
        line->playing = false;
        s.prompt = WaveBuffer{};
        s.hasPrompt = false;
    }
}

void AudioEngine::ClosePromptOutput(int slot)
{
    traceRequest(QStringLiteral("ClosePromptOutput %1").arg(slot));
    Slot &s = this->slot(slot);
    if (!s.waveOut)
        return;
    m_lastWaveResult = s.waveOut->reset();
    m_lastWaveResult = s.waveOut->unprepareHeader(s.prompt);
    m_lastWaveResult = s.waveOut->close();
    s.waveOut.reset();
}

bool AudioEngine::playToLine(int slot, const QByteArray &pcm)
{
    Slot &s = this->slot(slot);
    GetWaveDeviceId(QStringLiteral("wave/out"), slot);
    s.prompt = WaveBuffer{};
    s.prompt.data.assign(pcm.begin(), pcm.end());
    s.hasPrompt = !s.prompt.data.empty();
    PlayWave(m_s.lines[slot].waveDeviceId, slot);
    return m_s.lines[slot].playing;
}

void AudioEngine::stopLineOutput(int slot)
{
    ClosePromptOutput(slot);
    m_s.lines.device(slot).playing = false;
}

void AudioEngine::PlayGreeting(int slot)
{
    traceRequest(QStringLiteral("PlayGreeting %1").arg(slot));
    playThenTimer3(slot, QStringLiteral("Greeting.wav"));
}

void AudioEngine::PlayBlockedNotice(int slot)
{
    traceRequest(QStringLiteral("PlayBlockedNotice %1").arg(slot));
    playThenTimer3(slot, blockedPromptName());
}

void AudioEngine::playThenTimer3(int slot, const QString &prompt)
{
    GetWaveDeviceId(QStringLiteral("wave/out"), slot);
    if (m_s.lines[slot].playing)
        return;
    ReadWaveFile(findFileIgnoringCase(m_folders.program, prompt), slot);
    PlayWave(m_s.lines[slot].waveDeviceId, slot);
    m_s.lines.call(slot).watchGreeting();
}

bool AudioEngine::legalNoticeSteps(int slot)
{
    const QString legal = findFileIgnoringCase(m_folders.program, QStringLiteral("legal.wav"));
    if (!QFile::exists(legal))
        m_s.prompts.messageBox(QStringLiteral("File Not Found: 'LEGAL.WAV'"), MessageIcon::Information,
                               QStringLiteral("Telvox"));
    GetWaveDeviceId(QStringLiteral("wave/out"), slot);
    if (m_s.lines[slot].playing)
        return false;
    ReadWaveFile(legal, slot);
    PlayWave(m_s.lines[slot].waveDeviceId, slot);
    return true;
}

void AudioEngine::PlayLegalNotice(int slot)
{
    traceRequest(QStringLiteral("PlayLegalNotice %1").arg(slot));
    if (legalNoticeSteps(slot))
        m_s.lines.call(slot).watchNotice(CallKind::Handset);
}

void AudioEngine::timPlayGreetingExM_Timer(int slot)
{
    if (m_s.lines[slot].playing)
        return;
    LineCall &call = m_s.lines.call(slot);
    call.endNoticeWatch(CallKind::Handset);
    ClosePromptOutput(slot);
    doEvents(4);
    call.prepareRecording(CallKind::Handset);
    StartLineRecording(slot);
    m_s.status.AddStatus(QStringLiteral("Line") + QString::number(slot) + m_s.texts.LoadText(1060));
}

void AudioEngine::timPlayLegalO_Timer(int slot)
{
    LineCall &call = m_s.lines.call(slot);
    call.noticeDue();
    if (legalNoticeSteps(slot))
        call.watchNotice(CallKind::Dialled);
}

void AudioEngine::timPlayGreetingExO_Timer(int slot)
{
    if (m_s.lines[slot].playing)
        return;
    LineCall &call = m_s.lines.call(slot);
    call.endNoticeWatch(CallKind::Dialled);
    ClosePromptOutput(slot);
    doEvents(4);
    call.prepareRecording(CallKind::Dialled, RecState::Recording);
    StartLineRecording(slot);
    m_s.status.AddStatus(QStringLiteral("Line  ") + QString::number(slot) + m_s.texts.LoadText(1060));
}

} // namespace telvox
