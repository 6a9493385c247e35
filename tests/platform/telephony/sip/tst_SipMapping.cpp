// The parts of the SIP lines that need no network: the jitter buffer, the caller identity and
// signals drawn from SIP messages, the settings, and the mapping fed malformed messages.
#include "core/Settings.h"
#include "platform/telephony/TelephonyService.h"
#include "platform/telephony/sip/JitterBuffer.h"
#include "platform/telephony/sip/SipCallMapping.h"
#include "platform/telephony/sip/SipConfig.h"
#include "platform/telephony/sip/SipPeers.h"
#include "support/FakeShell.h"

#include <QTest>

#include <algorithm>
#include <random>

using namespace telvox;
using namespace telvox::sip;

namespace {

using Samples = std::vector<std::int16_t>;

Samples ramp(std::uint32_t from, std::size_t n)
{
    Samples v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::int16_t>((from + i) % 30000 + 1);
    return v;
}

Samples readN(JitterBuffer &jb, std::size_t n)
{
    Samples out(n);
    jb.read(out);
    return out;
}

Samples join(Samples a, const Samples &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const QByteArray kInvite = "INVITE sip:telvox@127.0.0.1:5070 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:5080;branch=z9hG4bK7;rport\r\n"
                           "Max-Forwards: 70\r\nTo: <sip:telvox@127.0.0.1:5070>\r\n"
                           "From: \"Anna \\\"Nan\\\" Caller\" <sip:5551234@127.0.0.1>;tag=1928301774\r\n"
                           "Call-ID: a84b4c76e66710@127.0.0.1\r\nCSeq: 314159 INVITE\r\nContact: <sip:caller@127.0.0.1:5080>\r\n"
                           "Content-Length: 0\r\n\r\n";
const QByteArray kResponse = "SIP/2.0 180 Ringing\r\nVia: SIP/2.0/UDP 127.0.0.1:5080;branch=z9hG4bK1\r\nTo: <sip:b@h>;tag=2\r\n"
                             "From: <sip:a@h>;tag=1\r\nCall-ID: x\r\nCSeq: 1 INVITE\r\nContent-Length: 0\r\n\r\n";

QByteArray withHeader(QByteArray m, const QByteArray &header) { return m.replace("Max-Forwards", header + "\r\nMax-Forwards"); }
QByteArray cancel(const QByteArray &header)
{
    return withHeader(QByteArray(kInvite).replace("INVITE sip", "CANCEL sip").replace("314159 INVITE", "314159 CANCEL"), header);
}

} // namespace

class tst_SipMapping : public QObject
{
    Q_OBJECT

private slots:
    void jitterBufferPlacesSamplesByTimestampWithABoundedDelay()
    {
        // An orderly stream, one packet and one read every 20 ms, the timestamps wrapping on
        // the way: 480 samples of silence (the target delay), then the stream sample for sample.
        JitterBuffer jb(480, 2400);
        Samples heard;
        for (std::uint32_t k = 0; k < 20; ++k) {
            jb.put(0xFFFFFF00u + 160 * k, ramp(160 * k, 160));
            heard = join(heard, readN(jb, 160));
        }
        QCOMPARE(heard, join(Samples(480, 0), ramp(0, 20 * 160 - 480)));
        QCOMPARE(jb.stats().late + jb.stats().concealed, 0u);
        QCOMPARE(jb.stats().delaySum / jb.stats().reads, 640u); // the target plus the packet just in
        // Reordered packets are placed, a lost one is concealed (the frame before at half the
        // level), one for a time already played is dropped.
        JitterBuffer rj(480, 2400);
        for (const std::uint32_t k : {0u, 2u, 1u})
            rj.put(1000 + 160 * k, ramp(160 * k, 160));
        (void)readN(rj, 480);
        rj.put(1640, ramp(640, 160)); // 1480 .. 1639 never comes
        Samples held = ramp(320, 160);
        for (auto &v : held)
            v = static_cast<std::int16_t>(v >> 1);
        QCOMPARE(readN(rj, 800), join(join(ramp(0, 480), held), ramp(640, 160)));
        rj.put(1480, ramp(480, 160));
        QCOMPARE(rj.stats().concealed + rj.stats().late, 320u);

        // This machine or the network stalls for 160 ms: the reader conceals the gap, the
        // packets held up come in a burst and all of them are heard, in order, and the delay has
        // grown so that the next stall of that length costs nothing.
        JitterBuffer sj(480, 2400);
        Samples stream;
        const auto stall = [&](std::uint32_t from) {
            for (int i = 0; i < 8; ++i)
                stream = join(stream, readN(sj, 160));
            for (std::uint32_t k = from; k < from + 8; ++k)
                sj.put(160 * k, ramp(160 * k, 160));
        };
        const auto steady = [&](std::uint32_t from, std::uint32_t to) {
            for (std::uint32_t k = from; k < to; ++k) {
                sj.put(160 * k, ramp(160 * k, 160));
                stream = join(stream, readN(sj, 160));
            }
        };
        steady(0, 20);
        stall(20);
        steady(28, 40);
        const JitterBuffer::Stats first = sj.stats();
        QVERIFY2(first.late == 0 && first.delay > 480 && first.concealed > 0, qPrintable(QString::number(first.delay)));
        stall(40);
        steady(48, 60);
        QCOMPARE(sj.stats().late, 0u);
        QCOMPARE(sj.stats().concealed, first.concealed);
        const Samples all = ramp(0, 60 * 160);
        const auto found = std::search(stream.begin(), stream.end(), all.begin() + 20 * 160, all.begin() + 50 * 160);
        QVERIFY2(found != stream.end(), "the packets of the stalls are not all heard in order");

        // The reader (a line's wave device on a busy user-interface thread) stalls for 300 ms
        // while the packets keep coming, then takes all it missed in one read: the stream goes
        // on sample for sample, nothing skipped, nothing concealed.
        JitterBuffer rs(480, 2080);
        Samples got;
        for (std::uint32_t k = 0; k < 60; ++k) {
            rs.put(160 * k, ramp(160 * k, 160));
            if (k < 20 || k >= 35)
                got = join(got, readN(rs, k == 35 ? 16 * 160 : 160));
        }
        QCOMPARE(got, join(Samples(480, 0), ramp(0, 60 * 160 - 480)));

        // Nobody reads for two seconds: the ring never wraps onto what waits (half a second at
        // most waits), and the delay is back at the target on the first read.
        JitterBuffer bj(480, 4000);
        for (std::uint32_t k = 0; k < 100; ++k) {
            bj.put(160 * k, ramp(160 * k, 160));
            QVERIFY(bj.depth() <= 4096);
        }
        (void)readN(bj, 160);
        QVERIFY2(bj.depth() <= 480 && bj.stats().skipped > 0, qPrintable(QString::number(bj.depth())));
        // A stream that restarts elsewhere (a new source, a timestamp jump) is followed after
        // the delay; a sender whose clock runs slow and falls behind the reader at once.
        (void)readN(bj, 2000);
        bj.put(0x80000000u, ramp(7, 160));
        QCOMPARE(bj.stats().restarts, 1u);
        QCOMPARE(readN(bj, 640), join(Samples(480, 0), ramp(7, 160)));
        (void)readN(bj, 2000);
        bj.put(0x80000000u + 320, ramp(9, 160));
        QCOMPARE(readN(bj, 160), ramp(9, 160));
    }

