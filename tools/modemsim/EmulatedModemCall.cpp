// An emulated voice modem: the voice data streams (recording, playback with flow control,
// silence detection), what it reports of the call on its line (rings, caller ID, touch tones,
// a far end gone) and the injected faults.

#include "EmulatedModem.h"

#include "sim/exchange/VirtualExchange.h"
#include "platform/telephony/modem/VoiceFormat.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QSocketNotifier>

#include <algorithm>
#include <cmath>
#include <vector>

namespace telvox::modemsim {

using modem::kDle;
using modem::kEtx;

namespace {
constexpr int kDtmfRepeatMs = 70;
} // namespace

// --- voice data ------------------------------------------------------------------------------

void EmulatedModem::receiveTick()
{
    const std::int64_t due = elapsed() - m_streamStart;
    const std::int64_t samples = due * 8 - m_streamSamples;
    if (samples <= 0)
        return;
    std::vector<std::int16_t> pcm(static_cast<std::size_t>(samples));
    std::uint32_t id = 0;
    m_exchange.lineGetID(m_hLine, 0, 0, kCallSelectLine, id, QStringLiteral("wave/in"));
    if (LineAudioChannel *channel = m_exchange.audioChannel(id))
        channel->readFromLine(pcm);
    m_streamSamples += samples;
    QByteArray raw;
    modem::encodeSamples(m_profile.vsmEncodings.value(m_cml), pcm, raw);
    m_stats.bytesRecorded += raw.size();
    send(modem::shielded(raw));
    detectSilence(pcm);
}

void EmulatedModem::detectSilence(const std::vector<std::int16_t> &pcm)
{
    const int interval = m_profile.fixedSilenceTenths > 0 ? m_profile.fixedSilenceTenths : m_vsdInterval;
    if (!m_profile.silenceDetection || interval == 0 || m_vsdSensitivity == 0 || pcm.empty())
        return;
    double sum = 0;
    for (const std::int16_t s : pcm)
        sum += double(s) * s;
    const double rms = std::sqrt(sum / double(pcm.size()));
    // 128 is the chip's default threshold; lower values are more sensitive (quieter audio
    // still counts as silence).
    const double threshold = 300.0 * m_vsdSensitivity / 128.0;
    if (rms >= threshold) {
        m_quietMs = 0;
        m_heardVoice = true;
        m_silenceReported = false;
        return;
    }
    m_quietMs += static_cast<int>(pcm.size() / 8);
    if (!m_silenceReported && m_quietMs >= interval * 100) {
        sendDle(m_heardVoice && m_profile.quietEvent ? 'q' : 's');
        m_silenceReported = true;
        if (m_profile.silenceEndsReceive) {
            m_state = State::Command;
            m_audioTimer->setEnabled(false);
            sendDle(kEtx);
            result("OK");
        }
    }
}

void EmulatedModem::transmitData(const char *data, qsizetype size)
{
    if (m_state != State::Transmit)
        return;
    const std::int64_t now = elapsed();
    if (m_lastChunkAt >= 0)
        m_stats.largestChunkGapMs = std::max(m_stats.largestChunkGapMs, now - m_lastChunkAt);
    if (m_lastChunkAt < 0) {
        // The modem starts playing with the first byte.
        m_streamStart = now;
        m_streamSamples = 0;
    }
    m_lastChunkAt = now;
    // Reads are limited to the room left (readMaster), so nothing is ever dropped here.
    m_txBuffer.append(data, size);
    m_underrunReported = false;
}

void EmulatedModem::holdOrRelease()
{
    const qsizetype size = m_txBuffer.size();
    const qsizetype capacity = m_profile.transmitBufferBytes;
    if (m_flowControl == 1 && m_state == State::Transmit) {
        if (!m_xoffSent && size >= capacity * 3 / 4) {
            send("\x13"); // XOFF
            m_xoffSent = true;
        } else if (m_xoffSent && size <= capacity / 4) {
            send("\x11"); // XON
            m_xoffSent = false;
        }
    } else if (m_xoffSent) {
        send("\x11");
        m_xoffSent = false;
    }
    if (m_readHeld && (size < capacity || m_state != State::Transmit)) {
        m_readHeld = false;
        if (m_notifier)
            m_notifier->setEnabled(true);
        m_loop.post([this, alive = m_alive] {
            if (*alive)
                readMaster();
        });
    }
}

void EmulatedModem::transmitEvent(char code)
{
    if (m_state == State::Transmit) {
        if (code == kEtx || code == '^') {
            m_txEnding = true;
            if (m_lastChunkAt < 0) {
                m_state = State::Command;
                m_audioTimer->setEnabled(false);
                result("OK");
            }
        } else if (code == modem::kCan) {
            m_txBuffer.clear();
        }
        return;
    }
    if (m_state == State::Receive && (code == '!' || code == '^' || code == 0x1B)) {
        m_stuck = false;
        m_state = State::Command;
        m_audioTimer->setEnabled(false);
        if (m_dropEtx)
            m_dropEtx = false;
        else
            sendDle(kEtx);
        result("OK");
    }
}

void EmulatedModem::playTick()
{
    if (m_lastChunkAt < 0)
        return;
    const int bps = modem::bytesPerSample(m_profile.vsmEncodings.value(m_cml));
    const std::int64_t due = (elapsed() - m_streamStart) * 8 - m_streamSamples;
    if (due <= 0)
        return;
    const qsizetype want = static_cast<qsizetype>(due) * bps;
    const qsizetype have = std::min(want, m_txBuffer.size() - m_txBuffer.size() % bps);
    std::vector<std::int16_t> pcm;
    modem::VoiceDecoder decoder(m_profile.vsmEncodings.value(m_cml));
    decoder.decode(m_txBuffer.constData(), have, pcm);
    m_txBuffer.remove(0, have);
    m_stats.bytesPlayed += have;
    holdOrRelease();
    if (have < want) {
        if (m_txEnding) {
            m_state = State::Command;
            m_audioTimer->setEnabled(false);
            holdOrRelease();
            result("OK");
        } else if (!m_underrunReported) {
            ++m_stats.underruns;
            m_underrunReported = true;
            sendDle('u');
        }
        pcm.resize(static_cast<std::size_t>(due), 0); // the modem plays silence
    }
    m_streamSamples += due;
    std::uint32_t id = 0;
    m_exchange.lineGetID(m_hLine, 0, 0, kCallSelectLine, id, QStringLiteral("wave/out"));
    if (LineAudioChannel *channel = m_exchange.audioChannel(id))
        channel->writeToLine(pcm);
}

// --- the line --------------------------------------------------------------------------------

void EmulatedModem::callerIdReport()
{
    if (m_callerIdMode == 0 || m_offHook || m_hCall == 0)
        return;
    LineCallInfo call;
    if (m_exchange.lineGetCallInfo(m_hCall, call) != 0)
        return;
    const QDateTime now = QDateTime::currentDateTime();
    const QByteArray date = now.toString(QStringLiteral("MMdd")).toLatin1();
    const QByteArray time = now.toString(QStringLiteral("HHmm")).toLatin1();
    // No number: "O" (unavailable); a caller who withheld it: "P" (private).
    QByteArray number = call.callerIdNumber;
    char absent = 0;
    const QByteArray lower = number.toLower();
    if (number.isEmpty() || number == "O")
        absent = 'O';
    else if (number == "P" || lower == "private" || lower == "withheld" || lower == "anonymous")
        absent = 'P';
    if (absent)
        number = QByteArray(1, absent);
    const auto checksum = [](const QByteArray &bytes) {
        std::uint8_t sum = 0;
        for (const char ch : bytes)
            sum = static_cast<std::uint8_t>(sum + static_cast<std::uint8_t>(ch));
        return static_cast<char>(static_cast<std::uint8_t>(0x100 - sum));
    };
    if (m_callerIdMode == 2) {
        QByteArray body = QByteArray("\x01\x08") + date + time;
        if (absent)
            body += QByteArray("\x04\x01") + absent;
        else
            body += '\x02' + QByteArray(1, static_cast<char>(number.size())) + number;
        if (!call.callerIdName.isEmpty())
            body += '\x07' + QByteArray(1, static_cast<char>(call.callerIdName.size())) + call.callerIdName;
        QByteArray packet = QByteArray(1, '\x80') + QByteArray(1, static_cast<char>(body.size())) + body;
        packet += checksum(packet);
        info(packet.toHex().toUpper());
        return;
    }
    const QByteArray eq = m_profile.callerIdSpaced ? " = " : "=";
    QByteArray numberLine;
    if (m_cidStyle == "ddn" && !absent) {
        numberLine = "DDN_NMBR" + eq + number;
    } else if (m_cidStyle == "mesg" && !absent) {
        // Firmware without a tag for the parameter gives it in hex: type 03, length, digits,
        // checksum.
        QByteArray parameter = '\x03' + QByteArray(1, static_cast<char>(number.size())) + number;
        parameter += checksum(parameter);
        numberLine = "MESG" + eq + parameter.toHex().toUpper();
    } else {
        numberLine = "NMBR" + eq + number;
    }
    QByteArray text = "\r\nDATE" + eq + date + "\r\nTIME" + eq + time + "\r\n" + numberLine + "\r\n";
    if (!call.callerIdName.isEmpty())
        text += "NAME" + eq + call.callerIdName + "\r\n";
    send(text);
}

void EmulatedModem::lineEvent(std::uint32_t device, std::uint32_t message, std::uint32_t p1, std::uint32_t p2)
{
    (void)p2;
    switch (message) {
    case LINE_LINEDEVSTATE:
        if (m_offHook || m_muted || m_stuck)
            return;
        if (m_distinctiveRing) {
            // The cadence the chip measures on the line, in tenths of a second: the silence
            // before this ring (none before the first), then the ring. The line rings with the
            // call's own cadence, else with the one of the exchange's country.
            const VirtualExchange::LineView view = m_exchange.view(m_line);
            std::vector<int> cadence = view.ringCadenceMs;
            if (cadence.empty())
                cadence = m_exchange.ringCadence();
            info("DROF=" + QByteArray::number(view.ringCount > 1 && cadence.size() >= 2 ? cadence[1] / 100 : 0));
            info("DRON=" + QByteArray::number(cadence.empty() ? 0 : cadence[0] / 100));
        }
        if (m_fclass == 8 && m_profile.ringAsDleInVoice)
            sendDle('R');
        else
            result("RING");
        return;
    case LINE_CALLSTATE:
        if (p1 == LineCallState::Offering) {
            m_hCall = device;
        } else if (p1 == LineCallState::Connected && device == m_hCall) {
            m_exchange.lineMonitorDigits(m_hCall, kDigitModeDtmf);
            if (m_pendingDial) {
                m_pendingDial = false;
                result(m_dialSemicolon ? "OK" : "VCON");
            }
        } else if (p1 == LineCallState::Disconnected && device == m_hCall && m_offHook) {
            sendDle(m_profile.hangUpEvent);
        } else if (p1 == LineCallState::Disconnected && device == m_hCall) {
            // The caller gave up while it rang: the rings just stop; the call is cleared.
            m_exchange.lineDrop(m_hCall);
        } else if (p1 == LineCallState::Idle && device == m_hCall) {
            m_exchange.lineDeallocateCall(m_hCall);
            m_hCall = 0;
        }
        return;
    case LINE_CALLINFO:
        // Caller ID sent before the first ring comes ahead of the call's OFFERING.
        if (m_hCall == 0 && !m_offHook)
            m_hCall = device;
        if (device == m_hCall)
            callerIdReport();
        return;
    case LINE_MONITORDIGITS: {
        if (!m_offHook)
            return;
        const char key = static_cast<char>(p1);
        if (!m_profile.shieldedDtmf) {
            sendDle(key); // one code per key press
            return;
        }
        // Shielded: start, the key repeated every 70 ms while it is held (about 100 ms), end.
        sendDle('/');
        sendDle(key);
        m_later.after(kDtmfRepeatMs, [this, key] {
            sendDle(key);
            m_later.after(kDtmfRepeatMs, [this] { sendDle('~'); });
        });
        return;
    }
    case LINE_GENERATE:
        if (m_pendingTones) {
            m_pendingTones = false;
            result("OK");
        }
        return;
    default:
        return;
    }
}

bool EmulatedModem::setCallerIdStyle(const QString &style)
{
    if (style != QLatin1String("nmbr") && style != QLatin1String("ddn") && style != QLatin1String("mesg"))
        return false;
    m_cidStyle = style.toLatin1();
    return true;
}

void EmulatedModem::watchLine()
{
    if (m_muted || m_master < 0)
        return;
    const std::int64_t now = elapsed();
    // The inactivity timer: the computer has sent nothing for +VIT seconds.
    if (m_vit > 0 && m_fclass == 8 && !m_stuck && now - m_lastDteAt >= std::int64_t(m_vit) * 1000) {
        leaveVoiceMode();
        return;
    }
    // A far end that hung up without a disconnection leaves a busy or reorder tone on the
    // line. Once the chip has recognised it (a couple of its cadences) it reports it, and again
    // every 4 s (busy: b) or 3 s (reorder, after which the exchange gives dial tone: d).
    if (!m_offHook || m_hCall == 0) {
        m_farEndGoneAt = -1;
        return;
    }
    const VirtualExchange::LineView view = m_exchange.view(m_line);
    if (!view.farEndGone || view.callState != LineCallState::Connected) {
        m_farEndGoneAt = -1;
        return;
    }
    const bool busy = m_hangUpTone == HangUpTone::Busy;
    if (m_farEndGoneAt < 0) {
        m_farEndGoneAt = now;
        m_lastToneReportAt = -1;
    }
    const bool due = m_lastToneReportAt < 0 ? now - m_farEndGoneAt >= 1500 : now - m_lastToneReportAt >= (busy ? 4000 : 3000);
    if (due) {
        sendDle(busy ? 'b' : 'd');
        m_lastToneReportAt = now;
    }
}

void EmulatedModem::leaveVoiceMode()
{
    if (m_state != State::Command)
        sendDle(kEtx);
    goOnHook();
    m_fclass = 0;
}

// --- faults ----------------------------------------------------------------------------------

void EmulatedModem::dropDtr()
{
    // &D2: the call is dropped and the modem returns to command state; a stream simply stops.
    goOnHook();
}

void EmulatedModem::stuckStreaming()
{
    m_fclass = 8;
    m_input.clear();
    m_stuck = true;
    startStream(State::Receive);
}

void EmulatedModem::resetItself()
{
    reset();
}

void EmulatedModem::injectGarbage(int bytes)
{
    QByteArray noise;
    auto *random = QRandomGenerator::global();
    while (noise.size() < bytes) {
        const auto c = static_cast<char>(random->bounded(0x80, 0x100));
        noise.append(c);
    }
    send(noise);
}

void EmulatedModem::stopAnswering(int ms)
{
    m_muted = true;
    m_audioTimer->setEnabled(false);
    m_later.after(ms, [this] {
        m_muted = false;
        reset();
    });
}

void EmulatedModem::unplug(int ms)
{
    goOnHook();
    closePty();
    m_later.after(ms, [this] {
        const QString path = plugIn();
        std::printf("Line%d %s\n", m_line, qPrintable(path));
        std::fflush(stdout);
    });
}

} // namespace telvox::modemsim
