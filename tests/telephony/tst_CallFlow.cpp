// Whole calls through the real dispatcher, timers and virtual exchange, in virtual time.

#include "records/CallRecords.h"
#include "support/CallRig.h"

#include <QTest>

using namespace telvox;
using namespace telvox::test;

class tst_CallFlow : public QObject
{
    Q_OBJECT
private slots:
    void answersAtRingCountWithGreetingToneAndMessage()
    {
        CallRig f;
        IncomingCall call = callFrom("5551234");
        call.maxRings = 0;
        QVERIFY(f.exchange->placeIncomingCall(0, std::move(call)));

        f.loop.advance(11999); // rings at 0 and 6000 (2000/4000 cadence)
        QCOMPARE(f.exchange->view(0).ringCount, 2);
        QVERIFY(f.timer(CallTimer::Timer1, 0).isEnabled());
        QVERIFY(f.requests.isEmpty());

        f.loop.advance(1); // ring 3: the system answers as an answering machine
        QCOMPARE(f.slot(0).answering, Answerer::Machine);
        QVERIFY(!f.timer(CallTimer::Timer1, 0).isEnabled());
        QCOMPARE(f.requests, QStringList{"PlayGreeting 0"});
        QVERIFY(f.exchange->view(0).monitoringDigits);
        QVERIFY(f.timer(CallTimer::Timer3, 0).isEnabled());

        // The greeting (2.3 s) ends; Timer3 (every 500 ms) notices on its tick at 2.5 s and requests "*".
        for (int ms : {2299, 200}) {
            f.loop.advance(ms);
            QVERIFY(f.exchange->view(0).digitsHeard.isEmpty());
        }
        f.loop.advance(1);
        QCOMPARE(f.exchange->view(0).digitsHeard, QString("*"));
        f.loop.advance(799); // the tone ends: the message is recorded
        QVERIFY(!f.timer(CallTimer::Timer3, 0).isEnabled());
        QCOMPARE(f.slot(0).mode, CallKind::Message);
        QCOMPARE(f.requests.last(), QString("StartLineRecording 0 A~5551234"));
        QCOMPARE(f.slot(0).recState, 1);

        QVERIFY(f.exchange->hangUpFarEnd(0, FarEndHangUp::WithDisconnect));
        f.loop.advance(0);
        QCOMPARE(f.slot(0).recState, 0);
        QVERIFY(f.timer(CallTimer::timDropCall, 0).isEnabled());
        f.loop.advance(500);
        QCOMPARE(f.slot(0).hCall, HCall(0));
        QCOMPARE(f.exchange->view(0).hCall, HCall(0)); // deallocated
        // (The status lines, the audio requests and the learned gap of this call are checked by
        // scenario_answer-after-three-rings.)
        QCOMPARE(f.requests.count("waveInReset 0"), 1);
        QVERIFY(f.setting("Line0", "Param2").isEmpty()); // ring 3 answered: nothing more learned
    }

    // An offering on a line whose recording still runs (the end of the last call was missed)
    // ends that recording before the new call rings.
    void aCallOfferedOverARunningRecordingEndsIt()
    {
        CallRig f;
        IncomingCall call = callFrom("5551234");
        call.maxRings = 0;
        QVERIFY(f.exchange->placeIncomingCall(0, std::move(call)));
        f.loop.advance(12000 + 2500 + 800 + 100); // answered at ring 3, greeting, tone, message
        QCOMPARE(f.slot(0).recState, RecState::Recording);
        f.core->LineCallback(f.slot(0).hCall, LINE_CALLSTATE, 0, LineCallState::Offering, 0, 0);
        QCOMPARE(f.slot(0).recState, RecState::Idle);
        QCOMPARE(f.requests.count("waveInReset 0"), 1);
    }

    void ringGapLearningRoundsHalfToEven_data()
    {
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<QString>("learned");
        // Weight 1: (1 x 6500 + gap + 100) / 2
        QTest::newRow("6300.5 goes down to even") << 6001 << "6300";
        QTest::newRow("6301.5 goes up to even") << 6003 << "6302";
        QTest::newRow("6301 exact") << 6002 << "6301";
    }
    void ringGapLearningRoundsHalfToEven()
    {
        QFETCH(int, gapMs);
        QFETCH(QString, learned);
        CallRig f({.rings = "5", .before = [](CallRig &r) { r.settings.WriteSetting("Line0", "Calls", "1"); }});
        IncomingCall call = callFrom("1");
        call.cadenceMs = {1000, gapMs - 1000};
        call.maxRings = 2;
        QVERIFY(f.exchange->placeIncomingCall(0, std::move(call)));
        f.loop.advance(gapMs);
        QCOMPARE(f.setting("Line0", "Calls"), QString("2"));
        QCOMPARE(f.setting("Line0", "Param1"), learned);
        QCOMPARE(f.slot(0).ringGap[1], learned.toInt());
    }

