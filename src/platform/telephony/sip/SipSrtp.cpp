// SRTP with keys exchanged in the session description (SDES, RFC 4568), through libre's SRTP:
// the crypto attributes we offer and answer with, and the encryption of a call's RTP socket
// (every packet out is encrypted, every packet in must decrypt and authenticate, else it is
// dropped as a stranger's).
#include "platform/telephony/sip/SipStackParts.h"

#include <QByteArray>
#include <QList>

#include <cstring>

namespace telvox::sip::stack {

namespace {

constexpr std::size_t kKeyAndSalt = 30; // AES-128 key and 112-bit salt
constexpr int kHelperLayer = 20;

struct Suite
{
    const char *name;
    srtp_suite suite;
};
constexpr Suite kSuites[] = {{"AES_CM_128_HMAC_SHA1_80", SRTP_AES_CM_128_HMAC_SHA1_80},
                             {"AES_CM_128_HMAC_SHA1_32", SRTP_AES_CM_128_HMAC_SHA1_32}};

bool onSend(int *err, sa *, mbuf *mb, void *arg)
{
    auto &l = *static_cast<LineCtx *>(arg);
    if (l.srtpTx)
        *err = srtp_encrypt(l.srtpTx, mb);
    return false;
}

bool onReceive(sa *src, mbuf *mb, void *arg)
{
    auto &l = *static_cast<LineCtx *>(arg);
    if (!l.srtpRx)
        return false;
    // Not decrypting and authenticating with the far end's key: not the far end's packet.
    if (srtp_decrypt(l.srtpRx, mb) != 0) {
        strangerPacket(l, *src);
        return true;
    }
    return false;
}

std::string base64(const std::uint8_t *data, std::size_t size)
{
    char out[64] = {};
    std::size_t length = sizeof out;
    if (base64_encode(data, size, out, &length) != 0)
        return {};
    return std::string(out, length);
}

// One crypto attribute of the far end: "1 AES_CM_128_HMAC_SHA1_80 inline:KEY[|lifetime][|MKI:n]".
struct Offered
{
    QByteArray tag;
    const Suite *suite = nullptr;
    QByteArray key;
};

Offered parseCrypto(const char *value)
{
    Offered o;
    const QList<QByteArray> parts = QByteArray(value).simplified().split(' ');
    if (parts.size() < 3 || !parts[2].startsWith("inline:"))
        return o;
    for (const Suite &s : kSuites) {
        if (parts[1] == s.name)
            o.suite = &s;
    }
    const QByteArray encoded = parts[2].mid(7).split('|').first();
    std::uint8_t key[64] = {};
    std::size_t length = sizeof key;
    if (!o.suite || base64_decode(encoded.constData(), static_cast<std::size_t>(encoded.size()), key, &length) != 0
        || length != kKeyAndSalt) {
        o.suite = nullptr;
        return o;
    }
    o.tag = parts[0];
    o.key = QByteArray(reinterpret_cast<const char *>(key), qsizetype(length));
    return o;
}

// The first crypto attribute we can use (the far end's order is its preference).
bool takeFirstUsable(const char *, const char *value, void *arg)
{
    Offered o = parseCrypto(value);
    if (!o.suite)
        return false;
    *static_cast<Offered *>(arg) = o;
    return true;
}

bool startEncryption(LineCtx &l, srtp_suite suite, const std::uint8_t *rxKey)
{
    if (srtp_alloc(&l.srtpTx, suite, l.srtpKey, kKeyAndSalt, 0) != 0
        || srtp_alloc(&l.srtpRx, suite, rxKey, kKeyAndSalt, 0) != 0)
        return false;
    if (!l.srtpHelper
        && udp_register_helper(&l.srtpHelper, static_cast<udp_sock *>(rtp_sock(l.rtp)), kHelperLayer, onSend, onReceive,
                               &l)
            != 0)
        return false;
    l.secure = true;
    const std::lock_guard lock(l.impl->statsMutex);
    l.stats.encrypted = true;
    return true;
}

} // namespace

bool offersSrtp(const SipLineSetup &s) { return s.srtp == SipLineSetup::Srtp::Required; }

void addOurCrypto(LineCtx &l)
{
    // Our key, the same for an offer and an answer. An offer of ours carries it with tag 1:
    // under the encrypted profile when the line requires SRTP, under the plain one when it
    // merely takes SRTP (a far end without SRTP ignores the attribute and answers plain). An
    // answer carries it with the tag of the far end's attribute, or not at all (see below).
    rand_bytes(l.srtpKey, kKeyAndSalt);
    if (l.setup.srtp == SipLineSetup::Srtp::Off)
        return;
    (void)sdp_media_set_lattr(l.audio, true, "crypto", "1 %s inline:%s", kSuites[0].name,
                              base64(l.srtpKey, kKeyAndSalt).c_str());
}

// The far end's description is known (its offer, or its answer to ours): decides whether the
// media is encrypted, and with which key. False when the line's option cannot be met.
bool negotiateCrypto(LineCtx &l, bool theirOffer)
{
    const bool secureProfile = std::strstr(sdp_media_proto(l.audio), "SAVP") != nullptr;
    Offered chosen;
    (void)sdp_media_rattr_apply(l.audio, "crypto", takeFirstUsable, &chosen);
    const bool wanted = l.setup.srtp != SipLineSetup::Srtp::Off;
    if (!chosen.suite || !wanted) {
        // Plain RTP: only where the line allows it and the far end's profile is not a secure
        // one; an answer of ours then says nothing of keys.
        if (theirOffer)
            sdp_media_del_lattr(l.audio, "crypto");
        return !secureProfile && l.setup.srtp != SipLineSetup::Srtp::Required;
    }
    if (theirOffer)
        (void)sdp_media_set_lattr(l.audio, true, "crypto", "%s %s inline:%s", chosen.tag.constData(),
                                  chosen.suite->name, base64(l.srtpKey, kKeyAndSalt).c_str());
    return startEncryption(l, chosen.suite->suite, reinterpret_cast<const std::uint8_t *>(chosen.key.constData()));
}

void stopEncryption(LineCtx &l)
{
    l.srtpHelper = static_cast<udp_helper *>(mem_deref(l.srtpHelper));
    l.srtpTx = static_cast<srtp *>(mem_deref(l.srtpTx));
    l.srtpRx = static_cast<srtp *>(mem_deref(l.srtpRx));
    l.secure = false;
}

} // namespace telvox::sip::stack
