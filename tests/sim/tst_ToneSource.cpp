#include "sim/audio/DeferredSource.h"
#include "sim/audio/SpeechLikeSource.h"
#include "sim/tones/ToneSource.h"

#include <QTest>

#include <cmath>
#include <complex>
#include <numbers>
#include <set>

using namespace telvox::sim;
using Samples = std::vector<std::int16_t>;

namespace {

const TonePlan &plan(const char *country, ToneKind kind)
{
    return *TonePlans::builtIn().find(country, kind);
}

// Amplitude of the component at `hz` over one second (a whole number of periods).
double amplitudeAt(const Samples &x, double hz)
{
    std::complex<double> sum;
    for (std::size_t n = 0; n < kLineSampleRate; ++n)
        sum += double(x[n]) * std::polar(1.0, -2.0 * std::numbers::pi * hz * n / kLineSampleRate);
    return 2.0 * std::abs(sum) / kLineSampleRate;
}

double power(const Samples &x, std::size_t from, std::size_t to)
{
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += double(x[i]) * x[i];
    return sum / double(to - from);
}

// Lengths in samples of the runs of on and of off, read through isOn(), the last one cut off.
std::vector<int> segmentLengths(ToneSource &source, std::size_t samples)
{
    std::vector<int> lengths{0};
    for (bool on = source.isOn(); samples-- > 0; source.skip(1)) {
        if (source.isOn() != on) {
            on = source.isOn();
            lengths.push_back(0);
        }
        ++lengths.back();
    }
    lengths.pop_back();
    return lengths;
}

} // namespace

class tst_ToneSource : public QObject
{
    Q_OBJECT
private slots:
    // The level is per component (of the carrier for "a*b"); dBm0 sits 3.17 dB below dBFS.
    // Full scale clips; an offset shifts every component.
    void componentsAndLevels()
    {
        const double peak = 32767.0 * std::pow(10.0, -27.17 / 20.0);
        QVERIFY(std::abs(ToneLevel::dbm0(-24).peakAmplitude() - peak) < 0.5);
        QVERIFY(std::abs(ToneLevel::dbfs(-20).peakAmplitude() - 3276.7) < 0.5);
        const Samples single = ToneSource(plan("Germany", ToneKind::Dial), ToneLevel::dbm0(-24)).next(8000); // 425
        QVERIFY(std::abs(amplitudeAt(single, 425) - peak) < 1.0);
        const Samples pair = ToneSource(plan("United States/Canada", ToneKind::Dial), ToneLevel::dbm0(-24)).next(8000);
        QVERIFY(std::abs(amplitudeAt(pair, 350) - peak) < 1.0 && std::abs(amplitudeAt(pair, 440) - peak) < 1.0);

        ToneSource india(plan("India", ToneKind::Dial), ToneLevel::dbfs(-20)); // 400*25
        const Samples modulated = india.next(8000);
        const double carrier = amplitudeAt(modulated, 400);
        QVERIFY(std::abs(carrier - 3276.7) < 5);
        for (const double sideband : {375.0, 425.0})
            QVERIFY(std::abs(amplitudeAt(modulated, sideband) / carrier - ToneSource::kDefaultModulationDepth / 2) < 0.01);
        QVERIFY(amplitudeAt(modulated, 350) < 2);
        india.setModulationDepth(0.5);
        QCOMPARE(india.onPower(), 3276.7 * 3276.7 / 2 * 1.125);

        const Samples clipped = ToneSource(plan("United States/Canada", ToneKind::Dial), ToneLevel::dbfs(0)).next(8000);
        QCOMPARE(*std::max_element(clipped.begin(), clipped.end()), std::int16_t(32767));

        // A frequency offset of +3 % moves the whole tone.
        const Samples x = ToneSource(plan("Germany", ToneKind::Dial), ToneLevel::dbfs(-10), {std::nullopt, 3.0, 0.0, 1}).next(8000);
        QVERIFY(amplitudeAt(x, 437.75) > 0.99 * 10361);
        QVERIFY(amplitudeAt(x, 425) < 0.05 * 10361); // only the leakage of the shifted tone
    }

