#include "audio/StopTriggers.h"

#include "audio/AudioEngine.h"
#include "platform/tonsig/Fbs.h"
#include "records/StatusLog.h"
#include "telephony/LineCall.h"
#include "telephony/LineTable.h"

namespace telvox {

StopTriggers::StopTriggers(Services services, StopTriggerOptions options)
    : m_s(std::move(services))
    , m_options(options)
{
}

void StopTriggers::attach()
{
    m_s.audio.setBufferAnalyser([this](int slot, std::span<const std::int16_t> s) { analyse(slot, s); });
    m_s.audio.setCaptureStarted([this](int slot) { captureStarted(slot); });
}

void StopTriggers::stop(int slot, const QString &message)
{
    if (m_s.lines[slot].recState == RecState::Recording)
        m_s.status.AddStatus(message);
    // A dialled call that ends unanswered (busy tone, silence) leaves no file.
    LineCall &call = m_s.lines.call(slot);
    call.stopRecording(StopReason::Detector);
    call.drop();
}

void StopTriggers::analyse(int slot, std::span<const std::int16_t> samples)
{
    const auto n = static_cast<std::size_t>(slot);
    // With silence and busy detection off, only an unanswered dialled call reads the analysis:
    // the other buffers are not analysed at all (the counts of a switched-off busy detector
    // are never read).
    if (!m_options.silence && !m_options.fastBusy && m_s.lines[slot].recState != RecState::AwaitingAnswer)
        return;
    std::int32_t countA = 0;
    std::int32_t countB = 0;
    tonsig::LevelProfile profile{};
    const std::int32_t silent
        = tonsig::Fbs(samples, countA, countB, m_options.silenceLevel, tonsig::kFbsDefault, profile);

    // Busy ratio over this buffer and the previous one of the slot.
    if (m_prevCountB[n] + countB == 0)
        countB = 1;
    const double ratio = double(m_prevCountA[n] + countA) / double(m_prevCountB[n] + countB);
    const int near = (ratio > 0.85 && ratio < 1.15) ? 1 : 0;
    m_prevCountA[n] = countA;
    m_prevCountB[n] = countB;
    m_busyRun[n] = (m_busyRun[n] * near + near) * (m_options.fastBusy ? 1 : 0);
    if (m_busyRun[n] > 2) {
        m_busyRun[n] = 0;
        stop(slot, QStringLiteral("监测到忙音，录音停止"));
    }

    // Silence: the (SilenceD + 1)-th silent second in a row ends the recording.
    m_silenceRun[n] = (m_silenceRun[n] * silent + silent) * (m_options.silence ? 1 : 0);
    if (m_silenceRun[n] > m_options.silenceSeconds) {
        m_silenceRun[n] = 0;
        stop(slot, QStringLiteral("监测到静音，录音停止"));
    }

    // Answer: a dialled call whose line no longer carries a steady tone was picked up.
    if (profile[5] == 0)
        return;
    int steady = 0;
    for (std::size_t i = 1; i <= 10; ++i) {
        if (i == 5)
            continue;
        const double r = double(profile[i]) / double(profile[5]);
        if (r > 0.95 && r < 1.05)
            ++steady;
    }
    if (steady < 4)
        answered(slot);
}

void StopTriggers::answered(int slot)
{
    const bool legalFirst = m_s.legalNotice && m_s.legalNotice();
    if (m_s.lines.call(slot).answerDialled(legalFirst))
        m_s.status.AddStatus(QStringLiteral("电话被接听，录音开始"));
}

} // namespace telvox
