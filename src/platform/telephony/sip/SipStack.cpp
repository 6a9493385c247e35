#include "platform/telephony/sip/SipStack.h"

#include <QStringList>

#include <re.h>
#include <rem.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>

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

// --- the stack's thread -------------------------------------------------------------------

namespace {

constexpr int kFrameSamples = 160;   // 20 ms at 8000 Hz
constexpr int kFrameMicros = 20000;
constexpr int kTickMs = 10;
constexpr std::uint16_t kRtpPortMin = 16384;
constexpr std::uint16_t kRtpPortMax = 32767;
constexpr int kDigitGapMs = 60;
constexpr int kDigitEndGraceMs = 80; // the end packets of the last digit are repeated

enum CommandKind { Answer, HangUp, Digits, Dial, Quit };

struct Command
{
    int line = 0;
    std::uint64_t call = 0;
    int code = 0;
    QByteArray digits;
};

std::int64_t nowMicros()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string text(const QString &s) { return s.toStdString(); }

} // namespace

struct LineCtx
{
    SipStack::Impl *impl = nullptr;
    int index = 0;
    SipLineSetup setup;
    LineMedia *media = nullptr;

    struct ::sip *sip = nullptr;
    sipsess_sock *sock = nullptr;
    sipreg *reg = nullptr;
    tmr regRetry{};
    sa laddr{};
    std::string contact;

    // The call in progress (one per line).
    sipsess *sess = nullptr;
    struct rtp_sock *rtp = nullptr;
    sdp_session *sdp = nullptr;
    sdp_media *audio = nullptr;
    telev *tel = nullptr;
    std::uint64_t call = 0;
    bool offerReceived = false;
    bool outgoing = false;
    bool answered = false;
    bool latched = false;
    sa remote{};
    int pt = -1;      // 0 PCMU or 8 PCMA: what we send
    int televPt = -1; // the far end's telephone-event payload type; -1: none
    tmr txTimer{};
    tmr endTimer{};
    std::int64_t txStart = 0;
    std::uint64_t framesSent = 0;
    std::uint32_t txTs = 0;
    std::uint32_t televTs = 0;
    // Digits to send.
    QByteArray digitQueue;
    int toneMs = 100;
    int digitCode = -1;
    char inbandKey = 0; // the key sounding in the audio (no telephone events)
    double inbandLow = 0, inbandHigh = 0;
    std::uint64_t inbandPhase = 0;
    dtmf_dec *dtmf = nullptr; // in-band detection when the far end sends no telephone events
    std::int64_t digitUntil = 0;
    bool digitsPending = false;
    // RFC 4733 digits received.
    bool rxEventOpen = false;
    SipStack::CallStats stats;
};

struct SipStack::Impl
{
    SipStack *owner = nullptr;
    std::vector<std::unique_ptr<LineCtx>> lines;
    std::thread thread;
    mqueue *mq = nullptr;
    dnsc *dns = nullptr;
    mutable std::mutex statsMutex;

    void report(const StackEvent &e) { owner->m_sink(e); }
    void endCall(LineCtx &l, bool sendBye);
};

