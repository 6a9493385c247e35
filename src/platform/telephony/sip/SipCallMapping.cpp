#include "platform/telephony/sip/SipCallMapping.h"

extern "C" {
#include <re.h>
}

#include <QList>

#include <algorithm>
#include <string>

namespace telvox::sip {

namespace {

constexpr int kMaxNumber = 32;
constexpr int kMaxName = 64;

std::string_view view(const pl &p) { return p.p && p.l ? std::string_view(p.p, p.l) : std::string_view(); }

bool numberChar(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '+' || c == '*'
        || c == '#' || c == '.' || c == '-' || c == '_';
}

// The user part up to its parameters, with %XX escapes resolved, reduced to characters that
// are safe in a file name.
QByteArray safeNumber(std::string_view user)
{
    user = user.substr(0, user.find(';'));
    QByteArray out;
    const QByteArray decoded = QByteArray::fromPercentEncoding(QByteArray(user.data(), qsizetype(user.size())));
    for (const char c : decoded) {
        if (numberChar(c))
            out.append(c);
        if (out.size() >= kMaxNumber)
            break;
    }
    return out;
}

QByteArray unquotedName(std::string_view name)
{
    while (!name.empty() && (name.front() == ' ' || name.front() == '\t'))
        name.remove_prefix(1);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
        name.remove_suffix(1);
    // Quoted or not (libre hands it over without its quotes), a quoted pair stands for its
    // second character; a token name cannot hold a backslash.
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
        name = name.substr(1, name.size() - 2);
    QByteArray out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 1 < name.size())
            ++i;
        out.append(name[i]);
    }
    // Control characters have no place in a list or a log line.
    for (char &c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    }
    // At most kMaxName bytes, never ending inside a UTF-8 sequence.
    qsizetype size = std::min<qsizetype>(out.size(), kMaxName);
    if (size < out.size()) {
        while (size > 0 && (static_cast<unsigned char>(out[size]) & 0xC0) == 0x80)
            --size;
    }
    return out.left(size).trimmed();
}

CallerIdentity identityOf(const sip_addr &addr)
{
    CallerIdentity id;
    id.name = unquotedName(view(addr.dname));
    const std::string_view scheme = view(addr.uri.scheme);
    std::string_view user = view(addr.uri.user);
    // A tel: URI carries the number where a SIP URI has its host.
    if (user.empty() && (scheme == "tel" || scheme == "tel:"))
        user = view(addr.uri.host);
    id.number = safeNumber(user);
    const std::string_view host = view(addr.uri.host);
    const QByteArray lowerUser = QByteArray(user.data(), qsizetype(user.size())).toLower();
    if (lowerUser == "anonymous" || host == "anonymous.invalid") {
        id.withheld = true;
        id.number.clear();
    }
    if (id.name.compare("anonymous", Qt::CaseInsensitive) == 0)
        id.name.clear();
    return id;
}

} // namespace

CallerIdentity callerFromAddress(std::string_view address)
{
    pl text{address.data(), address.size()};
    sip_addr addr{};
    if (address.empty() || sip_addr_decode(&addr, &text) != 0) {
        // Not a name-addr libre accepts: perhaps a bare URI ("tel:+4930123").
        if (address.substr(0, 4) == "tel:") {
            CallerIdentity id;
            id.number = safeNumber(address.substr(4));
            return id;
        }
        return {};
    }
    return identityOf(addr);
}

CallerIdentity callerOf(const sip_msg &invite)
{
    if (const sip_hdr *pai = sip_msg_xhdr(&invite, "P-Asserted-Identity")) {
        const std::string_view value = view(pai->val);
        // The first identity of the list (a SIP URI, possibly followed by a tel: URI).
        const CallerIdentity asserted = callerFromAddress(value.substr(0, value.find(',')));
        if (!asserted.number.isEmpty() || asserted.withheld) {
            CallerIdentity id = asserted;
            if (id.name.isEmpty() && !id.withheld)
                id.name = unquotedName(view(invite.from.dname));
            return id;
        }
    }
    sip_addr from{};
    from.dname = invite.from.dname;
    from.auri = invite.from.auri;
    from.uri = invite.from.uri;
    return identityOf(from);
}

SipSignal signalOf(const sip_msg &msg)
{
    if (msg.req) {
        const std::string_view method = view(msg.met);
        if (method == "INVITE")
            return SipSignal::Invite;
        if (method == "ACK")
            return SipSignal::Ack;
        if (method == "BYE")
            return SipSignal::Bye;
        if (method == "CANCEL")
            return SipSignal::Cancel;
        return SipSignal::None;
    }
    if (view(msg.cseq.met) != "INVITE")
        return SipSignal::None;
    if (msg.scode == 180 || msg.scode == 183)
        return SipSignal::Ringing;
    if (msg.scode >= 200 && msg.scode < 300)
        return SipSignal::Answered;
    if (msg.scode >= 300 && msg.scode < 700)
        return SipSignal::Rejected;
    return SipSignal::None;
}

bool completedElsewhere(const sip_msg &cancel)
{
    bool elsewhere = false;
    (void)sip_msg_xhdr_apply(&cancel, true, "Reason", [](const sip_hdr *hdr, const sip_msg *, void *arg) {
        // "SIP ;cause=200 ;text=\"Call completed elsewhere\"" (a Q.850 reason may come too)
        const QByteArray value = QByteArray(hdr->val.p, qsizetype(hdr->val.l)).toLower();
        const QByteArray protocol = value.left(value.indexOf(';')).trimmed();
        QByteArray cause;
        for (const QByteArray &param : value.split(';')) {
            if (param.trimmed().startsWith("cause="))
                cause = param.trimmed().mid(6).trimmed();
        }
        if ((protocol == "sip" && cause == "200") || value.contains("completed elsewhere"))
            *static_cast<bool *>(arg) = true;
        return *static_cast<bool *>(arg);
    }, &elsewhere);
    return elsewhere;
}

MappedMessage mapRawMessage(const QByteArray &bytes)
{
    MappedMessage out;
    mbuf *mb = mbuf_alloc(static_cast<std::size_t>(bytes.size()) + 1);
    if (!mb)
        return out;
    (void)mbuf_write_mem(mb, reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                         static_cast<std::size_t>(bytes.size()));
    mb->pos = 0;
    sip_msg *msg = nullptr;
    if (sip_msg_decode(&msg, mb) == 0 && msg) {
        out.parsed = true;
        out.signal = signalOf(*msg);
        out.callId = QByteArray(msg->callid.p, qsizetype(msg->callid.l));
        if (out.signal == SipSignal::Invite)
            out.caller = callerOf(*msg);
        if (out.signal == SipSignal::Cancel)
            out.completedElsewhere = completedElsewhere(*msg);
    }
    mem_deref(msg);
    mem_deref(mb);
    return out;
}

} // namespace telvox::sip
