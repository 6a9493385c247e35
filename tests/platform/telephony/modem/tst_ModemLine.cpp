// The voice-modem backend against transcript tables: what each chip family answers, the
// caller-ID formats, the voice data streams with their DLE edge cases, and the faults.

#include "ScriptedModem.h"

#include "core/VirtualEventLoop.h"
#include "platform/telephony/modem/ModemTelephony.h"
#include "platform/telephony/modem/VoiceFormat.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <array>
#include <cmath>
#include <cstring>

using namespace telvox;
using namespace telvox::modem;
using telvox::test::ChipTable;
using telvox::test::ScriptedModem;

namespace {

struct Event
{
    std::int64_t at;
    std::uint32_t device, message, p1, p2, p3;
};

struct Rig
{
    explicit Rig(ChipTable chip, LineOptions options = {})
    {
        ModemPort entry;
        entry.portName = QStringLiteral("/dev/ttyACM0");
        entry.options = options;
        entry.opener = [this, chip](PortOpenError &error) -> std::unique_ptr<QIODevice> {
            if (unplugged) {
                error.notice = {notice::kNotPlugged, {QStringLiteral("/dev/ttyACM0")}};
                return nullptr;
            }
            auto m = std::make_unique<ScriptedModem>(loop, chip);
            m->open(QIODevice::ReadWrite);
            modem = m.get();
            ++opens;
            return m;
        };
        std::vector<ModemPort> portList;
        portList.push_back(std::move(entry));
        service = std::make_unique<ModemTelephony>(loop, std::move(portList));
        service->setStatusHandler([this](const ModemNotice &n) { statuses << n.english(); });
        service->start();
        loop.advanceUntil([this] { return service->line(0).ready(); }, 5000);
        std::uint32_t count = 0;
        service->lineInitialize(
            app,
            [this](std::uint32_t d, std::uint32_t m, std::uintptr_t, std::uint32_t a, std::uint32_t b, std::uint32_t c) {
                events.push_back({loop.now(), d, m, a, b, c});
            },
            QStringLiteral("test"), count);
        service->lineOpen(app, 0, line, 0x20002, 0, 0, 6, MediaMode::InteractiveVoice);
        service->lineSetStatusMessages(line, kLineDevStateRinging, 0);
    }

    ModemLine &modemLine() { return service->line(0); }
    std::vector<Event> take(std::uint32_t message) const
    {
        std::vector<Event> out;
        for (const Event &e : events) {
            if (e.message == message)
                out.push_back(e);
        }
        return out;
    }
    bool hasCallState(std::uint32_t state) const
    {
        for (const Event &e : take(LINE_CALLSTATE)) {
            if (e.p1 == state)
                return true;
        }
        return false;
    }
    void settle(std::int64_t ms = 50) { loop.advance(ms); }
    // Commands sent since `from`.
    QList<QByteArray> commandsSince(qsizetype from) const { return modem->commands.mid(from); }

    // An incoming call rung once and answered; returns the call handle.
    HCall answeredCall()
    {
        modem->push("\r\nRING\r\n");
        settle();
        const HCall call = modemLine().hCall();
        service->lineAnswer(call);
        loop.advanceUntil([this] { return hasCallState(LineCallState::Connected); }, 3000);
        return call;
    }

    VirtualEventLoop loop;
    ScriptedModem *modem = nullptr;
    int opens = 0;
    bool unplugged = false;
    std::unique_ptr<ModemTelephony> service;
    std::vector<Event> events;
    QStringList statuses;
    HLineApp app = 0;
    HLine line = 0;
};

ChipTable chipByName(const QString &name)
{
    if (name == QLatin1String("usr"))
        return test::usrChip();
    if (name == QLatin1String("agere"))
        return test::agereChip();
    if (name == QLatin1String("rockwell"))
        return test::rockwellChip();
    return test::conexantChip();
}

QByteArray samplesAsBytes(VoiceEncoding encoding, const std::vector<std::int16_t> &samples)
{
    QByteArray raw;
    encodeSamples(encoding, samples, raw);
    return raw;
}

} // namespace

class tst_ModemLine : public QObject
{
    Q_OBJECT

private slots:
    void initialisesEachChip_data();
    void initialisesEachChip();
    void dataOnlyModemIsNoVoiceLine();
    void callerIdReports_data();
    void callerIdReports();
    void ringingThatStopsEndsAfterGracePeriod();
    void recordsThroughSplitEscapes();
    void touchTonesAndHangUpEvents();
    void playsShieldedAndPaced();
    void signalToneAndHangUpSequence();
    void diallingInVoiceMode();
    void modemThatStopsAnsweringIsResetAndReopened();
    void unpluggedModemComesBack();
    void lostEndOfStreamAndLineNoise();
    void longMessageOutlivesTheInactivityTimer_data();
    void longMessageOutlivesTheInactivityTimer();
    void modemSilenceReportsAreNoHangUp();
    void modemLeftStreamingIsBroughtBack();
    void sixteenBitLayoutIsCheckedOnTheAudio_data();
    void sixteenBitLayoutIsCheckedOnTheAudio();
    void modemThatStopsSendingEndsTheRecording();
    void realModemOutput_data();
    void realModemOutput();
};

