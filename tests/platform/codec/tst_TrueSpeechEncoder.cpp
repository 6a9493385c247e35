// The encoder: legal fields, quality of libavcodec's decoding of its output, and a stream that
// does not depend on how the signal is cut into buffers.
//
// Speech clips (tests/data): espeak-ng, converted with sox to 8000 Hz 16-bit mono, peak -3 dBFS:
//   espeak-ng -v en -s 150 -w m.wav "The quick brown fox jumps over the lazy dog. Please leave
//     your message after the tone."; sox m.wav -r 8000 -c 1 -b 16 speech_en_male_8k.wav norm -3
//   espeak-ng -v en+f3 -s 150 -w f.wav "Hello, this is the answering machine. Call me back
//     tomorrow at nine."; sox f.wav -r 8000 -c 1 -b 16 speech_en_female_8k.wav norm -3

#include "platform/codec/truespeech/TrueSpeechDecoder.h"
#include "platform/codec/truespeech/TrueSpeechEncoder.h"
#include "platform/codec/AvTrueSpeech.h"

#include <QTest>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

using namespace telvox;
using namespace telvox::truespeech;

namespace {

// The stream's bytes for `pcm` written in pieces of `chunk` samples (all at once by default).
std::vector<std::uint8_t> encode(std::span<const std::int16_t> pcm, std::size_t chunk = SIZE_MAX)
{
    EncoderStream encoder;
    std::vector<std::uint8_t> bytes;
    for (std::size_t at = 0; at < pcm.size(); at += chunk)
        encoder.write(pcm.subspan(at, std::min(chunk, pcm.size() - at)), bytes);
    encoder.flush(bytes);
    return bytes;
}

double rms(std::span<const std::int16_t> x)
{
    double sum = 0;
    for (const auto s : x)
        sum += double(s) * s;
    return x.empty() ? 0.0 : std::sqrt(sum / double(x.size()));
}

// Signals that push the encoder to its edges.
std::vector<std::int16_t> edgeSignal(const QString& kind)
{
    std::vector<std::int16_t> x(8000);
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0.0, 8000.0);
    for (std::size_t n = 0; n < x.size(); ++n) {
        const double t = double(n) / 8000.0;
        double v = 0;
        if (kind == "silence")
            v = 0;
        else if (kind == "full-scale square")
            v = std::sin(2 * std::numbers::pi * 200 * t) >= 0 ? 32767 : -32768;
        else if (kind == "white noise")
            v = noise(rng);
        else if (kind == "dc offset")
            v = 12000;
        else if (kind == "sweep")
            v = 20000 * std::sin(2 * std::numbers::pi * (100 + 1800 * t) * t);
        else if (kind == "impulses")
            v = n % 97 == 0 ? 30000 : 0;
        x[n] = std::int16_t(std::clamp(v, -32768.0, 32767.0));
    }
    return x;
}

} // namespace

class tst_TrueSpeechEncoder : public QObject
{
    Q_OBJECT
private slots:
    void speechDecodesCloseToInput_data()
    {
        QTest::addColumn<QString>("clip");
        QTest::addColumn<double>("minSegSnr");
        QTest::addColumn<double>("minCorrelation");
        // Measured: male 12.0 dB / 0.970, female 13.5 dB / 0.978 (libavcodec's output against
        // the input). The limits leave about 2 dB of margin; an encoder that emitted silence
        // would score 0 dB / 0.0.
        QTest::newRow("male") << QStringLiteral("speech_en_male_8k.wav") << 10.0 << 0.95;
        QTest::newRow("female") << QStringLiteral("speech_en_female_8k.wav") << 11.5 << 0.95;
    }

    void speechDecodesCloseToInput()
    {
        QFETCH(QString, clip);
        QFETCH(double, minSegSnr);
        QFETCH(double, minCorrelation);
        const auto pcm = test::loadSpeech(clip.toStdString());
        const auto bytes = encode(pcm);
        QCOMPARE(bytes.size(), (pcm.size() + kFrameSamples - 1) / kFrameSamples * kFrameBytes);
        for (std::size_t f = 0; f < bytes.size() / kFrameBytes; ++f)
            QVERIFY2(isLegal(unpack(std::span<const std::uint8_t, kFrameBytes>(bytes.data() + f * kFrameBytes, kFrameBytes))),
                     qPrintable(QStringLiteral("frame %1").arg(f)));

        test::AvTrueSpeech av;
        const auto decoded = av.decode(bytes, 33);
        QCOMPARE(decoded.size(), bytes.size() / kFrameBytes * kFrameSamples);
        const double snr = test::segmentalSnr(pcm, decoded);
        const double corr = test::correlation(pcm, decoded);
        const double level = rms(std::span(decoded).first(pcm.size())) / rms(pcm);
        qInfo("%s: segmental SNR %.2f dB, correlation %.4f, level ratio %.3f", qPrintable(clip), snr, corr, level);
        QVERIFY2(snr >= minSegSnr, qPrintable(QString::number(snr)));
        QVERIFY2(corr >= minCorrelation, qPrintable(QString::number(corr)));
        QVERIFY2(level > 0.8 && level < 1.25, qPrintable(QString::number(level)));
    }

