// The parts of the SIP lines that need no network: the jitter buffer, the caller identity and
// call states drawn from SIP messages, and that mapping fed with malformed messages.
#include "platform/telephony/TelephonyService.h"
#include "platform/telephony/sip/JitterBuffer.h"
#include "platform/telephony/sip/SipCallMapping.h"
#include "platform/telephony/sip/SipConfig.h"
#include "core/Settings.h"
#include "support/FakeShell.h"

#include <QTest>

#include <random>

using namespace telvox;
using namespace telvox::sip;

namespace {

std::vector<std::int16_t> ramp(std::uint32_t from, std::size_t n)
{
    std::vector<std::int16_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::int16_t>((from + i) % 30000 + 1);
    return v;
}

std::vector<std::int16_t> readN(JitterBuffer &jb, std::size_t n)
{
    std::vector<std::int16_t> out(n);
    jb.read(out);
    return out;
}

const QByteArray kInvite = "INVITE sip:telvox@127.0.0.1:5070 SIP/2.0\r\n"
                           "Via: SIP/2.0/UDP 127.0.0.1:5080;branch=z9hG4bK776asdhds;rport\r\n"
                           "Max-Forwards: 70\r\n"
                           "To: <sip:telvox@127.0.0.1:5070>\r\n"
                           "From: \"Anna \\\"Nan\\\" Caller\" <sip:5551234@127.0.0.1>;tag=1928301774\r\n"
                           "Call-ID: a84b4c76e66710@127.0.0.1\r\n"
                           "CSeq: 314159 INVITE\r\n"
                           "Contact: <sip:caller@127.0.0.1:5080>\r\n"
                           "Content-Type: application/sdp\r\n"
                           "Content-Length: 0\r\n\r\n";

} // namespace

class tst_SipMapping : public QObject
{
    Q_OBJECT

private slots:
    void jitterBufferDelaysAnOrderlyStreamByItsTarget()
    {
        JitterBuffer jb(480, 2400);
        QCOMPARE(readN(jb, 160), std::vector<std::int16_t>(160, 0)); // nothing yet: silence
        const std::uint32_t t0 = 0xFFFFFF00u;                           // the timestamps wrap on the way
        std::vector<std::int16_t> heard;
        for (std::uint32_t k = 0; k < 20; ++k) { // one packet, one read, every 20 ms
            jb.put(t0 + 160 * k, ramp(160 * k, 160));
            const std::vector<std::int16_t> out = readN(jb, 160);
            heard.insert(heard.end(), out.begin(), out.end());
        }
        // 480 samples of silence first, then the stream sample for sample.
        QCOMPARE(std::vector<std::int16_t>(heard.begin(), heard.begin() + 480), std::vector<std::int16_t>(480, 0));
        QCOMPARE(std::vector<std::int16_t>(heard.begin() + 480, heard.end()), ramp(0, 20 * 160 - 480));
        QCOMPARE(jb.stats().late, 0u);
        QCOMPARE(jb.stats().concealed, 0u);
        // What waits at each read: the target plus the packet that has just arrived.
        QCOMPARE(jb.stats().delaySum / jb.stats().reads, 640u);
    }

    void jitterBufferPlacesReorderedPacketsAndConcealsLostOnes()
    {
        JitterBuffer jb(480, 2400);
        jb.put(1000, ramp(0, 160));
        jb.put(1320, ramp(320, 160)); // the second packet comes after the third
        jb.put(1160, ramp(160, 160));
        (void)readN(jb, 480);
        jb.put(1640, ramp(640, 160)); // 1480 .. 1639 never comes
        const std::vector<std::int16_t> out = readN(jb, 800);
        QCOMPARE(std::vector<std::int16_t>(out.begin(), out.begin() + 480), ramp(0, 480));
        QCOMPARE(std::vector<std::int16_t>(out.begin() + 480, out.begin() + 640), std::vector<std::int16_t>(160, 0));
        QCOMPARE(std::vector<std::int16_t>(out.begin() + 640, out.end()), ramp(640, 160));
        QCOMPARE(jb.stats().concealed, 160u);
        // A packet for a time already played is dropped, not played late.
        jb.put(1480, ramp(480, 160));
        QCOMPARE(jb.stats().late, 160u);
        jb.put(1800, ramp(800, 160));
        QCOMPARE(readN(jb, 160), ramp(800, 160));
    }