void tst_ModemLine::initialisesEachChip_data()
{
    QTest::addColumn<QString>("chip");
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QByteArray>("formatCommand");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QByteArray>("callerIdCommand");
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("conexant") << "conexant" << "conexant" << QByteArray("AT+VSM=131,8000")
                              << int(VoiceEncoding::MuLaw) << QByteArray("AT+VCID=1")
                              << QByteArray("CX93001-EIS_V0.2013-V92");
    QTest::newRow("usr") << "usr" << "usr" << QByteArray("AT+VSM=129,8000") << int(VoiceEncoding::Signed16)
                         << QByteArray("AT+VCID=1") << QByteArray("U.S. Robotics 56K FAX USB V1.2.23");
    QTest::newRow("agere") << "agere" << "agere" << QByteArray("AT+VSM=129,8000") << int(VoiceEncoding::Signed16)
                           << QByteArray("AT+VCID=1") << QByteArray("LT V.92 Data+Fax Modem Version 8.30");
    QTest::newRow("rockwell") << "rockwell" << "generic" << QByteArray("AT+VSM=4,8000") << int(VoiceEncoding::MuLaw)
                              << QByteArray("AT#CID=1") << QByteArray("RCV56DPF-PLL L8571A Rev 47.23/34.00");
}

void tst_ModemLine::initialisesEachChip()
{
    QFETCH(QString, chip);
    QFETCH(QString, profile);
    QFETCH(QByteArray, formatCommand);
    QFETCH(int, encoding);
    QFETCH(QByteArray, callerIdCommand);
    QFETCH(QByteArray, name);
    Rig rig(chipByName(chip));
    ModemLine &line = rig.modemLine();
    QVERIFY(line.ready());
    QCOMPARE(line.profile().id, profile);
    QVERIFY(line.voiceFormat().has_value());
    QCOMPARE(int(line.voiceFormat()->encoding), encoding);
    const QList<QByteArray> &sent = rig.modem->commands;
    // "AT" after the stop codes of every voice data state, then the usual start.
    QCOMPARE(sent.mid(0, 5), (QList<QByteArray>{"AT", "ATZ", "ATE0", "ATV1", "ATS0=0"}));
    QVERIFY(sent.indexOf("AT+FCLASS=?") < sent.indexOf("AT+VSM=?"));
    QVERIFY(sent.indexOf("AT+FCLASS=8") < sent.indexOf("AT+VSM=?"));
    QCOMPARE(sent.back(), callerIdCommand);
    QCOMPARE(sent.contains("AT-STE=3"), profile == QLatin1String("conexant"));

    LineDevCaps caps;
    QCOMPARE(rig.service->lineGetDevCaps(rig.app, 0, 0x20002, 0, caps), 0);
    QCOMPARE(caps.lineName, name);
    QCOMPARE(caps.mediaModes, std::uint32_t{0x1C});
    QVERIFY(rig.statuses.join('\n').contains(QString::fromLatin1(name) + " on /dev/ttyACM0 ready"));

    // Answering selects the chosen format; leaving voice mode re-sends the caller-ID command.
    const qsizetype from = rig.modem->commands.size();
    const HCall call = rig.answeredCall();
    QVERIFY(rig.commandsSince(from).contains(formatCommand));
    QVERIFY(rig.commandsSince(from).contains("AT+VLS=1"));
    const qsizetype beforeDrop = rig.modem->commands.size();
    rig.service->lineDrop(call);
    rig.settle(200);
    QCOMPARE(rig.commandsSince(beforeDrop), (QList<QByteArray>{"ATH0", "AT+FCLASS=0", callerIdCommand}));
}

void tst_ModemLine::dataOnlyModemIsNoVoiceLine()
{
    Rig rig(test::dataOnlyModem());
    LineDevCaps caps;
    QCOMPARE(rig.service->lineGetDevCaps(rig.app, 0, 0x20002, 0, caps), 0);
    QCOMPARE(caps.mediaModes, std::uint32_t{MediaMode::DataModem});
    QCOMPARE(caps.lineName, QByteArray("Generic 33600 Data/Fax"));
    QVERIFY(rig.statuses.join('\n').contains("is not a voice modem"));
    QVERIFY(!rig.modem->commands.contains("AT+VSM=?"));
    // It cannot be opened for voice.
    HLine line = 0;
    QCOMPARE(rig.service->lineOpen(rig.app, 0, line, 0x20002, 0, 0, 6, MediaMode::InteractiveVoice),
             LineErr::InvalMediaMode);
    QCOMPARE(rig.line, HLine{0});
}

