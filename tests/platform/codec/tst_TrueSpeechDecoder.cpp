// The decoder against libavcodec's, sample for sample, and the frame packing.

#include "platform/codec/truespeech/TrueSpeechDecoder.h"
#include "platform/codec/truespeech/TrueSpeechEncoder.h"
#include "platform/codec/AvTrueSpeech.h"

#include <QTest>

#include <random>
#include <vector>

using namespace telvox;
using namespace telvox::truespeech;

namespace {

std::vector<std::int16_t> decodeAll(const std::vector<std::uint8_t>& bytes)
{
    Decoder decoder;
    std::vector<std::int16_t> out(bytes.size() / kFrameBytes * kFrameSamples);
    for (std::size_t f = 0; f < bytes.size() / kFrameBytes; ++f) {
        decoder.decode(std::span<const std::uint8_t, kFrameBytes>(bytes.data() + f * kFrameBytes, kFrameBytes),
                       std::span<std::int16_t, kFrameSamples>(out.data() + f * kFrameSamples, kFrameSamples));
    }
    return out;
}

// Random fields within the legal ranges; `shortLags` favours lags below one subframe, which
// exercise the periodic extension of the long-term prediction.
FrameFields randomLegalFields(std::mt19937& rng, bool shortLags)
{
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    FrameFields f;
    for (int i = 0; i < kOrder; ++i)
        f.ki[i] = std::uint8_t(pick(1 << kReflectionBits[i]));
    f.interpolate = pick(2);
    f.lagA = std::uint8_t(shortLags ? pick(40) : pick(124));
    f.lagB = std::uint8_t(shortLags ? pick(40) : pick(124));
    for (int q = 0; q < kSubframes; ++q) {
        const int base = q < 2 ? f.lagA : f.lagB;
        int code = pick(8) == 0 ? kNoLtp : pick(kMaxLtpCode + 1);
        if (code != kNoLtp && base + code / 25 > kMaxBasePlusFine)
            code = kNoLtp;
        f.ltp[q] = std::uint8_t(code);
        f.pos[q] = std::uint32_t(pick(int(kLowPositionSets))) << 15 | std::uint32_t(pick(int(kHighPositionSets)));
        f.amp[q] = std::uint16_t(pick(1 << 14));
        f.gain[q] = std::uint8_t(pick(16));
    }
    return f;
}

void compareWithLibav(const std::vector<std::uint8_t>& bytes, std::size_t framesPerPacket)
{
    test::AvTrueSpeech av;
    QVERIFY2(av.isOpen(), av.error().c_str());
    const auto reference = av.decode(bytes, framesPerPacket);
    QVERIFY2(!reference.empty(), av.error().c_str());
    const auto ours = decodeAll(bytes);
    QCOMPARE(ours.size(), reference.size());
    for (std::size_t i = 0; i < ours.size(); ++i) {
        if (ours[i] != reference[i]) {
            QFAIL(qPrintable(QStringLiteral("frame %1 sample %2: ours %3, libavcodec %4")
                                 .arg(i / kFrameSamples).arg(i % kFrameSamples).arg(ours[i]).arg(reference[i])));
        }
    }
}

} // namespace

