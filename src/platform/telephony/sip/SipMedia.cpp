// The media of a SIP line's call, on the stack's thread: the SDP we offer and answer, RTP in
// (G.711 into the jitter buffer, telephone events and in-band touch tones into digits) and RTP
// out (20 ms G.711 frames from the send queue, touch tones as RFC 4733 events and as sound).
#include "platform/telephony/sip/SipStackParts.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace telvox::sip {

// --- the audio waiting to be sent -----------------------------------------------------------

void LineMedia::writeToLine(std::span<const std::int16_t> samples)
{
    const std::lock_guard lock(m_mutex);
    m_tx.insert(m_tx.end(), samples.begin(), samples.end());
    while (m_tx.size() > kMaxQueued)
        m_tx.pop_front();
}

void LineMedia::takeForSending(std::span<std::int16_t> out)
{
    const std::lock_guard lock(m_mutex);
    m_waitSum += m_tx.size();
    ++m_takes;
    for (auto &s : out) {
        if (m_tx.empty()) {
            s = 0;
        } else {
            s = m_tx.front();
            m_tx.pop_front();
        }
    }
}

void LineMedia::clearSending()
{
    const std::lock_guard lock(m_mutex);
    m_tx.clear();
    m_waitSum = 0;
    m_takes = 0;
}

double LineMedia::meanSendingDelay() const
{
    const std::lock_guard lock(m_mutex);
    return m_takes ? double(m_waitSum) / double(m_takes) : 0.0;
}