namespace {

void countStat(LineCtx &l, std::uint64_t SipStack::CallStats::*field)
{
    const std::lock_guard lock(l.impl->statsMutex);
    ++(l.stats.*field);
}

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
    const std::size_t n = mbuf_get_left(mb);
    const std::uint8_t *p = mbuf_buf(mb);
    if (hdr->pt == 0 || hdr->pt == 8) {
        std::int16_t samples[1024];
        const std::size_t count = std::min<std::size_t>(n, 1024);
        for (std::size_t i = 0; i < count; ++i)
            samples[i] = hdr->pt == 0 ? g711_ulaw2pcm(p[i]) : g711_alaw2pcm(p[i]);
        l.media->rx.put(hdr->ts, std::span<const std::int16_t>(samples, count));
        if (l.televPt < 0 && l.dtmf)
            dtmf_dec_probe(l.dtmf, samples, count);
        return;
    }
    if (l.televPt >= 0 && hdr->pt == l.televPt && l.tel) {
        int event = 0;
        bool end = false;
        if (telev_recv(l.tel, mb, &event, &end) != 0)
            return;
        const int digit = telev_code2digit(event);
        if (!end || !l.rxEventOpen) {
            // A new event (or only its end arrived): one digit.
            if (!l.rxEventOpen && digit > 0) {
                StackEvent e;
                e.kind = StackEvent::Kind::Digit;
                e.line = l.index;
                e.call = l.call;
                e.digit = static_cast<char>(digit);
                l.impl->report(e);
            }
            l.rxEventOpen = !end;
        } else {
            l.rxEventOpen = false;
        }
    }
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

void digitStep(LineCtx &l, std::int64_t now)
{
    const bool events = l.tel && l.televPt >= 0;
    if (l.digitCode >= 0 && now >= l.digitUntil) {
        if (events)
            (void)telev_send(l.tel, l.digitCode, true);
        l.digitCode = -1;
        l.inbandKey = 0;
        l.digitUntil = now + (static_cast<std::int64_t>(kDigitGapMs) * 1000);
        return;
    }
    if (l.digitCode < 0 && now >= l.digitUntil && !l.digitQueue.isEmpty()) {
        const char key = l.digitQueue.front();
        l.digitQueue.remove(0, 1);
        const int code = telev_digit2code(key);
        if (code < 0)
            return;
        // RFC 4733 when the far end takes telephone events, else the tone itself in the audio.
        if (events ? telev_send(l.tel, code, false) == 0 : dtmfPair(key, l.inbandLow, l.inbandHigh)) {
            l.digitCode = code;
            l.inbandKey = events ? 0 : key;
            l.inbandPhase = 0;
            l.digitUntil = now + static_cast<std::int64_t>(l.toneMs) * 1000;
        }
        return;
    }
    if (l.digitsPending && l.digitCode < 0 && l.digitQueue.isEmpty()
        && now >= l.digitUntil + static_cast<std::int64_t>(kDigitEndGraceMs) * 1000) {
        l.digitsPending = false;
        StackEvent e;
        e.kind = StackEvent::Kind::DigitsSent;
        e.line = l.index;
        e.call = l.call;
        l.impl->report(e);
    }
}

// An in-band touch tone in place of the frame's audio: two sines, each about -9 dBm0.
void fillInbandTone(LineCtx &l, std::int16_t *samples)
{
    constexpr double kTwoPi = 6.283185307179586;
    for (int i = 0; i < kFrameSamples; ++i, ++l.inbandPhase) {
        const double t = static_cast<double>(l.inbandPhase) / 8000.0;
        samples[i] = static_cast<std::int16_t>(5000 * (std::sin(kTwoPi * l.inbandLow * t) + std::sin(kTwoPi * l.inbandHigh * t)));
    }
}

void onInbandDigit(char digit, void *arg)
{
    auto &l = *static_cast<LineCtx *>(arg);
    StackEvent e;
    e.kind = StackEvent::Kind::Digit;
    e.line = l.index;
    e.call = l.call;
    e.digit = digit;
    l.impl->report(e);
}

void onTxTick(void *arg)
{
    auto &l = *static_cast<LineCtx *>(arg);
    tmr_start(&l.txTimer, kTickMs, onTxTick, &l);
    if (!l.rtp || !l.answered || l.pt < 0)
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
        mb->pos = mb->end = RTP_HEADER_SIZE;
        // Telephone events replace the audio for their duration.
        bool marker = false;
        if (l.tel && l.televPt >= 0 && telev_poll(l.tel, &marker, mb) == 0 && mbuf_get_left(mb) == 0
            && mb->end > RTP_HEADER_SIZE) {
            if (marker)
                l.televTs = l.txTs;
            sendFrame(l, mb, marker, l.televPt, l.televTs);
        } else {
            mb->pos = mb->end = RTP_HEADER_SIZE;
            for (const std::int16_t s : samples)
                (void)mbuf_write_u8(mb, l.pt == 0 ? g711_pcm2ulaw(s) : g711_pcm2alaw(s));
            sendFrame(l, mb, l.framesSent == 0, l.pt, l.txTs);
        }
        mem_deref(mb);
        ++l.framesSent;
        l.txTs += kFrameSamples;
    }
}