class tst_TrueSpeechDecoder : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(!test::loadSpeech("speech_en_male_8k.wav").empty());
        QVERIFY(!test::loadSpeech("speech_en_female_8k.wav").empty());
    }

    void packAndUnpackAreInverse()
    {
        std::mt19937 rng(7);
        for (int n = 0; n < 2000; ++n) {
            const FrameFields fields = randomLegalFields(rng, n % 2);
            QVERIFY(isLegal(fields));
            const FrameBytes bytes = pack(fields);
            QCOMPARE(unpack(bytes), fields);
            FrameBytes raw;
            for (auto& b : raw)
                b = std::uint8_t(rng());
            QCOMPARE(pack(unpack(raw)), raw);
        }
    }

    void knownBitPositions()
    {
        // lagA = 0x5A: high nibble in W1 bits 31..28, bit q in bit 31 of W(4+q); ki[0] in W0 bits 5..1.
        FrameFields f;
        f.lagA = 0x5A;
        f.ki[0] = 0x1F;
        f.interpolate = true;
        const FrameBytes b = pack(f);
        QCOMPARE(int(b[0]), 0x3F);             // W0 = 0x0000003F
        QCOMPARE(int(b[7]), 0x50);             // W1 bits 31..28 = 5
        QCOMPARE(int(b[19]), 0x00);            // W4 bit 31 = bit 0 of 0xA = 0
        QCOMPARE(int(b[23]), 0x80);            // W5 bit 31 = bit 1 = 1
        QCOMPARE(int(b[27]), 0x00);            // W6 bit 31 = bit 2 = 0
        QCOMPARE(int(b[31]), 0x80);            // W7 bit 31 = bit 3 = 1
    }

    void positionSetsAreNumberedInOrder_data()
    {
        QTest::addColumn<int>("k");
        QTest::addColumn<int>("count");
        QTest::newRow("3 of 30") << 3 << int(kLowPositionSets);
        QTest::newRow("4 of 30") << 4 << int(kHighPositionSets);
    }

    void positionSetsAreNumberedInOrder()
    {
        QFETCH(int, k);
        QFETCH(int, count);
        // Walk all subsets in lexicographic order: the index must count up from 0.
        std::vector<int> set(k);
        for (int i = 0; i < k; ++i)
            set[i] = i;
        int expected = 0;
        while (true) {
            QCOMPARE(int(combinationIndex(set)), expected);
            std::vector<int> back(k);
            QCOMPARE(combinationFromIndex(std::uint32_t(expected), k, back), k);
            QCOMPARE(back, set);
            ++expected;
            int i = k - 1;
            while (i >= 0 && set[i] == 30 - k + i)
                --i;
            if (i < 0)
                break;
            ++set[i];
            for (int j = i + 1; j < k; ++j)
                set[j] = set[j - 1] + 1;
        }
        QCOMPARE(expected, count);
    }

    void matchesLibavOnRandomBytes()
    {
        // Any bit pattern: out-of-range lags (clamped), position indices out of range (fewer
        // pulses), extreme filters that saturate.
        std::mt19937 rng(1);
        std::vector<std::uint8_t> bytes(kFrameBytes * 3000);
        for (auto& b : bytes)
            b = std::uint8_t(rng());
        compareWithLibav(bytes, 5);
    }

    void matchesLibavOnRandomLegalFrames()
    {
        std::mt19937 rng(2);
        std::vector<std::uint8_t> bytes;
        for (int n = 0; n < 3000; ++n) {
            const FrameBytes b = pack(randomLegalFields(rng, n >= 1500));
            bytes.insert(bytes.end(), b.begin(), b.end());
        }
        compareWithLibav(bytes, 1);
    }

    void matchesLibavOnUniformFrames()
    {
        std::vector<std::uint8_t> bytes(kFrameBytes * 20, 0x00);
        std::fill(bytes.begin() + kFrameBytes * 10, bytes.end(), 0xFF);
        compareWithLibav(bytes, 3);
    }

    void matchesLibavOnEncodedSpeech()
    {
        const auto pcm = test::loadSpeech("speech_en_female_8k.wav");
        EncoderStream encoder;
        std::vector<std::uint8_t> bytes;
        encoder.write(pcm, bytes);
        encoder.flush(bytes);
        compareWithLibav(bytes, 33);
    }

    void resetStartsAfresh()
    {
        std::mt19937 rng(3);
        const FrameBytes frame = pack(randomLegalFields(rng, false));
        Decoder decoder;
        std::array<std::int16_t, kFrameSamples> first{}, again{};
        decoder.decode(frame, first);
        decoder.decode(frame, again);
        QVERIFY(first != again); // the state carried over
        decoder.reset();
        decoder.decode(frame, again);
        QCOMPARE(again, first);
    }
};

QTEST_GUILESS_MAIN(tst_TrueSpeechDecoder)
#include "tst_TrueSpeechDecoder.moc"