namespace stack {

namespace {

constexpr int kFrameSamples = 160; // 20 ms at 8000 Hz
constexpr int kFrameMicros = 20000;
constexpr int kTickMs = 10;
constexpr std::uint16_t kRtpPortMin = 16384;
constexpr std::uint16_t kRtpPortMax = 32767;
constexpr int kDigitGapMs = 60;
constexpr int kDigitEndGraceMs = 80; // the end packets of the last digit are repeated
// How long after our own tone the in-band detector stays deaf: the tone may come back as an
// echo of the far end's line.
constexpr int kOwnToneEchoMs = 300;

void countStat(LineCtx &l, std::uint64_t SipStack::CallStats::*field)
{
    const std::lock_guard lock(l.impl->statsMutex);
    ++(l.stats.*field);
}

void reportDigit(LineCtx &l, char digit)
{
    StackEvent e = eventOf(l, StackEvent::Kind::Digit);
    e.digit = digit;
    l.impl->report(e);
}

void onTelephoneEvent(LineCtx &l, mbuf *mb)
{
    int event = 0;
    bool end = false;
    if (telev_recv(l.tel, mb, &event, &end) != 0)
        return;
    // From now on the far end's touch tones come as events: the audio is no longer searched.
    l.eventsReceived = true;
    const int digit = telev_code2digit(event);
    if (!end || !l.rxEventOpen) {
        // A new event (or only its end arrived): one digit.
        if (!l.rxEventOpen && digit > 0)
            reportDigit(l, static_cast<char>(digit));
        l.rxEventOpen = !end;
    } else {
        l.rxEventOpen = false;
    }
}

void onRtp(const sa *src, const rtp_header *hdr, mbuf *mb, void *arg)
{
    auto &l = *static_cast<LineCtx *>(arg);
    if (!l.answered || !src || !hdr)
        return;
    // Symmetric RTP: the first packet of a negotiated payload type fixes where the far end's
    // media comes from (behind a NAT, or with several interfaces, that need not be the address
    // of its SDP); from then on packets from anywhere else are ignored, and ours go there.
    const bool known = hdr->pt == 0 || hdr->pt == 8 || (l.televPt >= 0 && hdr->pt == l.televPt);
    if (!l.latched) {
        if (!known) {
            countStat(l, &SipStack::CallStats::strangers);
            return;
        }
        l.latched = true;
        l.remote = *src;
    } else if (!sa_cmp(src, &l.remote, SA_ALL)) {
        countStat(l, &SipStack::CallStats::strangers);
        return;
    }
    countStat(l, &SipStack::CallStats::packetsIn);
    if (hdr->pt == 0 || hdr->pt == 8) {
        const std::size_t n = std::min<std::size_t>(mbuf_get_left(mb), 1024);
        const std::uint8_t *p = mbuf_buf(mb);
        std::int16_t samples[1024];
        for (std::size_t i = 0; i < n; ++i)
            samples[i] = hdr->pt == 0 ? g711_ulaw2pcm(p[i]) : g711_alaw2pcm(p[i]);
        l.media->rx.put(hdr->ts, std::span<const std::int16_t>(samples, n));
        // Touch tones in the audio, while the far end has sent no telephone event.
        if (!l.eventsReceived && l.dtmf && nowMicros() >= l.ownToneUntil)
            dtmf_dec_probe(l.dtmf, samples, n);
        return;
    }
    if (l.televPt >= 0 && hdr->pt == l.televPt && l.tel)
        onTelephoneEvent(l, mb);
}

void sendFrame(LineCtx &l, mbuf *mb, bool marker, int pt, std::uint32_t ts)
{
    mb->pos = RTP_HEADER_SIZE;
    if (rtp_send(l.rtp, &l.remote, false, marker, static_cast<std::uint8_t>(pt), ts, mb) == 0)
        countStat(l, &SipStack::CallStats::packetsOut);
}

// The two frequencies of a touch-tone key; false for anything else.
bool dtmfPair(char key, double &low, double &high)
{
    static const char keys[] = "123A456B789C*0#D";
    static const double rows[] = {697, 770, 852, 941};
    static const double cols[] = {1209, 1336, 1477, 1633};
    const char *at = std::strchr(keys, key);
    if (!key || !at)
        return false;
    const auto index = at - keys;
    low = rows[index / 4];
    high = cols[index % 4];
    return true;
}

// Each key sounds in the audio, so that a person at the far end hears it whatever their phone
// does with telephone events, and goes as an RFC 4733 event too when the far end takes events.
void digitStep(LineCtx &l, std::int64_t now)
{
    const bool events = l.tel && l.televPt >= 0;
    if (l.digitCode >= 0 && now >= l.digitUntil) {
        if (events)
            (void)telev_send(l.tel, l.digitCode, true);
        l.digitCode = -1;
        l.inbandKey = 0;
        l.ownToneUntil = now + static_cast<std::int64_t>(kOwnToneEchoMs) * 1000;
        l.digitUntil = now + static_cast<std::int64_t>(kDigitGapMs) * 1000;
        return;
    }
    if (l.digitCode < 0 && now >= l.digitUntil && !l.digitQueue.isEmpty()) {
        const char key = l.digitQueue.front();
        l.digitQueue.remove(0, 1);
        const int code = telev_digit2code(key);
        if (code < 0 || !dtmfPair(key, l.inbandLow, l.inbandHigh))
            return;
        if (events)
            (void)telev_send(l.tel, code, false);
        l.digitCode = code;
        l.inbandKey = key;
        l.inbandPhase = 0;
        l.digitUntil = now + static_cast<std::int64_t>(l.toneMs) * 1000;
        l.ownToneUntil = std::numeric_limits<std::int64_t>::max();
        return;
    }
    if (l.digitsPending && l.digitCode < 0 && l.digitQueue.isEmpty()
        && now >= l.digitUntil + static_cast<std::int64_t>(kDigitEndGraceMs) * 1000) {
        l.digitsPending = false;
        l.impl->report(eventOf(l, StackEvent::Kind::DigitsSent));
    }
}

// A touch tone in place of the frame's audio: two sines, each about -9 dBm0.
void fillInbandTone(LineCtx &l, std::int16_t *samples)
{
    constexpr double kTwoPi = 6.283185307179586;
    for (int i = 0; i < kFrameSamples; ++i, ++l.inbandPhase) {
        const double t = static_cast<double>(l.inbandPhase) / 8000.0;
        const double v = std::sin(kTwoPi * l.inbandLow * t) + std::sin(kTwoPi * l.inbandHigh * t);
        samples[i] = static_cast<std::int16_t>(5000 * v);
    }
}

void onInbandDigit(char digit, void *arg) { reportDigit(*static_cast<LineCtx *>(arg), digit); }

void onTxTick(void *arg)
{
    auto &l = *static_cast<LineCtx *>(arg);
    tmr_start(&l.txTimer, kTickMs, onTxTick, &l);
    // Nothing goes out before the far end answers (early media flows towards us only).
    if (!l.rtp || !l.answered || l.earlyMedia || l.pt < 0)
        return;
    const std::int64_t now = nowMicros();
    digitStep(l, now);
    const auto due = static_cast<std::uint64_t>((now - l.txStart) / kFrameMicros) + 1;
    // After a stall, send at most a few frames at once and let the timeline catch up.
    if (due > l.framesSent + 5) {
        const std::uint64_t skipped = due - l.framesSent - 5;
        l.framesSent += skipped;
        l.txTs += static_cast<std::uint32_t>(skipped * kFrameSamples);
    }
    while (l.framesSent < due) {
        std::int16_t samples[kFrameSamples];
        l.media->takeForSending(samples);
        if (l.inbandKey)
            fillInbandTone(l, samples);
        mbuf *mb = mbuf_alloc(RTP_HEADER_SIZE + kFrameSamples);
        if (!mb)
            return;
        // A telephone event packet, then the frame's audio with the same timestamp.
        mb->pos = mb->end = RTP_HEADER_SIZE;
        bool marker = false;
        if (l.tel && l.televPt >= 0 && telev_poll(l.tel, &marker, mb) == 0 && mbuf_get_left(mb) == 0
            && mb->end > RTP_HEADER_SIZE) {
            if (marker)
                l.televTs = l.txTs;
            sendFrame(l, mb, marker, l.televPt, l.televTs);
        }
        mb->pos = mb->end = RTP_HEADER_SIZE;
        for (const std::int16_t s : samples)
            (void)mbuf_write_u8(mb, l.pt == 0 ? g711_pcm2ulaw(s) : g711_pcm2alaw(s));
        sendFrame(l, mb, l.framesSent == 0, l.pt, l.txTs);
        mem_deref(mb);
        ++l.framesSent;
        l.txTs += kFrameSamples;
    }
}

} // namespace

void chooseFormats(LineCtx &l)
{
    l.pt = -1;
    l.televPt = -1;
    if (sdp_media_rformat(l.audio, "PCMU"))
        l.pt = 0;
    else if (sdp_media_rformat(l.audio, "PCMA"))
        l.pt = 8;
    // The far end's own order decides when it offers both.
    if (const sdp_format *first = sdp_media_rformat(l.audio, nullptr)) {
        if (first->name && std::strcmp(first->name, "PCMA") == 0)
            l.pt = 8;
        else if (first->name && std::strcmp(first->name, "PCMU") == 0)
            l.pt = 0;
    }
    if (const sdp_format *te = sdp_media_rformat(l.audio, "telephone-event"))
        l.televPt = te->pt;
    l.remote = *sdp_media_raddr(l.audio);
}

bool setUpMedia(LineCtx &l)
{
    sa rtpIp = l.laddr;
    sa_set_port(&rtpIp, 0);
    if (rtp_listen(&l.rtp, IPPROTO_UDP, &rtpIp, kRtpPortMin, kRtpPortMax, false, onRtp, nullptr, &l) != 0)
        return false;
    if (sdp_session_alloc(&l.sdp, &l.laddr) != 0)
        return false;
    if (sdp_media_add(&l.audio, l.sdp, "audio", sa_port(rtp_local(l.rtp)), "RTP/AVP") != 0)
        return false;
    if (sdp_format_add(nullptr, l.audio, false, "0", "PCMU", 8000, 1, nullptr, nullptr, nullptr, false, nullptr) != 0
        || sdp_format_add(nullptr, l.audio, false, "8", "PCMA", 8000, 1, nullptr, nullptr, nullptr, false, nullptr) != 0
        || (l.setup.telephoneEvents
            && sdp_format_add(nullptr, l.audio, false, "101", telev_rtpfmt, 8000, 1, nullptr, nullptr, nullptr,
                              false, "0-15")
                != 0))
        return false;
    sdp_media_set_lattr(l.audio, true, "ptime", "%d", 20);
    if (telev_alloc(&l.tel, 20) != 0)
        return false;
    return dtmf_dec_alloc(&l.dtmf, 8000, 1, onInbandDigit, &l) == 0;
}

void startMedia(LineCtx &l)
{
    const bool flowing = l.answered;
    l.answered = true;
    l.txStart = nowMicros();
    l.framesSent = 0;
    l.txTs = static_cast<std::uint32_t>(rand_u32());
    if (flowing)
        return; // early media becomes the call: what was heard so far stays in the line
    l.latched = false;
    l.media->rx.reset();
    l.media->clearSending();
    tmr_start(&l.txTimer, kTickMs, onTxTick, &l);
}

void queueDigits(LineCtx &l, const QByteArray &digits, int toneMs)
{
    l.digitQueue += digits;
    l.toneMs = std::clamp(toneMs, 40, 2000);
    l.digitsPending = true;
}

} // namespace stack
} // namespace telvox::sip
