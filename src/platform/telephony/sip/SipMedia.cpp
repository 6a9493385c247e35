// The media of a SIP line's call, on the stack's thread: the SDP we offer and answer, RTP in
// (G.711 or G.722 into the jitter buffer, telephone events and in-band touch tones into digits)
// and RTP out (20 ms frames from the send queue, touch tones as RFC 4733 events and as sound),
// only from and to the far end.
#include "platform/telephony/sip/SipSdp.h"
#include "platform/telephony/sip/SipStackParts.h"

// spandsp's G.722 alone: its whole header clashes with librem's Goertzel functions.
#include <spandsp/telephony.h>
#include <spandsp/g722.h>

#include <algorithm>
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

constexpr int kG722 = 9;
bool isAudioPt(int pt) { return pt == 0 || pt == 8 || pt == kG722; }

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

constexpr int kStrangerReportMs = 10000; // the day log hears of strangers' packets this often at most

} // namespace

// Packets are counted on every drop; the owner hears of them on the first and then at most
// every kStrangerReportMs, with the count so far and the last sender.
void strangerPacket(LineCtx &l, const sa &src)
{
    std::uint64_t count = 0;
    {
        const std::lock_guard lock(l.impl->statsMutex);
        count = ++l.stats.strangers;
    }
    const std::int64_t now = nowMicros();
    if (l.lastStrangerReport != 0 && now - l.lastStrangerReport < std::int64_t(kStrangerReportMs) * 1000)
        return;
    l.lastStrangerReport = now;
    StackEvent e = eventOf(l, StackEvent::Kind::Strangers);
    e.code = static_cast<int>(std::min<std::uint64_t>(count, std::numeric_limits<int>::max()));
    e.reason = QString::fromLatin1(addressText(src, true));
    l.impl->report(e);
}

namespace {

void onRtp(const sa *src, const rtp_header *hdr, mbuf *mb, void *arg)
{
    auto &l = *static_cast<LineCtx *>(arg);
    if (!l.answered || !src || !hdr)
        return;
    // Media is taken from the far end only: from the address and port its session description
    // gives (or that port through loopback, for a peer on this machine announcing its network
    // address), or, for a far end whose packets leave from another port of the same host (a NAT
    // that keeps the address, a phone with separate sockets), from that host, latched on its
    // first packet. A packet from the signalled port itself always wins the latch back. Ours go
    // wherever the far end's come from. Anyone else's packets are dropped and counted.
    const bool known = isAudioPt(hdr->pt) || (l.televPt >= 0 && hdr->pt == l.televPt);
    if (!known)
        return strangerPacket(l, *src);
    if (l.secure) {
        // Decrypted and authenticated with the far end's key: its packet, wherever from.
        l.latched = true;
        l.remote = *src;
    } else if (sameEndpoint(*l.impl, *src, l.signalled)) {
        l.signalledSeen = true;
        l.latched = true;
        l.remote = *src;
    } else if (l.latched ? !sa_cmp(src, &l.remote, SA_ALL) : (l.signalledSeen || !sameHost(*src, l.signalled))) {
        return strangerPacket(l, *src);
    } else if (!l.latched) {
        l.latched = true;
        l.remote = *src;
    }
    countStat(l, &SipStack::CallStats::packetsIn);
    if (isAudioPt(hdr->pt)) {
        const std::size_t n = std::min<std::size_t>(mbuf_get_left(mb), 1024);
        const std::uint8_t *p = mbuf_buf(mb);
        std::int16_t samples[1024];
        if (hdr->pt == kG722) {
            // One byte per 8000 Hz sample time; the lower band (0 to 4 kHz) is decoded, at
            // 8000 Hz, the rate of the line and of the recording.
            if (!l.g722dec)
                l.g722dec = g722_decode_init(nullptr, 64000, G722_SAMPLE_RATE_8000);
            if (!l.g722dec)
                return;
            const int decoded = g722_decode(l.g722dec, samples, p, static_cast<int>(n));
            l.media->rx.put(hdr->ts, std::span<const std::int16_t>(samples, static_cast<std::size_t>(std::max(decoded, 0))));
            if (!l.eventsReceived && l.dtmf && nowMicros() >= l.ownToneUntil)
                dtmf_dec_probe(l.dtmf, samples, static_cast<std::size_t>(std::max(decoded, 0)));
            return;
        }
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
        if (l.pt == kG722) {
            // From 8000 Hz: the lower band only, one byte per sample time (64 kbit/s).
            if (!l.g722enc)
                l.g722enc = g722_encode_init(nullptr, 64000, G722_SAMPLE_RATE_8000);
            std::uint8_t coded[kFrameSamples];
            const int bytes = l.g722enc ? g722_encode(l.g722enc, coded, samples, kFrameSamples) : 0;
            (void)mbuf_write_mem(mb, coded, static_cast<std::size_t>(std::clamp(bytes, 0, kFrameSamples)));
        } else {
            for (const std::int16_t s : samples)
                (void)mbuf_write_u8(mb, l.pt == 0 ? g711_pcm2ulaw(s) : g711_pcm2alaw(s));
        }
        sendFrame(l, mb, l.framesSent == 0, l.pt, l.txTs);
        mem_deref(mb);
        ++l.framesSent;
        l.txTs += kFrameSamples;
    }
}

} // namespace

void releaseCodecs(LineCtx &l)
{
    if (l.g722enc)
        g722_encode_free(l.g722enc);
    if (l.g722dec)
        g722_decode_free(l.g722dec);
    l.g722enc = nullptr;
    l.g722dec = nullptr;
}

void chooseFormats(LineCtx &l)
{
    const MediaChoice choice = chooseMedia(l.audio);
    l.pt = choice.pt;
    l.televPt = choice.televPt;
    const sa *signalled = choice.remote;
    if (signalled && !sa_cmp(signalled, &l.signalled, SA_ALL)) {
        // A new media address (a re-INVITE moving the call): nothing has come from it yet.
        l.signalled = *signalled;
        l.signalledSeen = false;
        l.latched = false;
    }
    if (!l.latched)
        l.remote = l.signalled;
}

bool setUpMedia(LineCtx &l)
{
    sa rtpIp = l.laddr;
    sa_set_port(&rtpIp, 0);
    if (rtp_listen(&l.rtp, IPPROTO_UDP, &rtpIp, kRtpPortMin, kRtpPortMax, false, onRtp, nullptr, &l) != 0)
        return false;
    {
        const std::lock_guard lock(l.impl->statsMutex);
        l.stats.rtpPort = sa_port(rtp_local(l.rtp));
    }
    if (sdp_session_alloc(&l.sdp, &l.laddr) != 0)
        return false;
    // Our offer's profile; an offer to us may use either (an encrypted one is answered with
    // our key when the line's option allows it).
    if (sdp_media_add(&l.audio, l.sdp, "audio", sa_port(rtp_local(l.rtp)), offersSrtp(l.setup) ? "RTP/SAVP" : "RTP/AVP")
            != 0
        || sdp_media_set_alt_protos(l.audio, 2, "RTP/AVP", "RTP/SAVP") != 0)
        return false;
    if (addOurFormats(l.audio, l.setup.telephoneEvents) != 0)
        return false;
    addOurCrypto(l);
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
    l.signalledSeen = false;
    l.remote = l.signalled;
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