int onOffer(mbuf **descp, const sip_msg *msg, void *arg)
{
    // A re-INVITE: take the new media description, keep our own.
    auto &l = *static_cast<LineCtx *>(arg);
    if (!l.sdp || !msg->mb || mbuf_get_left(msg->mb) == 0)
        return sdp_encode(descp, l.sdp, true);
    const int err = sdp_decode(l.sdp, msg->mb, true);
    if (err)
        return err;
    chooseFormats(l);
    l.latched = false;
    return sdp_encode(descp, l.sdp, false);
}

int onAnswer(const sip_msg *msg, void *arg)
{
    // The answer to the offer we made in our 200 OK (a call without an offer in its INVITE).
    auto &l = *static_cast<LineCtx *>(arg);
    if (!l.sdp || !msg->mb)
        return EINVAL;
    const int err = sdp_decode(l.sdp, msg->mb, false);
    if (err)
        return err;
    chooseFormats(l);
    return 0;
}

void startMedia(LineCtx &l);

void onEstablished(const sip_msg *, void *arg)
{
    auto &l = *static_cast<LineCtx *>(arg);
    if (l.outgoing && !l.answered)
        startMedia(l); // the 200 OK to our INVITE: the called party answered
    StackEvent e;
    e.kind = StackEvent::Kind::Established;
    e.line = l.index;
    e.call = l.call;
    l.impl->report(e);
}

void onInfo(struct ::sip *stack, const sip_msg *msg, void *)
{
    (void)sip_treply(nullptr, stack, msg, 200, "OK");
}

void onClose(int err, const sip_msg *msg, void *arg)
{
    auto &l = *static_cast<LineCtx *>(arg);
    StackEvent e;
    e.kind = StackEvent::Kind::Ended;
    e.line = l.index;
    e.call = l.call;
    e.answered = l.answered;
    e.code = msg ? msg->scode : err;
    // The session has ended itself; it is released once its handler has returned.
    tmr_cancel(&l.txTimer);
    l.answered = false;
    tmr_start(&l.endTimer, 0, [](void *a) {
        auto &line = *static_cast<LineCtx *>(a);
        line.impl->endCall(line, false);
    }, &l);
    l.impl->report(e);
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
    if (dtmf_dec_alloc(&l.dtmf, 8000, 1, onInbandDigit, &l) != 0)
        return false;
    return true;
}

void onConnect(const sip_msg *msg, void *arg)
{
    auto &l = *static_cast<LineCtx *>(arg);
    if (l.sess) {
        (void)sip_treply(nullptr, l.sip, msg, 486, "Busy Here");
        return;
    }
    if (!setUpMedia(l)) {
        l.impl->endCall(l, false);
        (void)sip_treply(nullptr, l.sip, msg, 500, "Server Internal Error");
        return;
    }
    l.offerReceived = msg->mb && mbuf_get_left(msg->mb) > 0;
    if (l.offerReceived) {
        const std::size_t pos = msg->mb->pos;
        const int err = sdp_decode(l.sdp, msg->mb, true);
        msg->mb->pos = pos;
        if (err) {
            l.impl->endCall(l, false);
            (void)sip_treply(nullptr, l.sip, msg, 400, "Bad Session Description");
            return;
        }
        chooseFormats(l);
        if (l.pt < 0) {
            // RFC 3261 13.3.1.1: an offer we cannot accept.
            l.impl->endCall(l, false);
            (void)sip_treplyf(nullptr, nullptr, l.sip, msg, false, 488, "Not Acceptable Here",
                              "Warning: 304 telvox \"PCMU and PCMA only\"\r\nContent-Length: 0\r\n\r\n");
            return;
        }
    }
    l.call = l.impl->owner->newCall();
    {
        const std::lock_guard lock(l.impl->statsMutex);
        l.stats = {};
    }
    const int err = sipsess_accept(&l.sess, l.sock, msg, 180, "Ringing", l.setup.user.toUtf8().constData(),
                                   "application/sdp", nullptr, nullptr, nullptr, false, onOffer, onAnswer,
                                   onEstablished, onInfo, nullptr, onClose, &l,
                                   "Allow: INVITE, ACK, BYE, CANCEL, OPTIONS, INFO\r\n");
    if (err) {
        l.impl->endCall(l, false);
        (void)sip_treply(nullptr, l.sip, msg, 500, "Server Internal Error");
        return;
    }
    StackEvent e;
    e.kind = StackEvent::Kind::Incoming;
    e.line = l.index;
    e.call = l.call;
    e.caller = callerOf(*msg);
    l.impl->report(e);
}

