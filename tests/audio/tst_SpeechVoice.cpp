// The telephone menu's speech: libespeak-ng speaks each language's phrases at the line's rate,
// and the resampling keeps the line's band and drops what lies above it.
#include "audio/SpeechVoice.h"
#include "sim/audio/HeardTone.h"

#include <QTest>

#include <cmath>
#include <numbers>

using namespace telvox;

namespace {

std::vector<std::int16_t> tone(double hz, int rate, int ms)
{
    std::vector<std::int16_t> out(static_cast<std::size_t>(rate * ms / 1000));
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<std::int16_t>(8000 * std::sin(2 * std::numbers::pi * hz * double(i) / rate));
    return out;
}

double rms(std::span<const std::int16_t> s)
{
    double sum = 0;
    for (std::int16_t v : s)
        sum += double(v) * v;
    return s.empty() ? 0 : std::sqrt(sum / double(s.size()));
}

} // namespace

class tst_SpeechVoice : public QObject
{
    Q_OBJECT

private slots:
    void resamplingKeepsTheBandAndDropsWhatIsAbove()
    {
        const std::vector<std::int16_t> inBand = resampleToLine(tone(1000, 22050, 1000), 22050);
        QCOMPARE(inBand.size(), std::size_t(8000));
        QCOMPARE(sim::strongestFrequency(std::span(inBand).subspan(4000, 800)), 1000.0);
        QVERIFY(rms(std::span(inBand).subspan(1000, 6000)) > 5000);
        // 6 kHz would fold back to 2 kHz without the filter.
        const std::vector<std::int16_t> above = resampleToLine(tone(6000, 22050, 1000), 22050);
        QVERIFY2(rms(std::span(above).subspan(1000, 6000)) < 300, qPrintable(QString::number(rms(above))));
    }

    void speaksEachLanguage()
    {
        SpeechVoice voice;
        for (auto [language, text] : {std::pair{SpeechLanguage::English, QStringLiteral("You have two new messages.")},
                                      std::pair{SpeechLanguage::Mandarin, QStringLiteral("您有两条新留言。")},
                                      std::pair{SpeechLanguage::Cantonese, QStringLiteral("你有兩個新留言。")}}) {
            const std::optional<QByteArray> pcm = voice.render(text, language);
            QVERIFY2(pcm, qPrintable(voice.errorText()));
            // Between half a second and ten seconds of audible line audio.
            QVERIFY2(pcm->size() > 8000 && pcm->size() < 160000, qPrintable(QString::number(pcm->size())));
            const std::span<const std::int16_t> samples(reinterpret_cast<const std::int16_t *>(pcm->constData()),
                                                        static_cast<std::size_t>(pcm->size() / 2));
            QVERIFY(rms(samples) > 300);
        }
    }
};

QTEST_GUILESS_MAIN(tst_SpeechVoice)
#include "tst_SpeechVoice.moc"