    void callerIdentityFromAddresses()
    {
        QString longName; // 30 characters of 3 bytes each in UTF-8
        for (char16_t i = 0; i < 30; ++i)
            longName += QChar(char16_t(0x4E00 + i));
        struct Row { std::string address; QString name; QByteArray number; bool withheld; } rows[] = {
            {"\"Anna \\\"Nan\\\" Caller\" <sip:+49%2030123;user=phone@pbx.example>;tag=9", "Anna \"Nan\" Caller", "+4930123", false},
            {"<tel:+4930123456>", "", "+4930123456", false},
            {"tel:+4930123456", "", "+4930123456", false},
            {"\"Anonymous\" <sip:anonymous@anonymous.invalid>;tag=1", "", "", true},
            {"\"张伟\" <sip:5551234@h>", "张伟", "5551234", false},
            // Cut at 64 bytes, never inside a character: 21 of them.
            {"\"" + longName.toStdString() + "\" <sip:1@h>", longName.left(21), "1", false},
            // Nothing of a path, a separator or a control character reaches a file name or a list.
            {"\"a\x01\x1b[31mb\" <sip:..%2F..%2Fetc%2Fpasswd%00x@h>", "a  [31mb", "....etcpasswdx", false},
            {"<sip:" + std::string(500, '7') + "@h>", "", QByteArray(32, '7'), false},
            {"", "", "", false},
            {"<<<>>>", "", "", false},
        };
        for (const Row &row : rows) {
            const CallerIdentity id = callerFromAddress(row.address);
            QCOMPARE(textField(id.name), row.name); // the line service reads names as UTF-8
            QCOMPARE(id.number, row.number);
            QCOMPARE(id.withheld, row.withheld);
        }
        QCOMPARE(textField("M\xfcller\0junk"), QStringLiteral("Müller")); // not UTF-8: a character a byte
    }