    // An empty ring count in the options file means 8, also when no setup window reads it.
    void emptyRingCountAnswersAtRingEight()
    {
        CallRig f({.rings = ""});
        IncomingCall call = callFrom("5551234");
        call.maxRings = 0;
        QVERIFY(f.exchange->placeIncomingCall(0, std::move(call)));
        f.loop.advance(6000 * 7 - 1); // rings 1..7
        QCOMPARE(f.exchange->view(0).ringCount, 7);
        QVERIFY(f.requests.isEmpty());
        f.loop.advance(1);
        QCOMPARE(f.slot(0).answering, Answerer::Machine);
        QCOMPARE(f.requests, QStringList{"PlayGreeting 0"});
    }

    void laterRingsLearnTheirOwnEntriesAndRingNineLearnsNothing()
    {
        CallRig f({.rings = "20", .before = [](CallRig &r) { r.settings.WriteSetting("Line0", "Param6", "7000"); }});
        IncomingCall call = callFrom("1");
        call.cadenceMs = {1000, 4000}; // 5000 ms apart: learned value (50 x e + 5100) / 51
        QVERIFY(f.exchange->placeIncomingCall(0, std::move(call)));
        f.loop.advance(5000 * 6); // rings 1..7
        QCOMPARE(f.setting("Line0", "Param1"), QString("6473")); // (325000 + 5100) / 51 = 6472.5 -> even
        QCOMPARE(f.setting("Line0", "Param5"), QString("6473"));
        QCOMPARE(f.setting("Line0", "Param6"), QString("6963")); // ring 7: (350000 + 5100) / 51
        f.loop.advance(5000); // ring 8
        const QString param6 = f.setting("Line0", "Param6");
        f.loop.advance(5000); // ring 9: re-armed with entry 6, nothing learned
        QCOMPARE(f.setting("Line0", "Param6"), param6);
        QCOMPARE(f.timer(CallTimer::Timer1, 0).interval(), 6963);
        QVERIFY(f.timer(CallTimer::Timer1, 0).isEnabled());
        QCOMPARE(f.exchange->view(0).ringCount, 9);
    }

    void handsetPickUpIsDetectedByTheRingWatch_data()
    {
        QTest::addColumn<bool>("legal");
        QTest::newRow("record at once") << false;
        QTest::newRow("legal notice first") << true;
    }
    void handsetPickUpIsDetectedByTheRingWatch()
    {
        QFETCH(bool, legal);
        CallRig f({.rings = "6", .countRings = true,
                   .before = [](CallRig &r) { r.settings.WriteSetting("Line0", "Param2", "7300"); }});
        f.legal = legal;
        IncomingCall call = callFrom("777");
        call.pickUpAfterRing = 2;
        QVERIFY(f.exchange->placeIncomingCall(0, std::move(call)));
        f.loop.advance(6000); // ring 2; the handset goes up after it
        QVERIFY(f.exchange->view(0).handsetOffHook);
        QCOMPARE(f.timer(CallTimer::Timer1, 0).interval(), 7300);
        f.loop.advance(7299);
        QCOMPARE(f.exchange->view(0).callState, LineCallState::Offering);
        f.loop.advance(1); // the ring watch expires: the system goes off-hook in parallel
        QVERIFY(!f.timer(CallTimer::Timer1, 0).isEnabled());
        QCOMPARE(f.slot(0).answering, Answerer::Person);
        QCOMPARE(f.exchange->view(0).callState, LineCallState::Connected);
        QCOMPARE(f.requests, QStringList{legal ? "PlayLegalNotice 0" : "StartLineRecording 0 M~777"});
        QCOMPARE(f.statusTexts().contains("Line0 Start Recording"), !legal);
        QVERIFY(!f.statusTexts().contains(" 3"));
    }

