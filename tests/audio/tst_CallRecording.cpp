// Whole calls through the real call flow and audio engine on the virtual exchange, in virtual
// time: what a user finds afterwards (recording files, the lists, the log) is what is checked.
#include "audio/AudioEngine.h"
#include "audio/AudioStack.h"
#include "platform/media/VirtualMediaDevice.h"
#include "records/MessageLists.h"
#include "sim/audio/SpeechLikeSource.h"
#include "records/CallRecords.h"
#include "support/AudioHarness.h"
#include "support/StatusTexts.h"
#include "telephony/Dialler.h"
#include "telephony/TelephonyCore.h"

#include <QTest>

using namespace telvox;
using namespace telvox::test;

namespace {

struct Call
{
    explicit Call(OutputFormat format = OutputFormat::Pcm, StopTriggerOptions options = {})
    {
        table.loadBuiltIn();
        QDir().mkpath(dir.file("LogFiles"));
        QDir().mkpath(dir.file("waveFiles"));
        for (const char *name : {"greeting.wav", "legal.wav"}) {
            QFile in(QString(":/telvox/prompts/") + name);
            in.open(QIODevice::ReadOnly);
            QFile out(dir.file(name));
            out.open(QIODevice::WriteOnly);
            out.write(in.readAll());
        }
        settings.WriteSetting("Config", "Line0", "1");
        settings.WriteSetting("Config", "Rings", "3");
        status.OpenDayLog();
        exchange = std::make_unique<VirtualExchange>(loop, ExchangeSetup{});
        core = std::make_unique<TelephonyCore>(
            TelephonyServices{*exchange, loop, settings, texts, status, prompts, timers, relay, dir.path()});
        core->setWindowChecks([] { return true; }, [this] { return legal; });
        audio = std::make_unique<AudioStack>(AudioStack::Services{loop, core->lineTable(), *exchange, lists, status,
                                                                  texts, prompts, timers, speaker,
                                                                  [this] { return legal; }, dir.path()});
        audio->devices().addProvider(*exchange);
        relay.setTarget(&audio->engine());
        audio->setFolders(dir.file("tmp") + "/", dir.file("waveFiles") + "/");
        QDir().mkpath(dir.file("tmp"));
        audio->setOutputFormat(format);
        audio->conversion().EnumerateCodecs();
        dialler = std::make_unique<Dialler>(Dialler::Services{*core, loop, settings, status, texts, timers, relay});
        core->setDialerTimerStart([this](int line) { dialler->startWatch(line); });
        core->ResetLineHandles();
        QVERIFY(core->InitTapi());
        core->setSetupOptions(readSetupOptions(settings));
        core->classifyDevices();
        core->setRingGaps(loadRingGaps(settings));
        core->OpenLines();
        audio->startTriggers(options);
        loop.advance(0);
    }
    ~Call()
    {
        dialler.reset();
        audio.reset();
        core.reset();
    }
    QStringList statusTexts() const { return test::statusTexts(statusList); }
    QStringList recordings() const { return QDir(dir.file("waveFiles")).entryList(QDir::Files); }

    ScratchDir dir;
    VirtualEventLoop loop{QDateTime(QDate(2026, 12, 4), QTime(8, 30, 15))};
    StringTable table;
    Texts texts{table, 0};
    SettingsStore settings{dir.file("telvox.ini"), dir.file("settings.txt")};
    StatusListModel statusList;
    StatusLog status{loop, dir.file("LogFiles"), statusList};
    MainTimers timers{loop};
    ScriptedPrompts prompts;
    MessageLists lists{settings};
    VirtualMediaDevice speaker{loop};
    AudioActionsRelay relay;
    std::unique_ptr<VirtualExchange> exchange;
    std::unique_ptr<TelephonyCore> core;
    std::unique_ptr<AudioStack> audio;
    std::unique_ptr<Dialler> dialler;
    bool legal = false;
};

OutgoingBehaviour outgoing(OutgoingBehaviour::Kind kind)
{
    OutgoingBehaviour b;
    b.kind = kind;
    b.answerAfterMs = 8000;
    b.speech = std::make_shared<sim::SpeechLikeSource>(11);
    return b;
}

} // namespace