    void jitterBufferKeepsItsDelayBounded()
    {
        // Nobody reads for two seconds: the delay never grows past the maximum, and on the
        // first read it is back at the target.
        JitterBuffer jb(480, 4000);
        for (std::uint32_t k = 0; k < 100; ++k) {
            jb.put(160 * k, ramp(160 * k, 160));
            QVERIFY(jb.depth() <= 4000);
        }
        (void)readN(jb, 160);
        QVERIFY2(jb.depth() <= 480, qPrintable(QString::number(jb.depth())));
        QVERIFY(jb.stats().skipped > 0);
        // A stream that restarts elsewhere (a new source, a timestamp jump) is followed at once.
        jb.put(0x80000000u, ramp(7, 160));
        QCOMPARE(jb.stats().restarts, 1u);
        QCOMPARE(readN(jb, 480), std::vector<std::int16_t>(480, 0));
        QCOMPARE(readN(jb, 160), ramp(7, 160));
        // A sender whose clock runs slow falls behind the reader: it is re-anchored, not lost.
        (void)readN(jb, 2000);
        jb.put(0x80000000u + 320, ramp(100, 160));
        QCOMPARE(jb.stats().restarts, 2u);
        QCOMPARE(readN(jb, 480), std::vector<std::int16_t>(480, 0));
        QCOMPARE(readN(jb, 160), ramp(100, 160));
    }

    void callerIdentityFromAddresses()
    {
        CallerIdentity id = callerFromAddress("\"Anna \\\"Nan\\\" Caller\" <sip:+49%2030123;user=phone@pbx.example>;tag=9");
        QCOMPARE(id.name, QByteArray("Anna \"Nan\" Caller"));
        QCOMPARE(id.number, QByteArray("+4930123"));
        QVERIFY(!id.withheld);
        id = callerFromAddress("<tel:+4930123456>");
        QCOMPARE(id.number, QByteArray("+4930123456"));
        id = callerFromAddress("tel:+4930123456");
        QCOMPARE(id.number, QByteArray("+4930123456"));
        id = callerFromAddress("\"Anonymous\" <sip:anonymous@anonymous.invalid>;tag=1");
        QVERIFY(id.withheld);
        QVERIFY(id.number.isEmpty() && id.name.isEmpty());
        // Nothing of a path, a separator or a control character reaches a file name or a list.
        id = callerFromAddress("\"a\x01\x1b[31mb\" <sip:..%2F..%2Fetc%2Fpasswd%00x@h>");
        QCOMPARE(id.number, QByteArray("....etcpasswdx"));
        QVERIFY(!id.name.contains('\x01') && !id.name.contains('\x1b'));
        id = callerFromAddress(std::string("<sip:") + std::string(500, '7') + "@h>");
        QCOMPARE(id.number.size(), 32);
        QCOMPARE(callerFromAddress("").number, QByteArray());
        QCOMPARE(callerFromAddress("<<<>>>").number, QByteArray());
    }