    void twoLinesRingingAtOnceLearnIndependently()
    {
        CallRig f({.lines = 2, .rings = "4",
                   .before = [](CallRig &r) { r.settings.WriteSetting("Line1", "Calls", "10"); }});
        IncomingCall a = callFrom("100");
        a.cadenceMs = {2000, 4000};
        a.maxRings = 3;
        IncomingCall b = callFrom("200");
        b.cadenceMs = {1000, 2000};
        b.maxRings = 3;
        QVERIFY(f.exchange->placeIncomingCall(0, std::move(a)));
        f.loop.advance(500);
        QVERIFY(f.exchange->placeIncomingCall(1, std::move(b)));
        f.loop.advance(20000);
        QCOMPARE(f.setting("Line0", "Calls"), QString("51"));
        QCOMPARE(f.setting("Line1", "Calls"), QString("11"));
        QCOMPARE(f.setting("Line0", "Param1"), QString("6492")); // (50 x 6500 + 6100) / 51
        QCOMPARE(f.setting("Line1", "Param1"), QString("6191")); // (10 x 6500 + 3100) / 11 = 6190.9
        QCOMPARE(f.setting("Line1", "Param2"), QString("6191"));
        // Both callers gave up after ring 3: each ring watch answered its own line.
        for (int n = 0; n < 2; ++n) {
            QCOMPARE(f.slot(n).callerId, QString("~%1").arg(100 * (n + 1)));
            QCOMPARE(f.exchange->view(n).callState, LineCallState::Connected);
            QVERIFY(f.requests.contains(QString("StartLineRecording %1 M~%2").arg(n).arg(100 * (n + 1))));
        }
    }

    void manualAnswerCountsPopUps()
    {
        CallRig f({.lines = 2, .rings = "5", .config = {{"ActionMan", "1"}, {"Legal", "0"}}});
        QVERIFY(f.exchange->placeIncomingCall(0, callFrom("10")));
        QVERIFY(f.exchange->placeIncomingCall(1, callFrom("11")));
        f.loop.advance(7000);
        QCOMPARE(f.core->popCount(), 2);
        QVERIFY(f.core->popup().isVisible());
        QVERIFY(f.core->popup().row(0).answerVisible && f.core->popup().row(1).hangupVisible);
        // Rings are only counted: the ring watch is not used in manual-answer mode.
        QVERIFY(!f.timer(CallTimer::Timer1, 0).isEnabled() && !f.timer(CallTimer::Timer1, 1).isEnabled());
        QVERIFY(!f.setting("Line0", "Calls").size());

        f.core->cmdAnswer_Click(1);
        f.loop.advance(0);
        QCOMPARE(f.exchange->view(1).callState, LineCallState::Connected);
        QVERIFY(!f.core->popup().row(1).answerVisible && f.core->popup().row(1).hangupVisible);
        QCOMPARE(f.slot(1).answering, Answerer::Person);
        QVERIFY(f.requests.contains("StartLineRecording 1 M~11"));

        QVERIFY(f.exchange->hangUpFarEnd(0, FarEndHangUp::WithDisconnect));
        f.loop.advance(0);
        QCOMPARE(f.core->popCount(), 1);
        // The display time does not close the pop-up under a call answered in it: Hang Up stays.
        f.loop.advance(3 * 60000);
        QVERIFY(f.core->popup().isVisible() && f.core->popup().row(1).hangupVisible);

        // Hang Up during the recording ends it and drops the call 500 ms later; the last pop-up closes.
        f.core->cmdHangup_Click(1);
        QCOMPARE(f.statusTexts().last(), QString("End of Recording"));
        QCOMPARE(f.core->popCount(), 0);
        QVERIFY(!f.core->popup().isLoaded());
        f.loop.advance(500);
        QCOMPARE(f.exchange->view(1).hCall, HCall(0));

        // Without a reaction the system still answers as a machine at the ring count.
        QVERIFY(f.exchange->placeIncomingCall(1, callFrom("12")));
        f.loop.advance(4 * 6000);
        QCOMPARE(f.slot(1).answering, Answerer::Machine);
        QCOMPARE(f.requests.last(), QString("PlayGreeting 1"));
    }

