// The byte-level parts of the voice-modem backend: DLE decoding, the sample formats, the
// capability lists of each chip, the port settings and the status texts. (Shielding the audio
// sent: tst_ModemLine::playsShieldedAndPaced, where the scripted modem unshields a whole prompt.)

#include "core/Settings.h"
#include "core/Texts.h"
#include "platform/telephony/modem/DleCodec.h"
#include "platform/telephony/modem/ModemCapabilities.h"
#include "platform/telephony/modem/ModemPorts.h"
#include "platform/telephony/modem/ModemProfile.h"
#include "platform/telephony/modem/VoiceFormat.h"
#include "support/FakeShell.h"

#include <QSerialPort>
#include <QTest>

#include <cmath>
#include <fcntl.h>
#include <unistd.h>

using namespace telvox;
using namespace telvox::modem;

namespace {

// Decodes `stream` fed in pieces cut at `cuts`; events appear as "<x>" in the result.
QByteArray decodeInPieces(const QByteArray &stream, const QList<int> &cuts)
{
    QByteArray out;
    DleDecoder decoder;
    decoder.setHandlers([&](const char *d, qsizetype n) { out.append(d, n); },
                        [&](char c) { out += '<' + QByteArray(1, c) + '>'; });
    int from = 0;
    for (int cut : cuts) {
        decoder.feed(stream.mid(from, cut - from));
        from = cut;
    }
    decoder.feed(stream.mid(from));
    return out;
}

} // namespace

