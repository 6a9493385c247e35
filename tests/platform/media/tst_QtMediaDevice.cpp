#include "platform/media/MediaControl.h"
#include "platform/media/QtMediaDevice.h"
#include "audio/RecordingFile.h"
#include "platform/codec/truespeech/TrueSpeechEncoder.h"
#include "platform/media/TestWave.h"
#include "support/FakeShell.h"
#include "support/Peers.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QTest>

#include <cmath>

using namespace telvox;
using namespace telvox::test;

namespace {

QString send(MediaControl &mci, const QString &command)
{
    const MediaReply r = mci.sendString(command);
    return r.ok() ? r.text : QStringLiteral("ERR:") + toString(r.error);
}

// Two seconds of 440 Hz in TrueSpeech, as the recorder writes them.
QByteArray trueSpeechRecording()
{
    std::vector<std::int16_t> pcm(16000);
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<std::int16_t>(9000 * std::sin(2 * M_PI * 440 * double(i) / 8000.0));
    truespeech::EncoderStream encoder;
    std::vector<std::uint8_t> frames;
    encoder.write(pcm, frames);
    encoder.flush(frames);
    return waveHeader(OutputFormat::TrueSpeech, std::uint32_t(frames.size()))
           + QByteArray(reinterpret_cast<const char *>(frames.data()), qsizetype(frames.size()));
}

} // namespace

// The real media device on GStreamer. Playback runs on the private sound server that
// scripts/test starts; without one only what needs no sound card is checked.
class tst_QtMediaDevice : public QObject
{
    Q_OBJECT
private slots:
    void openLengthCloseAndRefusals()
    {
        ScratchDir dir;
        QtMediaDevice device;
        MediaControl mci(device);
        QVERIFY(writeTestWave(dir.file("short one.wav"), 1500));
        QVERIFY(writeBytes(dir.file("junk.wav"), QByteArray(4000, 'x')));
        QCOMPARE(send(mci, "open " + dir.file("junk.wav") + " alias MyMedia"), QString("ERR:cannot open the file"));
        QCOMPARE(send(mci, "open " + dir.file("missing.wav") + " alias MyMedia"), QString("ERR:cannot open the file"));
        QVERIFY(!mci.isOpen());
        QCOMPARE(send(mci, "open " + dir.file("short one.wav") + " type waveaudio alias MyMedia"), QString());
        QCOMPARE(send(mci, "status MyMedia length"), QString("1500"));
        QCOMPARE(send(mci, "status MyMedia mode"), QString("stopped"));
        QCOMPARE(send(mci, "status MyMedia position"), QString("0"));
        QCOMPARE(send(mci, "close MyMedia"), QString());
        QVERIFY(!mci.isOpen());
    }

    // A PCM prompt plays, pauses (the position holds) and ends; a TrueSpeech recording plays
    // through GStreamer's decoder to its end.
    void playsPausesAndEnds_data()
    {
        QTest::addColumn<bool>("trueSpeech");
        QTest::newRow("PCM") << false;
        QTest::newRow("TrueSpeech") << true;
    }
    void playsPausesAndEnds()
    {
        QFETCH(bool, trueSpeech);
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER") || QMediaDevices::audioOutputs().isEmpty())
            TELVOX_SKIP_WITHOUT_PEER("no sound server (scripts/test starts one)");
        ScratchDir dir;
        const QString file = dir.file("T2026-01-01~00-00-00.wav");
        QVERIFY(trueSpeech ? writeBytes(file, trueSpeechRecording()) : writeTestWave(file, 1200));
        QtMediaDevice device;
        MediaControl mci(device);
        QCOMPARE(send(mci, "open " + file + " alias MyMedia"), QString());
        const qint64 length = send(mci, "status MyMedia length").toLongLong();
        QVERIFY2(trueSpeech ? length >= 1900 && length <= 2200 : length == 1200, qPrintable(QString::number(length)));
        send(mci, "play MyMedia");
        QTRY_VERIFY_WITH_TIMEOUT(send(mci, "status MyMedia position").toLongLong() > 200, 5000);
        QCOMPARE(send(mci, "status MyMedia mode"), QString("playing"));
        if (!trueSpeech) {
            send(mci, "pause MyMedia");
            QCOMPARE(send(mci, "status MyMedia mode"), QString("paused"));
            const qint64 pausedAt = send(mci, "status MyMedia position").toLongLong();
            QTest::qWait(300);
            QVERIFY(qAbs(send(mci, "status MyMedia position").toLongLong() - pausedAt) < 100);
            send(mci, "play MyMedia");
        }
        QTRY_COMPARE_WITH_TIMEOUT(send(mci, "status MyMedia mode"), QString("stopped"), 10000);
        QVERIFY2(device.lastError().isEmpty(), qPrintable(device.lastError()));
        send(mci, "close MyMedia");
    }
};

QTEST_GUILESS_MAIN(tst_QtMediaDevice)
#include "tst_QtMediaDevice.moc"
