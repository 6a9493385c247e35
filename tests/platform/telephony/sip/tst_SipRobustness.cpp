// A SIP line facing a misbehaving network, over loopback sockets in real time: messages that
// do not parse, an offer without a usable codec, a flood of INVITEs, and RTP from addresses
// other than the caller's. Answered or ignored per the RFCs; never a crash, never a second call.
#include "core/QtEventLoop.h"
#include "platform/telephony/sip/SipTelephony.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <QUdpSocket>

#include <random>

using namespace telvox;
using namespace telvox::sip;

namespace {

bool waitFor(const std::function<bool()> &predicate, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!predicate()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

struct Event
{
    std::uint32_t device, message, p1, p2, p3;
};

// One open SIP line and a socket that plays the far end.
struct Line
{
    Line()
    {
        SipLineConfig config;
        config.setup.listenAddress = QStringLiteral("127.0.0.1:0");
        config.ringCadenceMs = {400, 600};
        service = std::make_unique<SipTelephony>(loop, std::vector<SipLineConfig>{config});
        failure = service->start();
        std::uint32_t devices = 0;
        service->lineInitialize(app,
                                [this](std::uint32_t d, std::uint32_t m, std::uintptr_t, std::uint32_t a,
                                       std::uint32_t b, std::uint32_t c) { events.push_back({d, m, a, b, c}); },
                                QStringLiteral("test"), devices);
        service->lineOpen(app, 0, hLine, 0x20002, 0, 0, 0x4, MediaMode::AutomatedVoice);
        service->lineSetStatusMessages(hLine, kLineDevStateRinging, 0);
        const QString uri = QString::fromLatin1(service->contactUri(0));
        port = static_cast<quint16>(uri.section(QLatin1Char(':'), -1).toUInt());
        peer.bind(QHostAddress::LocalHost, 0);
    }
    int count(std::uint32_t message, std::uint32_t p1) const
    {
        return int(std::count_if(events.begin(), events.end(),
                                 [&](const Event &e) { return e.message == message && e.p1 == p1; }));
    }
    void send(const QByteArray &datagram) { peer.writeDatagram(datagram, QHostAddress::LocalHost, port); }
    // Responses received so far, by status line.
    QStringList responses()
    {
        while (peer.hasPendingDatagrams()) {
            const QByteArray d = peer.receiveDatagram().data();
            received << QString::fromLatin1(d);
        }
        return received;
    }
    QByteArray invite(int n, const QByteArray &sdp) const
    {
        QByteArray m = "INVITE sip:telvox@127.0.0.1:" + QByteArray::number(port) + " SIP/2.0\r\n"
                       "Via: SIP/2.0/UDP 127.0.0.1:" + QByteArray::number(peer.localPort())
                     + ";branch=z9hG4bK-" + QByteArray::number(n) + "\r\n"
                       "Max-Forwards: 70\r\n"
                       "To: <sip:telvox@127.0.0.1>\r\n"
                       "From: \"Flood\" <sip:555000" + QByteArray::number(n) + "@127.0.0.1>;tag=t" + QByteArray::number(n) + "\r\n"
                       "Call-ID: call-" + QByteArray::number(n) + "@test\r\n"
                       "CSeq: 1 INVITE\r\n"
                       "Contact: <sip:flood@127.0.0.1:" + QByteArray::number(peer.localPort()) + ">\r\n"
                       "Content-Type: application/sdp\r\n"
                       "Content-Length: " + QByteArray::number(sdp.size()) + "\r\n\r\n" + sdp;
        return m;
    }

    QtEventLoop loop;
    std::unique_ptr<SipTelephony> service;
    QString failure;
    HLineApp app = 0;
    HLine hLine = 0;
    quint16 port = 0;
    QUdpSocket peer;
    std::vector<Event> events;
    QStringList received;
};

QByteArray sdpOffer(quint16 rtpPort, const QByteArray &formats, const QByteArray &maps)
{
    return "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\nm=audio "
        + QByteArray::number(rtpPort) + " RTP/AVP " + formats + "\r\n" + maps;
}

QByteArray rtpPacket(std::uint16_t seq, std::uint32_t ts, std::uint8_t value)
{
    QByteArray p(12, 0);
    p[0] = char(0x80);
    p[1] = 0; // PCMU
    p[2] = char(seq >> 8);
    p[3] = char(seq & 0xFF);
    for (int i = 0; i < 4; ++i)
        p[4 + i] = char((ts >> (24 - 8 * i)) & 0xFF);
    p[8] = 0x12;
    return p + QByteArray(160, char(value));
}

} // namespace

class tst_SipRobustness : public QObject
{
    Q_OBJECT

private slots:
    void malformedMessagesAreIgnoredAndTheLineStillTakesCalls()
    {
        Line l;
        QVERIFY2(l.failure.isEmpty(), qPrintable(l.failure));
        std::mt19937 random(17);
        const QByteArray valid = l.invite(1, sdpOffer(40000, "0", "a=rtpmap:0 PCMU/8000\r\n"));
        for (int i = 0; i < 300; ++i) {
            QByteArray junk = valid;
            switch (i % 4) {
            case 0: junk.truncate(qsizetype(random() % std::uint32_t(valid.size()))); break;
            case 1: junk[qsizetype(random() % std::uint32_t(valid.size()))] = char(random()); break;
            case 2: junk = QByteArray(int(random() % 1400), char(random())); break;
            default: junk.replace("Content-Length: ", "Content-Length: 9"); break;
            }
            junk.replace("Call-ID: call-1", "Call-ID: junk-" + QByteArray::number(i));
            l.send(junk);
        }
        QTest::qWait(300);
        // A mangled INVITE that still parses is a call like any other: end it.
        for (const Event &e : std::vector<Event>(l.events)) {
            if (e.message == LINE_CALLSTATE && e.p1 == LineCallState::Offering) {
                QVERIFY(l.service->lineDrop(e.device) > 0);
                QCOMPARE(l.service->lineDeallocateCall(e.device), 0);
            }
        }
        QTest::qWait(100);
        l.events.clear();
        l.send(l.invite(2, sdpOffer(40000, "0 101", "a=rtpmap:0 PCMU/8000\r\na=rtpmap:101 telephone-event/8000\r\n")));
        QVERIFY(waitFor([&] { return l.count(LINE_CALLSTATE, LineCallState::Offering) == 1; }, 3000));
        QVERIFY(waitFor([&] { return l.count(LINE_LINEDEVSTATE, kLineDevStateRinging) >= 2; }, 3000));
    }

