// The SIP stack's thread: libre's event loop, one SIP transport per line, and the commands the
// owner sends through libre's message queue. The calls, the media and the registration of a
// line live in SipCalls.cpp, SipMedia.cpp and SipRegistration.cpp.
#include "platform/telephony/sip/SipStackParts.h"

#include <QStringList>

#include <cstring>
#include <future>
#include <mutex>

namespace telvox::sip {

namespace stack {

void resetStats(LineCtx &l)
{
    const std::lock_guard lock(l.impl->statsMutex);
    l.stats = {};
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

// The address a line listens at: as configured, or on an account line the address towards the
// network with a port of the system's choice.
QString listenAddress(LineCtx &line)
{
    const QByteArray address = line.setup.listenAddress.toUtf8();
    if (address.isEmpty()) {
        if (net_default_source_addr_get(AF_INET, &line.laddr) != 0)
            (void)sa_set_str(&line.laddr, "127.0.0.1", 0);
        sa_set_port(&line.laddr, 0);
        return {};
    }
    if (sa_decode(&line.laddr, address.constData(), static_cast<std::size_t>(address.size())) != 0)
        return QStringLiteral("%1: not an address").arg(line.setup.listenAddress);
    return {};
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
    if (!err)
        err = sip_transp_add(line.sip, SIP_TRANSP_TLS, &line.laddr, line.tlsContext);
    return err ? err : sip_transp_laddr(line.sip, &line.laddr, SIP_TRANSP_TLS, nullptr);
}

// Opens one line on the stack's thread; an empty text on success.
QString openLine(SipStack::Impl &impl, LineCtx &line)
{
    if (QString failure = listenAddress(line); !failure.isEmpty())
        return failure;
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
    int err = sip_alloc(&line.sip, impl.dns, 32, 32, 32, "Telvox", nullptr, &line);
    if (!err)
        err = addTransport(line);
    if (!err)
        err = sipsess_listen(&line.sock, line.sip, 32, onConnect, &line);
    if (err)
        return QStringLiteral("%1: %2").arg(line.setup.listenAddress, QString::fromLocal8Bit(std::strerror(err)));
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