class tst_ModemCodec : public QObject
{
    Q_OBJECT

private slots:
    void dleDecoding_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QByteArray>("decoded");
        QTest::newRow("plain") << QByteArray("abc") << QByteArray("abc");
        QTest::newRow("doubled") << QByteArray("a\x10\x10" "b") << QByteArray("a\x10" "b");
        QTest::newRow("compacted") << QByteArray("a\x10\x1A" "b") << QByteArray("a\x10\x10" "b");
        QTest::newRow("end of stream") << QByteArray("ab\x10\x03\r\nOK\r\n") << QByteArray("ab<\x03>\r\nOK\r\n");
        QTest::newRow("events") << QByteArray("\x10" "5\x10" "b\x10R") << QByteArray("<5><b><R>");
        QTest::newRow("dle dle then event") << QByteArray("\x10\x10\x10" "d") << QByteArray("\x10<d>");
        QTest::newRow("zero bytes") << QByteArray("\x00\x10\x00\x00", 4) << QByteArray("\x00<\x00>\x00", 5);
        QTest::newRow("all of them") << QByteArray("x\x10\x10y\x10\x1Az\x10" "5\x10\x10\x10\x03tail", 17)
                                     << QByteArray("x\x10y\x10\x10z<5>\x10<\x03>tail");
    }

    // Whole, and cut into two or three pieces at every place: a code split from its DLE
    // decodes as in one piece.
    void dleDecoding()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QByteArray, decoded);
        QCOMPARE(decodeInPieces(stream, {}), decoded);
        for (int a = 1; a < stream.size(); ++a) {
            for (int b = a; b < stream.size(); ++b)
                QCOMPARE(decodeInPieces(stream, {a, b}), decoded);
        }
    }

    void g711MatchesKnownCodes()
    {
        QCOMPARE(int(linearToMuLaw(0)), 0xFF);
        QCOMPARE(int(linearToALaw(0)), 0xD5);
        QCOMPARE(int(muLawToLinear(0xFF)), 0);
        QCOMPARE(int(muLawToLinear(0x00)), -32124);
        QCOMPARE(int(muLawToLinear(0x80)), 32124);
        QCOMPARE(int(aLawToLinear(0xD5)), 8);
        QCOMPARE(int(aLawToLinear(0x55)), -8);
        QCOMPARE(int(aLawToLinear(0xAA)), 32256);
        // Every code survives decoding and encoding again.
        for (int code = 0; code < 256; ++code) {
            if (code != 0x7F) // mu-law has two zeros
                QCOMPARE(int(linearToMuLaw(muLawToLinear(std::uint8_t(code)))), code);
            QCOMPARE(int(linearToALaw(aLawToLinear(std::uint8_t(code)))), code);
        }
    }

    void encodingsRoundTrip_data()
    {
        QTest::addColumn<int>("encoding");
        QTest::addColumn<int>("tolerance"); // relative to the magnitude, in 1/1000
        QTest::newRow("s16") << int(VoiceEncoding::Signed16) << 0;
        QTest::newRow("s16 big-endian") << int(VoiceEncoding::Signed16BigEndian) << 0;
        QTest::newRow("u16") << int(VoiceEncoding::Unsigned16) << 0;
        QTest::newRow("u16 big-endian") << int(VoiceEncoding::Unsigned16BigEndian) << 0;
        QTest::newRow("ulaw") << int(VoiceEncoding::MuLaw) << 70;
        QTest::newRow("alaw") << int(VoiceEncoding::ALaw) << 70;
        QTest::newRow("u8") << int(VoiceEncoding::Unsigned8) << -256;
        QTest::newRow("s8") << int(VoiceEncoding::Signed8) << -256;
    }

    void encodingsRoundTrip()
    {
        QFETCH(int, encoding);
        QFETCH(int, tolerance);
        const auto e = VoiceEncoding(encoding);
        std::vector<std::int16_t> samples;
        for (int v = -32768; v < 32768; v += 97)
            samples.push_back(std::int16_t(v));
        QByteArray bytes;
        encodeSamples(e, samples, bytes);
        QCOMPARE(bytes.size(), qsizetype(samples.size()) * bytesPerSample(e));
        std::vector<std::int16_t> back;
        VoiceDecoder decoder(e);
        decoder.decode(bytes.constData(), bytes.size(), back);
        QCOMPARE(back.size(), samples.size());
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const int error = std::abs(int(back[i]) - int(samples[i]));
            // Linear 8-bit: within one step of 256; the laws: a few per cent, or 1 LSB step near zero.
            const int allowed = tolerance < 0 ? -tolerance : std::max(std::abs(int(samples[i])) * tolerance / 1000, 132);
            QVERIFY2(error <= allowed, qPrintable(QStringLiteral("%1 -> %2").arg(samples[i]).arg(back[i])));
        }
    }

    void sixteenBitSampleSplitAcrossReads()
    {
        VoiceDecoder decoder(VoiceEncoding::Signed16);
        std::vector<std::int16_t> out;
        decoder.decode("\x34", 1, out);
        QVERIFY(out.empty());
        decoder.decode("\x12\x78\x56\xFF", 4, out);
        decoder.decode("\xFF", 1, out);
        QCOMPARE(out, (std::vector<std::int16_t>{0x1234, 0x5678, -1}));

        out.clear();
        VoiceDecoder(VoiceEncoding::Unsigned16).decode("\x00\x80\xFF\xFF\x00\x00", 6, out); // 0x8000 is silence
        QCOMPARE(out, (std::vector<std::int16_t>{0, 32767, -32768}));

        // The layout check: speech-like audio and faint line noise, sent in each layout, are
        // recognised whatever the capability text claimed; too little audio changes nothing.
        std::vector<std::int16_t> speech(8000);
        std::uint32_t seed = 1;
        for (std::size_t i = 0; i < speech.size(); ++i) {
            seed = seed * 1103515245u + 12345u;
            const int noise = int((seed >> 16) % 41) - 20;
            speech[i] = std::int16_t(4000 * std::sin(double(i) * 0.09) * std::sin(double(i) * 0.0013) + noise);
        }
        std::vector<std::int16_t> quiet(4000);
        for (std::size_t i = 0; i < quiet.size(); ++i)
            quiet[i] = std::int16_t(int(i * 7919 % 61) - 30);
        for (const auto &audio : {speech, quiet}) {
            for (const VoiceEncoding sent : {VoiceEncoding::Signed16, VoiceEncoding::Signed16BigEndian,
                                             VoiceEncoding::Unsigned16, VoiceEncoding::Unsigned16BigEndian}) {
                QByteArray bytes;
                encodeSamples(sent, audio, bytes);
                QCOMPARE(int(detectSampleLayout(bytes, VoiceEncoding::Signed16)), int(sent));
                QCOMPARE(int(detectSampleLayout(bytes, VoiceEncoding::Unsigned16)), int(sent));
                QCOMPARE(int(detectSampleLayout(bytes.left(20), VoiceEncoding::Signed16)), int(VoiceEncoding::Signed16));
            }
        }
        QCOMPARE(int(detectSampleLayout(QByteArray(4000, '\x80'), VoiceEncoding::MuLaw)), int(VoiceEncoding::MuLaw));
    }

    void capabilityLists_data()
    {
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::addColumn<int>("cml");
        QTest::addColumn<int>("encoding");
        // The lists of the chips in fixtures/ (vsm-*.txt) are not repeated here.
        QTest::newRow("generic signed 16") << QList<QByteArray>{"1,\"UNSIGNED PCM\",8,0,(8000),0,0",
                                                                "0,\"SIGNED PCM\",16,0,(7200,8000),0,0"}
                                           << 0 << int(VoiceEncoding::Signed16);
        QTest::newRow("alaw only at 8000") << QList<QByteArray>{"129,\"16-BIT LINEAR\",16,0,(7200,11025),(0),(0)",
                                                                "130,\"8-BIT ALAW\",8,0,(8000),(0),(0)"}
                                           << 130 << int(VoiceEncoding::ALaw);
        QTest::newRow("unsigned 8 bit") << QList<QByteArray>{"1,\"UNSIGNED PCM\",8,0,8000,0,0", "129,\"IMA ADPCM\",4,0,8000,0,0"}
                                        << 1 << int(VoiceEncoding::Unsigned8);
        QTest::newRow("16-bit unsigned, said so") << QList<QByteArray>{"128,\"8-BIT LINEAR\",8,0,8000,0,0",
                                                                       "129,\"16-BIT UNSIGNED LINEAR\",16,0,8000,0,0"}
                                                  << 129 << int(VoiceEncoding::Unsigned16);
        QTest::newRow("16-bit big-endian, said so") << QList<QByteArray>{"0,\"SIGNED PCM BIG ENDIAN\",16,0,8000,0,0"}
                                                    << 0 << int(VoiceEncoding::Signed16BigEndian);
        QTest::newRow("nothing usable") << QList<QByteArray>{"129,\"IMA ADPCM\",4,0,8000,0,0", "garbage"} << -1 << -1;
    }

    void capabilityLists()
    {
        QFETCH(QList<QByteArray>, lines);
        QFETCH(int, cml);
        QFETCH(int, encoding);
        const auto choice = chooseVoiceFormat(parseVsmList(lines));
        QCOMPARE(choice.has_value(), cml >= 0);
        if (choice) {
            QCOMPARE(choice->cml, cml);
            QCOMPARE(int(choice->encoding), encoding);
        }
        // A serial link at 115200 bit/s carries 11520 bytes a second: never 16-bit audio.
        const auto slow = chooseVoiceFormat(parseVsmList(lines), 11520);
        if (choice && !isSixteenBit(choice->encoding))
            QCOMPARE(slow->cml, choice->cml);
        else if (slow)
            QVERIFY(!isSixteenBit(slow->encoding));
        QCOMPARE(parseClasses({"0,1,1.0,2,8"}), (QStringList{"0", "1", "1.0", "2", "8"}));
        QCOMPARE(parseClasses({"+FCLASS: (0-2,8)"}), (QStringList{"0", "1", "2", "8"}));
        // Each profile's formats for a modem that lists none are understood.
        for (const ModemProfile &p : builtInProfiles()) {
            for (const QString &f : p.fallbackFormats)
                QVERIFY2(parseFormatCode(f).has_value(), qPrintable(f));
        }
    }

    void portSettings()
    {
        test::ScratchDir dir;
        SettingsStore store(dir.file("telvox.ini"), dir.file("settings.txt"));
        ModemConfig empty = readModemConfig(store);
        QVERIFY(empty.ports.isEmpty());
        QVERIFY(empty.probe);
        QCOMPARE(empty.speed, 115200);
        writeModemPorts(store, {"/dev/serial/by-id/usb-Conexant_USB_Modem-if00", "", "/dev/ttyUSB0"});
        store.WriteSetting("VoiceModem", "Speed", "230400");
        store.WriteSetting("VoiceModem", "Probe", "0");
        store.WriteSetting("VoiceModem", "Profile2", "usr");
        const ModemConfig c = readModemConfig(store);
        QCOMPARE(c.ports, (QStringList{"/dev/serial/by-id/usb-Conexant_USB_Modem-if00", "", "/dev/ttyUSB0"}));
        QCOMPARE(c.speed, 230400);
        QVERIFY(!c.probe);
        QCOMPARE(c.profiles.value(2), QStringLiteral("usr"));
        // Line 1 has no port: only lines 0 and 2 become modem lines, in line order.
        QList<ModemNotice> notes;
        const auto portList = modemPorts(c, &notes);
        QCOMPARE(portList.size(), std::size_t{2});
        QCOMPARE(portList[1].portName, QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(portList[1].options.forcedProfile, QStringLiteral("usr"));
        // A USB-serial adapter at 230400 bit/s carries 23040 bytes a second; a USB modem is not limited.
        QCOMPARE(portList[1].options.linkBytesPerSecond, 23040);
        QCOMPARE(linkBytesPerSecond("/dev/ttyACM0", 115200), 0);
        QCOMPARE(linkBytesPerSecond("/dev/ttyS0", 115200), 11520);
        // A port that is not there is reported in words, and so is a missing group membership.
        PortOpenError error;
        QVERIFY(!serialPortOpener(dir.file("ttyACM9"), 115200)(error));
        QVERIFY2(error.notice.english().contains("not plugged in"), qPrintable(error.notice.english()));
        QFile exists(dir.file("ttyACM0"));
        exists.open(QIODevice::WriteOnly);
        exists.close();
        // Qt's "permission error" on a port this account may use means another program holds it.
        const QString busy =
            describeOpenError(dir.file("ttyACM0"), QSerialPort::PermissionError, "Permission denied").english();
        QVERIFY2(busy.contains("in use by another program"), qPrintable(busy));
        QVERIFY(!busy.contains("Permission denied"));
        exists.setPermissions({});
        const QString denied =
            describeOpenError(dir.file("ttyACM0"), QSerialPort::PermissionError, "Permission denied").english();
        if (::access(QFile::encodeName(dir.file("ttyACM0")).constData(), R_OK | W_OK) != 0)
            QVERIFY2(denied.contains("\"dialout\" group"), qPrintable(denied));
        else // the superuser may open anything: then it can only be another program
            QVERIFY2(denied.contains("in use by another program"), qPrintable(denied));
    }

    void probeCandidatesPreferStableNames()
    {
        test::ScratchDir dir;
        const QString dev = dir.path();
        for (const char *name : {"ttyACM0", "ttyACM1", "ttyUSB0", "ttyS0", "tty1"}) {
            QFile f(dev + "/" + name);
            f.open(QIODevice::WriteOnly);
        }
        QDir().mkpath(dev + "/serial/by-id");
        QFile::link(dev + "/ttyACM1", dev + "/serial/by-id/usb-Zoom_3095-if00");
        QFile::link(dev + "/ttyS0", dev + "/serial/by-id/pci-serial");
        QCOMPARE(probeCandidates(dev), (QStringList{dev + "/serial/by-id/usb-Zoom_3095-if00", dev + "/ttyACM0",
                                                    dev + "/ttyUSB0"}));
    }

    void noticesInEveryLanguage()
    {
        StringTable table;
        QVERIFY(table.loadBuiltIn());
        // Values go in once, in the translation's own order; a "%2" inside a value stays as it is.
        const ModemNotice ready{notice::kReady, {"Zoom", "/dev/odd%2name", "Conexant CX930xx", "s16"}, 1};
        QCOMPARE(ready.english(), QStringLiteral("Line1 Zoom on /dev/odd%2name ready (Conexant CX930xx, s16)"));
        QCOMPARE(ready.format(Texts(table, 1000)),
                 QString::fromUtf8("Line1 /dev/odd%2name 上的 Zoom 已就绪（Conexant CX930xx，s16）"));
        // A table without the entry still says which notice it was and about what.
        StringTable empty;
        QCOMPARE((ModemNotice{notice::kGone, {"/dev/ttyACM0"}}.format(Texts(empty, 0))), QStringLiteral("#1609 /dev/ttyACM0"));
    }

    void secondOpenOfAPortIsRefusedInWords()
    {
        // A real terminal device: the far end of a pseudo-terminal.
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0);
        QVERIFY(::grantpt(master) == 0 && ::unlockpt(master) == 0);
        const QString device = QString::fromLocal8Bit(::ptsname(master));
        PortOpenError error;
        std::unique_ptr<QIODevice> first = serialPortOpener(device, 115200)(error);
        QVERIFY2(first, qPrintable(error.notice.english()));
        // While the first holds it (with its lock file), a second open says the port is taken.
        PortOpenError again;
        QVERIFY(!serialPortOpener(device, 115200)(again));
        const QString text = again.notice.english();
        QVERIFY2(text.contains(device) && text.contains("in use by another program"), qPrintable(text));
        QVERIFY(!again.permanent);
        first.reset();
        PortOpenError third;
        QVERIFY2(serialPortOpener(device, 115200)(third), qPrintable(third.notice.english()));
        ::close(master);
    }
};

QTEST_GUILESS_MAIN(tst_ModemCodec)
#include "tst_ModemCodec.moc"
