#pragma once

// The inside of the SIP stack's thread, shared by its source files: SipStack.cpp (the thread
// and the commands from the owner), SipCalls.cpp (sessions offered and placed),
// SipMedia.cpp (RTP, G.711, touch tones) and SipRegistration.cpp. Everything here runs on the
// stack's thread only.
#include "platform/telephony/sip/SipPeers.h"
#include "platform/telephony/sip/SipStack.h"

#include <re.h>
#include <rem.h>

#include <chrono>
#include <string>
#include <thread>

struct g722_encode_state_s;
struct g722_decode_state_s;

namespace telvox::sip {

struct LineCtx
{
    SipStack::Impl *impl = nullptr;
    int index = 0;
    SipLineSetup setup;
    LineMedia *media = nullptr;

    struct ::sip *sip = nullptr;
    sipsess_sock *sock = nullptr;
    sipreg *reg = nullptr;
    tls *tlsContext = nullptr;
    QString certificateRefused; // why OpenSSL last refused the far end's certificate
    tmr regRetry{};
    sa laddr{};
    std::string contact;
    // Who may offer calls: on an account line the registrar's and proxy's addresses (as
    // configured, and wherever its answers came from); on a direct line `allowFrom`.
    std::vector<sa> trusted;
    PeerFilter allowFrom;
    std::int64_t lastRefusedReport = 0;
    std::deque<std::int64_t> busyReports; // when callers were last refused as busy

    // The call in progress (one per line).
    sipsess *sess = nullptr;
    struct rtp_sock *rtp = nullptr;
    sdp_session *sdp = nullptr;
    sdp_media *audio = nullptr;
    telev *tel = nullptr;
    std::uint64_t call = 0;
    std::string callId;       // of the call offered to us
    bool completedElsewhere = false; // its CANCEL said another phone took it (RFC 3326)
    bool offerReceived = false;
    bool outgoing = false;
    bool answered = false;    // media flows (for a call we placed: perhaps early media)
    bool earlyMedia = false;  // a call we placed plays the far end's audio before its 200 OK
    bool latched = false;
    sa signalled{};          // the media address of the far end's session description
    bool signalledSeen = false; // a packet came from exactly that address and port
    std::int64_t lastStrangerReport = 0;
    bool eventsReceived = false; // the far end has sent a telephone event in this call
    sa remote{};
    int pt = -1;      // 0 PCMU or 8 PCMA: what we send
    int televPt = -1; // the far end's telephone-event payload type; -1: none
    tmr txTimer{};
    tmr endTimer{};
    std::int64_t txStart = 0;
    std::uint64_t framesSent = 0;
    std::uint32_t txTs = 0;
    std::uint32_t televTs = 0;
    // Digits to send: as RFC 4733 events when the far end takes them, and always in the audio.
    QByteArray digitQueue;
    int toneMs = 100;
    int digitCode = -1;
    char inbandKey = 0; // the key sounding in the audio we send
    double inbandLow = 0, inbandHigh = 0;
    std::uint64_t inbandPhase = 0;
    std::int64_t ownToneUntil = 0; // in-band detection is deaf to our own tone until then
    dtmf_dec *dtmf = nullptr;      // in-band detection until the far end sends a telephone event
    g722_encode_state_s *g722enc = nullptr; // G.722 calls (spandsp), made on first use
    g722_decode_state_s *g722dec = nullptr;
    // SRTP (SipSrtp.cpp): our key, the two directions' contexts, the socket's helper.
    std::uint8_t srtpKey[30] = {};
    struct ::srtp *srtpTx = nullptr;
    struct ::srtp *srtpRx = nullptr;
    udp_helper *srtpHelper = nullptr;
    bool secure = false; // every packet in has been authenticated
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
    std::vector<sa> ownAddresses; // this host's interface addresses, read when the stack starts
    mutable std::mutex statsMutex;

    void report(const StackEvent &e) { owner->m_sink(e); }
    void endCall(LineCtx &l);
};

namespace stack {

inline constexpr const char *kAllow = "Allow: INVITE, ACK, BYE, CANCEL, OPTIONS, INFO\r\n";

inline std::int64_t nowMicros()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

inline std::string text(const QString &s) { return s.toStdString(); }

// An event about the line's current call.
inline StackEvent eventOf(const LineCtx &l, StackEvent::Kind kind)
{
    StackEvent e;
    e.kind = kind;
    e.line = l.index;
    e.call = l.call;
    return e;
}

inline bool overTls(const SipLineSetup &s) { return s.transport.compare(QLatin1String("tls"), Qt::CaseInsensitive) == 0; }
inline bool overTcp(const SipLineSetup &s) { return s.transport.compare(QLatin1String("tcp"), Qt::CaseInsensitive) == 0; }
// ";transport=tcp" for a URI of the line's registrar or proxy; empty for UDP.
std::string transportParam(const SipLineSetup &s);

void resetStats(LineCtx &l);

// SipMedia.cpp
bool setUpMedia(LineCtx &l);
void chooseFormats(LineCtx &l);
void startMedia(LineCtx &l);
void queueDigits(LineCtx &l, const QByteArray &digits, int toneMs);
void releaseCodecs(LineCtx &l);
// A packet not from the far end: dropped, counted, and told now and then.
void strangerPacket(LineCtx &l, const sa &src);

// SipSrtp.cpp
bool offersSrtp(const SipLineSetup &s);
void addOurCrypto(LineCtx &l);
bool negotiateCrypto(LineCtx &l, bool theirOffer);
void stopEncryption(LineCtx &l);

// Whether two addresses are the same host (the port not compared).
bool sameHost(const sa &a, const sa &b);
// Whether `src` is `signalled` (address and port), counting a packet from a loopback address
// as coming from any of this host's own addresses (a peer on this machine may announce its
// network address and send through loopback).
bool sameEndpoint(const SipStack::Impl &impl, const sa &src, const sa &signalled);
QByteArray addressText(const sa &a, bool withPort = false);

// SipCalls.cpp
void onConnect(const sip_msg *msg, void *arg);
void onSipTrace(bool tx, enum sip_transp tp, const sa *src, const sa *dst, const std::uint8_t *pkt, std::size_t len,
                void *arg);
void answerCall(LineCtx &l);
void hangUpCall(LineCtx &l, int code);
void dialCall(LineCtx &l, std::uint64_t call, const QByteArray &target);

// SipRegistration.cpp
int onAuth(char **user, char **password, const char *realm, void *arg);
void startRegistration(LineCtx &l);
void trust(LineCtx &l, const sa &address);

} // namespace stack

} // namespace telvox::sip
