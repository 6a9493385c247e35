// The calls of a SIP line, on the stack's thread: INVITEs offered to us (ringing, answered,
// given up, taken by another phone) and the calls we place (ringing, early media, answered,
// refused).
#include "platform/telephony/sip/SipStackParts.h"

#include <algorithm>
#include <cstring>

namespace telvox::sip {

void SipStack::Impl::endCall(LineCtx &l)
{
    // Dereferencing an established session sends its BYE; a terminated one sends nothing.
    tmr_cancel(&l.txTimer);
    tmr_cancel(&l.endTimer);
    l.sess = static_cast<sipsess *>(mem_deref(l.sess));
    stack::stopEncryption(l);
    l.rtp = static_cast<struct rtp_sock *>(mem_deref(l.rtp));
    l.audio = nullptr;
    l.sdp = static_cast<sdp_session *>(mem_deref(l.sdp));
    l.tel = static_cast<telev *>(mem_deref(l.tel));
    l.dtmf = static_cast<dtmf_dec *>(mem_deref(l.dtmf));
    stack::releaseCodecs(l);
    l.callId.clear();
    l.completedElsewhere = false;
    l.inbandKey = 0;
    l.ownToneUntil = 0;
    l.answered = false;
    l.earlyMedia = false;
    l.eventsReceived = false;
    l.outgoing = false;
    l.offerReceived = false;
    l.latched = false;
    l.signalled = sa{};
    l.signalledSeen = false;
    l.lastStrangerReport = 0;
    l.pt = -1;
    l.televPt = -1;
    l.digitQueue.clear();
    l.digitCode = -1;
    l.digitsPending = false;
    l.rxEventOpen = false;
}

namespace stack {

namespace {

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
    return sdp_encode(descp, l.sdp, false);
}

int onAnswer(const sip_msg *msg, void *arg)
{
    // The answer to our offer: in the 200 OK to our INVITE, or in the ACK to our 200 OK.
    auto &l = *static_cast<LineCtx *>(arg);
    if (!l.sdp || !msg->mb)
        return EINVAL;
    const int err = sdp_decode(l.sdp, msg->mb, false);
    if (err)
        return err;
    chooseFormats(l);
    if (!l.secure && !negotiateCrypto(l, false))
        return EPROTO; // plain media where the line requires SRTP, or the other way round
    return 0;
}

void onEstablished(const sip_msg *, void *arg)
{
    auto &l = *static_cast<LineCtx *>(arg);
    if (l.outgoing) {
        // The 200 OK to our INVITE: the called party answered (after early media, perhaps).
        l.earlyMedia = false;
        startMedia(l);
    }
    l.impl->report(eventOf(l, StackEvent::Kind::Established));
}

void onInfo(struct ::sip *stack, const sip_msg *msg, void *) { (void)sip_treply(nullptr, stack, msg, 200, "OK"); }

void onClose(int err, const sip_msg *msg, void *arg)
{
    auto &l = *static_cast<LineCtx *>(arg);
    StackEvent e = eventOf(l, StackEvent::Kind::Ended);
    e.answered = l.answered && !l.earlyMedia;
    e.code = msg ? msg->scode : err;
    // A CANCEL saying the call was completed elsewhere: another phone of the group took it.
    e.elsewhere = !l.outgoing && !l.answered
        && (l.completedElsewhere || (msg && msg->req && completedElsewhere(*msg)));
    // The session has ended itself; it is released once its handler has returned.
    tmr_cancel(&l.txTimer);
    l.answered = false;
    tmr_start(&l.endTimer, 0, [](void *a) {
        auto &line = *static_cast<LineCtx *>(a);
        line.impl->endCall(line);
    }, &l);
    l.impl->report(e);
}

void onProgress(const sip_msg *msg, void *arg)
{
    auto &l = *static_cast<LineCtx *>(arg);
    if (msg->scode != 180 && msg->scode != 183)
        return;
    // Early media: a provisional answer with a media description. Its audio (ring-back, an
    // announcement) goes into the line at once, for the call flow to judge as on an analog line.
    if (!l.answered && msg->mb && mbuf_get_left(msg->mb) > 0) {
        const std::size_t pos = msg->mb->pos;
        const int err = sdp_decode(l.sdp, msg->mb, false);
        msg->mb->pos = pos;
        if (!err) {
            chooseFormats(l);
            l.earlyMedia = l.pt >= 0 && (l.secure || negotiateCrypto(l, false));
            if (l.earlyMedia)
                startMedia(l);
        }
    }
    StackEvent e = eventOf(l, StackEvent::Kind::Progress);
    e.code = msg->scode;
    e.earlyMedia = l.earlyMedia;
    l.impl->report(e);
}

void refuse(LineCtx &l, const sip_msg *msg, std::uint16_t code, const char *reason)
{
    l.impl->endCall(l);
    (void)sip_treply(nullptr, l.sip, msg, code, reason);
}

} // namespace

// Every message the line receives passes here before libre handles it. libre ends a session
// whose INVITE was cancelled without handing the CANCEL over, so its Reason header is read here.
void onSipTrace(bool tx, enum sip_transp, const sa *, const sa *, const std::uint8_t *pkt, std::size_t len, void *arg)
{
    auto *l = static_cast<LineCtx *>(arg);
    if (tx || !l || l->callId.empty() || len < 7 || std::memcmp(pkt, "CANCEL ", 7) != 0)
        return;
    const MappedMessage cancel = mapRawMessage(QByteArray(reinterpret_cast<const char *>(pkt), qsizetype(len)));
    if (cancel.signal == SipSignal::Cancel && cancel.callId.toStdString() == l->callId)
        l->completedElsewhere = cancel.completedElsewhere;
}

namespace {

constexpr int kRefusedReportMs = 5000; // the day log hears of turned-away INVITEs this often at most
constexpr std::size_t kBusyReports = 5;

// Turns an INVITE away (without touching the call on the line) and tells the owner, which
// logs it: always for a caller refused as busy, at most every few seconds for the rest (a
// flood of strangers' INVITEs must not flood the day log).
void turnAway(LineCtx &l, const sip_msg *msg, std::uint16_t code, const char *reason)
{
    (void)sip_treply(nullptr, l.sip, msg, code, reason);
    const std::int64_t now = nowMicros();
    if (code != 486 && l.lastRefusedReport != 0 && now - l.lastRefusedReport < std::int64_t(kRefusedReportMs) * 1000)
        return;
    if (code != 486)
        l.lastRefusedReport = now;
    // Callers refused as busy are all told, but a flood of INVITEs must not push the real
    // callers out of the call records: at most kBusyReports in kRefusedReportMs.
    while (!l.busyReports.empty() && now - l.busyReports.front() >= std::int64_t(kRefusedReportMs) * 1000)
        l.busyReports.pop_front();
    if (code == 486 && l.busyReports.size() >= kBusyReports)
        return;
    if (code == 486)
        l.busyReports.push_back(now);
    StackEvent e;
    e.kind = StackEvent::Kind::Refused;
    e.line = l.index;
    e.code = code;
    e.caller = callerOf(*msg);
    e.reason = QString::fromLatin1(addressText(msg->src, true));
    l.impl->report(e);
}

// Whether the INVITE comes from where this line takes calls from: an account line from its
// registrar or outbound proxy, and for its own user; a direct line from the hosts allowed.
bool fromTheRightPlace(const LineCtx &l, const sip_msg &msg)
{
    if (l.setup.registrar.isEmpty())
        return l.allowFrom.allows(addressText(msg.src));
    const bool trusted = std::any_of(l.trusted.begin(), l.trusted.end(),
                                     [&](const sa &t) { return sameHost(t, msg.src); });
    const std::string user(msg.uri.user.p ? msg.uri.user.p : "", msg.uri.user.l);
    return trusted && user == text(l.setup.user);
}

} // namespace

void onConnect(const sip_msg *msg, void *arg)
{
    auto &l = *static_cast<LineCtx *>(arg);
    if (!fromTheRightPlace(l, *msg))
        return turnAway(l, msg, 403, "Forbidden");
    if (l.sess)
        return turnAway(l, msg, 486, "Busy Here");
    if (!setUpMedia(l))
        return refuse(l, msg, 500, "Server Internal Error");
    l.offerReceived = msg->mb && mbuf_get_left(msg->mb) > 0;
    if (l.offerReceived) {
        const std::size_t pos = msg->mb->pos;
        const int err = sdp_decode(l.sdp, msg->mb, true);
        msg->mb->pos = pos;
        if (err)
            return refuse(l, msg, 400, "Bad Session Description");
        chooseFormats(l);
        if (l.pt < 0) {
            // RFC 3261 13.3.1.1: an offer we cannot accept.
            l.impl->endCall(l);
            (void)sip_treplyf(nullptr, nullptr, l.sip, msg, false, 488, "Not Acceptable Here",
                              "Warning: 304 telvox \"PCMU, PCMA and G722 only\"\r\nContent-Length: 0\r\n\r\n");
            return;
        }
        if (!negotiateCrypto(l, true)) {
            l.impl->endCall(l);
            (void)sip_treplyf(nullptr, nullptr, l.sip, msg, false, 488, "Not Acceptable Here", "%s",
                              l.setup.srtp == SipLineSetup::Srtp::Required
                                  ? "Warning: 304 telvox \"SRTP required\"\r\nContent-Length: 0\r\n\r\n"
                                  : "Warning: 304 telvox \"SRTP not accepted\"\r\nContent-Length: 0\r\n\r\n");
            return;
        }
    }
    l.call = l.impl->owner->newCall();
    resetStats(l);
    const int err = sipsess_accept(&l.sess, l.sock, msg, 180, "Ringing", l.setup.user.toUtf8().constData(),
                                   "application/sdp", nullptr, nullptr, nullptr, false, onOffer, onAnswer,
                                   onEstablished, onInfo, nullptr, onClose, &l, kAllow);
    if (err)
        return refuse(l, msg, 500, "Server Internal Error");
    l.callId.assign(msg->callid.p, msg->callid.l);
    StackEvent e = eventOf(l, StackEvent::Kind::Incoming);
    e.caller = callerOf(*msg);
    l.impl->report(e);
}

void answerCall(LineCtx &l)
{
    if (!l.sess || l.answered)
        return;
    mbuf *desc = nullptr;
    if (sdp_encode(&desc, l.sdp, !l.offerReceived) != 0)
        return;
    const int err = sipsess_answer(l.sess, 200, "OK", desc, nullptr);
    mem_deref(desc);
    if (!err)
        startMedia(l);
}

void hangUpCall(LineCtx &l, int code)
{
    // An unanswered call of ours is cancelled by releasing it; one offered to us is rejected.
    if (!l.answered && !l.outgoing)
        (void)sipsess_reject(l.sess, static_cast<std::uint16_t>(code),
                             code == 486   ? "Busy Here"
                             : code == 480 ? "Temporarily Unavailable"
                                           : "Decline",
                             nullptr);
    l.impl->endCall(l);
}

void dialCall(LineCtx &l, std::uint64_t call, const QByteArray &target)
{
    const auto fail = [&](int code) {
        if (code != 486) // a call already on the line stays
            l.impl->endCall(l);
        StackEvent e = eventOf(l, StackEvent::Kind::Ended);
        e.call = call;
        e.code = code;
        l.impl->report(e);
    };
    if (l.sess)
        return fail(486);
    if (!setUpMedia(l))
        return fail(500);
    // A SIP address as given; a bare number goes to the line's registrar (or its own host).
    const QString host = l.setup.registrar.isEmpty() ? l.setup.listenAddress : l.setup.registrar;
    std::string to = target.toStdString();
    if (to.rfind("sip:", 0) != 0 && to.rfind("sips:", 0) != 0) {
        if (to.find('@') == std::string::npos)
            to += "@" + text(host) + transportParam(l.setup);
        to = "sip:" + to;
    }
    const std::string from = "sip:" + text(l.setup.user) + "@" + text(host.section(QLatin1Char(':'), 0, 0));
    const std::string proxy = l.setup.outboundProxy.isEmpty()
        ? std::string()
        : "sip:" + text(l.setup.outboundProxy) + ";lr" + transportParam(l.setup);
    const char *routes[] = {proxy.c_str()};
    mbuf *desc = nullptr;
    int err = sdp_encode(&desc, l.sdp, true);
    l.call = call;
    l.outgoing = true;
    resetStats(l);
    if (!err)
        err = sipsess_connect(&l.sess, l.sock, to.c_str(), nullptr, from.c_str(), text(l.setup.user).c_str(),
                              proxy.empty() ? nullptr : routes, proxy.empty() ? 0 : 1, "application/sdp", desc, onAuth,
                              &l, false, onOffer, onAnswer, onProgress, onEstablished, onInfo, nullptr, onClose, &l,
                              kAllow);
    mem_deref(desc);
    if (err)
        fail(err == EINVAL ? 484 : 500); // 484: an address that is not one
}

} // namespace stack
} // namespace telvox::sip
