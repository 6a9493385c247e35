// The sound-card devices on a real sound server: what is played to the default output comes
// back on the default input (the test script's private server loops "line_out" into "line_in").
#include "platform/wave/QtAudioDevices.h"
#include "support/Peers.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QMediaDevices>
#include <QTest>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace telvox;

class tst_SoundCard : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER") || QMediaDevices::defaultAudioOutput().isNull()
            || QMediaDevices::defaultAudioInput().isNull())
            TELVOX_SKIP_WITHOUT_PEER("no sound server (scripts/test starts one)");
    }

    void whatIsPlayedIsHeard()
    {
        QtAudioDevices card;
        WaveDevices devices;
        devices.addProvider(card, true);

        int inDone = 0;
        int outDone = 0;
        std::unique_ptr<WaveIn> in;
        std::unique_ptr<WaveOut> out;
        QCOMPARE(devices.waveInOpen(-1, PcmFormat{}, [&](WaveMessage m) { inDone += m == WaveMessage::Done; }, in),
                 MMSYSERR_NOERROR);
        QCOMPARE(devices.waveOutOpen(-1, PcmFormat{}, [&](WaveMessage m) { outDone += m == WaveMessage::Done; }, out),
                 MMSYSERR_NOERROR);

        WaveBuffer rec;
        rec.data.assign(32000, 0); // two seconds
        in->prepareHeader(rec);
        in->addBuffer(rec);
        QCOMPARE(in->start(), MMSYSERR_NOERROR);

        // One second of 1 kHz at half scale.
        WaveBuffer tone;
        std::vector<std::int16_t> samples(8000);
        for (int i = 0; i < 8000; ++i)
            samples[i] = static_cast<std::int16_t>(16000 * std::sin(2 * M_PI * 1000 * i / 8000.0));
        tone.data.assign(reinterpret_cast<const char *>(samples.data()), reinterpret_cast<const char *>(samples.data() + 8000));
        out->prepareHeader(tone);
        QCOMPARE(out->write(tone), MMSYSERR_NOERROR);
        QTRY_COMPARE_WITH_TIMEOUT(outDone, 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(inDone, 1, 10000);
        QCOMPARE(rec.bytesRecorded, 32000u);

        std::memcpy(samples.data(), rec.data.data(), 16000); // the first second heard
        double energy = 0;
        for (const std::int16_t s : samples)
            energy += double(s) * s;
        const double rms = std::sqrt(energy / 8000);
        QVERIFY2(rms > 2000, qPrintable(QString("rms %1").arg(rms))); // the tone came back
        QCOMPARE(out->close(), MMSYSERR_NOERROR);
        QCOMPARE(in->close(), MMSYSERR_NOERROR);
    }
};

// Qt Multimedia 6.4 tears its PulseAudio connection down in an exit handler, and libpulse now
// and then aborts there on an assertion of its own ('!m->rebuild_pollfds') when the machine is
// busy. By then every test has run and reported, so the process ends with the result without
// running the exit handlers.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    tst_SoundCard test;
    const int result = QTest::qExec(&test, argc, argv);
    std::fflush(nullptr);
    std::_Exit(result);
}
#include "tst_SoundCard.moc"