    void callerIdBeforeTheOfferingFindsNoLine()
    {
        CallRig f({.config = {{"Line2", "1"}, {"Line0", "0"}}});
        QVERIFY(f.exchange->placeIncomingCall(2, callFrom("3334444", CallerIdTiming::BeforeFirstRing)));
        f.loop.advance(100);
        const QStringList status = f.statusTexts();
        QVERIFY(status.indexOf("CallerID:3334444") < status.indexOf("Line2 Ring..."));
        QCOMPARE(f.slot(2).callerId, QString()); // the offering reset it
        QVERIFY(f.core->popup().row(0).labelsVisible);
        QCOMPARE(f.core->popup().row(0).callerId, QString("3334444 "));
        QVERIFY(!f.core->popup().row(2).labelsVisible);
        QCOMPARE(f.fileBytes("callerid.txt"), QByteArray("3334444\r\n"));
    }

    void callerIdIsStoredShownAndLookedUp()
    {
        // PhoneBook.txt: two records; the second holds the caller's number padded to 20.
        QByteArray book;
        for (const auto &[name, tele] : {std::pair{"Bob", "111"}, std::pair{"Anna Lee", "5550000"}})
            book += (QByteArray(name).leftJustified(30, ' ') + QByteArray(tele).leftJustified(20, ' ')).leftJustified(128, '\0');
        CallRig f({.config = {{"PopCallId", "1"}},
                   .before = [&book](CallRig &r) { writeBytes(r.dir.file("PhoneBook.txt"), book); }});
        QString dialOut;
        f.core->setDialOutField([&dialOut](const QString &n) { dialOut = n; });

        QVERIFY(f.exchange->placeIncomingCall(0, callFrom("5550000")));
        f.loop.advance(2500); // caller ID 500 ms after the first ring's 2 s
        QCOMPARE(f.slot(0).callerId, QString("~5550000"));
        QVERIFY(f.statusTexts().contains("Anna Lee"));
        QCOMPARE(f.core->popup().row(0).callerName, QString("Anna Lee"));
        QCOMPARE(f.core->popup().row(0).callerId, QString("5550000 "));
        QCOMPARE(f.setting("Config", "Last_CallerID"), QString("5550000"));
        QCOMPARE(readCallRecords(f.store, "Received"), QStringList({"5550000"}));
        QCOMPARE(dialOut, QString("5550000"));
        // The display time (default 15 s) runs from the caller-ID event.
        f.loop.advance(14999);
        QVERIFY(f.core->popup().isVisible());
        f.loop.advance(1);
        QVERIFY(!f.core->popup().isLoaded());

        // A call without caller ID: both texts are "UNKNOWN".
        QVERIFY(f.exchange->sendCallerId(0, {}, {}));
        f.loop.advance(0);
        QCOMPARE(f.statusTexts().last(), QString("CallerID:UNKNOWN"));
        QCOMPARE(f.core->popup().row(0).callerName, QString("UNKNOWN "));
        QCOMPARE(f.slot(0).callerId, QString("~UNKNOWN"));
    }

    void popUpDisplayTime()
    {
        CallRig f({.config = {{"PopCallId", "1"}, {"PopCallIDTime", "120"}}});
        QVERIFY(f.exchange->placeIncomingCall(0, callFrom("1")));
        f.loop.advance(2500); // caller ID after the first ring
        QCOMPARE(f.core->popup().text1(), QString("59"));
        f.loop.advance(58999);
        QVERIFY(f.core->popup().isVisible());
        f.loop.advance(1);
        QVERIFY(!f.core->popup().isVisible());
        f.core->popup().Text1_Change("3");
        QCOMPARE(f.setting("Config", "PopCallIDTime"), QString("120"));
        f.core->popup().Text1_Change("30");
        QCOMPARE(f.setting("Config", "PopCallIDTime"), QString("30"));
    }

    void disconnectionDuringGreetingAndWithTheBusyDetector()
    {
        CallRig f({.rings = "1", .writeDefaultPrompts = false,
                   .before = [](CallRig &r) { writeSilentPrompt(r.dir.file("greeting.wav"), 8000); }});
        QVERIFY(f.exchange->placeIncomingCall(0, callFrom("9")));
        f.loop.advance(1000);
        QVERIFY(f.exchange->pressDigits(0, "1#"));
        f.loop.advance(1000);
        QCOMPARE(f.slot(0).digits, QString("1#"));
        QVERIFY(f.timer(CallTimer::timTollSaver, 0).isEnabled());
        QVERIFY(f.exchange->hangUpFarEnd(0, FarEndHangUp::WithDisconnect));
        f.loop.advance(600);
        QCOMPARE(f.exchange->view(0).hCall, HCall(0));
        // The greeting plays on; its end requests the tone, which the service refuses.
        f.loop.advance(8000);
        QVERIFY(!f.timer(CallTimer::Timer3, 0).isEnabled());
        QVERIFY(!f.statusTexts().contains("Line0 开始录音"));
    }