void tst_ModemLine::callerIdReports_data()
{
    QTest::addColumn<QList<QByteArray>>("pushes"); // sent one after another, 200 ms apart
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<std::uint32_t>("flags");
    QTest::addColumn<int>("rings");
    const QByteArray ring = "\r\nRING\r\n";
    QTest::newRow("after first ring, spaced")
        << QList<QByteArray>{ring, "\r\nDATE = 0321\r\nTIME = 1405\r\nNMBR = 5551234567\r\nNAME = SMITH JOHN\r\n", ring}
        << QByteArray("5551234567") << QByteArray("SMITH JOHN") << (CallPartyId::Address | CallPartyId::Name) << 2;
    QTest::newRow("before first ring, unspaced")
        << QList<QByteArray>{"\r\nDATE=0321\r\nTIME=1405\r\nNMBR=01632960123\r\n", ring, ring}
        << QByteArray("01632960123") << QByteArray() << CallPartyId::Address << 2;
    QTest::newRow("split across reads")
        << QList<QByteArray>{ring, "\r\nNM", "BR = 555", "1234\r", "\nNAME = ANNA\r\n"} << QByteArray("5551234")
        << QByteArray("ANNA") << (CallPartyId::Address | CallPartyId::Name) << 1;
    QTest::newRow("withheld") << QList<QByteArray>{ring, "\r\nDATE = 0321\r\nTIME = 1405\r\nNMBR = P\r\n"}
                              << QByteArray() << QByteArray() << CallPartyId::Blocked << 1;
    QTest::newRow("out of area") << QList<QByteArray>{ring, "\r\nNMBR=O\r\n"} << QByteArray() << QByteArray()
                                 << CallPartyId::OutOfArea << 1;
    QTest::newRow("mdmf hex")
        << QList<QByteArray>{ring, "\r\n80100108303332313134303502043535353101\r\n"} << QByteArray("5551")
        << QByteArray() << CallPartyId::Address << 1;
    QTest::newRow("sdmf hex") << QList<QByteArray>{ring, "\r\n040F303332313134303535353531323334F4\r\n"}
                              << QByteArray("5551234") << QByteArray() << CallPartyId::Address << 1;
    QTest::newRow("bad checksum ignored") << QList<QByteArray>{ring, "\r\n80100108303332313134303502043535353102\r\n"}
                                          << QByteArray() << QByteArray() << CallPartyId::Unknown << 1;
    QTest::newRow("complex event packet")
        << QList<QByteArray>{"\x10X\r\nNMBR = 5550000\r\nNAME = BOB\r\n\x10.", "\x10R"} << QByteArray("5550000")
        << QByteArray("BOB") << (CallPartyId::Address | CallPartyId::Name) << 1;
    QTest::newRow("rings only") << QList<QByteArray>{ring, "\x10R", "\r\nRING A\r\n"} << QByteArray() << QByteArray()
                                << CallPartyId::Unknown << 3;
    // Reports in pieces: a name half a second after the number, a number masked afterwards.
    QTest::newRow("name in a later packet")
        << QList<QByteArray>{ring, "\r\nDATE = 0321\r\nNMBR = 5551234\r\n", "", "", "\r\nNAME = ANNA\r\n", ring}
        << QByteArray("5551234") << QByteArray("ANNA") << (CallPartyId::Address | CallPartyId::Name) << 2;
    QTest::newRow("number masked after it came")
        << QList<QByteArray>{ring, "\r\nNMBR = 5551234\r\nNMBR = O\r\n", "", "", "\r\nNMBR=P\r\n"}
        << QByteArray("5551234") << QByteArray() << CallPartyId::Address << 1;
    QTest::newRow("NBR tag") << QList<QByteArray>{ring, "\r\nNBR = 5551234\r\n"} << QByteArray("5551234")
                             << QByteArray() << CallPartyId::Address << 1;
    QTest::newRow("DDN tag") << QList<QByteArray>{ring, "\r\nDDN=5551234\r\n"} << QByteArray("5551234")
                             << QByteArray() << CallPartyId::Address << 1;
    QTest::newRow("CALLER NUMBER tag") << QList<QByteArray>{ring, "\r\nCALLER NUMBER: 5551234\r\n"}
                                       << QByteArray("5551234") << QByteArray() << CallPartyId::Address << 1;
    QTest::newRow("two tags on one line")
        << QList<QByteArray>{ring, "\r\nNAME=ANNA NMBR=5551234\r\n"} << QByteArray("5551234") << QByteArray("ANNA")
        << (CallPartyId::Address | CallPartyId::Name) << 1;
    QTest::newRow("sdmf anonymous") << QList<QByteArray>{ring, "\r\n040930333231313430354122\r\n"} << QByteArray()
                                    << QByteArray() << CallPartyId::Blocked << 1;
    QTest::newRow("number in MESG 03") << QList<QByteArray>{ring, "\r\nMESG = 030735353531323334\r\n"}
                                       << QByteArray("5551234") << QByteArray() << CallPartyId::Address << 1;
    QTest::newRow("numbers on the ring line") << QList<QByteArray>{"\r\nRING;5551234;5559876\r\n"}
                                              << QByteArray("5551234") << QByteArray() << CallPartyId::Address << 1;
}

void tst_ModemLine::callerIdReports()
{
    QFETCH(QList<QByteArray>, pushes);
    QFETCH(QByteArray, number);
    QFETCH(QByteArray, name);
    QFETCH(std::uint32_t, flags);
    QFETCH(int, rings);
    Rig rig(test::conexantChip());
    for (const QByteArray &bytes : pushes) {
        rig.modem->push(bytes);
        rig.settle(200);
    }
    rig.settle(500);
    const auto ringEvents = rig.take(LINE_LINEDEVSTATE);
    QCOMPARE(int(ringEvents.size()), rings);
    for (int i = 0; i < rings; ++i)
        QCOMPARE(ringEvents[std::size_t(i)].p3, std::uint32_t(i + 1));
    const auto states = rig.take(LINE_CALLSTATE);
    QCOMPARE(states.size(), std::size_t{1});
    QCOMPARE(states[0].p1, LineCallState::Offering);
    const auto infos = rig.take(LINE_CALLINFO);
    QCOMPARE(infos.empty(), flags == CallPartyId::Unknown);
    if (!infos.empty()) {
        QVERIFY(infos[0].at >= states[0].at); // never before the call is offered
        QCOMPARE(infos[0].device, states[0].device);
    }
    LineCallInfo info;
    QCOMPARE(rig.service->lineGetCallInfo(states[0].device, info), 0);
    QCOMPARE(info.callerIdNumber, number);
    QCOMPARE(info.callerIdName, name);
    QCOMPARE(info.callerIdFlags, flags);
}

