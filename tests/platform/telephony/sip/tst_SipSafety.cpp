// SIP lines among strangers, on the loopback interface in real time: media from anyone but the
// caller is dropped, INVITEs from anywhere but the registrar (or the allowed hosts) and for
// another user are refused, a call right after a hang-up is answered, a call while the line
// is busy is refused and logged, and four lines record at once. 127.0.0.2 plays the stranger.
#include "SipCallSystem.h"

#include <QNetworkDatagram>
#include <QTimer>

using namespace telvox;
using namespace telvox::test;

namespace {

std::uint8_t toUlaw(std::int16_t sample)
{
    constexpr int kBias = 0x84;
    int s = sample;
    const int sign = s < 0 ? 0x80 : 0;
    s = std::min(std::abs(s), 32635) + kBias;
    int exponent = 7;
    for (int mask = 0x4000; (s & mask) == 0 && exponent > 0; mask >>= 1)
        --exponent;
    const int mantissa = (s >> (exponent + 3)) & 0x0F;
    return static_cast<std::uint8_t>(~(sign | (exponent << 4) | mantissa));
}

// Sends a loud 1000 Hz tone as PCMU RTP, 20 ms a packet, from 127.0.0.2 to a port of ours.
class StrangerRtp
{
public:
    explicit StrangerRtp(quint16 target)
        : m_target(target)
    {
        m_socket.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { send(); });
        m_timer.start(20);
    }
    int sent() const { return m_seq; }
    // Whatever came back to the stranger (our greeting must not).
    qint64 received()
    {
        while (m_socket.hasPendingDatagrams()) {
            m_received += m_socket.pendingDatagramSize();
            m_socket.receiveDatagram();
        }
        return m_received;
    }

private:
    void send()
    {
        QByteArray packet(12, 0);
        packet[0] = char(0x80);
        packet[1] = 0; // PCMU
        packet[2] = char(m_seq >> 8);
        packet[3] = char(m_seq);
        const quint32 ts = quint32(m_seq) * 160;
        for (int i = 0; i < 4; ++i)
            packet[4 + i] = char(ts >> (24 - 8 * i));
        packet[8] = 0x5A;
        for (int i = 0; i < 160; ++i)
            packet.append(char(toUlaw(std::int16_t(12000 * std::sin(2 * std::numbers::pi * 1000 * (ts + i) / 8000.0)))));
        m_socket.writeDatagram(packet, QHostAddress::LocalHost, m_target);
        ++m_seq;
    }

    QUdpSocket m_socket;
    QTimer m_timer;
    quint16 m_target;
    int m_seq = 0;
    qint64 m_received = 0;
};

} // namespace

