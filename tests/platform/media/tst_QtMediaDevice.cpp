#include "platform/media/MediaControl.h"
#include "platform/media/QtMediaDevice.h"
#include "audio/RecordingFile.h"
#include "platform/codec/truespeech/TrueSpeechEncoder.h"
#include "platform/media/TestWave.h"
#include "support/FakeShell.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QFile>
#include <QMediaDevices>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>

using namespace telvox;
using namespace telvox::test;

// The real media device on GStreamer. When PulseAudio is installed the test starts a private
// server with a null sink, so playback really runs; otherwise only what needs no sound card
// is checked.
class tst_QtMediaDevice : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> m_paDir;
    QProcess m_pulse;
    bool m_haveSound = false;

    QString send(MediaControl &mci, const QString &command)
    {
        const MediaReply r = mci.sendString(command);
        return r.ok() ? r.text : QStringLiteral("ERR:") + toString(r.error);
    }

private slots:
    void initTestCase()
    {
        const QString pulse = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
        if (pulse.isEmpty())
            return;
        m_paDir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/tvxpa-XXXXXX"));
        const QString socket = m_paDir->filePath(QStringLiteral("native"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_paDir->path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_paDir->path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_paDir->path());
        m_pulse.setProcessEnvironment(env);
        m_pulse.start(pulse, {QStringLiteral("--daemonize=no"), QStringLiteral("-n"),
                              QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
                              QStringLiteral("-L"),
                              QStringLiteral("module-native-protocol-unix socket=%1 auth-anonymous=1").arg(socket),
                              QStringLiteral("-L"), QStringLiteral("module-null-sink sink_name=line_out")});
        if (!m_pulse.waitForStarted(5000))
            return;
        for (int i = 0; i < 100 && !QFile::exists(socket); ++i)
            QTest::qWait(50);
        if (!QFile::exists(socket))
            return;
        qputenv("PULSE_SERVER", "unix:" + socket.toUtf8());
        qputenv("PULSE_LATENCY_MSEC", "30");
        m_haveSound = true;
    }

    void cleanupTestCase()
    {
        if (m_pulse.state() != QProcess::NotRunning) {
            m_pulse.terminate();
            if (!m_pulse.waitForFinished(5000))
                m_pulse.kill();
        }
    }

    void openLengthAndClose()
    {
        ScratchDir dir;
        QtMediaDevice device;
        MediaControl mci(device);
        QVERIFY(writeTestWave(dir.file("short one.wav"), 1500));
        QCOMPARE(send(mci, "open " + dir.file("short one.wav") + " type waveaudio alias MyMedia"), QString());
        QCOMPARE(send(mci, "status MyMedia length"), QString("1500"));
        QCOMPARE(send(mci, "status MyMedia mode"), QString("stopped"));
        QCOMPARE(send(mci, "status MyMedia position"), QString("0"));
        QCOMPARE(send(mci, "close MyMedia"), QString());
        QVERIFY(!mci.isOpen());
    }

    void refusesWhatIsNotAWaveFile()
    {
        ScratchDir dir;
        QtMediaDevice device;
        MediaControl mci(device);
        QVERIFY(writeBytes(dir.file("junk.wav"), QByteArray(4000, 'x')));
        QCOMPARE(send(mci, "open " + dir.file("junk.wav") + " alias MyMedia"), QString("ERR:cannot open the file"));
        QCOMPARE(send(mci, "open " + dir.file("missing.wav") + " alias MyMedia"), QString("ERR:cannot open the file"));
        QVERIFY(!mci.isOpen());
    }

    void playsPausesAndEnds()
    {
        if (!m_haveSound)
            QSKIP("no sound server: playback needs PulseAudio");
        if (QMediaDevices::audioOutputs().isEmpty())
            QSKIP("the private sound server offers no output device");
        ScratchDir dir;
        QtMediaDevice device;
        MediaControl mci(device);
        QVERIFY(writeTestWave(dir.file("tone.wav"), 1200));
        QCOMPARE(send(mci, "open " + dir.file("tone.wav") + " alias MyMedia"), QString());
        send(mci, "play MyMedia");
        QTRY_VERIFY_WITH_TIMEOUT(send(mci, "status MyMedia position").toLongLong() > 200, 5000);
        QCOMPARE(send(mci, "status MyMedia mode"), QString("playing"));
        send(mci, "pause MyMedia");
        QCOMPARE(send(mci, "status MyMedia mode"), QString("paused"));
        const qint64 pausedAt = send(mci, "status MyMedia position").toLongLong();
        QTest::qWait(300);
        QVERIFY(qAbs(send(mci, "status MyMedia position").toLongLong() - pausedAt) < 100);
        send(mci, "play MyMedia");
        QTRY_COMPARE_WITH_TIMEOUT(send(mci, "status MyMedia mode"), QString("stopped"), 10000);
        QVERIFY2(device.lastError().isEmpty(), qPrintable(device.lastError()));
        send(mci, "close MyMedia");
    }

    // A recording in TrueSpeech, as the recorder writes it, plays through GStreamer's decoder.
    void playsTrueSpeechRecordings()
    {
        if (!m_haveSound)
            QSKIP("no sound server: playback needs PulseAudio");
        ScratchDir dir;
        std::vector<std::int16_t> pcm(16000);
        for (std::size_t i = 0; i < pcm.size(); ++i)
            pcm[i] = static_cast<std::int16_t>(9000 * std::sin(2 * M_PI * 440 * double(i) / 8000.0));
        truespeech::EncoderStream encoder;
        std::vector<std::uint8_t> frames;
        encoder.write(pcm, frames);
        encoder.flush(frames);
        QByteArray file = waveHeader(OutputFormat::TrueSpeech, static_cast<std::uint32_t>(frames.size()));
        file.append(reinterpret_cast<const char *>(frames.data()), static_cast<qsizetype>(frames.size()));
        QVERIFY(writeBytes(dir.file("T2026-01-01~00-00-00.wav"), file));

        QtMediaDevice device;
        MediaControl mci(device);
        QCOMPARE(send(mci, "open " + dir.file("T2026-01-01~00-00-00.wav") + " alias MyMedia"), QString());
        const qint64 length = send(mci, "status MyMedia length").toLongLong();
        QVERIFY2(length >= 1900 && length <= 2200, qPrintable(QString::number(length)));
        send(mci, "play MyMedia");
        QTRY_VERIFY_WITH_TIMEOUT(send(mci, "status MyMedia position").toLongLong() > 300, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(send(mci, "status MyMedia mode"), QString("stopped"), 10000);
        QVERIFY2(device.lastError().isEmpty(), qPrintable(device.lastError()));
        send(mci, "close MyMedia");
    }
};

QTEST_GUILESS_MAIN(tst_QtMediaDevice)
#include "tst_QtMediaDevice.moc"