void tst_ModemLine::ringingThatStopsEndsAfterGracePeriod()
{
    Rig rig(test::usrChip());
    rig.modem->push("\r\nRING\r\n");
    rig.settle(6000);
    rig.modem->push("\r\nRING\r\n");
    // The handset was picked up: no more rings. The call stays offered past the longest
    // ring-watch interval, so the system can still answer it then.
    rig.settle(13500);
    QVERIFY(!rig.hasCallState(LineCallState::Idle));
    rig.settle(2000);
    QVERIFY(rig.hasCallState(LineCallState::Idle));

    // A second call: ringing stops and the system answers 13 s later.
    QCOMPARE(rig.service->lineDeallocateCall(rig.modemLine().hCall()), 0);
    rig.events.clear();
    rig.modem->push("\x10R");
    rig.settle(13000);
    const HCall call = rig.modemLine().hCall();
    QVERIFY(rig.service->lineAnswer(call) > 0);
    QVERIFY(rig.loop.advanceUntil([&] { return rig.hasCallState(LineCallState::Connected); }, 3000));
    rig.settle(20000);
    QVERIFY(!rig.hasCallState(LineCallState::Idle));
}

void tst_ModemLine::recordsThroughSplitEscapes()
{
    Rig rig(test::conexantChip());
    rig.answeredCall();
    std::uint32_t id = 0;
    QCOMPARE(rig.service->lineGetID(rig.line, 0, rig.modemLine().hCall(), kCallSelectCall, id, "wave/in"), 0);
    QCOMPARE(id, std::uint32_t{ModemTelephony::kWaveDeviceBase});
    std::unique_ptr<WaveIn> in;
    int done = 0;
    QCOMPARE(rig.service->openIn(int(id), PcmFormat{}, [&](WaveMessage m) { done += m == WaveMessage::Done; }, in),
             WaveResult(MMSYSERR_NOERROR));
    WaveBuffer buffer;
    buffer.data.resize(200);
    in->prepareHeader(buffer);
    in->addBuffer(buffer);
    const qsizetype from = rig.modem->commands.size();
    in->start();
    rig.settle();
    QCOMPARE(rig.commandsSince(from), (QList<QByteArray>{"AT+VRX"}));

    // mu-law bytes with 0x10 in them: doubled, compacted with SUB, and split between reads.
    const QByteArray audio = QByteArray("\x01\x10\x7F\x10\x10\x22\x10", 7);
    rig.modem->push(QByteArray("\x01\x10", 2));
    rig.modem->push(QByteArray("\x10\x7F\x10", 3));
    rig.modem->push(QByteArray("\x1A\x22\x10", 3));
    rig.modem->push(QByteArray("\x10", 1));
    std::vector<std::int16_t> expected;
    VoiceDecoder decoder(VoiceEncoding::MuLaw);
    decoder.decode(audio.constData(), audio.size(), expected);
    QCOMPARE(buffer.bytesRecorded, std::uint32_t(expected.size() * 2));
    QVERIFY(std::memcmp(buffer.data.data(), expected.data(), expected.size() * 2) == 0);

    // Stopping: the buffer comes back with what it holds, the modem is told to stop receiving.
    in->reset();
    QCOMPARE(done, 1);
    QVERIFY(buffer.done);
    rig.settle();
    QCOMPARE(in->close(), WaveResult(MMSYSERR_NOERROR));
}

void tst_ModemLine::touchTonesAndHangUpEvents()
{
    Rig rig(test::conexantChip());
    const HCall call = rig.answeredCall();
    rig.service->lineMonitorDigits(call, kDigitModeDtmf);
    // Shielded reports of one held key; simple reports, one per press, however fast the
    // presses (70 ms, 40 ms, 300 ms apart); a DEL end code; two keys in one shielded report.
    rig.modem->push("\x10/\x10" "5\x10" "5\x10" "5\x10~");
    rig.settle(100);
    rig.modem->push("\x10#");
    rig.settle(70);
    rig.modem->push("\x10#");
    rig.settle(40);
    rig.modem->push("\x10#");
    rig.settle(300);
    rig.modem->push("\x10#");
    rig.settle(100);
    rig.modem->push(QByteArray("\x10/\x10" "1\x10\x7F", 6));
    rig.settle(100);
    rig.modem->push(QByteArray("\x10/\x10" "2\x10" "2\x10" "3\x10~", 10));
    rig.settle(100);
    QString digits;
    for (const Event &e : rig.take(LINE_MONITORDIGITS))
        digits += QChar(char(e.p1));
    QCOMPARE(digits, QStringLiteral("5####123"));

    // Loop-current drop: the far end is gone, reported once.
    rig.modem->push("\x10l\x10" "b");
    rig.settle();
    QCOMPARE(rig.take(LINE_CALLSTATE).back().p1, LineCallState::Disconnected);
    int disconnects = 0;
    for (const Event &e : rig.take(LINE_CALLSTATE))
        disconnects += e.p1 == LineCallState::Disconnected;
    QCOMPARE(disconnects, 1);
}

