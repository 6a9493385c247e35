// The audio engine on paced wave devices in virtual time: capture into the working file,
// the recording written after the device closed, the lists, TrueSpeech, and the prompts.
#include "audio/RecordingKeeper.h"
#include "core/QtEventLoop.h"
#include "support/AudioHarness.h"
#include "support/WaveBytes.h"

#include <QDir>
#include <QTest>

#include <cmath>

using namespace telvox;
using namespace telvox::test;


class tst_AudioEngine : public QObject
{
    Q_OBJECT
private slots:
    void emptyBufferIsReportedAndShortRecordingDiscarded()
    {
        Harness h;
        h.startRecording(CallKind::Handset);
        h.stop(); // at once: the buffer comes back empty
        h.loop.advance(3000);
        QVERIFY(h.statusList.lines().last().endsWith("WaveInBuffer.Recorded=0"));
        QVERIFY(h.recordings().isEmpty());
        QVERIFY(h.lists.lastTenEntries().isEmpty());
    }

    // TrueSpeech conversion on the worker thread, with the engine on the program's own event
    // loop (the devices and timers stay in virtual time), records the same bytes as inline,
    // also when a capture ends while its last buffers are still being converted; and the
    // frames follow the captured samples without a gap at the buffer changes.
    void theConversionThreadRecordsWhatInlineConversionDoes_data()
    {
        QTest::addColumn<QString>("script");
        QTest::newRow("hang-up") << "start:A run:9400 hangup run:3000";
        QTest::newRow("quit during the call") << "start:A run:9300 quit";
        QTest::newRow("abandoned, then the next call") << "start:A run:5000 abandon start:B run:9100 hangup run:3000";
        QTest::newRow("next call before the write") << "start:A run:9400 hangup run:100 start:B run:9000 hangup run:3000";
    }
    void theConversionThreadRecordsWhatInlineConversionDoes()
    {
        QFETCH(QString, script);
        // The worker thread starts with the first buffer, not when the engine is set threaded.
        const auto threads = [] { return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(); };
        bool workerBeforeFirstBuffer = false, workerForTheBuffers = false;
        const auto record = [&](OutputFormat format, bool threaded) {
            Harness h(format);
            h.engine.reset();
            QtEventLoop qt;
            AudioEngine engine({qt, h.lines, h.exchange, h.devices, h.conversion, h.lists, h.status, h.texts, h.prompts, h.timers},
                               {h.dir.path(), h.dir.file("tmp/"), h.dir.file("rec/"), QString()}, format);
            const qsizetype before = threads();
            engine.setThreadedConversion(threaded);
            workerBeforeFirstBuffer |= threads() != before;
            for (const QString &step : script.split(' ')) {
                const QString arg = step.section(':', 1);
                if (step.startsWith("start:")) {
                    engine.StartCapture(kIn, arg, 0);
                    h.call().captureStarted();
                } else if (step.startsWith("run:")) {
                    h.loop.advance(arg.toInt());
                    workerForTheBuffers |= threaded && threads() > before;
                } else if (step == "hangup") {
                    h.call().requestCaptureStop();
                    engine.waveInReset(0);
                } else {
                    step == "quit" ? engine.finishRecordingsNow() : engine.abandonCapture(0);
                }
            }
            QByteArrayList files; // name, bytes, name, bytes...
            for (const QString &name : QDir(h.dir.file("rec")).entryList(QDir::Files | QDir::Hidden)) {
                if (name != RecordingKeeper::markerName())
                    files << name.toUtf8() << readAll(h.dir.file("rec/" + name));
            }
            return files;
        };
        const QByteArrayList pcm = record(OutputFormat::Pcm, false);
        const QByteArrayList inlined = record(OutputFormat::TrueSpeech, false);
        QCOMPARE(inlined.size(), pcm.size());
        for (qsizetype i = 1; i < pcm.size(); i += 2) { // 30 ms frames of 32 bytes after 90 bytes of header
            const qsizetype frames = (inlined[i].size() - 90) / 32, samples = (pcm[i].size() - 44) / 2;
            QVERIFY2(inlined[i].size() == 90 + 32 * frames && frames <= samples / 240 && frames >= samples / 240 - 1,
                     qPrintable(QString("%1 frames of %2 samples").arg(frames).arg(samples)));
        }
        QCOMPARE(record(OutputFormat::TrueSpeech, true), inlined);
        QVERIFY(!workerBeforeFirstBuffer);
        QVERIFY(workerForTheBuffers);
    }

