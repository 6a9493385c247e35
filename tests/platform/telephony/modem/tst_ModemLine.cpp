// The voice-modem backend against transcript tables: what each chip family is told, the
// voice data streams with their DLE edge cases, and the faults. Reports (caller ID, events,
// the collected modem output) are in tst_ModemReports.

#include "ScriptedModem.h"

#include <cmath>
#include <cstring>

using namespace telvox;
using namespace telvox::modem;
using namespace telvox::test;

class tst_ModemLine : public QObject
{
    Q_OBJECT

private slots:
    void initialisesEachChip_data()
    {
        QTest::addColumn<ChipTable>("chip");
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QByteArray>("formatCommand");
        QTest::addColumn<int>("encoding");
        QTest::addColumn<QByteArray>("callerIdCommand");
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("conexant") << conexantChip() << "conexant" << QByteArray("AT+VSM=131,8000")
                                  << int(VoiceEncoding::MuLaw) << QByteArray("AT+VCID=1")
                                  << QByteArray("CX93001-EIS_V0.2013-V92");
        QTest::newRow("usr") << usrChip() << "usr" << QByteArray("AT+VSM=129,8000") << int(VoiceEncoding::Signed16)
                             << QByteArray("AT+VCID=1") << QByteArray("U.S. Robotics 56K FAX USB V1.2.23");
        QTest::newRow("agere") << agereChip() << "agere" << QByteArray("AT+VSM=129,8000") << int(VoiceEncoding::Signed16)
                               << QByteArray("AT+VCID=1") << QByteArray("LT V.92 Data+Fax Modem Version 8.30");
        QTest::newRow("rockwell") << rockwellChip() << "generic" << QByteArray("AT+VSM=4,8000") << int(VoiceEncoding::MuLaw)
                                  << QByteArray("AT#CID=1") << QByteArray("RCV56DPF-PLL L8571A Rev 47.23/34.00");
    }

    void initialisesEachChip()
    {
        QFETCH(ChipTable, chip);
        QFETCH(QString, profile);
        QFETCH(QByteArray, formatCommand);
        QFETCH(int, encoding);
        QFETCH(QByteArray, callerIdCommand);
        QFETCH(QByteArray, name);
        Rig rig(chip);
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

        // Answering selects the chosen format with the chip's inactivity timer and its own silence
        // detection off; leaving voice mode re-sends the caller-ID command.
        const qsizetype from = rig.modem->commands.size();
        const HCall call = rig.answeredCall();
        std::uint32_t id = 0;
        QCOMPARE(rig.service->lineGetID(rig.line, 0, call, kCallSelectCall, id, "wave/in"), 0);
        QCOMPARE(id, std::uint32_t{ModemTelephony::kWaveDeviceBase});
        const QList<QByteArray> voiceSetup = rig.commandsSince(from);
        QVERIFY(voiceSetup.contains(formatCommand));
        QVERIFY(voiceSetup.contains("AT+VLS=1"));
        QVERIFY(voiceSetup.contains("AT+VIT=0"));
        if (profile != QLatin1String("generic"))
            QVERIFY(voiceSetup.contains("AT+VSD=128,0"));
        const qsizetype beforeDrop = rig.modem->commands.size();
        rig.service->lineDrop(call);
        rig.settle(200);
        QCOMPARE(rig.commandsSince(beforeDrop), (QList<QByteArray>{"ATH0", "AT+FCLASS=0", callerIdCommand}));
    }

    void dataOnlyModemIsNoVoiceLine()
    {
        Rig rig(test::dataOnlyModem());
        LineDevCaps caps;
        QCOMPARE(rig.service->lineGetDevCaps(rig.app, 0, 0x20002, 0, caps), 0);
        QCOMPARE(caps.mediaModes, std::uint32_t{MediaMode::DataModem});
        QCOMPARE(caps.lineName, QByteArray("Generic 33600 Data/Fax"));
        QVERIFY(rig.statuses.join('\n').contains("is not a voice modem"));
        QVERIFY(!rig.modem->commands.contains("AT+VSM=?"));
        HLine line = 0;
        QCOMPARE(rig.service->lineOpen(rig.app, 0, line, 0x20002, 0, 0, 6, MediaMode::InteractiveVoice),
                 LineErr::InvalMediaMode);
        QCOMPARE(rig.line, HLine{0});
    }