    void messagesMapToLineEvents()
    {
        MappedMessage m = mapRawMessage(kInvite);
        QVERIFY(m.parsed);
        QCOMPARE(m.signal, SipSignal::Invite);
        QCOMPARE(m.caller.number, QByteArray("5551234"));
        QCOMPARE(m.caller.name, QByteArray("Anna \"Nan\" Caller"));
        // The network's asserted identity wins over From.
        QByteArray asserted = kInvite;
        asserted.replace("Max-Forwards", "P-Asserted-Identity: <sip:+4930999@pbx>, <tel:+4930999>\r\nMax-Forwards");
        QCOMPARE(mapRawMessage(asserted).caller.number, QByteArray("+4930999"));
        QCOMPARE(mapRawMessage(asserted).caller.name, QByteArray("Anna \"Nan\" Caller"));

        QByteArray cancel = kInvite;
        cancel.replace("INVITE sip", "CANCEL sip").replace("314159 INVITE", "314159 CANCEL");
        QCOMPARE(mapRawMessage(cancel).signal, SipSignal::Cancel);
        const QByteArray ringing = "SIP/2.0 180 Ringing\r\nVia: SIP/2.0/UDP 127.0.0.1:5080;branch=z9hG4bK1\r\n"
                                   "To: <sip:b@h>;tag=2\r\nFrom: <sip:a@h>;tag=1\r\nCall-ID: x\r\nCSeq: 1 INVITE\r\n"
                                   "Content-Length: 0\r\n\r\n";
        QCOMPARE(mapRawMessage(ringing).signal, SipSignal::Ringing);
        QByteArray busy = ringing;
        QCOMPARE(mapRawMessage(busy.replace("180 Ringing", "486 Busy Here")).signal, SipSignal::Rejected);
        QByteArray byeAnswer = ringing;
        QCOMPARE(mapRawMessage(byeAnswer.replace("180 Ringing", "200 OK").replace("1 INVITE", "2 BYE")).signal,
                 SipSignal::None);
        QVERIFY(!mapRawMessage("hello").parsed);
    }

    void callStatesFollowTheSignals()
    {
        using namespace LineCallState;
        QCOMPARE(nextCallState(0, true, SipSignal::Invite), std::optional<std::uint32_t>(Offering));
        QCOMPARE(nextCallState(Offering, true, SipSignal::Invite), std::nullopt); // busy: stays
        QCOMPARE(nextCallState(Offering, true, SipSignal::Ack), std::optional<std::uint32_t>(Connected));
        QCOMPARE(nextCallState(Offering, true, SipSignal::Cancel), std::optional<std::uint32_t>(Idle));
        QCOMPARE(nextCallState(Connected, true, SipSignal::Cancel), std::nullopt);
        QCOMPARE(nextCallState(Connected, true, SipSignal::Bye), std::optional<std::uint32_t>(Disconnected));
        QCOMPARE(nextCallState(Offering, true, SipSignal::Bye), std::nullopt);
        QCOMPARE(nextCallState(Dialing, false, SipSignal::Ringing), std::optional<std::uint32_t>(Ringback));
        QCOMPARE(nextCallState(Ringback, false, SipSignal::Answered), std::optional<std::uint32_t>(Connected));
        QCOMPARE(nextCallState(Ringback, false, SipSignal::Rejected), std::optional<std::uint32_t>(Busy));
        QCOMPARE(nextCallState(Offering, true, SipSignal::Answered), std::nullopt);
    }

    void settingsDescribeTheLines()
    {
        telvox::test::ScratchDir dir;
        SettingsStore store(dir.file("telvox.ini"), dir.file("settings.txt"));
        store.WriteSetting("SIP", "Line0Listen", "127.0.0.1:5070");
        store.WriteSetting("SIP", "Line0RingCadence", "1000/ 3000/x");
        store.WriteSetting("SIP", "Line0TelephoneEvents", "0");
        store.WriteSetting("SIP", "Line2Registrar", "fritz.box");
        store.WriteSetting("SIP", "Line2User", "620");
        store.WriteSetting("SIP", "Line2Password", "pw");
        store.WriteSetting("SIP", "Line2Transport", "TCP");
        store.WriteSetting("SIP", "Line2Expires", "30"); // below a minute: the default
        const std::vector<SipLineConfig> lines = readSipConfig(store);
        QCOMPARE(lines.size(), std::size_t(2)); // lines 1 and 3 have neither address nor registrar
        QCOMPARE(lines[0].setup.listenAddress, QStringLiteral("127.0.0.1:5070"));
        QCOMPARE(lines[0].ringCadenceMs, (std::vector<int>{1000, 3000}));
        QVERIFY(!lines[0].setup.telephoneEvents);
        QCOMPARE(lines[1].setup.registrar, QStringLiteral("fritz.box"));
        QCOMPARE(lines[1].setup.user, QStringLiteral("620"));
        QCOMPARE(lines[1].setup.transport, QStringLiteral("tcp"));
        QCOMPARE(lines[1].setup.expiresSeconds, 600);
        QVERIFY(lines[1].setup.listenAddress.isEmpty());
        QCOMPARE(lines[1].ringCadenceMs, (std::vector<int>{2000, 4000}));
        QVERIFY(lines[1].setup.telephoneEvents);
    }

