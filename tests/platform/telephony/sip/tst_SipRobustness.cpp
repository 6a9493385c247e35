// A SIP line facing a misbehaving network, over loopback sockets in real time: messages that
// do not parse, an offer without a usable codec, a flood of INVITEs, RTP from addresses other
// than the caller's, and a TLS registrar whose certificate names another host. Answered or
// ignored per the RFCs; never a crash, never a second call, never a registration elsewhere.
// Also the touch tones the line sends, as a socket far end receives them.
#include "SipTestSupport.h"
#include "core/QtEventLoop.h"
#include "core/Texts.h"
#include "platform/telephony/sip/SipTelephony.h"
#include "support/LineEvents.h"

#include <QNetworkDatagram>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QtEndian>
#include <QRegularExpression>
#include <QTest>

#include <map>
#include <random>

using namespace telvox;
using namespace telvox::sip;
using namespace telvox::test;

namespace {

// One open SIP line, the events it posts, and a socket that plays the far end.
struct Line : LineEvents
{
    Line()
    {
        SipLineConfig config;
        config.setup.listenAddress = QStringLiteral("127.0.0.1:0");
        config.ringCadenceMs = {400, 600};
        service = std::make_unique<SipTelephony>(loop, std::vector<SipLineConfig>{config});
        failure = service->start();
        openLine(*service, loop, 0x4, MediaMode::AutomatedVoice);
        port = static_cast<quint16>(QString::fromLatin1(service->contactUri(0)).section(QLatin1Char(':'), -1).toUInt());
        peer.bind(QHostAddress::LocalHost, 0);
    }
    void send(const QByteArray &datagram) { peer.writeDatagram(datagram, QHostAddress::LocalHost, port); }
    QString responses() // every response received so far
    {
        while (peer.hasPendingDatagrams())
            received += QString::fromLatin1(peer.receiveDatagram().data()) + '|';
        return received;
    }
    QByteArray invite(int n, const QByteArray &sdp) const
    {
        const QByteArray k = QByteArray::number(n), p = QByteArray::number(peer.localPort());
        return "INVITE sip:telvox@127.0.0.1:" + QByteArray::number(port) + " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" + p
            + ";branch=z9hG4bK-" + k + "\r\nMax-Forwards: 70\r\nTo: <sip:telvox@127.0.0.1>\r\nFrom: \"Flood\" <sip:555000" + k
            + "@127.0.0.1>;tag=t" + k + "\r\nCall-ID: call-" + k + "@test\r\nCSeq: 1 INVITE\r\nContact: <sip:flood@127.0.0.1:"
            + p + ">\r\nContent-Type: application/sdp\r\nContent-Length: " + QByteArray::number(sdp.size()) + "\r\n\r\n" + sdp;
    }

    QtEventLoop loop;
    std::unique_ptr<SipTelephony> service;
    QString failure;
    quint16 port = 0;
    QUdpSocket peer;
    QString received;
};

// An SDP offer of one audio stream at `rtpPort` with the payload types `formats` ("0 101").
QByteArray sdpOffer(quint16 rtpPort, const QByteArray &formats)
{
    QByteArray sdp = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\nm=audio "
        + QByteArray::number(rtpPort) + " RTP/AVP " + formats + "\r\n";
    for (const QByteArray &pt : formats.split(' '))
        sdp += "a=rtpmap:" + pt + (pt == "0" ? " PCMU" : pt == "8" ? " PCMA" : pt == "101" ? " telephone-event" : " GSM") + "/8000\r\n";
    return sdp;
}

// A PCMU packet of 160 samples, each the byte `value`.
QByteArray rtpPacket(std::uint16_t seq, std::uint32_t ts, char value)
{
    QByteArray p = QByteArray::fromHex("800000000000000000000012") + QByteArray(160, value);
    qToBigEndian(seq, p.data() + 2);
    qToBigEndian(ts, p.data() + 4);
    return p;
}

// A key and a self-signed certificate for `altName` ("IP:127.0.0.1", "DNS:sip.example"),
// made by openssl in `dir` (key.pem, cert.pem).
void makeServerCertificate(const ScratchDir &dir, const QString &altName)
{
    QProcess openssl;
    openssl.start("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days",
                              "1", "-subj", "/CN=" + altName.section(':', 1), "-addext", "subjectAltName=" + altName,
                              "-keyout", dir.file("key.pem"), "-out", dir.file("cert.pem")});
    QVERIFY(openssl.waitForFinished(30000) && openssl.exitCode() == 0);
}