    void ringingThatStopsEndsAfterGracePeriod()
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
        QVERIFY(rig.service->lineAnswer(rig.modemLine().hCall()) > 0);
        QVERIFY(rig.loop.advanceUntil([&] { return rig.hasCallState(LineCallState::Connected); }, 3000));
        rig.settle(20000);
        QVERIFY(!rig.hasCallState(LineCallState::Idle));
    }

    void playsShieldedAndPaced()
    {
        Rig rig(test::usrChip()); // 16-bit linear: 0x10 bytes are frequent
        const HCall call = rig.answeredCall();
        std::unique_ptr<WaveOut> out;
        int done = 0;
        rig.service->openOut(ModemTelephony::kWaveDeviceBase, PcmFormat{},
                             [&](WaveMessage m) { done += m == WaveMessage::Done; }, out);
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

    void signalToneAndHangUpSequence()
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
        rig.record();
        const qsizetype from = rig.modem->commands.size();
        QVERIFY(rig.service->lineDrop(call) > 0);
        rig.settle(200);
        QCOMPARE(rig.commandsSince(from), (QList<QByteArray>{"ATH0", "AT+FCLASS=0", "AT+VCID=1"}));
        QCOMPARE(rig.lastCallState(), LineCallState::Idle);
        QCOMPARE(rig.service->lineDeallocateCall(call), 0);
    }

    void diallingInVoiceMode()
    {
        Rig rig(test::usrChip());
        HCall call = 0;
        QCOMPARE(rig.service->lineMakeCall(rig.line, call, "  ", 0), LineErr::InvalAddress);
        const qsizetype from = rig.modem->commands.size();
        QVERIFY(rig.service->lineMakeCall(rig.line, call, "555-1234", 0) > 0);
        QVERIFY(call != 0);
        rig.settle();
        QCOMPARE(rig.take(LINE_CALLSTATE).front().p1, LineCallState::Dialing);
        const QList<QByteArray> sent = rig.commandsSince(from);
        QVERIFY(sent.contains("ATD5551234;"));
        QVERIFY(sent.indexOf("AT+FCLASS=8") < sent.indexOf("ATD5551234;"));
        QCOMPARE(rig.lastCallState(), LineCallState::Connected);
        HCall second = 0;
        QCOMPARE(rig.service->lineMakeCall(rig.line, second, "1", 0), LineErr::CallUnavail);
        rig.dropCall(call);

        // No dial tone: the dialled call is disconnected.
        rig.modem->answer = [](const QByteArray &c) { return c.startsWith("ATD") ? QByteArray("\r\nNO DIALTONE\r\n") : QByteArray(); };
        rig.events.clear();
        QVERIFY(rig.service->lineMakeCall(rig.line, call, "5551234", 0) > 0);
        rig.settle(200);
        QCOMPARE(rig.lastCallState(), LineCallState::Disconnected);
    }

    void faultEndsTheCallAndTheModemIsReset_data()
    {
        QTest::addColumn<bool>("streaming"); // the modem hangs while it streams, else in command state
        QTest::addColumn<QString>("status");
        QTest::newRow("stops answering a command") << false << "the modem on /dev/ttyACM0 does not answer; resetting it";
        QTest::newRow("stops sending while recording") << true << "stopped sending during a recording";
    }

    void faultEndsTheCallAndTheModemIsReset()
    {
        QFETCH(bool, streaming);
        QFETCH(QString, status);
        LineOptions options;
        options.commandTimeoutMs = 1000;
        Rig rig(test::conexantChip(), options);
        const HCall call = rig.answeredCall();
        rig.record(1, 160000);
        rig.modem->setAutoStream(streaming);
        rig.modem->push(QByteArray(400, '\x55'));
        rig.loop.advance(streaming ? 2000 : 50);
        const std::uint32_t captured = rig.recorded[0].bytesRecorded;
        QVERIFY(captured >= (streaming ? 2 * 15000u : 800u));
        // The modem answers nothing any more; in command state the touch tone times out.
        rig.modem->mute = true;
        if (!streaming)
            rig.service->lineGenerateDigits(call, kDigitModeDtmf, "*", 0);
        rig.loop.advance(3000);
        if (streaming)
            QVERIFY(!rig.hasCallState(LineCallState::Disconnected)); // a few seconds without data are allowed
        rig.loop.advance(2000);
        QCOMPARE(rig.lastCallState(), LineCallState::Disconnected);
        QCOMPARE(rig.statuses.filter(status).size(), 1);
        QCOMPARE(rig.modemLine().stats().stalls, streaming ? 1 : 0);
        if (!streaming)
            QCOMPARE(rig.take(LINE_GENERATE).back().p1, kGenerateTermCancel);
        // What was recorded stays with the application; the line is reset and takes calls again.
        rig.in->reset();
        QVERIFY(rig.recorded[0].done && rig.recorded[0].bytesRecorded >= captured);
        QVERIFY(rig.loop.advanceUntil([&] { return rig.modemLine().ready(); }, 10000));
        QCOMPARE(rig.opens, 2);
        QCOMPARE(rig.modem->commands.mid(0, 2), (QList<QByteArray>{"AT", "ATZ"}));
        QVERIFY(rig.statuses.back().contains("ready"));
        rig.dropCall(call);
        rig.modem->push("\r\nRING\r\n");
        rig.settle();
        QVERIFY(rig.modemLine().hCall() != 0);
    }

    // A modem that ends voice receive by itself (<DLE><ETX> unasked, as some do after their
    // silence report or on a line event) is told to record again; one that will not, or keeps
    // leaving without sending anything, ends the call as a fault with the recording kept. The
    // capture never gets silence for the time the modem sent nothing.
    void modemThatLeavesReceive_data()
    {
        QTest::addColumn<bool>("withoutOk");
        QTest::addColumn<int>("times");       // -1: each time it is in receive
        QTest::addColumn<bool>("refuse");      // AT+VRX refused after leaving
        QTest::addColumn<bool>("audio");       // it streams audio while in receive
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("ended");
        QTest::newRow("leaves, says OK") << false << 1 << false << true << "left voice receive by itself; recording again"
                                         << false;
        QTest::newRow("leaves without OK") << true << 1 << false << true << "recording again" << false;
        QTest::newRow("will not record again") << false << 1 << true << true << "would not start again (ERROR)" << true;
        QTest::newRow("keeps leaving, sends nothing") << false << -1 << false << false
                                                      << "stopped sending during a recording" << true;
    }

    void modemThatLeavesReceive()
    {
        QFETCH(bool, withoutOk);
        QFETCH(int, times);
        QFETCH(bool, refuse);
        QFETCH(bool, audio);
        QFETCH(QString, status);
        QFETCH(bool, ended);
        Rig rig(test::conexantChip()); // mu-law: the streamed 0x55 is never a zero sample
        const HCall call = rig.answeredCall();
        rig.modem->leaveReceiveAfterMs = audio ? 1000 : 300;
        rig.modem->leaveTimes = times;
        rig.modem->leaveWithoutOk = withoutOk;
        rig.modem->refuseReceiveAfterLeaving = refuse;
        if (!audio)
            rig.modem->streamChunk.clear();
        rig.modem->setAutoStream(true);
        rig.record(4, 8000);
        rig.loop.advance(3000);
        QCOMPARE(rig.hasCallState(LineCallState::Disconnected), ended && audio);
        rig.loop.advance(2500);
        QCOMPARE(rig.hasCallState(LineCallState::Disconnected), ended);
        QVERIFY2(rig.statuses.filter(status).size() == 1, qPrintable(rig.statuses.join('\n')));
        QVERIFY(rig.modemLine().stats().receiveResumed >= 1); // AT+VRX again, at least tried
        QCOMPARE(rig.modemLine().stats().stalls, audio ? 0 : 1);
        QCOMPARE(rig.opens, ended ? 2 : 1);
        rig.in->reset();
        // Everything the capture got is the modem's audio: not a single made-up zero.
        std::uint32_t total = 0;
        for (const WaveBuffer &b : rig.recorded) {
            QVERIFY(b.done);
            total += b.bytesRecorded;
            for (std::uint32_t i = 0; i + 1 < b.bytesRecorded; i += 2)
                QVERIFY2(b.data[i] != 0 || b.data[i + 1] != 0, qPrintable(QString::number(i)));
        }
        // Audio before the modem left (1 s), and, when it recorded again, after it.
        const std::uint32_t expected = !audio ? 0 : refuse ? 16000 : 32000;
        QVERIFY2(audio ? total >= expected * 9 / 10 : total == 0, qPrintable(QString::number(total)));
        if (!ended)
            rig.dropCall(call);
    }

    // A modem that leaves voice receive as the far end hangs up (<DLE>l, <DLE><ETX>, OK): the
    // call is over, the modem is not sent back into receive, and no fault is reported.
    void modemThatLeavesReceiveWithTheCall()
    {
        Rig rig(test::conexantChip());
        const HCall call = rig.answeredCall();
        rig.modem->leaveReceiveAfterMs = 1000;
        rig.modem->leaveTimes = 1;
        rig.modem->leavePrefix = "\x10l";
        rig.modem->refuseReceiveAfterLeaving = true;
        rig.modem->setAutoStream(true);
        rig.record(2, 8000);
        const qsizetype from = rig.modem->commands.size();
        rig.loop.advance(1600);
        QCOMPARE(rig.lastCallState(), LineCallState::Disconnected);
        QVERIFY(rig.commandsSince(from).isEmpty());
        rig.in->reset();
        rig.dropCall(call);
        QVERIFY2(rig.statuses.filter("voice receive").isEmpty() && rig.statuses.filter("stopped sending").isEmpty(),
                 qPrintable(rig.statuses.join('\n')));
        QCOMPARE(rig.opens, 1);
    }

    void lostEndOfStreamAndLineNoise()
    {
        Rig rig(test::conexantChip());
        rig.modem->noiseBeforeReply = QByteArray("\xFE\x81\x02\x99", 4);
        const HCall call = rig.answeredCall();
        QVERIFY(call != 0);
        rig.record();
        rig.modem->dropEtx = true;
        rig.in->reset();
        rig.settle(100);
        // The end of the stream never comes: after a while the line resynchronises with "AT".
        const qsizetype from = rig.modem->commands.size();
        QVERIFY(rig.loop.advanceUntil([&] { return rig.commandsSince(from).contains("AT"); }, 5000));
        QCOMPARE(rig.service->lineGenerateDigits(call, kDigitModeDtmf, "*", 0), 0);
        QVERIFY(rig.loop.advanceUntil([&] { return !rig.take(LINE_GENERATE).empty(); }, 3000));
        QCOMPARE(rig.take(LINE_GENERATE).back().p1, kGenerateTermDone);
        QCOMPARE(rig.modemLine().stats().resets, 0);
    }

    void longMessageOutlivesTheInactivityTimer_data()
    {
        QTest::addColumn<ChipTable>("chip");
        QTest::addColumn<int>("bytesPerSample");
        QTest::addColumn<bool>("keptAwake"); // the chip refuses AT+VIT=0
        QTest::newRow("conexant") << conexantChip() << 1 << false;
        QTest::newRow("usr") << usrChip() << 2 << false;
        QTest::newRow("agere") << agereChip() << 2 << false;
        QTest::newRow("rockwell") << rockwellChip() << 1 << true;
    }

    void longMessageOutlivesTheInactivityTimer()
    {
        QFETCH(ChipTable, chip);
        QFETCH(int, bytesPerSample);
        QFETCH(bool, keptAwake);
        chip.defaultVit = 60; // what the chip does unless told otherwise
        Rig rig(chip);
        rig.answeredCall();
        rig.record();
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

    void modemLeftStreamingIsBroughtBack()
    {
        // An earlier run was killed while recording: the modem still streams voice data and
        // takes every command for audio.
        ChipTable table = test::conexantChip();
        table.streamingAtOpen = true;
        Rig rig(table);
        QVERIFY(rig.modemLine().ready());
        QCOMPARE(rig.opens, 1);
        QVERIFY(rig.statuses.join('\n').contains("was still in a call from an earlier run"));
        QCOMPARE(rig.modem->commands.mid(0, 3), (QList<QByteArray>{"AT", "ATH0", "ATZ"}));
        QVERIFY(!rig.modem->receiving());
        rig.modem->push("\r\nRING\r\n");
        rig.settle();
        QVERIFY(rig.modemLine().hCall() != 0);
    }

    void sixteenBitLayoutIsCheckedOnTheAudio_data()
    {
        QTest::addColumn<int>("sent");
        QTest::addColumn<bool>("corrected");
        QTest::newRow("as claimed") << int(VoiceEncoding::Signed16) << false;
        QTest::newRow("bytes swapped") << int(VoiceEncoding::Signed16BigEndian) << true;
        QTest::newRow("unsigned: half-scale offset") << int(VoiceEncoding::Unsigned16) << true;
    }

    void sixteenBitLayoutIsCheckedOnTheAudio()
    {
        QFETCH(int, sent);
        QFETCH(bool, corrected);
        Rig rig(test::usrChip()); // "16-BIT LINEAR": taken for signed little-endian
        QCOMPARE(int(rig.modemLine().voiceFormat()->encoding), int(VoiceEncoding::Signed16));
        rig.answeredCall();
        rig.record(2);
        // 20 ms of a 400 Hz tone, over and over.
        std::vector<std::int16_t> tone(160);
        for (std::size_t i = 0; i < tone.size(); ++i)
            tone[i] = std::int16_t(6000 * std::sin(2 * 3.14159265358979 * 400 * double(i) / 8000));
        rig.modem->streamChunk = samplesAsBytes(VoiceEncoding(sent), tone);
        rig.modem->setAutoStream(true);
        rig.loop.advance(1500);
        QCOMPARE(rig.modemLine().stats().layoutCorrected, corrected);
        QCOMPARE(rig.statuses.join('\n').contains("sends its 16-bit audio differently"), corrected);
        // Every sample of the first second, held back for the check, is read the right way.
        const WaveBuffer &first = rig.recorded[0];
        QVERIFY(first.done);
        QCOMPARE(first.bytesRecorded, 16000u);
        std::vector<std::int16_t> got(8000);
        std::memcpy(got.data(), first.data.data(), 16000);
        for (std::size_t i = 0; i < got.size(); ++i)
            QCOMPARE(got[i], tone[i % tone.size()]);
        const WaveBuffer &second = rig.recorded[1];
        QVERIFY(second.bytesRecorded > 0);
        QCOMPARE(std::int16_t(second.data[2] | (second.data[3] << 8)), tone[1]);
    }
};

QTEST_GUILESS_MAIN(tst_ModemLine)
#include "tst_ModemLine.moc"