void startMedia(LineCtx &l)
{
    l.answered = true;
    l.latched = false;
    l.media->rx.reset();
    l.media->clearSending();
    l.txStart = nowMicros();
    l.framesSent = 0;
    l.txTs = static_cast<std::uint32_t>(rand_u32());
    tmr_start(&l.txTimer, kTickMs, onTxTick, &l);
}

void answerCall(LineCtx &l)
{
    if (!l.sess || l.answered)
        return;
    mbuf *desc = nullptr;
    if (sdp_encode(&desc, l.sdp, !l.offerReceived) != 0)
        return;
    if (sipsess_answer(l.sess, 200, "OK", desc, nullptr) != 0) {
        mem_deref(desc);
        return;
    }
    mem_deref(desc);
    startMedia(l);
}

// --- calls we place --------------------------------------------------------------------------

int onAuth(char **user, char **password, const char *realm, void *arg);

void onProgress(const sip_msg *msg, void *arg)
{
    auto &l = *static_cast<LineCtx *>(arg);
    if (msg->scode != 180 && msg->scode != 183)
        return;
    StackEvent e;
    e.kind = StackEvent::Kind::Progress;
    e.line = l.index;
    e.call = l.call;
    e.code = msg->scode;
    l.impl->report(e);
}

void dialCall(LineCtx &l, std::uint64_t call, const QByteArray &target)
{
    const auto refuse = [&](int code) {
        StackEvent e;
        e.kind = StackEvent::Kind::Ended;
        e.line = l.index;
        e.call = call;
        e.code = code;
        l.impl->report(e);
    };
    if (l.sess || !setUpMedia(l)) {
        l.impl->endCall(l, false);
        refuse(l.sess ? 486 : 500);
        return;
    }
    // A SIP address as given; a bare number goes to the line's registrar (or its own host).
    std::string to = target.toStdString();
    if (to.rfind("sip:", 0) != 0 && to.rfind("sips:", 0) != 0) {
        if (to.find('@') == std::string::npos) {
            const QString host = l.setup.registrar.isEmpty() ? l.setup.listenAddress : l.setup.registrar;
            to += "@" + text(host);
        }
        to = "sip:" + to;
    }
    const std::string domain = l.setup.registrar.isEmpty() ? text(l.setup.listenAddress.section(QLatin1Char(':'), 0, 0))
                                                           : text(l.setup.registrar.section(QLatin1Char(':'), 0, 0));
    const std::string from = "sip:" + text(l.setup.user) + "@" + domain;
    const std::string proxy = l.setup.outboundProxy.isEmpty() ? std::string() : "sip:" + text(l.setup.outboundProxy) + ";lr";
    const char *routes[] = {proxy.c_str()};
    mbuf *desc = nullptr;
    int err = sdp_encode(&desc, l.sdp, true);
    l.call = call;
    l.outgoing = true;
    {
        const std::lock_guard lock(l.impl->statsMutex);
        l.stats = {};
    }
    if (!err)
        err = sipsess_connect(&l.sess, l.sock, to.c_str(), nullptr, from.c_str(), text(l.setup.user).c_str(),
                              proxy.empty() ? nullptr : routes, proxy.empty() ? 0 : 1, "application/sdp", desc, onAuth,
                              &l, false, onOffer, onAnswer, onProgress, onEstablished, onInfo, nullptr, onClose, &l,
                              "Allow: INVITE, ACK, BYE, CANCEL, OPTIONS, INFO\r\n");
    mem_deref(desc);
    if (err) {
        l.impl->endCall(l, false);
        refuse(err == EINVAL ? 484 : 500); // 484: an address that is not one
    }
}