    void anOfferWithoutG711IsRefusedWith488()
    {
        Line l;
        QVERIFY2(l.failure.isEmpty(), qPrintable(l.failure));
        l.send(l.invite(1, sdpOffer(40000, "3 9", "a=rtpmap:3 GSM/8000\r\na=rtpmap:9 G722/8000\r\n")));
        QVERIFY(waitFor([&] { return l.responses().join('|').contains(QLatin1String("SIP/2.0 488")); }, 3000));
        QTest::qWait(200);
        QCOMPARE(l.count(LINE_CALLSTATE, LineCallState::Offering), 0);
    }

    void aFloodOfInvitesRingsOnceAndIsAnsweredBusy()
    {
        Line l;
        QVERIFY2(l.failure.isEmpty(), qPrintable(l.failure));
        const QByteArray sdp = sdpOffer(40000, "8", "a=rtpmap:8 PCMA/8000\r\n");
        for (int n = 1; n <= 200; ++n)
            l.send(l.invite(n, sdp));
        QVERIFY(waitFor([&] { return l.responses().join('|').count(QLatin1String("SIP/2.0 486")) >= 150; }, 5000));
        QTest::qWait(300);
        QCOMPARE(l.count(LINE_CALLSTATE, LineCallState::Offering), 1);
    }

    void rtpFromOtherAddressesIsIgnored()
    {
        Line l;
        QVERIFY2(l.failure.isEmpty(), qPrintable(l.failure));
        QUdpSocket caller, stranger;
        caller.bind(QHostAddress::LocalHost, 0);
        stranger.bind(QHostAddress::LocalHost, 0);
        l.send(l.invite(1, sdpOffer(caller.localPort(), "0", "a=rtpmap:0 PCMU/8000\r\n")));
        QVERIFY(waitFor([&] { return l.count(LINE_CALLSTATE, LineCallState::Offering) == 1; }, 3000));
        const HCall call = l.events.front().device;
        QVERIFY(l.service->lineAnswer(call) > 0);
        QRegularExpressionMatch media;
        QVERIFY(waitFor([&] {
            media = QRegularExpression(QStringLiteral("SIP/2.0 200 OK.*m=audio (\\d+)"),
                                       QRegularExpression::DotMatchesEverythingOption)
                        .match(l.responses().join('|'));
            return media.hasMatch();
        }, 3000));
        const auto rtpPort = static_cast<quint16>(media.captured(1).toUInt());
        // The caller's stream (PCMU 0xFF: silence) and a stranger's (0x00: full scale), interleaved.
        for (std::uint16_t k = 0; k < 25; ++k) {
            caller.writeDatagram(rtpPacket(k, 160u * k, 0xFF), QHostAddress::LocalHost, rtpPort);
            stranger.writeDatagram(rtpPacket(k, 160u * k, 0x00), QHostAddress::LocalHost, rtpPort);
            QThread::msleep(5);
        }
        QVERIFY(waitFor([&] { return l.service->stack().stats(0).packetsIn >= 25; }, 3000));
        QVERIFY(l.service->stack().stats(0).strangers >= 25);
        std::vector<std::int16_t> heard(4000);
        l.service->stack().media(0).readFromLine(heard);
        QVERIFY(std::all_of(heard.begin(), heard.end(), [](std::int16_t v) { return std::abs(v) < 100; }));
        QVERIFY(l.service->lineDrop(call) > 0);
    }
};

QTEST_GUILESS_MAIN(tst_SipRobustness)
#include "tst_SipRobustness.moc"