void tst_ModemLine::playsShieldedAndPaced()
{
    Rig rig(test::usrChip()); // 16-bit linear: 0x10 bytes are frequent
    const HCall call = rig.answeredCall();
    std::unique_ptr<WaveOut> out;
    int done = 0;
    rig.service->openOut(ModemTelephony::kWaveDeviceBase, PcmFormat{}, [&](WaveMessage m) { done += m == WaveMessage::Done; },
                         out);
    std::vector<std::int16_t> samples(8000); // one second
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = std::int16_t((i % 7 == 0) ? 0x1010 : std::int16_t(i * 31));
    WaveBuffer prompt;
    prompt.data.resize(samples.size() * 2);
    std::memcpy(prompt.data.data(), samples.data(), prompt.data.size());
    out->prepareHeader(prompt);
    const qsizetype from = rig.modem->commands.size();
    out->write(prompt);
    rig.settle(20);
    QCOMPARE(rig.commandsSince(from), (QList<QByteArray>{"AT+VTX"}));
    // Paced: after 500 ms no more than half a second plus the send-ahead has gone out.
    rig.loop.advance(500);
    const qsizetype sentBytes = rig.modem->streamed.size();
    QVERIFY2(sentBytes <= (500 + 20 + 100) * 16 && sentBytes >= 450 * 16, QByteArray::number(sentBytes));
    QCOMPARE(done, 0);
    rig.loop.advance(700);
    // Everything went out shielded (the modem unshielded it exactly), then <DLE><ETX>.
    QCOMPARE(rig.modem->streamed, samplesAsBytes(VoiceEncoding::Signed16, samples));
    rig.settle(100);
    QCOMPARE(done, 1);
    QVERIFY(rig.modemLine().stats().largestSendGapMs <= 40);
    // Back in voice command state: the signal tone can follow.
    QCOMPARE(rig.service->lineGenerateDigits(call, kDigitModeDtmf, "*", 0), 0);
    rig.settle();
    QCOMPARE(rig.take(LINE_GENERATE).size(), std::size_t{1});
}

void tst_ModemLine::signalToneAndHangUpSequence()
{
    Rig rig(test::conexantChip());
    const HCall call = rig.answeredCall();
    QCOMPARE(rig.service->lineGenerateDigits(call, kDigitModeDtmf, "*", 0), 0);
    QCOMPARE(rig.service->lineGenerateDigits(call, kDigitModeDtmf, "*x", 0), LineErr::InvalDigitList);
    rig.settle();
    QVERIFY(rig.modem->commands.contains("AT+VTS=*"));
    const auto generated = rig.take(LINE_GENERATE);
    QCOMPARE(generated.size(), std::size_t{1});
    QCOMPARE(generated[0].p1, kGenerateTermDone);

    // Dropping while recording: the receive state is left first, then the line hangs up.
    std::unique_ptr<WaveIn> in;
    rig.service->openIn(ModemTelephony::kWaveDeviceBase, PcmFormat{}, {}, in);
    in->start();
    rig.settle();
    const qsizetype from = rig.modem->commands.size();
    QVERIFY(rig.service->lineDrop(call) > 0);
    rig.settle(200);
    QCOMPARE(rig.commandsSince(from), (QList<QByteArray>{"ATH0", "AT+FCLASS=0", "AT+VCID=1"}));
    QCOMPARE(rig.take(LINE_CALLSTATE).back().p1, LineCallState::Idle);
    QCOMPARE(rig.service->lineDeallocateCall(call), 0);
}

void tst_ModemLine::diallingInVoiceMode()
{
    Rig rig(test::usrChip());
    HCall call = 0;
    QCOMPARE(rig.service->lineMakeCall(rig.line, call, "  ", 0), LineErr::InvalAddress);
    const qsizetype from = rig.modem->commands.size();
    QVERIFY(rig.service->lineMakeCall(rig.line, call, "555-1234", 0) > 0);
    QVERIFY(call != 0);
    rig.settle();
    QCOMPARE(rig.take(LINE_CALLSTATE).front().p1, LineCallState::Dialing);
    QVERIFY(rig.commandsSince(from).contains("ATD5551234;"));
    QVERIFY(rig.commandsSince(from).indexOf("AT+FCLASS=8") < rig.commandsSince(from).indexOf("ATD5551234;"));
    QCOMPARE(rig.take(LINE_CALLSTATE).back().p1, LineCallState::Connected);
    // The called party answers with a line reversal, which the chip reports as "l": the call
    // goes on. A later interruption is the called party hanging up.
    rig.modem->push("\x10l");
    rig.settle();
    QCOMPARE(rig.take(LINE_CALLSTATE).back().p1, LineCallState::Connected);
    HCall second = 0;
    QCOMPARE(rig.service->lineMakeCall(rig.line, second, "1", 0), LineErr::CallUnavail);
    rig.modem->push("\x10l");
    rig.settle();
    QCOMPARE(rig.take(LINE_CALLSTATE).back().p1, LineCallState::Disconnected);
    rig.service->lineDrop(call);
    rig.settle(200);
    rig.service->lineDeallocateCall(call);

    // No dial tone: the dialled call is disconnected.
    rig.modem->answer = [](const QByteArray &c) { return c.startsWith("ATD") ? QByteArray("\r\nNO DIALTONE\r\n") : QByteArray(); };
    rig.events.clear();
    QVERIFY(rig.service->lineMakeCall(rig.line, call, "5551234", 0) > 0);
    rig.settle(200);
    QCOMPARE(rig.take(LINE_CALLSTATE).back().p1, LineCallState::Disconnected);
}

