#pragma once

#include "platform/telephony/LineAudioChannel.h"
#include "platform/telephony/sip/JitterBuffer.h"
#include "platform/telephony/sip/SipCallMapping.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace telvox::sip {

// Where one SIP line listens and who it is there: a direct listening address, or an account
// at a registrar (a router's or a provider's, a PBX).
struct SipLineSetup
{
    // "host:port"; port 0: any free port. Empty on an account line: the local address of the
    // route towards the registrar (or the outbound proxy), on port `defaultPort` when free.
    QString listenAddress = QStringLiteral("127.0.0.1:5060");
    int defaultPort = 5060;
    QString user = QStringLiteral("telvox");
    QString registrar;     // "fritz.box", "sip.example.net:5060"; empty: no registration
    QString authUser;      // when it differs from `user`
    QString password;
    QString outboundProxy; // "proxy.example.net"; empty: none
    QString transport = QStringLiteral("udp"); // "udp", "tcp" or "tls"
    QString certificate; // TLS: PEM file with our certificate and key (needed to listen)
    QString caFile;      // TLS: PEM file of the authorities that vouch for the far end
    int expiresSeconds = 600;
    int retrySeconds = 30; // after a failed registration
    int jitterMs = 60; // the receive delay that absorbs network jitter
    // Offer RFC 4733 telephone events; without them touch tones travel in the audio both ways.
    bool telephoneEvents = true;
    // A line without a registrar: the hosts that may call it ("127.0.0.0/8 ::1 192.168.1.0/24").
    // Empty: loopback only. An account line takes calls from its registrar and proxy only.
    QString allowFrom;
    // SRTP with keys in the session description (SDES): never; when the far end takes it (our
    // offers carry a key under the plain profile, and a plain answer is taken); or always (our
    // offers use the encrypted profile, plain calls are refused).
    enum class Srtp { Off, WhenOffered, Required };
    Srtp srtp = Srtp::WhenOffered;
};

// What the stack reports about a line's call; `call` numbers the calls of the stack.
struct StackEvent
{
    enum class Kind {
        Incoming,    // an INVITE was accepted for ringing (180 sent)
        Established, // the far end acknowledged our 200 OK, or answered our INVITE (200 OK)
        Progress,    // our INVITE rings at the far end (180 / 183), perhaps with early media
        Ended,       // the call is over: BYE, CANCEL, a timeout or a failed transaction
        Digit,       // an RFC 4733 event began, or a touch tone was heard in the audio
        DigitsSent,  // the digits asked for have all been sent
        Registered,  // the registrar accepted the registration (code 200)
        RegistrationFailed, // refused (code and reason) or no answer (code 0, reason)
        Refused,     // an INVITE turned away: `code` sent, `reason` the sender's address, `caller`
        Strangers,   // RTP from somewhere other than the far end dropped: `code` packets so far
                     // in this call, `reason` the last such sender
    };
    Kind kind = Kind::Ended;
    int line = 0;
    std::uint64_t call = 0;
    CallerIdentity caller; // Incoming
    char digit = 0;        // Digit
    bool answered = false; // Ended: the call had been answered here
    bool elsewhere = false; // Ended: cancelled because another phone took the call (RFC 3326)
    bool earlyMedia = false; // Progress: the far end's audio flows before its answer
    int code = 0;          // Ended: the SIP status or error number behind it, when known
    QString reason;        // RegistrationFailed: the registrar's reason phrase or the error
    bool certificate = false; // RegistrationFailed: the TLS peer's certificate was refused (`reason` why)
};

// The audio of one line between the stack's thread and the wave devices: what the far end
// says, through the jitter buffer, and what we play into the line, waiting to be sent.
class LineMedia final : public LineAudioChannel
{
public:
    explicit LineMedia(std::uint32_t jitterSamples)
        : rx(jitterSamples, jitterSamples + 1600)
    {
    }
    void readFromLine(std::span<std::int16_t> out) override { rx.read(out); }
    void writeToLine(std::span<const std::int16_t> samples) override;
    // The next `out.size()` samples to send; silence where nothing was played.
    void takeForSending(std::span<std::int16_t> out);
    void clearSending();
    // Mean samples waiting to be sent when a frame was taken (the delay of the sending side).
    double meanSendingDelay() const;

    JitterBuffer rx;

private:
    static constexpr std::size_t kMaxQueued = 8000 * 2; // two seconds ahead at most
    mutable std::mutex m_mutex;
    std::deque<std::int16_t> m_tx;
    std::uint64_t m_waitSum = 0;
    std::uint64_t m_takes = 0;
};

// The SIP user agent of all SIP lines: libre's event loop on a thread of its own, one SIP
// transport per line. The methods are called from the user-interface thread and reach the
// stack's thread through libre's message queue; events come back through `sink`, called on
// the stack's thread (the owner forwards them to its own thread).
class SipStack
{
public:
    using EventSink = std::function<void(const StackEvent &)>;

    SipStack(std::vector<SipLineSetup> lines, EventSink sink);
    ~SipStack();
    SipStack(const SipStack &) = delete;
    SipStack &operator=(const SipStack &) = delete;

    // Starts the thread and binds every line's transport; returns an empty text on success,
    // else what failed (the thread is stopped again).
    QString start();
    void stop();
    bool running() const { return m_running; }

    // The address callers reach a line at ("sip:telvox@127.0.0.1:5070"), once started.
    QByteArray contactUri(int line) const;
    LineMedia &media(int line) { return *m_media.at(static_cast<std::size_t>(line)); }
    int lineCount() const { return static_cast<int>(m_setup.size()); }

    void answer(int line, std::uint64_t call);
    // Ends the call: rejects it with `code` while it is not answered, otherwise sends BYE.
    void hangUp(int line, std::uint64_t call, int code = 486);
    void sendDigits(int line, std::uint64_t call, const QByteArray &digits, int toneMs);
    // Places a call to `target` ("sip:bob@host:port", "bob@host", or a number at the line's
    // registrar) under the number newCall() gave.
    std::uint64_t newCall() { return ++m_nextCall; }
    void dial(int line, std::uint64_t call, const QByteArray &target);

    struct CallStats
    {
        std::uint64_t packetsIn = 0, packetsOut = 0, strangers = 0;
        std::uint16_t rtpPort = 0; // where this call's media is received
        bool encrypted = false;    // SRTP both ways
    };
    CallStats stats(int line) const;

    struct Impl;

private:
    void push(int kind, int line, std::uint64_t call, int code = 0, const QByteArray &digits = {});

    std::vector<SipLineSetup> m_setup;
    EventSink m_sink;
    std::vector<std::unique_ptr<LineMedia>> m_media;
    std::unique_ptr<Impl> m_impl;
    std::atomic<bool> m_running{false};
    std::atomic<std::uint64_t> m_nextCall{0};
};

} // namespace telvox::sip