// --- registration ---------------------------------------------------------------------------

void startRegistration(LineCtx &l);

int onAuth(char **user, char **password, const char *, void *arg)
{
    const auto &l = *static_cast<const LineCtx *>(arg);
    const QString name = l.setup.authUser.isEmpty() ? l.setup.user : l.setup.authUser;
    const int err = str_dup(user, name.toUtf8().constData());
    return err ? err : str_dup(password, l.setup.password.toUtf8().constData());
}

void onRegistration(int err, const sip_msg *msg, void *arg)
{
    auto &l = *static_cast<LineCtx *>(arg);
    StackEvent e;
    e.line = l.index;
    if (!err && msg && msg->scode >= 200 && msg->scode < 300) {
        e.kind = StackEvent::Kind::Registered;
        e.code = msg->scode;
        l.impl->report(e);
        return;
    }
    if (!err && msg && msg->scode < 200)
        return; // provisional
    e.kind = StackEvent::Kind::RegistrationFailed;
    if (err) {
        e.reason = QString::fromLocal8Bit(std::strerror(err));
    } else if (msg) {
        e.code = msg->scode;
        e.reason = QString::number(msg->scode) + QLatin1Char(' ')
            + QString::fromUtf8(msg->reason.p, static_cast<qsizetype>(msg->reason.l));
    }
    l.impl->report(e);
    // Our own retry, at the configured pace, rather than libre's growing back-off.
    tmr_start(&l.regRetry, static_cast<std::uint64_t>(std::max(1, l.setup.retrySeconds)) * 1000, [](void *a) {
        startRegistration(*static_cast<LineCtx *>(a));
    }, &l);
}

void startRegistration(LineCtx &l)
{
    l.reg = static_cast<sipreg *>(mem_deref(l.reg));
    const std::string transport = l.setup.transport.compare(QLatin1String("tcp"), Qt::CaseInsensitive) == 0
        ? ";transport=tcp"
        : "";
    const std::string registrar = "sip:" + text(l.setup.registrar) + transport;
    const std::string domain = text(l.setup.registrar.section(QLatin1Char(':'), 0, 0));
    const std::string aor = "sip:" + text(l.setup.user) + "@" + domain;
    const std::string proxy = l.setup.outboundProxy.isEmpty() ? std::string()
                                                              : "sip:" + text(l.setup.outboundProxy) + ";lr" + transport;
    const char *routes[] = {proxy.c_str()};
    const int err = sipreg_register(&l.reg, l.sip, registrar.c_str(), aor.c_str(), nullptr, aor.c_str(),
                                    static_cast<std::uint32_t>(l.setup.expiresSeconds), text(l.setup.user).c_str(),
                                    proxy.empty() ? nullptr : routes, proxy.empty() ? 0 : 1, 0, onAuth, &l, false,
                                    onRegistration, &l, nullptr, nullptr);
    if (err)
        onRegistration(err, nullptr, &l);
    else
        (void)sipreg_set_rwait(l.reg, 50); // refresh half-way: a lost registrar is noticed sooner
}

void onCommand(int id, void *data, void *arg)
{
    auto *impl = static_cast<SipStack::Impl *>(arg);
    std::unique_ptr<Command> cmd(static_cast<Command *>(data));
    if (id == Quit) {
        for (auto &l : impl->lines)
            impl->endCall(*l, true);
        re_cancel();
        return;
    }
    if (!cmd || cmd->line < 0 || cmd->line >= static_cast<int>(impl->lines.size()))
        return;
    LineCtx &l = *impl->lines[static_cast<std::size_t>(cmd->line)];
    if (id == Dial) {
        dialCall(l, cmd->call, cmd->digits);
        return;
    }
    if (l.call != cmd->call || !l.sess)
        return; // a call that has ended in the meantime
    switch (id) {
    case Answer:
        answerCall(l);
        break;
    case HangUp:
        // An unanswered call of ours is cancelled by releasing it; one offered to us is rejected.
        if (!l.answered && !l.outgoing)
            (void)sipsess_reject(l.sess, static_cast<std::uint16_t>(cmd->code),
                                 cmd->code == 486   ? "Busy Here"
                                 : cmd->code == 480 ? "Temporarily Unavailable"
                                                    : "Decline",
                                 nullptr);
        impl->endCall(l, true);
        break;
    case Digits:
        l.digitQueue += cmd->digits;
        l.toneMs = std::clamp(cmd->code, 40, 2000);
        l.digitsPending = true;
        break;
    default:
        break;
    }
}

} // namespace