    // Valid messages mangled at random (bytes changed, cut, repeated, lines dropped): whatever
    // parses maps to a signal and a caller that are safe to use, and nothing crashes.
    void fuzzedMessagesMapSafely()
    {
        std::mt19937 random(20261206);
        const QList<QByteArray> seeds = {kInvite,
                                         QByteArray(kInvite).replace("Max-Forwards",
                                                                     "P-Asserted-Identity: \"X\" <tel:+1555>\r\nMax-Forwards"),
                                         QByteArray(kInvite).replace("INVITE sip", "BYE sip"),
                                         "SIP/2.0 200 OK\r\nVia: SIP/2.0/UDP h;branch=z9hG4bK1\r\nTo: <sip:b@h>;tag=2\r\n"
                                         "From: <sip:a@h>;tag=1\r\nCall-ID: x\r\nCSeq: 1 INVITE\r\nContent-Length: 0\r\n\r\n"};
        const char alphabet[] = "<>\"\\:;@%,= \r\n\t\x00\xff" "abcSIP0123456789";
        int parsed = 0;
        const std::vector<std::uint32_t> states = {0, LineCallState::Idle, LineCallState::Offering,
                                                   LineCallState::Connected, LineCallState::Dialing,
                                                   LineCallState::Ringback, LineCallState::Disconnected};
        for (int round = 0; round < 20000; ++round) {
            QByteArray m = seeds[int(random() % seeds.size())];
            const int edits = 1 + int(random() % 8);
            for (int e = 0; e < edits && !m.isEmpty(); ++e) {
                const auto at = qsizetype(random() % std::uint32_t(m.size()));
                switch (random() % 5) {
                case 0: m[at] = alphabet[random() % (sizeof alphabet - 1)]; break;
                case 1: m.truncate(at); break;
                case 2: m.insert(at, QByteArray(int(random() % 300), alphabet[random() % (sizeof alphabet - 1)])); break;
                case 3: m.insert(at, m.mid(at, qsizetype(random() % 200))); break;
                default: m.remove(at, m.indexOf("\r\n", at) - at + 2); break;
                }
            }
            const MappedMessage mapped = mapRawMessage(m);
            if (!mapped.parsed)
                continue;
            ++parsed;
            QVERIFY(mapped.caller.number.size() <= 32 && mapped.caller.name.size() <= 64);
            for (const char c : mapped.caller.number)
                QVERIFY2(QByteArray("+*#._-").contains(c) || std::isalnum(static_cast<unsigned char>(c)), m.constData());
            for (const char c : mapped.caller.name)
                QVERIFY(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
            for (const std::uint32_t state : states) {
                for (const bool incoming : {true, false}) {
                    const auto next = nextCallState(state, incoming, mapped.signal);
                    QVERIFY(!next || std::find(states.begin(), states.end(), *next) != states.end()
                            || *next == LineCallState::Busy);
                }
            }
        }
        QVERIFY2(parsed > 1000, qPrintable(QString::number(parsed))); // the fuzzing reached the mapping
    }
};

QTEST_GUILESS_MAIN(tst_SipMapping)
#include "tst_SipMapping.moc"