void tst_ModemLine::modemThatStopsAnsweringIsResetAndReopened()
{
    LineOptions options;
    options.commandTimeoutMs = 1000;
    Rig rig(test::conexantChip(), options);
    const HCall call = rig.answeredCall();
    std::unique_ptr<WaveIn> in;
    rig.service->openIn(ModemTelephony::kWaveDeviceBase, PcmFormat{}, {}, in);
    WaveBuffer buffer;
    buffer.data.resize(16000);
    in->prepareHeader(buffer);
    in->addBuffer(buffer);
    in->start();
    rig.settle();
    rig.modem->push(QByteArray(400, '\x55'));
    QCOMPARE(buffer.bytesRecorded, 800u);
    QCOMPARE(rig.opens, 1);

    // The modem goes silent; the next command (the touch tone) times out.
    rig.modem->mute = true;
    rig.service->lineGenerateDigits(call, kDigitModeDtmf, "*", 0);
    rig.loop.advance(3500);
    QVERIFY(rig.statuses.join('\n').contains("Line0 the modem on /dev/ttyACM0 does not answer; resetting it"));
    QCOMPARE(rig.take(LINE_CALLSTATE).back().p1, LineCallState::Disconnected);
    QCOMPARE(rig.take(LINE_GENERATE).back().p1, kGenerateTermCancel);
    // What was captured is still there for the recording; the line carries silence meanwhile.
    QVERIFY(buffer.bytesRecorded >= 800u);
    QCOMPARE(in->reset(), WaveResult(MMSYSERR_NOERROR));
    QVERIFY(buffer.done);

    // The port was reopened and the modem initialised again.
    QVERIFY(rig.opens >= 2);
    QVERIFY(rig.loop.advanceUntil([&] { return rig.modemLine().ready(); }, 10000));
    QCOMPARE(rig.modem->commands.mid(0, 2), (QList<QByteArray>{"AT", "ATZ"}));
    QVERIFY(rig.statuses.back().contains("ready"));
    rig.service->lineDrop(call);
    rig.settle(300);
    rig.service->lineDeallocateCall(call);
    rig.modem->push("\r\nRING\r\n");
    rig.settle();
    QVERIFY(rig.modemLine().hCall() != 0);
}

void tst_ModemLine::unpluggedModemComesBack()
{
    Rig rig(test::usrChip());
    rig.unplugged = true;
    emit rig.modem->readChannelFinished();
    rig.settle(5000);
    QVERIFY(!rig.modemLine().ready());
    QCOMPARE(rig.statuses.filter("gone").size(), 1);
    QCOMPARE(rig.opens, 1);
    rig.unplugged = false;
    QVERIFY(rig.loop.advanceUntil([&] { return rig.modemLine().ready(); }, 10000));
    QCOMPARE(rig.opens, 2);
    QVERIFY(rig.statuses.back().contains("ready"));
}

void tst_ModemLine::lostEndOfStreamAndLineNoise()
{
    Rig rig(test::conexantChip());
    rig.modem->noiseBeforeReply = QByteArray("\xFE\x81\x02\x99", 4);
    const HCall call = rig.answeredCall();
    QVERIFY(call != 0);
    std::unique_ptr<WaveIn> in;
    rig.service->openIn(ModemTelephony::kWaveDeviceBase, PcmFormat{}, {}, in);
    in->start();
    rig.settle();
    rig.modem->dropEtx = true;
    in->reset();
    rig.settle(100);
    // The end of the stream never comes: after a while the line resynchronises with "AT".
    const qsizetype from = rig.modem->commands.size();
    QVERIFY(rig.loop.advanceUntil([&] { return rig.modem->commands.mid(from).contains("AT"); }, 5000));
    QCOMPARE(rig.service->lineGenerateDigits(call, kDigitModeDtmf, "*", 0), 0);
    QVERIFY(rig.loop.advanceUntil([&] { return !rig.take(LINE_GENERATE).empty(); }, 3000));
    QCOMPARE(rig.take(LINE_GENERATE).back().p1, kGenerateTermDone);
    QVERIFY(rig.modemLine().stats().resets == 0);
}

void tst_ModemLine::longMessageOutlivesTheInactivityTimer_data()
{
    QTest::addColumn<QString>("chip");
    QTest::addColumn<int>("bytesPerSample");
    QTest::addColumn<bool>("keptAwake"); // the chip refuses AT+VIT=0
    QTest::newRow("conexant") << "conexant" << 1 << false;
    QTest::newRow("usr") << "usr" << 2 << false;
    QTest::newRow("agere") << "agere" << 2 << false;
    QTest::newRow("rockwell") << "rockwell" << 1 << true;
}

void tst_ModemLine::longMessageOutlivesTheInactivityTimer()
{
    QFETCH(QString, chip);
    QFETCH(int, bytesPerSample);
    QFETCH(bool, keptAwake);
    ChipTable table = chipByName(chip);
    table.defaultVit = 60; // what the chip does unless told otherwise
    Rig rig(table);
    rig.answeredCall();
    std::unique_ptr<WaveIn> in;
    rig.service->openIn(ModemTelephony::kWaveDeviceBase, PcmFormat{}, {}, in);
    in->start();
    rig.settle();
    QVERIFY(rig.modem->receiving());
    rig.modem->streamChunk = QByteArray(160 * bytesPerSample, '\x41');
    rig.modem->setAutoStream(true);
    // Ten minutes of a caller talking, during which the computer sends the modem nothing.
    for (int s = 0; s < 600; ++s)
        rig.loop.advance(1000);
    QVERIFY(!rig.modem->leftVoiceMode);
    QVERIFY(rig.modem->receiving());
    QVERIFY(!rig.hasCallState(LineCallState::Disconnected));
    QVERIFY2(rig.modemLine().stats().samplesReceived >= 599 * 8000,
             QByteArray::number(rig.modemLine().stats().samplesReceived));
    QCOMPARE(rig.modemLine().stats().keepAlives > 0, keptAwake);
    QCOMPARE(rig.modemLine().stats().stalls, 0);
}