void SipStack::Impl::endCall(LineCtx &l, bool sendBye)
{
    (void)sendBye; // dereferencing an established session sends its BYE; a terminated one does not
    tmr_cancel(&l.txTimer);
    tmr_cancel(&l.endTimer);
    l.sess = static_cast<sipsess *>(mem_deref(l.sess));
    l.rtp = static_cast<struct rtp_sock *>(mem_deref(l.rtp));
    l.audio = nullptr;
    l.sdp = static_cast<sdp_session *>(mem_deref(l.sdp));
    l.tel = static_cast<telev *>(mem_deref(l.tel));
    l.dtmf = static_cast<dtmf_dec *>(mem_deref(l.dtmf));
    l.inbandKey = 0;
    l.answered = false;
    l.outgoing = false;
    l.offerReceived = false;
    l.latched = false;
    l.pt = -1;
    l.televPt = -1;
    l.digitQueue.clear();
    l.digitCode = -1;
    l.digitsPending = false;
    l.rxEventOpen = false;
}

// --- the owner's side ---------------------------------------------------------------------

SipStack::SipStack(std::vector<SipLineSetup> lines, EventSink sink)
    : m_setup(std::move(lines))
    , m_sink(std::move(sink))
{
    for (const SipLineSetup &s : m_setup)
        m_media.push_back(std::make_unique<LineMedia>(static_cast<std::uint32_t>(std::clamp(s.jitterMs, 20, 500) * 8)));
}

SipStack::~SipStack() { stop(); }