    // The cadence starts with "on" at sample 0, switches on the millisecond, and the
    // oscillator runs on through the pauses.
    void cadence()
    {
        ToneSource uk(plan("United Kingdom", ToneKind::Congestion)); // 400/350/225/525
        const std::vector<int> lengths = segmentLengths(uk, 3 * 8000);
        QCOMPARE(std::vector<int>(lengths.begin(), lengths.begin() + 7), (std::vector<int>{3200, 2800, 1800, 4200, 3200, 2800, 1800}));

        TonePlan steady = plan("Germany", ToneKind::Busy); // 480/480
        steady.cadenceMs.clear();
        const Samples reference = ToneSource(steady).next(8000);
        const Samples busy = ToneSource(plan("Germany", ToneKind::Busy)).next(8000);
        for (std::size_t i = 0; i < busy.size(); ++i)
            QCOMPARE(busy[i], (i / 3840) % 2 ? std::int16_t(0) : reference[i]);

        // Jitter of 10 % varies every segment within its bounds.
        ToneSource jittered(plan("Germany", ToneKind::Busy), {}, {std::nullopt, 0.0, 10.0, 5});
        const std::vector<int> varied = segmentLengths(jittered, 20 * 8000);
        QVERIFY(varied.size() > 30 && std::set<int>(varied.begin(), varied.end()).size() > 10);
        for (const int length : varied)
            QVERIFY2(length >= 3456 && length <= 4224, qPrintable(QString::number(length)));
    }

    // Noise at the requested SNR, in on and off segments alike.
    void whiteNoiseAtTheSnr()
    {
        const Samples x = ToneSource(plan("France", ToneKind::Busy), ToneLevel::dbm0(-20), {10.0, 0.0, 0.0, 9}).next(80000);
        double on = 0, off = 0;
        for (std::size_t s = 0; s < x.size(); s += 8000) { // 500/500
            on += power(x, s, s + 4000);
            off += power(x, s + 4000, s + 8000);
        }
        QVERIFY(std::abs(10 * std::log10((on - off) / off) - 10.0) < 0.2);
    }

    // Reads of any size continue one signal; the seed decides noise and jitter.
    void readsContinueOneSignal()
    {
        const ToneImpairments impairments{15.0, 1.5, 10.0, 3};
        const Samples expected = ToneSource(plan("Spain", ToneKind::Congestion), {}, impairments).next(24000);
        ToneSource pieces(plan("Spain", ToneKind::Congestion), {}, impairments);
        Samples got;
        for (std::size_t chunk = 1; got.size() < expected.size(); chunk = chunk * 7 % 1013 + 1) {
            const Samples part = pieces.next(std::min(chunk, expected.size() - got.size()));
            got.insert(got.end(), part.begin(), part.end());
        }
        QCOMPARE(got, expected);
        QCOMPARE(pieces.position(), std::int64_t(24000));
        QVERIFY(ToneSource(plan("Spain", ToneKind::Congestion), {}, {15.0, 1.5, 10.0, 4}).next(24000) != expected);
    }

    void speechLikeTalk()
    {
        SpeechLikeSource talk(11, SpeechLikeSource::Voice::High, -26.0);
        double energy = 0, pauseEnergy = 0;
        int talking = 0, pauses = 0;
        for (int i = 0; i < 10 * 8000; ++i) {
            const bool inTalk = talk.isTalking();
            const double x = talk.next(1)[0];
            (inTalk ? talking : pauses) += 1;
            (inTalk ? energy : pauseEnergy) += x * x;
        }
        QVERIFY(std::abs(20 * std::log10(std::sqrt(energy / talking) / 32768) + 26.0) < 0.1);
        QVERIFY(pauseEnergy / pauses < 1e-3 * energy / talking); // only the fading resonance
        QVERIFY(pauses > 0.1 * 8E4 && talking > 0.5 * 8E4);
        QCOMPARE(SpeechLikeSource(4).next(8000), SpeechLikeSource(4).next(8000));
        QVERIFY(SpeechLikeSource(4).next(8000) != SpeechLikeSource(5).next(8000));
    }

    // A deferred talker costs nothing until heard, is built once, and then talks exactly as
    // the talker itself.
    void deferredTalkerIsBuiltOnFirstRead()
    {
        int built = 0;
        DeferredSource deferred([&built]() -> std::unique_ptr<SampleSource> {
            ++built;
            return std::make_unique<SpeechLikeSource>(4);
        });
        QCOMPARE(built, 0);
        Samples got = deferred.next(3000);
        const Samples rest = deferred.next(5000);
        got.insert(got.end(), rest.begin(), rest.end());
        QCOMPARE(built, 1);
        QCOMPARE(got, SpeechLikeSource(4).next(8000));
        DeferredSource empty([]() -> std::unique_ptr<SampleSource> { return nullptr; });
        QCOMPARE(empty.next(4), Samples(4, 0));
    }
};

QTEST_GUILESS_MAIN(tst_ToneSource)
#include "tst_ToneSource.moc"
