// The decoder against libavcodec's, sample for sample, and the frame packing.

#include "platform/codec/truespeech/TrueSpeechDecoder.h"
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
};

QTEST_GUILESS_MAIN(tst_TrueSpeechDecoder)
#include "tst_TrueSpeechDecoder.moc"