QString SipStack::start()
{
    if (m_running)
        return {};
    static std::once_flag once;
    static int initResult = 0;
    std::call_once(once, [] { initResult = libre_init(); });
    if (initResult != 0)
        return QStringLiteral("libre: %1").arg(QString::fromLocal8Bit(std::strerror(initResult)));

    m_impl = std::make_unique<Impl>();
    m_impl->owner = this;
    std::promise<QString> ready;
    auto readyFuture = ready.get_future();
    m_impl->thread = std::thread([this, &ready] {
        Impl &impl = *m_impl;
        (void)re_thread_init();
        QString failure;
        if (mqueue_alloc(&impl.mq, onCommand, &impl) != 0)
            failure = QStringLiteral("message queue");
        for (std::size_t i = 0; failure.isEmpty() && i < m_setup.size(); ++i) {
            auto l = std::make_unique<LineCtx>();
            l->impl = &impl;
            l->index = static_cast<int>(i);
            l->setup = m_setup[i];
            l->media = m_media[i].get();
            tmr_init(&l->txTimer);
            tmr_init(&l->endTimer);
            tmr_init(&l->regRetry);
            LineCtx &line = *l;
            impl.lines.push_back(std::move(l));
            const QByteArray address = line.setup.listenAddress.toUtf8();
            if (address.isEmpty()) {
                // An account line: the address towards the network, a port of the system's choice.
                if (net_default_source_addr_get(AF_INET, &line.laddr) != 0)
                    (void)sa_set_str(&line.laddr, "127.0.0.1", 0);
                sa_set_port(&line.laddr, 0);
            } else if (sa_decode(&line.laddr, address.constData(), static_cast<std::size_t>(address.size())) != 0) {
                failure = QStringLiteral("%1: not an address").arg(line.setup.listenAddress);
                break;
            }
            if (!line.setup.registrar.isEmpty() && !impl.dns) {
                sa servers[4];
                std::uint32_t count = 4;
                char domain[64] = {};
                if (dns_srv_get(domain, sizeof domain, servers, &count) != 0 || count == 0) {
                    (void)sa_set_str(&servers[0], "127.0.0.1", 53);
                    count = 1;
                }
                (void)dnsc_alloc(&impl.dns, nullptr, servers, count);
            }
            const sip_transp tp = line.setup.transport.compare(QLatin1String("tcp"), Qt::CaseInsensitive) == 0
                ? SIP_TRANSP_TCP
                : SIP_TRANSP_UDP;
            int err = sip_alloc(&line.sip, impl.dns, 32, 32, 32, "Telvox", nullptr, nullptr);
            if (!err)
                err = sip_transp_add(line.sip, tp, &line.laddr);
            if (!err)
                err = sip_transp_laddr(line.sip, &line.laddr, tp, nullptr);
            if (!err)
                err = sipsess_listen(&line.sock, line.sip, 32, onConnect, &line);
            if (err) {
                failure = QStringLiteral("%1: %2").arg(line.setup.listenAddress, QString::fromLocal8Bit(std::strerror(err)));
                break;
            }
            char host[64] = {};
            (void)sa_ntop(&line.laddr, host, sizeof host);
            line.contact = "sip:" + text(line.setup.user) + "@" + host + ":" + std::to_string(sa_port(&line.laddr));
            if (!line.setup.registrar.isEmpty())
                startRegistration(line);
        }
        const bool ok = failure.isEmpty();
        ready.set_value(failure);
        if (ok)
            (void)re_main(nullptr);
        for (auto &l : impl.lines) {
            impl.endCall(*l, true);
            tmr_cancel(&l->txTimer);
            tmr_cancel(&l->regRetry);
            l->reg = static_cast<sipreg *>(mem_deref(l->reg));
            if (l->sock)
                sipsess_close_all(l->sock);
            l->sock = static_cast<sipsess_sock *>(mem_deref(l->sock));
            if (l->sip)
                sip_close(l->sip, true);
            l->sip = static_cast<struct ::sip *>(mem_deref(l->sip));
        }
        impl.mq = static_cast<mqueue *>(mem_deref(impl.mq));
        impl.dns = static_cast<dnsc *>(mem_deref(impl.dns));
        re_thread_close();
    });
    const QString failure = readyFuture.get();
    if (!failure.isEmpty()) {
        m_impl->thread.join();
        m_impl.reset();
        return failure;
    }
    m_running = true;
    return {};
}

void SipStack::stop()
{
    if (!m_impl)
        return;
    if (m_running) {
        m_running = false;
        (void)mqueue_push(m_impl->mq, Quit, nullptr);
    }
    if (m_impl->thread.joinable())
        m_impl->thread.join();
    m_impl.reset();
}

QByteArray SipStack::contactUri(int line) const
{
    if (!m_impl || !m_running || line < 0 || line >= static_cast<int>(m_impl->lines.size()))
        return {};
    return QByteArray::fromStdString(m_impl->lines[static_cast<std::size_t>(line)]->contact);
}

void SipStack::push(int kind, int line, std::uint64_t call, int code, const QByteArray &digits)
{
    if (!m_running || !m_impl)
        return;
    auto *cmd = new Command{line, call, code, digits};
    if (mqueue_push(m_impl->mq, kind, cmd) != 0)
        delete cmd;
}

void SipStack::answer(int line, std::uint64_t call) { push(Answer, line, call); }
void SipStack::dial(int line, std::uint64_t call, const QByteArray &target) { push(Dial, line, call, 0, target); }
void SipStack::hangUp(int line, std::uint64_t call, int code) { push(HangUp, line, call, code); }
void SipStack::sendDigits(int line, std::uint64_t call, const QByteArray &digits, int toneMs)
{
    push(Digits, line, call, toneMs, digits);
}

SipStack::CallStats SipStack::stats(int line) const
{
    if (!m_impl || line < 0 || line >= static_cast<int>(m_impl->lines.size()))
        return {};
    const std::lock_guard lock(m_impl->statsMutex);
    return m_impl->lines[static_cast<std::size_t>(line)]->stats;
}

} // namespace telvox::sip
