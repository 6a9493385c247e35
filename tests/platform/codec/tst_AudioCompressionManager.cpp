// The compression manager stand-in as its one caller (the recorder's conversion) uses it: handles,
// formats, headers and the result codes it shows, and a one-second conversion. (The TrueSpeech
// "fmt " body is checked byte by byte in the recording's header by tst_RecordingFile.)

#include "platform/codec/AudioCompressionManager.h"
#include "platform/codec/truespeech/TrueSpeechEncoder.h"
#include "platform/codec/AvTrueSpeech.h"

#include <QTest>

#include <vector>

using namespace telvox;
using namespace telvox::codec;

namespace {

// The header the recorder fills for one captured buffer.
AcmStreamHeader recorderHeader(const std::vector<std::int16_t>& pcm, std::vector<std::uint8_t>& out)
{
    AcmStreamHeader h;
    h.cbStruct = 88;
    h.pbSrc = reinterpret_cast<const std::uint8_t*>(pcm.data());
    h.cbSrcLength = std::uint32_t(pcm.size() * 2);
    h.pbDst = out.data();
    h.cbDstLength = std::uint32_t(out.size());
    return h;
}

struct OpenPair
{
    HAcmDriverId id{};
    HAcmDriver driver{};
    HAcmStream stream{};
};

OpenPair openTrueSpeech(AudioCompressionManager& acm)
{
    OpenPair p;
    p.id = acm.addDriver(makeTrueSpeechDriver());
    const WaveFormat pcm = WaveFormat::pcm8kMono16();
    const WaveFormat ts = WaveFormat::trueSpeech();
    if (acm.driverOpen(&p.driver, p.id, 0) != MMSYSERR_NOERROR)
        return {};
    if (acm.streamOpen(&p.stream, p.driver, &pcm, &ts, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME) != MMSYSERR_NOERROR)
        return {};
    return p;
}

std::vector<std::int16_t> secondOfSpeech(int second)
{
    const auto all = test::loadSpeech("speech_en_male_8k.wav");
    return {all.begin() + second * 8000, all.begin() + (second + 1) * 8000};
}

} // namespace

