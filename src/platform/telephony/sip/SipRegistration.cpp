// A SIP line's registration at its registrar, on the stack's thread: digest authentication,
// refreshes half-way through the interval, and our own retry pace after a failure.
#include "platform/telephony/sip/SipStackParts.h"

#include <algorithm>
#include <cstring>

namespace telvox::sip::stack {

std::string transportParam(const SipLineSetup &s)
{
    return overTls(s) ? ";transport=tls" : overTcp(s) ? ";transport=tcp" : "";
}

int onAuth(char **user, char **password, const char *, void *arg)
{
    const auto &l = *static_cast<const LineCtx *>(arg);
    const QString name = l.setup.authUser.isEmpty() ? l.setup.user : l.setup.authUser;
    const int err = str_dup(user, name.toUtf8().constData());
    return err ? err : str_dup(password, l.setup.password.toUtf8().constData());
}

void trust(LineCtx &l, const sa &address)
{
    if (std::none_of(l.trusted.begin(), l.trusted.end(), [&](const sa &t) { return sameHost(t, address); }))
        l.trusted.push_back(address);
}

namespace {

void onRegistration(int err, const sip_msg *msg, void *arg)
{
    auto &l = *static_cast<LineCtx *>(arg);
    StackEvent e;
    e.line = l.index;
    if (!err && msg && msg->scode >= 200 && msg->scode < 300) {
        // The registrar (or the proxy in front of it) answered from here: calls come from here.
        trust(l, msg->src);
        e.kind = StackEvent::Kind::Registered;
        e.code = msg->scode;
        l.impl->report(e);
        return;
    }
    if (!err && msg && msg->scode < 200)
        return; // provisional
    e.kind = StackEvent::Kind::RegistrationFailed;
    if (err && !l.certificateRefused.isEmpty()) {
        // The connection to the registrar (or proxy) went because its certificate failed our
        // check: a different name, an authority we do not trust, an expired certificate.
        e.certificate = true;
        e.reason = l.certificateRefused;
    } else if (err) {
        e.reason = QString::fromLocal8Bit(std::strerror(err));
    } else if (msg) {
        e.code = msg->scode;
        e.reason = QString::number(msg->scode) + QLatin1Char(' ')
            + QString::fromUtf8(msg->reason.p, static_cast<qsizetype>(msg->reason.l));
    }
    l.impl->report(e);
    // Our own retry, at the configured pace, rather than libre's growing back-off.
    tmr_start(&l.regRetry, static_cast<std::uint64_t>(std::max(1, l.setup.retrySeconds)) * 1000,
              [](void *a) { startRegistration(*static_cast<LineCtx *>(a)); }, &l);
}

} // namespace

void startRegistration(LineCtx &l)
{
    l.reg = static_cast<sipreg *>(mem_deref(l.reg));
    l.certificateRefused.clear();
    const std::string transport = transportParam(l.setup);
    const std::string registrar = "sip:" + text(l.setup.registrar) + transport;
    const std::string aor = "sip:" + text(l.setup.user) + "@" + text(l.setup.registrar.section(QLatin1Char(':'), 0, 0));
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

} // namespace telvox::sip::stack
