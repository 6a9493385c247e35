// The SIP stack's thread: libre's event loop, one SIP transport per line, and the commands the
// owner sends through libre's message queue. The calls, the media and the registration of a
// line live in SipCalls.cpp, SipMedia.cpp and SipRegistration.cpp.
#include "platform/telephony/sip/SipStackParts.h"

#include <QStringList>

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <ifaddrs.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <future>
#include <mutex>

// libre's TLS contexts are OpenSSL's (libre declares this only when built against OpenSSL).
extern "C" SSL_CTX *tls_openssl_context(const struct tls *tls);

namespace telvox::sip {

namespace stack {

void resetStats(LineCtx &l)
{
    const std::lock_guard lock(l.impl->statsMutex);
    const std::uint16_t port = l.stats.rtpPort;
    l.stats = {};
    l.stats.rtpPort = port;
    l.stats.encrypted = l.secure; // a call offered to us may have agreed on keys already
}

bool sameHost(const sa &a, const sa &b) { return sa_cmp(&a, &b, SA_ADDR); }

bool sameEndpoint(const SipStack::Impl &impl, const sa &src, const sa &signalled)
{
    if (sa_port(&src) != sa_port(&signalled))
        return false;
    if (sa_cmp(&src, &signalled, SA_ADDR))
        return true;
    return sa_is_loopback(&src)
        && std::any_of(impl.ownAddresses.begin(), impl.ownAddresses.end(),
                       [&](const sa &own) { return sa_cmp(&own, &signalled, SA_ADDR); });
}

QByteArray addressText(const sa &a, bool withPort)
{
    char host[64] = {};
    if (sa_ntop(&a, host, sizeof host) != 0)
        return QByteArrayLiteral("?");
    QByteArray text(host);
    if (withPort)
        text = (sa_af(&a) == AF_INET6 ? "[" + text + "]" : text) + ':' + QByteArray::number(sa_port(&a));
    return text;
}

namespace {

enum CommandKind { Answer, HangUp, Digits, Dial, Quit };

struct Command
{
    int line = 0;
    std::uint64_t call = 0;
    int code = 0;
    QByteArray digits;
};

void onCommand(int id, void *data, void *arg)
{
    auto *impl = static_cast<SipStack::Impl *>(arg);
    std::unique_ptr<Command> cmd(static_cast<Command *>(data));
    if (id == Quit) {
        for (auto &l : impl->lines)
            impl->endCall(*l);
        re_cancel();
        return;
    }
    if (!cmd || cmd->line < 0 || cmd->line >= static_cast<int>(impl->lines.size()))
        return;
    LineCtx &l = *impl->lines[static_cast<std::size_t>(cmd->line)];
    if (id == Dial)
        return dialCall(l, cmd->call, cmd->digits);
    if (l.call != cmd->call || !l.sess)
        return; // a call that has ended in the meantime
    if (id == Answer)
        answerCall(l);
    else if (id == HangUp)
        hangUpCall(l, cmd->code);
    else if (id == Digits)
        queueDigits(l, cmd->digits, cmd->code);
}

// The address of "host", "host:port", "[v6]:port" (any port when none is given): numeric,
// or looked up by the system's resolver (once, when the line opens). False when neither works.
bool resolveHost(const QString &hostPort, sa &out, bool &numeric)
{
    QString host = hostPort.trimmed();
    if (host.startsWith(QLatin1Char('[')))
        host = host.mid(1, host.indexOf(QLatin1Char(']')) - 1);
    else if (host.count(QLatin1Char(':')) == 1)
        host = host.section(QLatin1Char(':'), 0, 0);
    const std::string name = host.toStdString();
    numeric = sa_set_str(&out, name.c_str(), 0) == 0;
    if (numeric || name.empty())
        return numeric;
    addrinfo hints{};
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *found = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || !found)
        return false;
    const bool ok = sa_set_sa(&out, found->ai_addr) == 0;
    freeaddrinfo(found);
    return ok;
}

// The local address the system would send from towards `to` (no packet is sent).
bool sourceAddressTowards(const sa &to, sa &local)
{
    const int fd = ::socket(sa_af(&to), SOCK_DGRAM, 0);
    if (fd < 0)
        return false;
    sa peer = to;
    if (sa_port(&peer) == 0)
        sa_set_port(&peer, 5060);
    bool ok = ::connect(fd, &peer.u.sa, peer.len) == 0;
    local = sa{};
    local.len = sizeof local.u;
    ok = ok && ::getsockname(fd, &local.u.sa, &local.len) == 0;
    ::close(fd);
    return ok;
}

// The address a line listens at: as configured, or on an account line the local address of
// the route towards its registrar (through the outbound proxy, when one is set) on the line's
// default port; the port of the system's choice when that one is taken (see openLine).
// An account line's registrar and proxy are the hosts its calls may come from.
QString listenAddress(LineCtx &line, bool &needsDns)
{
    needsDns = false;
    if (!line.setup.registrar.isEmpty()) {
        for (const QString &host : {line.setup.registrar, line.setup.outboundProxy}) {
            sa address{};
            bool numeric = false;
            if (host.isEmpty())
                continue;
            if (resolveHost(host, address, numeric))
                trust(line, address);
            needsDns = needsDns || !numeric;
        }
    } else {
        QString bad;
        std::optional<PeerFilter> peers = PeerFilter::parse(line.setup.allowFrom, &bad);
        if (!peers)
            return QStringLiteral("%1: not an address or a network").arg(bad);
        line.allowFrom = peers->empty() ? PeerFilter::loopbackOnly() : *peers;
    }
    const QByteArray address = line.setup.listenAddress.toUtf8();
    if (address.isEmpty()) {
        // The first trusted address is the proxy's when one is set, else the registrar's.
        const sa *towards = line.trusted.empty() ? nullptr : &line.trusted.back();
        if (!towards || !sourceAddressTowards(*towards, line.laddr)) {
            if (net_default_source_addr_get(AF_INET, &line.laddr) != 0)
                (void)sa_set_str(&line.laddr, "127.0.0.1", 0);
        }
        sa_set_port(&line.laddr, static_cast<std::uint16_t>(std::clamp(line.setup.defaultPort, 0, 65535)));
        return {};
    }
    if (sa_decode(&line.laddr, address.constData(), static_cast<std::size_t>(address.size())) != 0)
        return QStringLiteral("%1: not an address").arg(line.setup.listenAddress);
    return {};
}

// Where a line's TLS context keeps its line, for the certificate check below.
int lineIndexOfContext()
{
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// OpenSSL's verdict on each certificate of the far end's chain; a refusal is kept so that the
// failed registration can say why (libre reports only that the connection went).
int onVerify(int ok, X509_STORE_CTX *store)
{
    if (ok)
        return ok;
    const auto *ssl = static_cast<const SSL *>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto *line = ssl ? static_cast<LineCtx *>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), lineIndexOfContext())) : nullptr;
    if (line)
        line->certificateRefused = QString::fromLatin1(X509_verify_cert_error_string(X509_STORE_CTX_get_error(store)));
    return ok;
}