void tst_ModemLine::modemSilenceReportsAreNoHangUp()
{
    Rig rig(test::usrChip());
    rig.answeredCall();
    int silenceCommands = 0;
    for (const QByteArray &command : rig.modem->commands) {
        if (command.startsWith("AT+VSD=")) {
            ++silenceCommands;
            QVERIFY2(command.endsWith(",0"), command.constData()); // the chip's own detection is off
        }
    }
    QVERIFY(silenceCommands > 0);
    std::unique_ptr<WaveIn> in;
    rig.service->openIn(ModemTelephony::kWaveDeviceBase, PcmFormat{}, {}, in);
    in->start();
    rig.settle();
    // A pause in the message: "silence from the start" and "quiet after speech" reports.
    rig.modem->push("\x10s");
    rig.settle(500);
    rig.modem->push(QByteArray(800, '\x20') + "\x10q");
    rig.settle(500);
    QVERIFY(!rig.hasCallState(LineCallState::Disconnected));
    QCOMPARE(rig.modemLine().stats().silenceReports, 2);
    // A busy tone is the far end gone.
    rig.modem->push("\x10" "b");
    rig.settle();
    QCOMPARE(rig.take(LINE_CALLSTATE).back().p1, LineCallState::Disconnected);
}

void tst_ModemLine::modemLeftStreamingIsBroughtBack()
{
    // An earlier run was killed while recording: the modem still streams voice data and
    // takes every command for audio.
    ChipTable table = test::conexantChip();
    table.streamingAtOpen = true;
    Rig rig(table);
    QVERIFY(rig.modemLine().ready());
    QCOMPARE(rig.opens, 1);
    QVERIFY(rig.statuses.join('\n').contains("was still in a call from an earlier run"));
    const QList<QByteArray> &sent = rig.modem->commands;
    QCOMPARE(sent.mid(0, 3), (QList<QByteArray>{"AT", "ATH0", "ATZ"}));
    QVERIFY(!rig.modem->receiving());
    // Calls work as usual afterwards.
    rig.modem->push("\r\nRING\r\n");
    rig.settle();
    QVERIFY(rig.modemLine().hCall() != 0);
}

void tst_ModemLine::sixteenBitLayoutIsCheckedOnTheAudio_data()
{
    QTest::addColumn<int>("sent");
    QTest::addColumn<bool>("corrected");
    QTest::newRow("as claimed") << int(VoiceEncoding::Signed16) << false;
    QTest::newRow("bytes swapped") << int(VoiceEncoding::Signed16BigEndian) << true;
    QTest::newRow("unsigned") << int(VoiceEncoding::Unsigned16) << true;
}

void tst_ModemLine::sixteenBitLayoutIsCheckedOnTheAudio()
{
    QFETCH(int, sent);
    QFETCH(bool, corrected);
    Rig rig(test::usrChip()); // "16-BIT LINEAR": taken for signed little-endian
    QCOMPARE(int(rig.modemLine().voiceFormat()->encoding), int(VoiceEncoding::Signed16));
    rig.answeredCall();
    std::unique_ptr<WaveIn> in;
    rig.service->openIn(ModemTelephony::kWaveDeviceBase, PcmFormat{}, {}, in);
    std::array<WaveBuffer, 2> buffers;
    for (WaveBuffer &b : buffers) {
        b.data.resize(16000);
        in->prepareHeader(b);
        in->addBuffer(b);
    }
    in->start();
    rig.settle();
    // 20 ms of a 400 Hz tone, over and over (quiet line noise would do as well).
    std::vector<std::int16_t> tone(160);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = std::int16_t(6000 * std::sin(2 * 3.14159265358979 * 400 * double(i) / 8000));
    rig.modem->streamChunk = samplesAsBytes(VoiceEncoding(sent), tone);
    rig.modem->setAutoStream(true);
    rig.loop.advance(1500);
    QCOMPARE(rig.modemLine().stats().layoutCorrected, corrected);
    QCOMPARE(rig.statuses.join('\n').contains("sends its 16-bit audio differently"), corrected);
    // Every sample of the first second, held back for the check, is read the right way.
    QVERIFY(buffers[0].done);
    QCOMPARE(buffers[0].bytesRecorded, 16000u);
    std::vector<std::int16_t> got(8000);
    std::memcpy(got.data(), buffers[0].data.data(), 16000);
    for (std::size_t i = 0; i < got.size(); ++i)
        QCOMPARE(got[i], tone[i % tone.size()]);
    QVERIFY(buffers[1].bytesRecorded > 0);
    QCOMPARE(std::int16_t(buffers[1].data[2] | (buffers[1].data[3] << 8)), tone[1]);
}

void tst_ModemLine::modemThatStopsSendingEndsTheRecording()
{
    Rig rig(test::conexantChip());
    const HCall call = rig.answeredCall();
    std::unique_ptr<WaveIn> in;
    rig.service->openIn(ModemTelephony::kWaveDeviceBase, PcmFormat{}, {}, in);
    WaveBuffer buffer;
    buffer.data.resize(160000);
    in->prepareHeader(buffer);
    in->addBuffer(buffer);
    in->start();
    rig.settle();
    rig.modem->setAutoStream(true);
    rig.loop.advance(2000);
    QVERIFY(buffer.bytesRecorded >= 2 * 15000);
    // The modem hangs in voice receive: it sends nothing, and answers nothing.
    rig.modem->mute = true;
    rig.loop.advance(3000);
    QVERIFY(!rig.hasCallState(LineCallState::Disconnected)); // a few seconds are allowed
    rig.loop.advance(2000);
    QCOMPARE(rig.take(LINE_CALLSTATE).back().p1, LineCallState::Disconnected);
    QCOMPARE(rig.modemLine().stats().stalls, 1);
    QCOMPARE(rig.statuses.filter("stopped sending during a recording").size(), 1);
    // What was recorded stays with the application; the line is reset and takes calls again.
    QVERIFY(buffer.bytesRecorded >= 2 * 15000);
    in->reset();
    QVERIFY(buffer.done);
    QVERIFY(rig.loop.advanceUntil([&] { return rig.modemLine().ready(); }, 10000));
    QCOMPARE(rig.opens, 2);
    rig.service->lineDrop(call);
    rig.settle(300);
    rig.service->lineDeallocateCall(call);
    rig.modem->push("\r\nRING\r\n");
    rig.settle();
    QVERIFY(rig.modemLine().hCall() != 0);
}