    void greetingIsPlayedToTheLine()
    {
        Harness h;
        QVERIFY(copyPrompt("greeting.wav", h.dir.file("greeting.wav")) && copyPrompt("legal.wav", h.dir.file("legal.wav")));
        h.lines.device(0).waveDeviceId = kOut;
        h.engine->PlayGreeting(0);
        QVERIFY(h.lines[0].playing);
        QVERIFY(h.call().timer(CallTimer::Timer3).isEnabled());
        h.loop.advance(2200);
        QVERIFY(h.lines[0].playing);
        h.loop.advance(200);
        QVERIFY(!h.lines[0].playing);
        QCOMPARE(h.heard.size(), std::size_t(18400)); // the whole 2.3-second greeting
        // A second request while playing leaves the running prompt alone.
        h.engine->PlayGreeting(0);
        h.call().endGreetingWatch();
        h.lines.device(0).playing = true;
        h.engine->PlayGreeting(0);
        QVERIFY(!h.call().timer(CallTimer::Timer3).isEnabled());
    }

    void missingLegalNoticeStartsTheRecordingAtOnce()
    {
        Harness h;
        h.lines.device(0).waveDeviceId = kIn;
        h.engine->PlayLegalNotice(0);
        QCOMPARE(h.prompts.shown.size(), 1);
        QCOMPARE(h.prompts.shown[0].text, QString("File Not Found: 'LEGAL.WAV'"));
        QCOMPARE(h.prompts.shown[0].icon, MessageIcon::Information);
        QVERIFY(!h.lines[0].playing);
        h.loop.advance(500);
        QCOMPARE(h.lines[0].mode, CallKind::Handset);
        QCOMPARE(h.lines[0].recState, 1);
        QVERIFY(h.statusList.lines().last().endsWith(" Line0 Start Recording"));
        QVERIFY(h.engine->isCapturing(0));
    }

    void outgoingLegalNoticeThenRecording()
    {
        Harness h;
        QVERIFY(copyPrompt("greeting.wav", h.dir.file("greeting.wav")) && copyPrompt("legal.wav", h.dir.file("legal.wav")));
        h.lines.device(1).waveDeviceId = kOut;
        h.call(1).prepareRecording(CallKind::Dialled, RecState::AwaitingAnswer);
        QVERIFY(!h.call(1).answerDialled(true)); // answered, with the legal notice first
        h.loop.advance(350);
        QVERIFY(h.lines[1].playing);
        QVERIFY(!h.call(1).timer(CallTimer::timPlayLegalO).isEnabled());
        h.lines.device(1).waveDeviceId = kIn; // the recording reads the line's input
        h.loop.advance(3500);
        QCOMPARE(h.lines[1].mode, CallKind::Dialled);
        QCOMPARE(h.lines[1].recState, 1);
        QVERIFY(h.statusList.lines().last().endsWith(" Line  1 Start Recording"));
        QCOMPARE(h.heard.size(), std::size_t(26800)); // the 3.35-second legal notice
    }

    void promptsInOtherFormatsAreConverted()
    {
        Harness h;
        // 11025 Hz stereo, 8-bit: half a second.
        QByteArray pcm;
        for (int i = 0; i < 11025 / 2; ++i)
            pcm.append(2, static_cast<char>(128 + std::lround(100 * std::sin(2 * M_PI * 440 * i / 11025.0))));
        QVERIFY(writeBytes(h.dir.file("greeting.wav"), riff(chunk("fmt ", fmtBody(1, 2, 11025, 8)) + chunk("data", pcm))));
        QVERIFY(h.engine->ReadWaveFile(h.dir.file("greeting.wav"), 2));
        h.lines.device(2).waveDeviceId = kOut;
        h.engine->PlayWave(kOut, 2);
        h.loop.advance(1000);
        QVERIFY(!h.lines[2].playing);
        QVERIFY(std::abs(static_cast<int>(h.heard.size()) - 4000) <= 2);
    }

};

QTEST_GUILESS_MAIN(tst_AudioEngine)
#include "tst_AudioEngine.moc"