class tst_SipSafety : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(!BaresipPeer::modules().isEmpty(), "baresip or its modules are missing: run scripts/setup (baresip-core)");
        QVERIFY2(!Registrar::modules().isEmpty(), "kamailio or its modules are missing: run scripts/setup (kamailio)");
        QUdpSocket probe;
        QVERIFY2(probe.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0), "127.0.0.2 is not a loopback address here");
    }

    // An account line without a listening address takes the local address of the route to
    // its registrar (loopback here, not the host's network address) on its own port, or on
    // one the system picks when that is taken.
    void accountLineListensTowardsItsRegistrar()
    {
        const quint16 own = freePort();
        QUdpSocket taken;
        QVERIFY(taken.bind(QHostAddress::LocalHost, freePort()));
        for (const quint16 port : {own, taken.localPort()}) {
            sip::SipLineSetup setup = loopbackLine(QStringLiteral("127.0.0.1:%1").arg(freePort()));
            setup.listenAddress.clear();
            setup.defaultPort = port;
            QtEventLoop loop;
            sip::SipTelephony lines(loop, {{setup, {400, 600}}});
            QCOMPARE(lines.start(), QString());
            const QString contact = QString::fromLatin1(lines.contactUri(0));
            QVERIFY2(contact.startsWith("sip:telvox@127.0.0.1:"), qPrintable(contact));
            QCOMPARE(contact == QStringLiteral("sip:telvox@127.0.0.1:%1").arg(port), port == own);
        }
    }

    // A stranger sends RTP to the call's port from before the answer to the end. The recording
    // is the caller's voice only, the greeting goes to the caller only, and the day log says
    // that (and from where) packets were dropped.
    void strangersMediaIsDropped()
    {
        System s(1);
        QVERIFY2(s.startFailure.isEmpty(), qPrintable(s.startFailure));
        BaresipCall call = s.caller();
        call.quitAfterSeconds = 8;
        BaresipPeer peer(call);
        QVERIFY2(waitFor([&] { return s.slot().hCall != 0; }, 8000), qPrintable(peer.output()));
        const quint16 port = s.sipLines->stack().stats(0).rtpPort;
        QVERIFY(port != 0);
        StrangerRtp stranger(port);
        QVERIFY(waitFor([&] { return s.slot().recState == 1; }, 10000));
        QVERIFY(waitFor([&] { return !s.recordings().isEmpty(); }, 15000));
        QVERIFY(stranger.sent() > 100);
        const sip::SipStack::CallStats stats = s.sipLines->stack().stats(0);
        QVERIFY2(stats.strangers > 50 && stats.packetsIn > 100,
                 qPrintable(QStringLiteral("%1 dropped, %2 taken").arg(stats.strangers).arg(stats.packetsIn)));
        QCOMPARE(stranger.received(), 0);
        const QStringList files = s.recordings();
        checkSameVoice(readLineWav(speechFile().toStdString()), s.recording(files[0]));
        QVERIFY2(s.statusText().contains(QRegularExpression("Line0: \\d+ audio packets from 127\\.0\\.0\\.2:\\d+ dropped")),
                 qPrintable(s.statusText()));
        // Rate-limited: one line for an eight-second call, not one per packet.
        QCOMPARE(s.statusText().count("audio packets from"), 1);
        peer.finished(5000);
        QVERIFY(bestToneShare(peer.heard(), 4000, 440, 440) > 0.8);
    }

    // An account line takes calls through its registrar only, and for its own user: an INVITE
    // sent straight to it from another host, or from the registrar's host for another user, is
    // refused with 403 and logged; the call through kamailio rings. A line without a registrar
    // takes calls from the hosts its options allow.
    void invitesFromElsewhereAreRefused()
    {
        const quint16 port = freePort();
        Registrar registrar(port);
        QVERIFY(registrar.ready());
        const QString account = QStringLiteral("127.0.0.1:%1").arg(port);
        sip::SipLineSetup direct = loopbackLine();
        direct.allowFrom = QStringLiteral("127.0.0.1/32");
        System s(8, std::vector<sip::SipLineSetup>{loopbackLine(account), direct});
        QVERIFY2(waitFor([&] { return s.sipLines->registered(0); }, 8000), qPrintable(s.statusText()));
        const QString contact = QString::fromLatin1(s.sipLines->contactUri(0));

        BaresipCall fromStranger{contact, speechFile()};
        fromStranger.listenHost = QStringLiteral("127.0.0.2");
        fromStranger.quitAfterSeconds = 4;
        BaresipPeer stranger(fromStranger);
        QVERIFY2(waitFor([&] { return s.statusText().contains("refused: 127.0.0.2:"); }, 8000),
                 qPrintable(s.statusText() + stranger.output()));
        QVERIFY(s.statusText().contains("Line0: call from Anna Caller <5551234> refused: 127.0.0.2:"));
        stranger.finished(6000);
        QVERIFY2(stranger.output().contains("403"), qPrintable(stranger.output()));

        // The registrar's host, but a user that is not ours.
        BaresipCall otherUser{QString(contact).replace("sip:telvox@", "sip:mallory@"), speechFile()};
        otherUser.quitAfterSeconds = 4;
        BaresipPeer wrongUser(otherUser);
        wrongUser.finished(6000);
        QVERIFY2(wrongUser.output().contains("403"), qPrintable(wrongUser.output()));

        // The direct line allows 127.0.0.1 only.
        BaresipCall toDirect{QString::fromLatin1(s.sipLines->contactUri(1)), speechFile()};
        toDirect.listenHost = QStringLiteral("127.0.0.2");
        toDirect.quitAfterSeconds = 4;
        BaresipPeer directStranger(toDirect);
        directStranger.finished(6000);
        QVERIFY2(directStranger.output().contains("403"), qPrintable(directStranger.output()));
        QVERIFY2(s.slot(0).hCall == 0 && s.slot(1).hCall == 0 && s.recordings().isEmpty(), qPrintable(s.statusText()));

        // Through the registrar it rings.
        BaresipPeer caller({"sip:telvox@" + account, speechFile()});
        QVERIFY2(waitFor([&] { return s.slot(0).hCall != 0; }, 8000), qPrintable(s.statusText() + caller.output()));
    }

    // A caller who calls again while the call flow is still letting go of the previous call
    // (its clean-up held here, so the INVITE lands inside that window every time) waits, is
    // answered once the line is free, and is recorded; a call while the line carries another
    // is refused as busy, into the day log and (through the notice) the call records.
    void callRightAfterHangUpAndWhileBusy()
    {
        System s(1);
        QVERIFY2(s.startFailure.isEmpty(), qPrintable(s.startFailure));
        BaresipCall first = s.caller();
        first.quitAfterSeconds = 6;
        BaresipPeer one(first);
        QVERIFY(waitFor([&] { return s.slot().recState == 1; }, 10000));
        s.cleanUp->hold();
        QVERIFY(waitFor([&] { return s.cleanUp->heldCalls() == 1; }, 15000)); // the BYE ended it
        BaresipCall second = s.caller();
        second.from = QStringLiteral("\"Bo\" <sip:5550002@127.0.0.1>");
        second.quitAfterSeconds = 9;
        BaresipPeer two(second);
        QVERIFY2(waitFor([&] { return s.sipLines->callerWaiting(0) || !s.refusedNumbers.isEmpty(); }, 8000),
                 qPrintable(s.statusText() + two.output()));
        QVERIFY2(s.refusedNumbers.isEmpty(), qPrintable(s.statusText()));
        s.cleanUp->release();
        QVERIFY2(waitFor([&] { return s.slot().recState == 1 && s.slot().callerId == "~5550002"; }, 10000),
                 qPrintable(s.statusText() + two.output()));

        BaresipCall third = s.caller();
        third.from = QStringLiteral("\"Cy\" <sip:5550003@127.0.0.1>");
        third.quitAfterSeconds = 3;
        BaresipPeer busy(third);
        busy.finished(5000);
        QVERIFY2(busy.output().contains("486 Busy Here"), qPrintable(busy.output()));
        QVERIFY2(waitFor([&] { return s.statusText().contains("Line0: call from Cy <5550003> refused: the line was busy"); },
                         3000),
                 qPrintable(s.statusText()));
        QCOMPARE(s.refusedNumbers, QStringList{"5550003"}); // for the call records

        QVERIFY(waitFor([&] { return s.recordings().size() == 2; }, 15000));
        QVERIFY2(s.recordings()[0].endsWith("~5551234.wav") && s.recordings()[1].endsWith("~5550002.wav"),
                 qPrintable(s.recordings().join(',')));
    }

    // A caller offering Opus and G.722 only: the call is taken in G.722, the recording (the
    // lower band, at 8000 Hz) is the caller's voice, and the caller hears the greeting.
    void g722CallIsRecorded()
    {
        System s(1);
        QVERIFY2(s.startFailure.isEmpty(), qPrintable(s.startFailure));
        BaresipCall call = s.caller();
        call.codecs = QStringLiteral("opus,G722");
        call.quitAfterSeconds = 8;
        BaresipPeer peer(call);
        QVERIFY2(waitFor([&] { return !s.recordings().isEmpty(); }, 20000), qPrintable(peer.output()));
        checkSameVoice(readLineWav(speechFile().toStdString()), s.recording(s.recordings().first()));
        peer.finished(5000);
        QVERIFY2(peer.output().contains("G722"), qPrintable(peer.output().right(1500)));
        QVERIFY(bestToneShare(peer.heard(), 4000, 440, 440) > 0.8);
    }

    // A line over TLS that requires SRTP: a caller without SRTP is refused (488); one with it
    // (SDES keys, over TLS) is recorded, and a stranger's plain RTP to the call's port fails
    // the authentication and is dropped.
    void tlsAndSrtpCall()
    {
        ScratchDir keys;
        sip::SipLineSetup setup = loopbackLine();
        setup.transport = QStringLiteral("tls");
        setup.certificate = makeCertificate(keys);
        setup.srtp = sip::SipLineSetup::Srtp::Required;
        System s(1, setup);
        QVERIFY2(s.startFailure.isEmpty(), qPrintable(s.startFailure));
        const QString target = QString::fromLatin1(s.sipLines->contactUri(0));
        QVERIFY2(target.endsWith(";transport=tls"), qPrintable(target));

        BaresipCall plain{target, speechFile()};
        plain.quitAfterSeconds = 4;
        BaresipPeer refused(plain);
        refused.finished(6000);
        QVERIFY2(refused.output().contains("488"), qPrintable(refused.output()));

        BaresipCall secure{target, speechFile()};
        secure.account = QStringLiteral(";regint=0;mediaenc=srtp-mand");
        secure.quitAfterSeconds = 8;
        BaresipPeer peer(secure);
        QVERIFY2(waitFor([&] { return s.slot().hCall != 0; }, 8000), qPrintable(peer.output()));
        StrangerRtp stranger(s.sipLines->stack().stats(0).rtpPort);
        QVERIFY2(waitFor([&] { return !s.recordings().isEmpty(); }, 20000), qPrintable(peer.output()));
        checkSameVoice(readLineWav(speechFile().toStdString()), s.recording(s.recordings().first()));
        QVERIFY(s.sipLines->stack().stats(0).strangers > 50);
        peer.finished(5000);
        QVERIFY(bestToneShare(peer.heard(), 4000, 440, 440) > 0.8);
    }

    // Four SIP lines, four callers at once, each with a voice of its own: all four are
    // recorded at the same time, each recording holding its own caller's voice and no other's.
    // Every half-second piece of a caller's voice is found, except where the line had to make
    // audio up (a packet came late: baresip, the network or the stack's thread stalled; each
    // 20 ms made up may spoil the piece it falls in); no piece of another voice may be found.
    // A stall of the recorder's own thread costs nothing: it catches up.
    void fourLinesRecordAtOnce()
    {
        System s(1, std::vector<sip::SipLineSetup>(4, loopbackLine()));
        QVERIFY2(s.startFailure.isEmpty(), qPrintable(s.startFailure));
        const QString data = qEnvironmentVariable("TELVOX_SOURCE_DIR") + "/tests/data/";
        const QStringList voices{data + "speech_en_male_8k.wav", data + "speech_en_female_8k.wav",
                                 data + "speech_cmn_8k.wav", data + "speech_yue_8k.wav"};
        std::vector<std::unique_ptr<BaresipPeer>> callers;
        for (int n = 0; n < 4; ++n) {
            BaresipCall call = s.caller(n);
            call.voiceWav = voices[n];
            call.from = QStringLiteral("<sip:555000%1@127.0.0.1>").arg(n);
            call.quitAfterSeconds = 10;
            callers.push_back(std::make_unique<BaresipPeer>(call));
        }
        QVERIFY2(waitFor([&] {
            return s.slot(0).recState == 1 && s.slot(1).recState == 1 && s.slot(2).recState == 1 && s.slot(3).recState == 1;
        }, 15000), qPrintable(s.statusText()));
        QVERIFY(waitFor([&] { return s.recordings().size() == 4; }, 20000));
        for (int n = 0; n < 4; ++n) {
            const QString file = s.recordings().filter(QStringLiteral("~555000%1.wav").arg(n)).value(0);
            const std::vector<std::int16_t> recorded = s.recording(file);
            const sip::JitterBuffer::Stats jb = s.sipLines->stack().media(n).rx.stats();
            qInfo("line %d: late %llu, concealed %llu, stretched %llu, skipped %llu samples, delay %u ms", n,
                  static_cast<unsigned long long>(jb.late), static_cast<unsigned long long>(jb.concealed),
                  static_cast<unsigned long long>(jb.stretched), static_cast<unsigned long long>(jb.skipped), jb.delay / 8);
            for (int v = 0; v < 4; ++v) {
                // Another caller's voice: four pieces tell (the search is costly).
                const auto [matched, pieces] = voicePieces(readLineWav(voices[v].toStdString()), recorded, v == n ? 1000 : 4);
                const QString what = QStringLiteral("line %1, voice %2: %3 of %4").arg(n).arg(v).arg(matched).arg(pieces);
                const auto madeUp = static_cast<int>((jb.concealed + jb.stretched + 159) / 160);
                if (v == n)
                    QVERIFY2(pieces >= 3 && matched >= pieces - madeUp, qPrintable(what));
                else
                    QVERIFY2(matched == 0, qPrintable(what));
            }
        }
    }
};

QTEST_GUILESS_MAIN(tst_SipSafety)
#include "tst_SipSafety.moc"
