// The voice-modem line: audio. Received voice data to the wave-in device (with the check of a
// 16-bit layout), paced and shielded sending of the wave-out device, the receive watchdog and
// the inactivity keep-alive.

#include "platform/telephony/modem/ModemLine.h"

#include "core/EventLoop.h"
#include "platform/telephony/modem/ModemAudio.h"

#include <algorithm>
#include <utility>

namespace telvox::modem {

namespace {

constexpr int kSamplesPerMs = 8;

} // namespace

// --- audio -----------------------------------------------------------------------------------

WaveResult ModemLine::openInput(WaveCallback callback, std::unique_ptr<WaveIn> &device)
{
    if (m_in)
        return MMSYSERR_ALLOCATED;
    auto in = std::make_unique<ModemWaveIn>(
        std::move(callback),
        [this, alive = m_alive] {
            if (*alive)
                audioChanged();
        },
        [this, alive = m_alive] {
            if (*alive) {
                m_in = nullptr;
                audioChanged();
            }
        });
    m_in = in.get();
    m_captureCut = false;
    device = std::move(in);
    return MMSYSERR_NOERROR;
}

WaveResult ModemLine::openOutput(WaveCallback callback, std::unique_ptr<WaveOut> &device)
{
    if (m_out)
        return MMSYSERR_ALLOCATED;
    auto out = std::make_unique<ModemWaveOut>(
        std::move(callback),
        [this, alive = m_alive] {
            if (*alive)
                audioChanged();
        },
        [this, alive = m_alive] {
            if (*alive)
                outputAborted();
        },
        [this, alive = m_alive] {
            if (*alive) {
                m_out = nullptr;
                audioChanged();
            }
        });
    m_out = out.get();
    device = std::move(out);
    return MMSYSERR_NOERROR;
}

ModemLine::DataMode ModemLine::wantedMode() const
{
    if (m_portState != PortState::Ready || !m_offHook || m_hangingUp || m_voiceRefused || !m_format)
        return DataMode::Command;
    if (m_out && !m_txAbort && m_out->hasUnsent())
        return DataMode::Transmit;
    // A modem that left voice receive as the far end hung up is not sent back into it.
    if (m_in && m_in->running() && !(m_receiveLeft && m_disconnected))
        return DataMode::Receive;
    return DataMode::Command;
}

void ModemLine::audioChanged()
{
    // A capture that ended (or a new one) starts afresh after a fault of the last one.
    if (!m_in || !m_in->running()) {
        m_captureCut = false;
        m_leftReported = false;
        m_receiveLeft = false;
    }
    pump();
}

void ModemLine::outputAborted()
{
    if (m_mode == DataMode::Transmit)
        m_txAbort = true;
    pump();
}

void ModemLine::tick()
{
    const std::int64_t now = m_loop.now();
    if (m_mode == DataMode::Transmit && !m_current)
        sendAudio();
    if (m_in && m_in->running() && m_mode != DataMode::Receive && !m_receiveLeft && !m_captureCut) {
        // No voice data from the modem (playing, switching, or no modem): the line carries
        // silence, so that the capture keeps time. Not so while the modem should be sending
        // and is not (it left voice receive by itself, or failed): that was no silence.
        const auto due = static_cast<std::size_t>(std::max<std::int64_t>(0, now - m_lastPadAt) * kSamplesPerMs);
        if (due > 0) {
            m_samples.assign(due, 0);
            m_in->deliver(m_samples);
        }
    }
    m_lastPadAt = now;
    updateTick();
}

void ModemLine::updateTick()
{
    // The tick paces playback and stands in for the modem's clock when it sends no audio; while
    // the modem streams what the capture needs, the line has nothing to do between reads.
    const bool capturing = m_in && m_in->running();
    const bool inputWaiting = capturing && m_mode != DataMode::Receive && !m_receiveLeft && !m_captureCut;
    const bool needed = m_mode == DataMode::Transmit || inputWaiting;
    if (needed && !m_tickTimer->isEnabled())
        m_lastPadAt = m_loop.now();
    m_tickTimer->setEnabled(needed);
    // The watchdog runs whenever a capture is open, whatever state the modem is in.
    const bool watch = (capturing || m_mode == DataMode::Receive) && m_portState != PortState::Closed;
    noteAudioExpectation();
    m_rxWatchTimer->setEnabled(watch);
}

void ModemLine::noteAudioExpectation()
{
    // The wait for audio starts when the modem is first meant to send.
    const bool expected = audioExpected();
    if (!expected || !m_audioWasExpected)
        m_audioWaitFrom = m_loop.now();
    m_audioWasExpected = expected;
}

bool ModemLine::audioExpected() const
{
    // In a call with a running capture the modem is meant to be sending, except while it plays,
    // while it generates touch tones, or when it refused voice receive from the start (said in
    // the status list).
    return m_in && m_in->running() && m_portState == PortState::Ready && m_offHook && !m_hangingUp
        && !m_voiceRefused && m_format && !m_slot.generating && !m_captureCut && m_mode != DataMode::Transmit;
}

void ModemLine::receiveLeftByModem()
{
    m_receiveLeft = true;
    m_awaitingLeftOk = true;
    m_leftReceiveTimer->setEnabled(false);
    m_leftReceiveTimer->setEnabled(true);
}

void ModemLine::resumeReceive()
{
    m_awaitingLeftOk = false;
    if (!m_receiveLeft)
        return;
    if (m_disconnected) {
        // It left with the call (the far end hung up): the application hangs up next.
        pump();
        return;
    }
    if (wantedMode() != DataMode::Receive) {
        // The capture ended meanwhile: nothing to go back to.
        m_receiveLeft = false;
        pump();
        return;
    }
    ++m_stats.receiveResumed;
    if (!m_leftReported) // a modem that does it again and again is not reported each time
        status(notice::kReceiveResumed, {m_portName});
    m_leftReported = true;
    pump(); // AT+VRX
}

void ModemLine::receiveFault(int text, QStringList args)
{
    // As when the modem disappears: the call ends as a fault (the application keeps what was
    // recorded), and the modem is reset and initialised again.
    if (!m_portReported) {
        status(text, std::move(args));
        m_portReported = true;
    }
    endCallOnFault();
    closePort();
    openPort();
}

void ModemLine::receiveWatch()
{
    const bool capturing = m_in && m_in->running();
    if ((!capturing && m_mode != DataMode::Receive) || m_portState == PortState::Closed) {
        m_rxWatchTimer->setEnabled(false);
        return;
    }
    const std::int64_t now = m_loop.now();
    noteAudioExpectation();
    if (m_audioWasExpected && now - std::max(m_lastAudioAt, m_audioWaitFrom) >= m_options.receiveStallMs) {
        // A modem in voice receive sends all the time; silence from it means it hangs, or it
        // left receive and did not come back. The recording ends here.
        ++m_stats.stalls;
        receiveFault(notice::kReceiveStalled, {m_portName});
        return;
    }
    if (m_mode == DataMode::Receive && m_streamKeepAlive && now - m_lastPokeAt >= m_options.streamKeepAliveMs && !m_current) {
        // <DLE><NUL> does nothing but restart the modem's inactivity timer.
        write(dleCode('\0'));
        m_lastPokeAt = now;
        ++m_stats.keepAlives;
    }
}

void ModemLine::deliverReceived(const char *data, qsizetype size)
{
    m_lastAudioAt = m_loop.now();
    if (!m_layoutChecked && m_format && isSixteenBit(m_format->encoding)) {
        // The first second is held back until its layout is known.
        m_layoutProbe.append(data, size);
        if (m_layoutProbe.size() >= 8000 * 2)
            settleLayout();
        return;
    }
    m_samples.clear();
    m_voiceDecoder.decode(data, size, m_samples);
    m_stats.samplesReceived += static_cast<std::int64_t>(m_samples.size());
    if (m_in)
        m_in->deliver(m_samples);
}

void ModemLine::settleLayout()
{
    const QByteArray probe = std::exchange(m_layoutProbe, QByteArray());
    if (!m_format)
        return;
    // A tenth of a second is enough to judge; less is judged with the next recording.
    if (probe.size() >= 1600) {
        m_layoutChecked = true;
        const VoiceEncoding found = detectSampleLayout(probe, m_format->encoding);
        if (found != m_format->encoding) {
            m_format->encoding = found;
            m_voiceDecoder.setEncoding(found);
            m_stats.layoutCorrected = true;
            status(notice::kSampleLayout, {m_portName, QString::fromLatin1(encodingName(found))});
        }
    }
    const bool checked = m_layoutChecked;
    m_layoutChecked = true;
    deliverReceived(probe.constData(), probe.size());
    m_layoutChecked = checked;
}

void ModemLine::sendAudio()
{
    if (!m_out || !m_format || m_txAbort)
        return;
    const std::int64_t now = m_loop.now();
    const std::int64_t clock = (now - m_txStartedAt) * kSamplesPerMs;
    const std::int64_t target = clock + static_cast<std::int64_t>(m_profile->playLeadMs) * kSamplesPerMs;
    const std::int64_t sent = m_out->sentTotal() - m_txBase;
    if (target > sent) {
        m_samples.clear();
        const std::size_t n = m_out->take(static_cast<std::size_t>(target - sent), m_samples);
        if (n > 0) {
            QByteArray raw;
            encodeSamples(m_format->encoding, m_samples, raw);
            write(shielded(raw));
            m_stats.samplesSent += static_cast<std::int64_t>(n);
            m_stats.largestSendGapMs = std::max(m_stats.largestSendGapMs, now - m_lastSendAt);
            m_lastSendAt = now;
        }
    }
    if (m_out)
        m_out->playedUpTo(m_txBase + clock);
    if (m_out && !m_out->hasUnsent())
        pump();
}

} // namespace telvox::modem