    void edgeSignalsGiveLegalFrames_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char* kind : {"silence", "full-scale square", "white noise", "dc offset", "sweep", "impulses"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }

    void edgeSignalsGiveLegalFrames()
    {
        QFETCH(QString, kind);
        const auto pcm = edgeSignal(kind);
        const auto bytes = encode(pcm);
        for (std::size_t f = 0; f < bytes.size() / kFrameBytes; ++f)
            QVERIFY(isLegal(unpack(std::span<const std::uint8_t, kFrameBytes>(bytes.data() + f * kFrameBytes, kFrameBytes))));
        test::AvTrueSpeech av;
        const auto decoded = av.decode(bytes, 10);
        QCOMPARE(decoded.size(), std::size_t(34 * kFrameSamples));
        if (kind == "silence" || kind == "dc offset") {
            // Nothing to hear: the decoder's noise floor only (after the DC blocker settles).
            const double tail = rms(std::span(decoded).subspan(4000));
            QVERIFY2(tail < 5, qPrintable(QString::number(tail)));
        }
        if (kind == "sweep")
            QVERIFY(test::correlation(pcm, decoded) > 0.8);
    }

    void chunkingDoesNotChangeTheBytes_data()
    {
        QTest::addColumn<int>("chunk");
        for (int chunk : {8000, 1, 239, 240, 241, 279, 280, 4001})
            QTest::addRow("%d samples", chunk) << chunk;
    }

    void chunkingDoesNotChangeTheBytes()
    {
        QFETCH(int, chunk);
        auto pcm = test::loadSpeech("speech_en_male_8k.wav");
        pcm.resize(chunk == 8000 ? pcm.size() : 2 * 8000 + 77);
        QVERIFY(encode(pcm, std::size_t(chunk)) == encode(pcm));
    }

    void boundedWriteTakesOnlyWhatFits()
    {
        const auto pcm = test::loadSpeech("speech_en_female_8k.wav");
        const std::span<const std::int16_t> all(pcm.data(), 16000);
        EncoderStream encoder;
        std::vector<std::uint8_t> bytes(10 * kFrameBytes + 5);
        const auto first = encoder.write(all, std::span<std::uint8_t>(bytes));
        QCOMPARE(first.bytesWritten, 10 * kFrameBytes);
        QCOMPARE(first.samplesUsed, std::size_t(10 * kFrameSamples + Encoder::kLookahead));
        std::vector<std::uint8_t> rest(bytes.begin(), bytes.begin() + long(first.bytesWritten));
        encoder.write(all.subspan(first.samplesUsed), rest);
        encoder.flush(rest);
        QVERIFY(rest == encode(all));
    }

    void flushPadsAndRestarts()
    {
        const auto pcm = test::loadSpeech("speech_en_female_8k.wav");
        const std::span<const std::int16_t> part(pcm.data(), 4 * 240 + 260);
        EncoderStream encoder;
        std::vector<std::uint8_t> bytes;
        encoder.write(part, bytes);
        QCOMPARE(bytes.size(), 4 * kFrameBytes);
        QCOMPARE(encoder.flushBytes(), 2 * kFrameBytes); // 260 samples held -> 2 frames
        encoder.flush(bytes);
        QCOMPARE(bytes.size(), 6 * kFrameBytes);
        QCOMPARE(encoder.pendingSamples(), std::size_t(0));
        // A flushed stream starts again from scratch.
        std::vector<std::uint8_t> again;
        encoder.write(part, again);
        encoder.flush(again);
        QVERIFY(again == bytes);
    }
};

QTEST_GUILESS_MAIN(tst_TrueSpeechEncoder)
#include "tst_TrueSpeechEncoder.moc"