class tst_CallRecording : public QObject
{
    Q_OBJECT
private slots:
    void answeredMessageIsRecordedAndListed()
    {
        Call c;
        IncomingCall in;
        in.number = "5551234";
        in.speech = std::make_shared<sim::SpeechLikeSource>(5);
        QVERIFY(c.exchange->placeIncomingCall(0, in));
        QVERIFY(c.loop.advanceUntil([&] { return c.exchange->view(0).digitsHeard.contains('*'); }, 60000));
        // The caller heard the whole greeting before the tone.
        const std::uint64_t heard = c.exchange->heardSampleCount(0);
        QVERIFY2(heard >= 18000, qPrintable(QString::number(heard)));
        c.loop.advance(20000); // twenty seconds of message
        QVERIFY(c.exchange->hangUpFarEnd(0, FarEndHangUp::WithDisconnect));
        c.loop.advance(5000);
        const QStringList files = c.recordings();
        QCOMPARE(files.size(), 1);
        QVERIFY2(files[0].startsWith("A2026-12-04~08-3") && files[0].endsWith("~5551234.wav"), qPrintable(files[0]));
        QCOMPARE(c.lists.unreadEntries(), files);
        const qint64 size = QFileInfo(c.dir.file("waveFiles/" + files[0])).size();
        QVERIFY2(size > 44 + 18 * 16000 && size < 44 + 23 * 16000, qPrintable(QString::number(size)));
        QVERIFY(c.statusTexts().join('|').contains("Line0"));
    }

    void handsetPickUpIsRecordedAsConversation()
    {
        Call c;
        IncomingCall in;
        in.number = "5550000";
        in.pickUpAfterRing = 2;
        in.speech = std::make_shared<sim::SpeechLikeSource>(6);
        QVERIFY(c.exchange->placeIncomingCall(0, in));
        QVERIFY(c.loop.advanceUntil([&] { return c.core->lineTable()[0].recState == 1; }, 60000));
        c.loop.advance(15000);
        QVERIFY(c.exchange->hangUpFarEnd(0, FarEndHangUp::WithDisconnect));
        c.loop.advance(5000);
        const QStringList files = c.recordings();
        QCOMPARE(files.size(), 1);
        QVERIFY(files[0].startsWith("M"));
        QCOMPARE(c.lists.lastTenEntries(), files);
        QVERIFY(c.lists.unreadEntries().isEmpty());
    }