// A registrar over TLS on 127.0.0.1 (Qt's TLS server, the certificate given): every REGISTER
// it reads is accepted with 200 OK for ten seconds.
class TlsRegistrar : public QTcpServer
{
public:
    explicit TlsRegistrar(const ScratchDir &keys)
        : m_key(readAll(keys.file("key.pem")), QSsl::Ec)
        , m_certificate(readAll(keys.file("cert.pem")))
    {
        listen(QHostAddress::LocalHost, 0);
    }
    int registrations() const { return m_registrations; }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        socket->setPrivateKey(m_key);
        socket->setLocalCertificate(m_certificate);
        connect(socket, &QSslSocket::readyRead, socket, [this, socket] { answer(*socket); });
        socket->startServerEncryption();
    }

private:
    void answer(QSslSocket &socket)
    {
        QByteArray &pending = m_pending[&socket];
        pending += socket.readAll();
        for (qsizetype end; (end = pending.indexOf("\r\n\r\n")) >= 0; pending.remove(0, end + 4)) {
            QByteArray reply = "SIP/2.0 200 OK\r\n";
            const QList<QByteArray> lines = pending.left(end).split('\n');
            if (!lines.first().startsWith("REGISTER "))
                continue;
            for (const QByteArray &line : lines) {
                const QByteArray name = line.left(line.indexOf(':')).trimmed().toLower();
                if (name == "via" || name == "from" || name == "call-id" || name == "cseq" || name == "contact")
                    reply += line.trimmed() + "\r\n";
                else if (name == "to")
                    reply += line.trimmed() + ";tag=registrar\r\n";
            }
            socket.write(reply + "Expires: 10\r\nContent-Length: 0\r\n\r\n");
            ++m_registrations;
        }
    }

    QSslKey m_key;
    QSslCertificate m_certificate;
    std::map<QSslSocket *, QByteArray> m_pending;
    int m_registrations = 0;
};

} // namespace

class tst_SipRobustness : public QObject
{
    Q_OBJECT

private slots:
    // 300 messages that do not parse (or parse mangled), an offer without G.711 (488), then a
    // flood of 200 INVITEs: the first rings, the others are answered busy (486).
    void badMessagesAreAnsweredPerTheRfcsAndTheLineStillTakesCalls()
    {
        Line l;
        QVERIFY2(l.failure.isEmpty(), qPrintable(l.failure));
        std::mt19937 random(17);
        const QByteArray valid = l.invite(0, sdpOffer(40000, "0"));
        for (int i = 0; i < 300; ++i) {
            QByteArray junk = valid;
            switch (i % 4) {
            case 0: junk.truncate(qsizetype(random() % std::uint32_t(valid.size()))); break;
            case 1: junk[qsizetype(random() % std::uint32_t(valid.size()))] = char(random()); break;
            case 2: junk = QByteArray(int(random() % 1400), char(random())); break;
            default: junk.replace("Content-Length: ", "Content-Length: 9"); break;
            }
            l.send(junk.replace("Call-ID: call-0", "Call-ID: junk-" + QByteArray::number(i)));
        }
        QTest::qWait(300);
        std::vector<std::uint32_t> calls; // a mangled INVITE that still parses is a call: end it
        l.count(LINE_CALLSTATE, LineCallState::Offering, &calls);
        for (const std::uint32_t call : calls)
            QVERIFY(l.service->lineDrop(call) > 0 && l.service->lineDeallocateCall(call) == 0);
        QTest::qWait(100);
        l.events.clear();
        l.send(l.invite(1, sdpOffer(40000, "3"))); // GSM only
        QVERIFY(waitFor([&] { return l.responses().contains(QLatin1String("SIP/2.0 488")); }, 3000));
        for (int n = 2; n <= 201; ++n)
            l.send(l.invite(n, sdpOffer(40000, n == 2 ? "0 101" : "8")));
        QVERIFY(waitFor([&] { return l.responses().count(QLatin1String("SIP/2.0 486")) >= 150; }, 5000));
        QVERIFY(waitFor([&] { return l.count(LINE_LINEDEVSTATE, kLineDevStateRinging) >= 2; }, 3000));
        QCOMPARE(l.count(LINE_CALLSTATE, LineCallState::Offering), 1);
    }

