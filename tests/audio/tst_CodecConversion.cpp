#include "audio/CodecConversion.h"
#include "support/FakeShell.h"

#include <QTest>

#include <cmath>

using namespace telvox;
using namespace telvox::codec;

namespace {

// A driver that only announces a name and converts nothing.
class NamedDriver final : public AcmDriver
{
public:
    explicit NamedDriver(std::u16string name)
        : m_name(std::move(name))
    {
    }
    AcmDriverDetails details() const override
    {
        AcmDriverDetails d;
        for (std::size_t i = 0; i < m_name.size() && i + 1 < d.szShortName.size(); ++i)
            d.szShortName[i] = m_name[i];
        d.fdwSupport = ACMDRIVERDETAILS_SUPPORTF_CODEC;
        return d;
    }
    MmResult supports(const WaveFormat &, const WaveFormat &) const override { return ACMERR_NOTPOSSIBLE; }
    std::unique_ptr<AcmDriverStream> openStream(const WaveFormat &, const WaveFormat &) override { return nullptr; }

private:
    std::u16string m_name;
};

std::vector<std::uint8_t> toneSecond(int second)
{
    std::vector<std::uint8_t> bytes(16000);
    for (int i = 0; i < 8000; ++i) {
        const auto s = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 300 * (second * 8000 + i) / 8000.0));
        bytes[2 * i] = static_cast<std::uint8_t>(s & 0xff);
        bytes[2 * i + 1] = static_cast<std::uint8_t>((s >> 8) & 0xff);
    }
    return bytes;
}

} // namespace

class tst_CodecConversion : public QObject
{
    Q_OBJECT
private slots:
    void findsTheFirstTrueSpeechDriverInItsShortName()
    {
        AudioCompressionManager manager;
        manager.addDriver(std::make_unique<NamedDriver>(u"MS-ADPCM"));
        manager.addDriver(std::make_unique<NamedDriver>(u"Sixteen chars xxTrueSpeech")); // only after char 16
        const HAcmDriverId disabled = manager.addDriver(std::make_unique<NamedDriver>(u"my truespeech"), false);
        manager.addDriver(makeTrueSpeechDriver());
        test::ScriptedPrompts prompts;
        CodecConversion conversion(manager, prompts);
        conversion.EnumerateCodecs();
        QCOMPARE(conversion.trueSpeechDriverId(), disabled); // disabled drivers are listed too
        QVERIFY(prompts.shown.isEmpty());
    }

    void convertsOneSecondBuffersWithoutGaps()
    {
        AudioCompressionManager manager;
        manager.addDriver(makeTrueSpeechDriver());
        test::ScriptedPrompts prompts;
        CodecConversion conversion(manager, prompts);
        conversion.EnumerateCodecs();
        for (int i = 0; i < 3; ++i) // reopening a slot closes its old conversion silently
            conversion.OpenConversion(2);
        QVERIFY(prompts.shown.isEmpty());
        QVERIFY(conversion.isOpen(2));
        std::size_t total = 0;
        for (int second = 0; second < 3; ++second) {
            const auto pcm = toneSecond(second);
            QVERIFY(conversion.ConvertBuffer(2, pcm));
            QVERIFY(conversion.conversionOk());
            const auto out = conversion.convertedOutput(2);
            QVERIFY(out.size() % 32 == 0 && out.size() >= 32 * 33 && out.size() <= 32 * 34);
            total += out.size();
            conversion.releaseOutput(2);
            QVERIFY(conversion.convertedOutput(2).empty());
        }
        QVERIFY(total >= 32 * 99); // 24000 samples make 100 frames; a frame's worth may wait
        QVERIFY(!conversion.ConvertBuffer(2, {})); // an empty buffer is never converted
        QVERIFY(!conversion.conversionOk());
        conversion.CloseConversion(2);
        conversion.CloseConversion(2); // closing twice raises nothing
        QVERIFY(!conversion.isOpen(2));
        QVERIFY(prompts.shown.isEmpty());
    }

    void errorsShowPrefixAndUpperCaseHex()
    {
        AudioCompressionManager manager;
        manager.addDriver(std::make_unique<NamedDriver>(u"MS-ADPCM"));
        test::ScriptedPrompts prompts;
        CodecConversion conversion(manager, prompts);
        conversion.EnumerateCodecs();
        QCOMPARE(conversion.trueSpeechDriverId(), HAcmDriverId{});
        conversion.OpenConversion(0);
        QCOMPARE(prompts.shown.size(), 2);
        QVERIFY(prompts.shown[0].text.startsWith("TrueSpeech Driver Open  Error: "));
        QCOMPARE(prompts.shown[0].icon, MessageIcon::Critical);
        QCOMPARE(prompts.shown[0].title, QString("Telvox"));
        QCOMPARE(prompts.shown[1].text, QString("Stream Open Error: 200")); // ACMERR_NOTPOSSIBLE = 512
        // Nothing opened, so closing raises nothing; every buffer is dropped.
        QVERIFY(!conversion.ConvertBuffer(0, toneSecond(0)));
        conversion.CloseConversion(0);
        QCOMPARE(prompts.shown.size(), 2);
    }
};

QTEST_GUILESS_MAIN(tst_CodecConversion)
#include "tst_CodecConversion.moc"