    void messagesMapToLineEvents()
    {
        struct Row { QByteArray message; SipSignal signal; QByteArray number, name; bool elsewhere; } rows[] = {
            {kInvite, SipSignal::Invite, "5551234", "Anna \"Nan\" Caller", false},
            // The network's asserted identity wins over From.
            {withHeader(kInvite, "P-Asserted-Identity: <sip:+4930999@pbx>, <tel:+4930999>"), SipSignal::Invite, "+4930999",
             "Anna \"Nan\" Caller", false},
            {withHeader(kInvite, "P-Asserted-Identity: \"王芳\" <sip:+8610123@pbx>"), SipSignal::Invite, "+8610123", "王芳", false},
            // A CANCEL: the caller gave up, or (RFC 3326) another phone took the call.
            {cancel("X-Note: gave up"), SipSignal::Cancel, "", "", false},
            {cancel("Reason: SIP ;cause=200 ;text=\"Call completed elsewhere\""), SipSignal::Cancel, "", "", true},
            {cancel("Reason: Q.850;cause=16;text=\"Normal\"\r\nReason: SIP;cause=200"), SipSignal::Cancel, "", "", true},
            {cancel("Reason: Q.850;cause=200"), SipSignal::Cancel, "", "", false},
            {kResponse, SipSignal::Ringing, "", "", false},
            {QByteArray(kResponse).replace("180 Ringing", "486 Busy Here"), SipSignal::Rejected, "", "", false},
            // Redirections and global failures (6xx) refuse our INVITE as well.
            {QByteArray(kResponse).replace("180 Ringing", "302 Moved Temporarily"), SipSignal::Rejected, "", "", false},
            {QByteArray(kResponse).replace("180 Ringing", "603 Decline"), SipSignal::Rejected, "", "", false},
            {QByteArray(kResponse).replace("180 Ringing", "699 Whatever"), SipSignal::Rejected, "", "", false},
            {QByteArray(kResponse).replace("180 Ringing", "100 Trying"), SipSignal::None, "", "", false},
            {QByteArray(kResponse).replace("180 Ringing", "200 OK").replace("1 INVITE", "2 BYE"), SipSignal::None, "", "", false},
        };
        for (const Row &row : rows) {
            const MappedMessage m = mapRawMessage(row.message);
            QVERIFY2(m.parsed && m.signal == row.signal && m.completedElsewhere == row.elsewhere, row.message.constData());
            QCOMPARE(m.caller.number + '|' + m.caller.name, row.number + '|' + row.name);
        }
        QVERIFY(!mapRawMessage("hello").parsed);
    }

    void settingsDescribeTheLines()
    {
        telvox::test::ScratchDir dir;
        SettingsStore store(dir.file("telvox.ini"), dir.file("settings.txt"));
        for (const auto &[key, value] : {std::pair{"Line0Listen", "127.0.0.1:5070"}, {"Line0RingCadence", "1000/ 3000/x"},
                                         {"Line0TelephoneEvents", "0"}, {"Line0Transport", "TLS"},
                                         {"Line0Certificate", "/etc/telvox.pem"}, {"Line2Registrar", "fritz.box"},
                                         {"Line2User", "620"}, {"Line2Password", "pw"}, {"Line2Transport", "TCP"},
                                         {"Line2Expires", "30"}, {"Line2Proxy", "proxy.example.net"},
                                         {"Line0AllowFrom", " 192.168.1.0/24 ::1 "}})
            store.WriteSetting("SIP", key, value);
        const std::vector<SipLineConfig> lines = readSipConfig(store);
        QCOMPARE(lines.size(), std::size_t(2)); // lines 1 and 3 have neither address nor registrar
        const SipLineSetup &a = lines[0].setup, &b = lines[1].setup;
        QCOMPARE(a.listenAddress + a.transport + a.certificate, QStringLiteral("127.0.0.1:5070tls/etc/telvox.pem"));
        QCOMPARE(lines[0].ringCadenceMs, (std::vector<int>{1000, 3000}));
        QVERIFY(!a.telephoneEvents && b.telephoneEvents && b.listenAddress.isEmpty());
        QCOMPARE(b.registrar + b.user + b.password + b.transport + b.outboundProxy, QStringLiteral("fritz.box620pwtcpproxy.example.net"));
        QCOMPARE(b.expiresSeconds, 600); // below a minute: the default
        QCOMPARE(lines[1].ringCadenceMs, (std::vector<int>{2000, 4000}));
        QCOMPARE(a.allowFrom, QStringLiteral("192.168.1.0/24 ::1"));
        QCOMPARE(a.defaultPort, 5060);
        QCOMPARE(b.defaultPort, 5062); // line 2's own port when it picks its address
    }