// The line's transport: UDP, TCP, or TLS (with the line's certificate, which a listening
// address needs; an account line reaching its registrar needs none).
int addTransport(LineCtx &line)
{
    if (!overTls(line.setup)) {
        const sip_transp tp = overTcp(line.setup) ? SIP_TRANSP_TCP : SIP_TRANSP_UDP;
        const int err = sip_transp_add(line.sip, tp, &line.laddr);
        return err ? err : sip_transp_laddr(line.sip, &line.laddr, tp, nullptr);
    }
    const QByteArray certificate = line.setup.certificate.toLocal8Bit();
    int err = tls_alloc(&line.tlsContext, TLS_METHOD_SSLV23, certificate.isEmpty() ? nullptr : certificate.constData(),
                        nullptr);
    if (!err && !line.setup.caFile.isEmpty())
        err = tls_add_ca(line.tlsContext, line.setup.caFile.toLocal8Bit().constData());
    if (!err) {
        // The far end's certificate must be vouched for by the line's authorities, else by
        // the system's, and (on an account line) name its registrar or proxy: libre alone
        // takes any certificate.
        SSL_CTX *ctx = tls_openssl_context(line.tlsContext);
        if (line.setup.caFile.isEmpty() && SSL_CTX_set_default_verify_paths(ctx) != 1)
            err = EINVAL;
        (void)SSL_CTX_set_ex_data(ctx, lineIndexOfContext(), &line);
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, onVerify);
        const QString server = line.setup.outboundProxy.isEmpty() ? line.setup.registrar : line.setup.outboundProxy;
        QString host = server.trimmed();
        if (host.startsWith(QLatin1Char('[')))
            host = host.mid(1, host.indexOf(QLatin1Char(']')) - 1);
        else if (host.count(QLatin1Char(':')) == 1)
            host = host.section(QLatin1Char(':'), 0, 0);
        if (!host.isEmpty()) {
            const QByteArray name = host.toUtf8();
            X509_VERIFY_PARAM *param = SSL_CTX_get0_param(ctx);
            sa numeric{};
            if (sa_set_str(&numeric, name.constData(), 0) == 0)
                (void)X509_VERIFY_PARAM_set1_ip_asc(param, name.constData());
            else
                (void)X509_VERIFY_PARAM_set1_host(param, name.constData(), 0);
        }
    }
    if (!err)
        err = sip_transp_add(line.sip, SIP_TRANSP_TLS, &line.laddr, line.tlsContext);
    return err ? err : sip_transp_laddr(line.sip, &line.laddr, SIP_TRANSP_TLS, nullptr);
}

