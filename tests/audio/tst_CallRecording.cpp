// Whole calls through the real call flow and audio engine on the virtual exchange, in virtual
// time: what a user finds afterwards (recording files, the lists, the log) is what is checked.
#include "records/CallRecords.h"
#include "support/CallRig.h"
#include "support/Files.h"

#include <QTest>

using namespace telvox;
using namespace telvox::test;

class tst_CallRecording : public QObject
{
    Q_OBJECT
private slots:
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
        CallRig::Options options;
        options.format = OutputFormat(format);
        CallRig c(options);
        QVERIFY(c.exchange->placeIncomingCall(0, caller("5550000", 6, 2)));
        QVERIFY(c.until(0, 1));
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
        const qsizetype size = readAll(c.recordingPath(files[0])).size();
        // The partly filled last buffer is in the file too, not only the full ones.
        if (pcm) // 3.5 s at 16000 bytes a second
            QVERIFY2(size > 44 + 3 * 16000 + 4000, qPrintable(QString::number(size)));
        else // whole 30 ms frames of 32 bytes: over 7.2 s of them
            QVERIFY2((size - 90) % 32 == 0 && size > 90 + 240 * 32, qPrintable(QString::number(size)));
        c.loop.advance(5000); // nothing is left for the timers to write a second time
        QCOMPARE(c.recordings(), files);
    }

    void trueSpeechMessageAndBusyToneHangUp()
    {
        CallRig::Options options;
        options.triggers.fastBusy = true;
        options.format = OutputFormat::TrueSpeech;
        CallRig c(options);
        QVERIFY(c.exchange->placeIncomingCall(0, caller({}, 8)));
        QVERIFY(c.until(0, 1));
        c.loop.advance(10000);
        // The caller hangs up without a disconnection: only the busy tone tells.
        QVERIFY(c.exchange->hangUpFarEnd(0, FarEndHangUp::Silent));
        QVERIFY(c.loop.advanceUntil([&] { return !c.recordings().isEmpty(); }, 20000));
        QVERIFY(c.statusTexts().contains("监测到忙音，录音停止"));
        const QByteArray file = readAll(c.recordingPath(c.recordings()[0]));
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
        CallRig c;
        c.legal = legal;
        c.exchange->setOutgoingBehaviour(0, calledParty(OutgoingBehaviour::Kind::Answer, 8000, 11));
        QVERIFY(c.dialler->Dial("0", "5551234"));
        // Dialling, eight seconds of ring-back, then the called party speaks for 15 seconds.
        QVERIFY(c.until(0, 2, 5000));
        c.loop.advance(6000);
        QCOMPARE(c.slot(0).recState, 2); // ring-back: nobody answered yet
        QVERIFY(c.until(0, 1, 15000));
        c.loop.advance(15000);
        QVERIFY(c.exchange->hangUpFarEnd(0, FarEndHangUp::WithDisconnect));
        QVERIFY(c.loop.advanceUntil([&] { return c.dialler->buttons() == Dialler::Buttons::Ready; }, 10000));
        c.loop.advance(2000);

        const QStringList files = c.recordings();
        QCOMPARE(files.size(), 1);
        QVERIFY2(files[0].startsWith("O2026-12-04~08-30-") && files[0].endsWith("~5551234.wav"), qPrintable(files[0]));
        QCOMPARE(c.lists.lastTenEntries(), files);
        // Only the conversation is kept: not the ring-back before it, nor the notice.
        const double seconds = c.seconds(files[0]);
        QVERIFY2(seconds >= (legal ? 10 : 13) && seconds < 17, qPrintable(QString::number(seconds)));
        QCOMPARE(c.statusTexts().contains("电话被接听，录音开始"), !legal);
        const qint64 heard = qint64(c.exchange->heardSampleCount(0));
        QVERIFY2(legal ? heard > 8000 : heard < 8000, qPrintable(QString::number(heard)));
        QCOMPARE(readCallRecords(c.store, "Made"), QStringList{"5551234"});
        QCOMPARE(c.exchange->view(0).hCall, HCall(0));
    }
};

QTEST_GUILESS_MAIN(tst_CallRecording)
#include "tst_CallRecording.moc"