    // Who may call a line without a registrar: addresses and networks of either family; an
    // entry with a typing error refuses the whole list rather than opening the line wider.
    void peerFilterMatchesAddressesAndNetworks()
    {
        const std::optional<PeerFilter> f = PeerFilter::parse("192.168.178.0/23, 10.1.2.3; 2001:db8::/32 fe80::1/128");
        QVERIFY(f && !f->empty());
        for (const char *yes : {"192.168.178.1", "192.168.179.254", "10.1.2.3", "2001:db8:ffff::5", "fe80::1",
                                "::ffff:10.1.2.3"})
            QVERIFY2(f->allows(yes), yes);
        for (const char *no : {"192.168.180.1", "192.168.177.255", "10.1.2.4", "2001:db9::1", "fe80::2", "127.0.0.1",
                               "", "garbage", "::ffff:10.1.2.4"})
            QVERIFY2(!f->allows(no), no);
        const PeerFilter loopback = PeerFilter::loopbackOnly();
        QVERIFY(loopback.allows("127.0.0.1") && loopback.allows("127.8.9.10") && loopback.allows("::1"));
        QVERIFY(!loopback.allows("128.0.0.1") && !loopback.allows("::2") && !loopback.allows("192.168.1.1"));
        const std::optional<PeerFilter> odd = PeerFilter::parse("0.0.0.0/0 1.2.3.4/31");
        QVERIFY(odd && odd->allows("8.8.8.8") && !odd->allows("::1"));
        QString bad;
        for (const char *wrong : {"192.168.1.0/33", "192.168.1/24", "fritz.box", "10.0.0.1/x", "::1/129"}) {
            QVERIFY2(!PeerFilter::parse(QStringLiteral("127.0.0.1 ") + wrong, &bad), wrong);
            QCOMPARE(bad, QString::fromLatin1(wrong));
        }
        QVERIFY(PeerFilter::parse("")->empty());
    }

    // Valid messages mangled at random (bytes changed, cut, repeated, lines dropped): whatever
    // parses maps to a signal and a caller that are safe to use, and nothing crashes.
    void fuzzedMessagesMapSafely()
    {
        std::mt19937 random(20261206);
        const QList<QByteArray> seeds = {kInvite, withHeader(kInvite, "P-Asserted-Identity: \"X\" <tel:+1555>"),
                                         withHeader(kInvite, "P-Asserted-Identity: \"张伟\" <sip:1@h>"),
                                         QByteArray(kInvite).replace("INVITE sip", "BYE sip"),
                                         cancel("Reason: SIP;cause=200;text=\"Call completed elsewhere\""),
                                         QByteArray(kResponse).replace("180 Ringing", "200 OK")};
        const char alphabet[] = "<>\"\\:;@%,= \r\n\t\x00\xff\xe5\xbc\xa0" "abcSIP0123456789";
        const auto pick = [&] { return alphabet[random() % (sizeof alphabet - 1)]; };
        int parsed = 0;
        for (int round = 0; round < 20000; ++round) {
            QByteArray m = seeds[int(random() % seeds.size())];
            for (int e = int(random() % 8); e >= 0 && !m.isEmpty(); --e) {
                const auto at = qsizetype(random() % std::uint32_t(m.size()));
                switch (random() % 5) {
                case 0: m[at] = pick(); break;
                case 1: m.truncate(at); break;
                case 2: m.insert(at, QByteArray(int(random() % 300), pick())); break;
                case 3: m.insert(at, m.mid(at, qsizetype(random() % 200))); break;
                default: m.remove(at, m.indexOf("\r\n", at) - at + 2); break;
                }
            }
            const MappedMessage mapped = mapRawMessage(m);
            if (!mapped.parsed || !++parsed)
                continue;
            QVERIFY(mapped.caller.number.size() <= 32 && mapped.caller.name.size() <= 64);
            for (const char c : mapped.caller.number)
                QVERIFY2(QByteArray("+*#._-").contains(c) || std::isalnum(static_cast<unsigned char>(c)), m.constData());
            for (const char c : mapped.caller.name)
                QVERIFY(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
            QVERIFY(!mapped.completedElsewhere || mapped.signal == SipSignal::Cancel);
        }
        QVERIFY2(parsed > 1000, qPrintable(QString::number(parsed))); // the fuzzing reached the mapping
    }
};

QTEST_GUILESS_MAIN(tst_SipMapping)
#include "tst_SipMapping.moc"