// Opens one line on the stack's thread; an empty text on success.
QString openLine(SipStack::Impl &impl, LineCtx &line)
{
    bool needsDns = false;
    if (QString failure = listenAddress(line, needsDns); !failure.isEmpty())
        return failure;
    // A resolver only for names: its socket listens on every interface for the answers.
    if (needsDns && !impl.dns) {
        sa servers[4];
        std::uint32_t count = 4;
        char domain[64] = {};
        if (dns_srv_get(domain, sizeof domain, servers, &count) != 0 || count == 0) {
            (void)sa_set_str(&servers[0], "127.0.0.1", 53);
            count = 1;
        }
        (void)dnsc_alloc(&impl.dns, nullptr, servers, count);
    }
    int err = sip_alloc(&line.sip, impl.dns, 32, 32, 32, "Telvox", nullptr, &line);
    if (!err) {
        err = addTransport(line);
        if (err == EADDRINUSE && line.setup.listenAddress.isEmpty() && sa_port(&line.laddr) != 0) {
            // The line's usual port is taken (another program, another line): any free port.
            line.sip = static_cast<struct ::sip *>(mem_deref(line.sip));
            line.tlsContext = static_cast<tls *>(mem_deref(line.tlsContext));
            sa_set_port(&line.laddr, 0);
            err = sip_alloc(&line.sip, impl.dns, 32, 32, 32, "Telvox", nullptr, &line);
            if (!err)
                err = addTransport(line);
        }
    }
    if (!err)
        err = sipsess_listen(&line.sock, line.sip, 32, onConnect, &line);
    if (err)
        return QStringLiteral("%1: %2").arg(line.setup.listenAddress.isEmpty() ? QString::fromLatin1(addressText(line.laddr, true)) : line.setup.listenAddress,
                                            QString::fromLocal8Bit(std::strerror(err)));
    sip_set_trace_handler(line.sip, onSipTrace);
    char host[64] = {};
    (void)sa_ntop(&line.laddr, host, sizeof host);
    line.contact = "sip:" + text(line.setup.user) + "@" + host + ":" + std::to_string(sa_port(&line.laddr))
        + transportParam(line.setup);
    if (!line.setup.registrar.isEmpty())
        startRegistration(line);
    return {};
}

void closeLine(SipStack::Impl &impl, LineCtx &l)
{
    impl.endCall(l);
    tmr_cancel(&l.txTimer);
    tmr_cancel(&l.regRetry);
    l.reg = static_cast<sipreg *>(mem_deref(l.reg));
    if (l.sock)
        sipsess_close_all(l.sock);
    l.sock = static_cast<sipsess_sock *>(mem_deref(l.sock));
    if (l.sip)
        sip_close(l.sip, true);
    l.sip = static_cast<struct ::sip *>(mem_deref(l.sip));
    l.tlsContext = static_cast<tls *>(mem_deref(l.tlsContext));
}

} // namespace
} // namespace stack

using namespace stack;

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
        ifaddrs *interfaces = nullptr;
        if (getifaddrs(&interfaces) == 0) {
            for (const ifaddrs *i = interfaces; i; i = i->ifa_next) {
                sa own{};
                if (i->ifa_addr && (i->ifa_addr->sa_family == AF_INET || i->ifa_addr->sa_family == AF_INET6)
                    && sa_set_sa(&own, i->ifa_addr) == 0)
                    impl.ownAddresses.push_back(own);
            }
            freeifaddrs(interfaces);
        }
        for (std::size_t i = 0; failure.isEmpty() && i < m_setup.size(); ++i) {
            auto l = std::make_unique<LineCtx>();
            l->impl = &impl;
            l->index = static_cast<int>(i);
            l->setup = m_setup[i];
            l->media = m_media[i].get();
            tmr_init(&l->txTimer);
            tmr_init(&l->endTimer);
            tmr_init(&l->regRetry);
            impl.lines.push_back(std::move(l));
            failure = openLine(impl, *impl.lines.back());
        }
        const bool ok = failure.isEmpty();
        ready.set_value(failure);
        if (ok)
            (void)re_main(nullptr);
        for (auto &l : impl.lines)
            closeLine(impl, *l);
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