class tst_AudioCompressionManager : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(!test::loadSpeech("speech_en_male_8k.wav").empty()); }

    void driverOpenAndCloseErrors()
    {
        AudioCompressionManager acm;
        const auto id = acm.addDriver(makeTrueSpeechDriver());
        const auto off = acm.addDriver(makeTrueSpeechDriver(), false);
        HAcmDriver driver{};
        QCOMPARE(acm.driverOpen(&driver, HAcmDriverId{}, 0), MMSYSERR_INVALHANDLE); // none found at start-up
        QCOMPARE(acm.driverOpen(&driver, off, 0), MMSYSERR_NOTENABLED);
        QCOMPARE(acm.driverOpen(&driver, id, 0), MMSYSERR_NOERROR);
        QVERIFY(driver != HAcmDriver{});
        QCOMPARE(acm.driverClose(driver, 0), MMSYSERR_NOERROR);
        QCOMPARE(acm.driverClose(driver, 0), MMSYSERR_INVALHANDLE);
        QCOMPARE(acm.driverClose(HAcmDriver{}, 0), MMSYSERR_INVALHANDLE);
    }

    void streamOpenChecksFormatsAndHandles_data()
    {
        QTest::addColumn<int>("change");
        QTest::addColumn<quint32>("expected");
        QTest::newRow("as the recorder asks") << 0 << quint32(MMSYSERR_NOERROR);
        QTest::newRow("stereo source") << 1 << quint32(ACMERR_NOTPOSSIBLE);
        QTest::newRow("11025 Hz source") << 2 << quint32(ACMERR_NOTPOSSIBLE);
        QTest::newRow("8-bit source") << 3 << quint32(ACMERR_NOTPOSSIBLE);
        QTest::newRow("TrueSpeech without extra bytes") << 4 << quint32(ACMERR_NOTPOSSIBLE);
        QTest::newRow("TrueSpeech with 160 samples per block") << 5 << quint32(ACMERR_NOTPOSSIBLE);
        QTest::newRow("PCM to PCM") << 6 << quint32(ACMERR_NOTPOSSIBLE);
    }

    void streamOpenChecksFormatsAndHandles()
    {
        QFETCH(int, change);
        QFETCH(quint32, expected);
        AudioCompressionManager acm;
        const auto id = acm.addDriver(makeTrueSpeechDriver());
        HAcmDriver driver{};
        QCOMPARE(acm.driverOpen(&driver, id, 0), MMSYSERR_NOERROR);
        WaveFormat src = WaveFormat::pcm8kMono16();
        WaveFormat dst = WaveFormat::trueSpeech();
        switch (change) {
        case 1: src.channels = 2; src.blockAlign = 4; src.avgBytesPerSec = 32000; break;
        case 2: src.samplesPerSec = 11025; src.avgBytesPerSec = 22050; break;
        case 3: src.bitsPerSample = 8; src.blockAlign = 1; src.avgBytesPerSec = 8000; break;
        case 4: dst.extra.clear(); break;
        case 5: dst.extra[2] = 160; break;
        case 6: dst = WaveFormat::pcm8kMono16(); break;
        }
        HAcmStream stream{};
        QCOMPARE(quint32(acm.streamOpen(&stream, driver, &src, &dst, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME)), expected);
        QCOMPARE(stream != HAcmStream{}, expected == MMSYSERR_NOERROR);
    }

    void streamOpenErrors()
    {
        AudioCompressionManager acm;
        const WaveFormat pcm = WaveFormat::pcm8kMono16();
        const WaveFormat ts = WaveFormat::trueSpeech();
        HAcmStream stream{};
        // No driver handle: the manager picks an enabled driver that can convert, if there is one.
        const auto id = acm.addDriver(makeTrueSpeechDriver());
        QCOMPARE(acm.streamOpen(&stream, HAcmDriver{}, &pcm, &pcm, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME), ACMERR_NOTPOSSIBLE);
        QCOMPARE(acm.streamOpen(&stream, HAcmDriver{}, &pcm, &ts, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME), MMSYSERR_NOERROR);
        QCOMPARE(acm.streamClose(stream, 0), MMSYSERR_NOERROR);

        HAcmDriver driver{};
        QCOMPARE(acm.driverOpen(&driver, id, 0), MMSYSERR_NOERROR);

        // A driver with an open stream cannot close; a closed driver cannot open streams.
        QCOMPARE(acm.streamOpen(&stream, driver, &pcm, &ts, nullptr, 0, 0, 0), MMSYSERR_NOERROR);
        QCOMPARE(acm.driverClose(driver, 0), ACMERR_BUSY);
        QCOMPARE(acm.driverClose(HAcmDriver{std::uintptr_t(stream)}, 0), MMSYSERR_INVALHANDLE);
        QCOMPARE(acm.streamClose(stream, 0), MMSYSERR_NOERROR);
        QCOMPARE(acm.streamClose(stream, 0), MMSYSERR_INVALHANDLE);
        QCOMPARE(acm.driverClose(driver, 0), MMSYSERR_NOERROR);
        QCOMPARE(acm.streamOpen(&stream, driver, &pcm, &ts, nullptr, 0, 0, 0), MMSYSERR_INVALHANDLE);
    }

    void oneSecondBuffersConvertLikeTheEncoder()
    {
        AudioCompressionManager acm;
        const OpenPair p = openTrueSpeech(acm);
        QVERIFY(p.stream != HAcmStream{});

        truespeech::EncoderStream reference;
        std::vector<std::uint8_t> expected;
        std::vector<std::uint8_t> converted;
        const std::vector<std::uint32_t> frames{33, 33, 33, 34, 33};
        for (int second = 0; second < 5; ++second) {
            const auto pcm = secondOfSpeech(second);
            std::vector<std::uint8_t> block(1600, 0);
            AcmStreamHeader h = recorderHeader(pcm, block);
            QCOMPARE(acm.streamPrepareHeader(p.stream, &h, 0), MMSYSERR_NOERROR);
            QVERIFY(h.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED);
            QCOMPARE(acm.streamConvert(p.stream, &h, 0), MMSYSERR_NOERROR);
            QVERIFY(h.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE);
            QCOMPARE(h.cbSrcLengthUsed, 16000u);
            QCOMPARE(h.cbDstLengthUsed, frames[std::size_t(second)] * 32);
            converted.insert(converted.end(), block.begin(), block.begin() + h.cbDstLengthUsed);
            QCOMPARE(acm.streamUnprepareHeader(p.stream, &h, 0), MMSYSERR_NOERROR);
            QVERIFY(!(h.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED));
            reference.write(pcm, expected);
        }
        QVERIFY(converted == expected);

        // The end of the stream: the held samples come out padded.
        std::vector<std::int16_t> none;
        none.reserve(1);
        std::vector<std::uint8_t> block(1600, 0);
        AcmStreamHeader h = recorderHeader(none, block);
        h.pbSrc = block.data(); // a source pointer is needed even for no bytes
        QCOMPARE(acm.streamPrepareHeader(p.stream, &h, 0), MMSYSERR_NOERROR);
        QCOMPARE(acm.streamConvert(p.stream, &h, ACM_STREAMCONVERTF_END), MMSYSERR_NOERROR);
        QCOMPARE(h.cbDstLengthUsed, 32u); // 40000 samples = 166 2/3 frames -> 167
        QCOMPARE(acm.streamUnprepareHeader(p.stream, &h, 0), MMSYSERR_NOERROR);

        QCOMPARE(acm.streamClose(p.stream, 0), MMSYSERR_NOERROR);
        QCOMPARE(acm.driverClose(p.driver, 0), MMSYSERR_NOERROR);
    }

    void headerErrors()
    {
        AudioCompressionManager acm;
        const OpenPair p = openTrueSpeech(acm);
        const OpenPair q = openTrueSpeech(acm);
        const auto pcm = secondOfSpeech(0);
        std::vector<std::uint8_t> block(1600, 0);
        AcmStreamHeader h = recorderHeader(pcm, block);

        QCOMPARE(acm.streamConvert(p.stream, &h, 0), ACMERR_UNPREPARED);
        QCOMPARE(acm.streamUnprepareHeader(p.stream, &h, 0), ACMERR_UNPREPARED);
        h.cbStruct = 80;
        QCOMPARE(acm.streamPrepareHeader(p.stream, &h, 0), MMSYSERR_INVALPARAM);
        h.cbStruct = 88;
        QCOMPARE(acm.streamPrepareHeader(HAcmStream{std::uintptr_t(p.driver)}, &h, 0), MMSYSERR_INVALHANDLE);

        QCOMPARE(acm.streamPrepareHeader(p.stream, &h, 0), MMSYSERR_NOERROR);
        QCOMPARE(acm.streamConvert(q.stream, &h, 0), ACMERR_UNPREPARED); // prepared for another stream
        h.cbDstLength = 3200; // larger than prepared
        QCOMPARE(acm.streamConvert(p.stream, &h, 0), MMSYSERR_INVALPARAM);
        h.cbDstLength = 1600;
        QCOMPARE(acm.streamConvert(p.stream, &h, 0), MMSYSERR_NOERROR);
        QCOMPARE(acm.streamUnprepareHeader(p.stream, &h, 0), MMSYSERR_NOERROR);
        QCOMPARE(acm.streamUnprepareHeader(p.stream, &h, 0), ACMERR_UNPREPARED);
    }
};

QTEST_GUILESS_MAIN(tst_AudioCompressionManager)
#include "tst_AudioCompressionManager.moc"