    void rtpFromOtherAddressesIsIgnored()
    {
        Line l;
        QVERIFY2(l.failure.isEmpty(), qPrintable(l.failure));
        QUdpSocket caller, stranger;
        caller.bind(QHostAddress::LocalHost, 0);
        stranger.bind(QHostAddress::LocalHost, 0);
        l.send(l.invite(1, sdpOffer(caller.localPort(), "0")));
        std::vector<std::uint32_t> calls;
        QVERIFY(waitFor([&] { return l.count(LINE_CALLSTATE, LineCallState::Offering, &calls) == 1; }, 3000));
        QVERIFY(l.service->lineAnswer(calls.front()) > 0);
        QRegularExpressionMatch media;
        const QRegularExpression port(QStringLiteral("SIP/2.0 200 OK.*m=audio (\\d+)"), QRegularExpression::DotMatchesEverythingOption);
        QVERIFY(waitFor([&] { return (media = port.match(l.responses())).hasMatch(); }, 3000));
        const auto rtpPort = static_cast<quint16>(media.captured(1).toUInt());
        // The caller's stream (PCMU 0xFF: silence) and a stranger's (0x00: full scale), interleaved.
        for (std::uint16_t k = 0; k < 25; ++k) {
            caller.writeDatagram(rtpPacket(k, 160u * k, char(0xFF)), QHostAddress::LocalHost, rtpPort);
            stranger.writeDatagram(rtpPacket(k, 160u * k, 0), QHostAddress::LocalHost, rtpPort);
            QThread::msleep(5);
        }
        QVERIFY(waitFor([&] { return l.service->stack().stats(0).packetsIn >= 25; }, 3000));
        QVERIFY(l.service->stack().stats(0).strangers >= 25);
        std::vector<std::int16_t> heard(4000);
        l.service->stack().media(0).readFromLine(heard);
        QVERIFY(std::all_of(heard.begin(), heard.end(), [](std::int16_t v) { return std::abs(v) < 100; }));
        QVERIFY(l.service->lineDrop(calls.front()) > 0);
    }

