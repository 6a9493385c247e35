#include "audio/CodecConversion.h"
#include "support/FakeShell.h"

#include <QTest>


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
        QVERIFY(!conversion.ConvertBuffer(0, std::vector<std::uint8_t>(16000, 1)));
        conversion.CloseConversion(0);
        QCOMPARE(prompts.shown.size(), 2);
    }
};

QTEST_GUILESS_MAIN(tst_CodecConversion)
#include "tst_CodecConversion.moc"
