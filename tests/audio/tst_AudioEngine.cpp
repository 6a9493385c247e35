// The audio engine on paced wave devices in virtual time: capture into the working file,
// the recording written after the device closed, the lists, TrueSpeech, and the prompts.
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
    void aMessageIsRecordedWrittenAndListed()
    {
        Harness h;
        h.startRecording("A", "~5551234");
        QCOMPARE(h.lines[0].recState, 1);
        QVERIFY(h.engine->isCapturing(0));
        h.loop.advance(3500);
        h.stop();
        h.loop.advance(100);
        QVERIFY(!h.engine->isCapturing(0));
        QVERIFY(h.recordings().isEmpty()); // written one to two seconds after the close
        h.loop.advance(2000);
        const QString name = "A2026-12-04~08-30-15~5551234.wav";
        QCOMPARE(h.recordings(), QStringList({name}));
        const QByteArray file = readAll(h.dir.file("rec/" + name));
        const qsizetype samples = (file.size() - 44) / 2;
        QVERIFY2(samples >= 3480 * 8 && samples <= 3520 * 8, qPrintable(QString::number(samples)));
        // Every captured sample is there, in order, with no gap at the buffer changes.
        const auto expected = h.expectedSpeech(0, samples);
        QCOMPARE(file.mid(44), QByteArray(reinterpret_cast<const char *>(expected.data()), samples * 2));
        QCOMPARE(h.lists.unreadEntries(), QStringList({name}));
        QVERIFY(h.prompts.shown.isEmpty());
    }

    void emptyBufferIsReportedAndShortRecordingDiscarded()
    {
        Harness h;
        h.startRecording("M");
        h.stop(); // at once: the buffer comes back empty
        h.loop.advance(3000);
        QVERIFY(h.statusList.lines().last().endsWith("WaveInBuffer.Recorded=0"));
        QVERIFY(h.recordings().isEmpty());
        QVERIFY(h.lists.lastTenEntries().isEmpty());
    }

    void aNewCaptureStartsAFreshWorkingFile()
    {
        Harness h;
        QVERIFY(writeBytes(h.engine->workingFile(0), QByteArray(50000, 'x')));
        h.startRecording("M");
        h.loop.advance(1500);
        h.stop();
        h.loop.advance(3000);
        const QByteArray file = readAll(h.dir.file("rec/M2026-12-04~08-30-15.wav"));
        QVERIFY(!file.contains("xxxx"));
        QVERIFY(file.size() < 44 + 1600 * 16);
    }

    void greetingIsPlayedToTheLine()
    {
        Harness h;
        QVERIFY(copyPrompt("greeting.wav", h.dir.file("greeting.wav")) && copyPrompt("legal.wav", h.dir.file("legal.wav")));
        h.lines[0].waveDeviceId = kOut;
        h.engine->PlayGreeting(0);
        QVERIFY(h.lines[0].playing);
        QVERIFY(h.timers.Timer3[0].isEnabled());
        h.loop.advance(2200);
        QVERIFY(h.lines[0].playing);
        h.loop.advance(200);
        QVERIFY(!h.lines[0].playing);
        QCOMPARE(h.heard.size(), std::size_t(18400)); // the whole 2.3-second greeting
        // A second request while playing leaves the running prompt alone.
        h.engine->PlayGreeting(0);
        h.timers.Timer3[0].setEnabled(false);
        h.lines[0].playing = true;
        h.engine->PlayGreeting(0);
        QVERIFY(!h.timers.Timer3[0].isEnabled());
    }

    void missingLegalNoticeStartsTheRecordingAtOnce()
    {
        Harness h;
        h.lines[0].waveDeviceId = kIn;
        h.engine->PlayLegalNotice(0);
        QCOMPARE(h.prompts.shown.size(), 1);
        QCOMPARE(h.prompts.shown[0].text, QString("File Not Found: 'LEGAL.WAV'"));
        QCOMPARE(h.prompts.shown[0].icon, MessageIcon::Information);
        QVERIFY(!h.lines[0].playing);
        h.loop.advance(500);
        QCOMPARE(h.lines[0].mode, QString("M"));
        QCOMPARE(h.lines[0].recState, 1);
        QVERIFY(h.statusList.lines().last().endsWith(" Line0 Start Recording"));
        QVERIFY(h.engine->isCapturing(0));
    }

    void outgoingLegalNoticeThenRecording()
    {
        Harness h;
        QVERIFY(copyPrompt("greeting.wav", h.dir.file("greeting.wav")) && copyPrompt("legal.wav", h.dir.file("legal.wav")));
        h.lines[1].waveDeviceId = kOut;
        h.timers.timPlayLegalO[1].setEnabled(true);
        h.loop.advance(350);
        QVERIFY(h.lines[1].playing);
        QVERIFY(!h.timers.timPlayLegalO[1].isEnabled());
        h.lines[1].waveDeviceId = kIn; // the recording reads the line's input
        h.loop.advance(3500);
        QCOMPARE(h.lines[1].mode, QString("O"));
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
        h.lines[2].waveDeviceId = kOut;
        h.engine->PlayWave(kOut, 2);
        h.loop.advance(1000);
        QVERIFY(!h.lines[2].playing);
        QVERIFY(std::abs(static_cast<int>(h.heard.size()) - 4000) <= 2);
    }

};

QTEST_GUILESS_MAIN(tst_AudioEngine)
#include "tst_AudioEngine.moc"