// Modem output collected from manuals, logs and bug reports (fixtures/*.txt, each naming its
// source): a header of "key: value" lines, "----", then the modem's lines (or, for a stream,
// its shielded codes written as <DLE>x).
struct Snippet
{
    QMap<QString, QString> fields;
    QList<QByteArray> body;
};

Snippet readSnippet(const QString &path)
{
    Snippet s;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return s;
    bool inBody = false;
    for (QByteArray line : file.readAll().split('\n')) {
        if (inBody) {
            s.body << line.replace("<DLE>", "\x10").replace("<ETX>", "\x03");
        } else if (line == "----") {
            inBody = true;
        } else if (const int colon = line.indexOf(':'); colon > 0) {
            s.fields.insert(QString::fromUtf8(line.left(colon)), QString::fromUtf8(line.mid(colon + 1).trimmed()));
        }
    }
    if (!s.body.isEmpty() && s.body.back().isEmpty())
        s.body.removeLast();
    return s;
}

std::uint32_t flagsByName(const QString &names)
{
    std::uint32_t flags = 0;
    for (const QString &n : names.split(',')) {
        if (n == "address")
            flags |= CallPartyId::Address;
        else if (n == "name")
            flags |= CallPartyId::Name;
        else if (n == "blocked")
            flags |= CallPartyId::Blocked;
        else if (n == "outofarea")
            flags |= CallPartyId::OutOfArea;
    }
    return flags;
}

void tst_ModemLine::realModemOutput_data()
{
    QTest::addColumn<QString>("path");
    const QDir dir(QStringLiteral(TELVOX_MODEM_FIXTURES));
    const QStringList files = dir.entryList({QStringLiteral("*.txt")}, QDir::Files, QDir::Name);
    QVERIFY2(files.size() >= 30, qPrintable(QString::number(files.size())));
    for (const QString &f : files)
        QTest::newRow(qPrintable(f)) << dir.filePath(f);
}

void tst_ModemLine::realModemOutput()
{
    QFETCH(QString, path);
    const Snippet s = readSnippet(path);
    QVERIFY2(s.fields.value("source").size() > 10, "every snippet names its source");
    const QString kind = s.fields.value("kind");
    if (kind == "vsm") {
        const auto choice = chooseVoiceFormat(parseVsmList(s.body));
        const QString cml = s.fields.value("expect.cml");
        QCOMPARE(choice.has_value(), cml != "none");
        if (choice) {
            QCOMPARE(QString::number(choice->cml), cml);
            QCOMPARE(QString::fromLatin1(encodingName(choice->encoding)),
                     QString::fromLatin1(encodingName(parseFormatCode(cml + ':' + s.fields.value("expect.encoding"))->encoding)));
        }
        return;
    }
    if (kind == "ident") {
        ChipTable table;
        table.name = QStringLiteral("snippet");
        table.replies.insert("AT+FCLASS=?", "0,1,2,8");
        table.refused = {"ATI0", "ATI3", "AT+GMI"};
        for (const QByteArray &line : s.body) {
            const int arrow = line.indexOf(" => ");
            table.refused.removeAll(line.left(arrow));
            table.replies.insert(line.left(arrow), line.mid(arrow + 4));
        }
        Rig rig(table);
        QVERIFY(rig.modemLine().ready());
        QCOMPARE(rig.modemLine().profile().id, s.fields.value("expect.profile"));
        return;
    }
    Rig rig(test::conexantChip());
    if (kind == "cid") {
        for (const QByteArray &line : s.body) {
            rig.modem->push(line + "\r\n");
            rig.settle(100);
        }
        rig.modem->push("\r\nRING\r\n"); // the ring that follows
        rig.settle(500);
        QCOMPARE(int(rig.take(LINE_LINEDEVSTATE).size()), s.fields.value("expect.rings").toInt() + 1);
        LineCallInfo info;
        QCOMPARE(rig.service->lineGetCallInfo(rig.modemLine().hCall(), info), 0);
        QCOMPARE(QString::fromLatin1(info.callerIdNumber), s.fields.value("expect.number"));
        QCOMPARE(QString::fromLatin1(info.callerIdName), s.fields.value("expect.name"));
        const QString flags = s.fields.value("expect.flags");
        QCOMPARE(info.callerIdFlags, flags == "none" ? CallPartyId::Unknown : flagsByName(flags));
        return;
    }
    QCOMPARE(kind, QStringLiteral("stream"));
    const HCall call = rig.answeredCall();
    rig.service->lineMonitorDigits(call, kDigitModeDtmf);
    std::unique_ptr<WaveIn> in;
    rig.service->openIn(ModemTelephony::kWaveDeviceBase, PcmFormat{}, {}, in);
    in->start();
    rig.settle();
    for (const QByteArray &codes : s.body) {
        rig.modem->push(QByteArray(160, '\x55') + codes);
        rig.settle(100);
    }
    QString digits;
    for (const Event &e : rig.take(LINE_MONITORDIGITS))
        digits += QChar(char(e.p1));
    QCOMPARE(digits, s.fields.value("expect.digits"));
    QCOMPARE(rig.hasCallState(LineCallState::Disconnected), s.fields.value("expect.disconnected") == "yes");
}

QTEST_GUILESS_MAIN(tst_ModemLine)
#include "tst_ModemLine.moc"