    // The far end's signalling confirms the answer of a dialled call connected for its early media
    // before its capture started (Timer4 pending) or during it: the capture is the recording.
    void aConfirmedAnswerMakesTheDialledCaptureTheRecording()
    {
        for (int waitMs : {0, 1000}) {
            CallRig f;
            f.core->call(0).offered(77);
            f.core->call(0).dialled("555");
            f.core->OnCallState(77, LineCallState::Connected, 0, 0);
            f.loop.advance(waitMs);
            f.core->OnCallState(77, LineCallState::Connected, kConnectedModeConfirmed, 0);
            f.loop.advance(1000);
            QCOMPARE(f.slot(0).recState, RecState::Recording);
            QCOMPARE(f.requests, QStringList{"StartLineRecording 0 O~555"});
        }
    }

    // However a call ends (the far end's disconnection, the call going idle, the pop-up's Hang
    // Up) and whatever the line was doing, the call is reset in one step: recState idle, the
    // dialled mark and the answer confirmation cleared, every timer that would continue the call
    // stopped (nothing starts on the dead line), the capture finished or dropped unanswered, a
    // notice closed. A disconnection also clears the digits; it and Hang Up drop the line 500 ms
    // later; idle forgets the call. The greeting watch runs on: a greeting plays to its end.
    void everyEndResetsTheWholeCall_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<RecState>("recState");
        QTest::addColumn<bool>("pending"); // a dialled call being set up, a legal notice step running
        QTest::addColumn<QStringList>("audio");
        for (const char *how : {"disconnect", "idle", "hang up"}) {
            const auto row = [how](const char *state) { return QString("%1, %2").arg(how, state).toUtf8(); };
            QTest::newRow(row("greeting").constData()) << how << RecState::Idle << false << QStringList();
            QTest::newRow(row("recording").constData()) << how << RecState::Recording << false << QStringList{"waveInReset 1"};
            QTest::newRow(row("awaiting the answer").constData())
                << how << RecState::AwaitingAnswer << false << QStringList{"abandonCapture 1"};
            QTest::newRow(row("notice, dialled start pending").constData())
                << how << RecState::Idle << true << QStringList{"ClosePromptOutput 1"};
        }
    }
    void everyEndResetsTheWholeCall()
    {
        QFETCH(QString, how);
        QFETCH(RecState, recState);
        QFETCH(bool, pending);
        CallRig f({.triggers = {.fastBusy = true}}); // the busy-tone detector, for lines that report no disconnection
        const auto stopped = {CallTimer::Timer4, CallTimer::timPlayLegalO, CallTimer::timPlayGreetingExO,
                              CallTimer::timPlayGreetingExM};
        const LineSlot &s = f.slot(1);
        LineCall &c = f.core->call(1);
        c.offered(77);
        if (pending) { // a dialled call whose every step towards a recording is armed
            c.prepareRecording(CallKind::Dialled, RecState::AwaitingAnswer);
            c.answerDialled(true);
            c.watchNotice(CallKind::Handset);
            c.watchNotice(CallKind::Dialled);
            c.dialledConnected();
            c.dialled("555");
            f.requests.clear();
        }
        c.prepareRecording(CallKind::Message, recState);
        c.setAnswerConfirmed(true);
        c.digitReceived('1');
        c.digitReceived('#');
        c.watchGreeting();
        if (how == "hang up")
            f.core->cmdHangup_Click(1);
        else
            f.core->OnCallState(77, how == "idle" ? LineCallState::Idle : LineCallState::Disconnected, 0, 0);
        QVERIFY(s.recState == RecState::Idle && !s.outgoing && !s.answerConfirmed);
        for (CallTimer timer : stopped)
            QVERIFY(!c.timer(timer).isEnabled());
        QVERIFY(c.timer(CallTimer::Timer3).isEnabled() && !f.timer(CallTimer::timDropCall, 0).isEnabled());
        QCOMPARE(c.timer(CallTimer::timDropCall).isEnabled(), how != "idle");
        QCOMPARE(s.digits.isEmpty(), how == "disconnect");
        QCOMPARE(s.hCall, HCall(how == "idle" ? 0 : 77));
        QTEST(f.requests, "audio");
    }
};

QTEST_GUILESS_MAIN(tst_CallFlow)
#include "tst_CallFlow.moc"