    // An account line over TLS trusts the registrar's certificate (its CA file holds it) only
    // when it names the registrar: one for another host is refused before any REGISTER is
    // sent, and the status line says why; one for 127.0.0.1 is taken and the line registers.
    void tlsRegistrarMustNameItself()
    {
        StringTable table;
        table.loadBuiltIn();
        const Texts texts{table, 0};
        for (const QString altName : {"DNS:registrar.example", "IP:127.0.0.1"}) {
            ScratchDir keys;
            makeServerCertificate(keys, altName);
            TlsRegistrar registrar(keys);
            QVERIFY(registrar.isListening());
            const QString where = QStringLiteral("127.0.0.1:%1").arg(registrar.serverPort());
            SipLineConfig config;
            config.setup.listenAddress = QStringLiteral("127.0.0.1:0");
            config.setup.registrar = where;
            config.setup.transport = QStringLiteral("tls");
            config.setup.caFile = keys.file("cert.pem");
            config.setup.expiresSeconds = 10;
            config.setup.retrySeconds = 1;
            QtEventLoop loop;
            SipTelephony lines(loop, {config});
            QStringList told;
            lines.setStatusHandler([&](const SipNotice &n) { told << n.format(texts); });
            QCOMPARE(lines.start(), QString());
            QVERIFY2(waitFor([&] { return !told.isEmpty(); }, 8000), qPrintable(altName));
            if (altName.startsWith("DNS")) {
                QCOMPARE(told.first(), "Line0: the certificate of " + where + " was refused (IP address mismatch); not registered");
                QTest::qWait(1500); // a retry, refused the same way, is not told again
                QCOMPARE(told.size(), 1);
                QCOMPARE(registrar.registrations(), 0);
            } else {
                QCOMPARE(told, QStringList{"Line0: registered at " + where});
                QVERIFY(lines.registered(0) && registrar.registrations() >= 1);
            }
        }
    }

    // Keys sent to a far end that takes telephone events: per key one event (one packet with
    // the marker bit), its end packets with the E bit, and the line told when all are out.
    void touchTonesGoOutAsEventsThatEnd()
    {
        Line l;
        QVERIFY2(l.failure.isEmpty(), qPrintable(l.failure));
        QUdpSocket caller;
        caller.bind(QHostAddress::LocalHost, 0);
        l.send(l.invite(1, sdpOffer(caller.localPort(), "0 101")));
        std::vector<std::uint32_t> calls;
        QVERIFY(waitFor([&] { return l.count(LINE_CALLSTATE, LineCallState::Offering, &calls) == 1; }, 3000));
        QVERIFY(l.service->lineAnswer(calls.front()) > 0);
        QRegularExpressionMatch ok;
        const QRegularExpression toTag(QStringLiteral("SIP/2.0 200 OK.*\\nTo: ([^\\r]*)\\r"),
                                       QRegularExpression::DotMatchesEverythingOption);
        QVERIFY(waitFor([&] { return (ok = toTag.match(l.responses())).hasMatch(); }, 3000));
        QByteArray ack = l.invite(1, {});
        ack.replace("INVITE sip:", "ACK sip:").replace("CSeq: 1 INVITE", "CSeq: 1 ACK").replace("branch=z9hG4bK-1", "branch=z9hG4bK-ack");
        ack.replace("To: <sip:telvox@127.0.0.1>", "To: " + ok.captured(1).toLatin1());
        ack.replace("Content-Type: application/sdp\r\n", "");
        l.send(ack);
        QVERIFY(waitFor([&] { return l.count(LINE_CALLSTATE, LineCallState::Connected) == 1; }, 3000));
        QCOMPARE(l.service->lineGenerateDigits(calls.front(), kDigitModeDtmf, QStringLiteral("1#"), 0), 0);
        QVERIFY(waitFor([&] { return l.count(LINE_GENERATE, kGenerateTermDone) == 1; }, 5000));
        QTest::qWait(100);
        QMap<int, int> starts, ends; // per event code
        while (caller.hasPendingDatagrams()) {
            const QByteArray p = caller.receiveDatagram().data();
            if (p.size() < 16 || (p[1] & 0x7F) != 101)
                continue;
            const int code = static_cast<unsigned char>(p[12]);
            starts[code] += (p[1] & 0x80) != 0;
            ends[code] += (p[13] & 0x80) != 0;
        }
        QCOMPARE(starts, (QMap<int, int>{{1, 1}, {11, 1}}));
        QCOMPARE(ends.keys(), (QList<int>{1, 11}));
        QVERIFY(ends[1] >= 1 && ends[11] >= 1);
        QVERIFY(l.service->lineDrop(calls.front()) > 0);
    }
};

QTEST_GUILESS_MAIN(tst_SipRobustness)
#include "tst_SipRobustness.moc"