    // Ending the program must not lose a call's recording: neither one still being captured
    // (the partly filled buffer at the device included) nor one whose capture has closed but
    // whose file the write timer has not produced yet.
    void endingTheProgramKeepsTheRecording_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("hungUp");
        QTest::newRow("pcm, during the call") << int(OutputFormat::Pcm) << false;
        QTest::newRow("pcm, just after the hang-up") << int(OutputFormat::Pcm) << true;
        QTest::newRow("truespeech, during the call") << int(OutputFormat::TrueSpeech) << false;
    }
    void endingTheProgramKeepsTheRecording()
    {
        QFETCH(int, format);
        QFETCH(bool, hungUp);
        Call c{OutputFormat(format)};
        IncomingCall in;
        in.number = "5550000";
        in.pickUpAfterRing = 2;
        in.speech = std::make_shared<sim::SpeechLikeSource>(6);
        QVERIFY(c.exchange->placeIncomingCall(0, in));
        QVERIFY(c.loop.advanceUntil([&] { return c.core->lineTable()[0].recState == 1; }, 60000));
        const bool pcm = OutputFormat(format) == OutputFormat::Pcm;
        // TrueSpeech packs 7.5 s into about 8000 bytes; shorter would count as too short to keep.
        c.loop.advance(pcm ? 3500 : 7500);
        if (hungUp) {
            QVERIFY(c.exchange->hangUpFarEnd(0, FarEndHangUp::WithDisconnect));
            QVERIFY(c.loop.advanceUntil([&] { return !c.audio->engine().isCapturing(0); }, 5000));
        }
        QVERIFY(c.recordings().isEmpty()); // the write timer has not run yet
        c.audio->engine().finishRecordingsNow();
        const QStringList files = c.recordings();
        QCOMPARE(files.size(), 1);
        QVERIFY(files[0].startsWith("M") && files[0].endsWith("~5550000.wav"));
        QCOMPARE(c.lists.lastTenEntries(), files);
        const QByteArray file = readAll(c.dir.file("waveFiles/" + files[0]));
        // The partly filled last buffer is in the file too, not only the full ones.
        if (pcm) // 3.5 s at 16000 bytes a second
            QVERIFY2(file.size() > 44 + 3 * 16000 + 4000, qPrintable(QString::number(file.size())));
        else // whole 30 ms frames of 32 bytes: over 7.2 s of them
            QVERIFY2((file.size() - 90) % 32 == 0 && file.size() > 90 + 240 * 32, qPrintable(QString::number(file.size())));
        // Nothing is left for the timers to write a second time.
        c.loop.advance(5000);
        QCOMPARE(c.recordings(), files);
    }

    void trueSpeechMessageAndBusyToneHangUp()
    {
        StopTriggerOptions options;
        options.fastBusy = true;
        Call c(OutputFormat::TrueSpeech, options);
        IncomingCall in;
        in.speech = std::make_shared<sim::SpeechLikeSource>(8);
        QVERIFY(c.exchange->placeIncomingCall(0, in));
        QVERIFY(c.loop.advanceUntil([&] { return c.core->lineTable()[0].recState == 1; }, 60000));
        c.loop.advance(10000);
        // The caller hangs up without a disconnection: only the busy tone tells.
        QVERIFY(c.exchange->hangUpFarEnd(0, FarEndHangUp::Silent));
        QVERIFY(c.loop.advanceUntil([&] { return !c.recordings().isEmpty(); }, 20000));
        QVERIFY(c.statusTexts().contains("监测到忙音，录音停止"));
        const QByteArray file = readAll(c.dir.file("waveFiles/" + c.recordings()[0]));
        QCOMPARE(file.mid(20, 2), QByteArray("\x22\x00", 2));
        QCOMPARE((file.size() - 90) % 32, 0);
        QVERIFY(c.prompts.shown.isEmpty());
    }

    // Dialled calls: placed from the dialler, recorded from the called party's answer.
    void dialledCallIsRecordedWithoutTheRingBack_data()
    {
        QTest::addColumn<bool>("legal");
        QTest::newRow("recorded at once") << false;
        QTest::newRow("after the legal notice") << true;
    }
    void dialledCallIsRecordedWithoutTheRingBack()
    {
        QFETCH(bool, legal);
        Call c;
        c.legal = legal;
        c.exchange->setOutgoingBehaviour(0, outgoing(OutgoingBehaviour::Kind::Answer));
        QVERIFY(c.dialler->Dial("0", "5551234"));
        // Dialling, eight seconds of ring-back, then the called party speaks for 15 seconds.
        QVERIFY(c.loop.advanceUntil([&] { return c.core->lineTable()[0].recState == 2; }, 5000));
        c.loop.advance(6000);
        QCOMPARE(c.core->lineTable()[0].recState, 2); // ring-back: nobody answered yet
        QVERIFY(c.loop.advanceUntil([&] { return c.core->lineTable()[0].recState == 1; }, 15000));
        c.loop.advance(15000);
        QVERIFY(c.exchange->hangUpFarEnd(0, FarEndHangUp::WithDisconnect));
        QVERIFY(c.loop.advanceUntil([&] { return c.dialler->buttons() == Dialler::Buttons::Ready; }, 10000));
        c.loop.advance(2000);

        const QStringList files = c.recordings();
        QCOMPARE(files.size(), 1);
        QVERIFY2(files[0].startsWith("O2026-12-04~08-30-") && files[0].endsWith("~5551234.wav"), qPrintable(files[0]));
        QCOMPARE(c.lists.lastTenEntries(), files);
        // Only the conversation is kept: not the ring-back before it, nor the notice.
        const qint64 seconds = (QFileInfo(c.dir.file("waveFiles/" + files[0])).size() - 44) / 16000;
        QVERIFY2(seconds >= (legal ? 10 : 13) && seconds <= 16, qPrintable(QString::number(seconds)));
        QCOMPARE(c.statusTexts().contains("电话被接听，录音开始"), !legal);
        const qint64 heard = qint64(c.exchange->heardSampleCount(0));
        QVERIFY2(legal ? heard > 8000 : heard < 8000, qPrintable(QString::number(heard)));
        QCOMPARE(readCallRecords(c.settings, "Made"), QStringList{"5551234"});
        QCOMPARE(c.exchange->view(0).hCall, HCall(0));
    }

    void busyOrUnansweredDialledCallLeavesNoRecording()
    {
        StopTriggerOptions options;
        options.fastBusy = true;
        Call c(OutputFormat::Pcm, options);
        c.exchange->setOutgoingBehaviour(0, outgoing(OutgoingBehaviour::Kind::Busy));
        QVERIFY(c.dialler->Dial("0", "5550000"));
        // The busy tone ends the unanswered call; the watch sees it and the buttons are Ready.
        QVERIFY(c.loop.advanceUntil([&] { return c.dialler->buttons() == Dialler::Buttons::Ready; }, 20000));
        c.loop.advance(3000);
        QCOMPARE(c.exchange->view(0).hCall, HCall(0));

        // Nobody answers: Drop ends the call, and the line dials again.
        c.exchange->setOutgoingBehaviour(0, outgoing(OutgoingBehaviour::Kind::NoAnswer));
        QVERIFY(c.dialler->Dial("0", "5550001"));
        c.loop.advance(10000);
        QCOMPARE(c.core->lineTable()[0].recState, 2);
        c.dialler->Drop("0");
        c.loop.advance(3000);
        QCOMPARE(c.exchange->view(0).hCall, HCall(0));
        QVERIFY(!c.statusTexts().contains("电话被接听，录音开始"));
        QVERIFY(c.lists.lastTenEntries().isEmpty());
        QVERIFY(c.recordings().isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_CallRecording)
#include "tst_CallRecording.moc"
