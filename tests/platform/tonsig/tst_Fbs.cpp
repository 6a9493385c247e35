#include "audio/StopTriggers.h"
#include "platform/tonsig/Fbs.h"
#include "sim/audio/SpeechLikeSource.h"
#include "sim/tones/ToneSource.h"
#include "support/AudioHarness.h"
#include "support/SignalWav.h"

#include <QDir>
#include <QTest>

#include <cmath>

using namespace telvox::sim;
using telvox::tonsig::Fbs;
using telvox::tonsig::LevelProfile;
using Samples = std::vector<std::int16_t>;

namespace {

constexpr std::size_t kSecond = 8000;

struct Result
{
    int silent = -1;
    std::int32_t countA = -1, countB = -1;
    LevelProfile profile{};
};

Result analyse(std::span<const std::int16_t> samples, int silenceLevel = 100)
{
    Result r;
    r.silent = Fbs(samples, r.countA, r.countB, silenceLevel, telvox::tonsig::kFbsDefault, r.profile);
    return r;
}

// One-second buffers in a row through the real stop triggers (busy detection on) of a line
// being recorded: where the busy tone ended the recording (which then starts again), and in
// how many buffers the busy count ratio held; and, for the answer of an outgoing call, whether
// value 5 of the profile is set and how many of values 1..4 and 6..10 lie strictly within 5 %
// of it.
struct Run
{
    int firstBusyStop = 0; // 1-based buffer of the first stop, 0 for none
    int busyStops = 0, nearRatios = 0, silent = 0;
    int steady = 0, moving = 0; // buffers with value 5 set and >= 4 / < 4 values near it
};

Run run(const Samples &signal, int silenceLevel = 100)
{
    Run run;
    telvox::test::Harness h;
    telvox::StopTriggerOptions options;
    options.silenceLevel = silenceLevel;
    options.fastBusy = true;
    telvox::StopTriggers triggers({h.lines, *h.engine, h.status, [] { return false; }}, options);
    h.call().prepareRecording(telvox::CallKind::Message, telvox::RecState::Recording);
    for (std::size_t at = 0, s = 1; at + kSecond <= signal.size(); at += kSecond, ++s) {
        const std::span<const std::int16_t> buffer(signal.data() + at, kSecond);
        const int busyBefore = triggers.busyRun(0);
        triggers.analyse(0, buffer);
        if (h.lines[0].recState == telvox::RecState::Idle) {
            ++run.nearRatios;
            run.firstBusyStop = run.firstBusyStop ? run.firstBusyStop : int(s);
            ++run.busyStops;
            h.call().dropDue();
            h.call().prepareRecording(telvox::CallKind::Message, telvox::RecState::Recording);
        } else {
            run.nearRatios += triggers.busyRun(0) > busyBefore;
        }
        const Result r = analyse(buffer, silenceLevel);
        run.silent += r.silent;
        if (r.profile[5] == 0)
            continue;
        int near5 = 0;
        for (int i = 1; i <= 10; ++i)
            near5 += i != 5 && double(r.profile[i]) / r.profile[5] > 0.95 && double(r.profile[i]) / r.profile[5] < 1.05;
        (near5 >= 4 ? run.steady : run.moving) += 1;
    }
    return run;
}

Samples tone(const TonePlan &plan, ToneLevel level, ToneImpairments impairments, std::size_t skip, int seconds)
{
    ToneSource source(plan, level, impairments);
    source.skip(skip);
    return source.next(seconds * kSecond);
}

TonePlan customTone(double hz, std::vector<int> cadenceMs)
{
    return TonePlan{"test", ToneKind::Busy, TonePlan::Mix::Single, {hz}, std::move(cadenceMs), {}};
}

Samples noise(std::size_t count, double rms, Samples signal = {})
{
    Random random(7);
    signal.resize(std::max(signal.size(), count));
    for (std::int16_t &s : signal)
        s = toSample(s + rms * random.gaussian());
    return signal;
}

struct Impairment
{
    const char *name;
    ToneLevel level;
    ToneImpairments impairments;
};

} // namespace

Q_DECLARE_METATYPE(TonePlan)
Q_DECLARE_METATYPE(ToneLevel)
Q_DECLARE_METATYPE(ToneImpairments)

class tst_Fbs : public QObject
{
    Q_OBJECT
private slots:
    void silenceAgainstTheLevel_data()
    {
        QTest::addColumn<Samples>("signal");
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("silent");
        Samples offset = noise(kSecond, 90), clicks = noise(kSecond, 40), word = noise(kSecond, 40);
        for (std::int16_t &s : offset)
            s = std::int16_t(s + 3000);
        std::fill_n(clicks.begin() + 1000, 40, 30000);
        std::fill_n(clicks.begin() + 5000, 40, -30000);
        for (int i = 0; i < 480; ++i) // 60 ms of a 420 Hz tone
            word[4000 + i] = std::int16_t(2000 * std::sin(0.33 * i));
        QTest::newRow("digital zero") << Samples(kSecond) << 100 << 1;
        QTest::newRow("noise just below") << noise(kSecond, 95) << 100 << 1;
        QTest::newRow("noise just above") << noise(kSecond, 105) << 100 << 0;
        QTest::newRow("the caller's level") << noise(kSecond, 95) << 90 << 0;
        QTest::newRow("DC offset removed") << offset << 100 << 1;
        QTest::newRow("two clicks of 5 ms") << clicks << 100 << 1;
        QTest::newRow("60 ms of sound") << word << 100 << 0;
        QTest::newRow("nothing is below 0") << Samples(kSecond) << 0 << 0;
        QTest::newRow("empty") << Samples() << 100 << 1;
    }
    void silenceAgainstTheLevel()
    {
        QFETCH(Samples, signal);
        QFETCH(int, level);
        QFETCH(int, silent);
        const Result r = analyse(signal, level);
        QCOMPARE(r.silent, silent);
        if (silent)
            QCOMPARE(r.profile, LevelProfile{});
    }

    // Any length is analysed safely; full-scale squares do not overflow anything.
    void anyBufferLength()
    {
        const Samples busy = tone(*TonePlans::builtIn().find("France", ToneKind::Busy), ToneLevel::dbfs(-1), {}, 100, 3);
        Samples square(3 * kSecond);
        for (std::size_t i = 0; i < square.size(); ++i)
            square[i] = (i / 9) % 2 ? std::int16_t(-32768) : std::int16_t(32767);
        for (const Samples *signal : std::initializer_list<const Samples *>{&busy, &square}) {
            for (const std::size_t n : {0u, 1u, 2u, 159u, 160u, 161u, 319u, 320u, 321u, 799u, 1999u, 8000u, 8001u, 24000u}) {
                const Result r = analyse(std::span(signal->data(), n));
                QCOMPARE(r.countB, n >= 320 ? std::int32_t((n - 320) / 160 + 1) : 0);
                QVERIFY(r.countA >= 0 && r.countA <= r.countB);
                QVERIFY(std::is_sorted(r.profile.begin(), r.profile.end()));
                if (n == 0 || (signal == &square && n >= 18)) // a whole period of the square
                    QCOMPARE(r.silent, n == 0 ? 1 : 0);
                if (r.silent)
                    QCOMPARE(r.profile, LevelProfile{});
            }
        }
    }

    // Every country's busy, congestion and ring-back tone, each under one of the level and
    // impairment sets in turn (each set meets several countries and cadences).
    void everyCountry_data()
    {
        QTest::addColumn<TonePlan>("plan");
        QTest::addColumn<ToneLevel>("level");
        QTest::addColumn<ToneImpairments>("impairments");
        const Impairment busy[] = {{"-24 dBm0", ToneLevel::dbm0(-24), {}},
                                   {"-10 dBm0 jitter 10%", ToneLevel::dbm0(-10), {std::nullopt, 0.0, 10.0, 2}},
                                   {"-40 dBm0 SNR 20 dB", ToneLevel::dbm0(-40), {20.0, 0.0, 0.0, 3}},
                                   {"SNR 10 dB offset +3% jitter 10%", ToneLevel::dbm0(-24), {10.0, 3.0, 10.0, 4}},
                                   {"SNR 12 dB offset -3% jitter 5%", ToneLevel::dbm0(-30), {12.0, -3.0, 5.0, 5}}};
        const Impairment ringing[] = {{"-19 dBm0", ToneLevel::dbm0(-19), {}},
                                      {"-19 dBm0 SNR 35 dB offset +2% jitter 10%", ToneLevel::dbm0(-19), {35.0, 2.0, 10.0, 2}},
                                      {"-40 dBm0 offset -2% jitter 10%", ToneLevel::dbm0(-40), {std::nullopt, -2.0, 10.0, 3}},
                                      {"-10 dBm0 SNR 10 dB", ToneLevel::dbm0(-10), {10.0, 0.0, 0.0, 4}},
                                      {"-32 dBm0 SNR 15 dB offset +2% jitter 10%", ToneLevel::dbm0(-32), {15.0, 2.0, 10.0, 5}}};
        std::size_t n = 0;
        for (const TonePlan &plan : TonePlans::builtIn().all()) {
            if (plan.kind == ToneKind::Dial)
                continue;
            const Impairment &i = (plan.kind == ToneKind::Ringback ? ringing : busy)[n++ % std::size(busy)];
            QTest::addRow("%s %s, %s", plan.country.c_str(), toneKindName(plan.kind).data(), i.name) << plan << i.level << i.impairments;
        }
    }
    // A busy or congestion tone ends the recording with the third buffer, whatever the cadence
    // and its phase against the buffers, and is never taken for an answer. A ringing line
    // neither ends the recording nor looks answered: every buffer with a level to judge keeps
    // at least four profile values within 5 % of the median.
    void everyCountry()
    {
        QFETCH(TonePlan, plan);
        QFETCH(ToneLevel, level);
        QFETCH(ToneImpairments, impairments);
        if (plan.kind != ToneKind::Ringback) {
            const Run r = run(tone(plan, level, impairments, impairments.seed * 1777, 10));
            QVERIFY2(r.firstBusyStop >= 3 && r.firstBusyStop <= 5, qPrintable(QString::number(r.firstBusyStop)));
            QVERIFY2(r.nearRatios >= 9, qPrintable(QString::number(r.nearRatios)));
            QCOMPARE(r.moving, 0);
            return;
        }
        int steady = 0;
        for (const std::size_t phase : {0, 13600, 31200}) {
            const Run r = run(tone(plan, level, impairments, phase, 16));
            QCOMPARE(r.busyStops, 0);
            QCOMPARE(r.moving, 0);
            QVERIFY(r.silent >= 3 || impairments.snrDb);
            steady += r.steady;
        }
        QVERIFY(steady >= 3);
    }

    // Each limit of the busy count, just inside and outside.
    void limitsOfTheBusyCount_data()
    {
        QTest::addColumn<TonePlan>("plan");
        QTest::addColumn<ToneLevel>("level");
        QTest::addColumn<ToneImpairments>("impairments");
        QTest::addColumn<bool>("stops");
        const TonePlan busy = customTone(425, {500, 500});
        const ToneLevel usual = ToneLevel::dbm0(-24);
        QTest::newRow("320 Hz") << customTone(320, {500, 500}) << usual << ToneImpairments{} << true;
        QTest::newRow("680 Hz") << customTone(680, {500, 500}) << usual << ToneImpairments{} << true;
        QTest::newRow("200 Hz") << customTone(200, {500, 500}) << usual << ToneImpairments{} << false;
        QTest::newRow("1000 Hz") << customTone(1000, {500, 500}) << usual << ToneImpairments{} << false;
        QTest::newRow("-55 dBFS RMS") << busy << ToneLevel::dbfs(-52) << ToneImpairments{} << true;
        QTest::newRow("-66 dBFS RMS") << busy << ToneLevel::dbfs(-63) << ToneImpairments{} << false;
        QTest::newRow("SNR 6 dB") << busy << usual << ToneImpairments{6.0, 0, 0, 1} << true;
        QTest::newRow("SNR 3 dB") << busy << usual << ToneImpairments{3.0, 0, 0, 1} << false;
        QTest::newRow("750/750 jitter 10%") << customTone(425, {750, 750}) << usual << ToneImpairments{std::nullopt, 0, 10, 1} << true;
        QTest::newRow("1000/1000") << customTone(425, {1000, 1000}) << usual << ToneImpairments{} << false;
        QTest::newRow("150/150") << customTone(425, {150, 150}) << usual << ToneImpairments{} << true;
        QTest::newRow("60/60") << customTone(425, {60, 60}) << usual << ToneImpairments{} << false;
        QTest::newRow("25% duty 250/750") << customTone(425, {250, 750}) << usual << ToneImpairments{} << true;
        QTest::newRow("steady tone") << customTone(425, {}) << usual << ToneImpairments{} << false;
    }
    void limitsOfTheBusyCount()
    {
        QFETCH(TonePlan, plan);
        QFETCH(ToneLevel, level);
        QFETCH(ToneImpairments, impairments);
        QFETCH(bool, stops);
        const Run r = run(tone(plan, level, impairments, 333, 12));
        QVERIFY2(stops ? r.firstBusyStop > 0 && r.firstBusyStop <= 6 : r.busyStops == 0, qPrintable(QString::number(r.firstBusyStop)));
    }

    // The longest tone segment of an interrupted tone, inside one buffer (not cut by its ends):
    // 0.8 s segments make a busy count, 0.92 s ones do not.
    void longestSegmentOfTheBusyCount_data()
    {
        QTest::addColumn<int>("segmentMs");
        QTest::addColumn<bool>("counts");
        QTest::newRow("800 ms") << 800 << true;
        QTest::newRow("920 ms") << 920 << false;
    }
    void longestSegmentOfTheBusyCount()
    {
        QFETCH(int, segmentMs);
        QFETCH(bool, counts);
        const Result r = analyse(tone(customTone(425, {segmentMs, segmentMs}), ToneLevel::dbm0(-24), {}, 2400, 4));
        QCOMPARE(r.countB, 199);
        QVERIFY2(counts ? r.countA >= 190 : r.countA == 0, qPrintable(QString::number(r.countA)));
    }

    // Line noise far above the silence level leaves the ring-back's pauses quiet, and a caller
    // who only says "hello?" then waits still moves the profile of one of the two seconds that
    // the word falls into.
    void ringbackPausesStayQuietOverLineNoise()
    {
        const Samples ringing = tone(*TonePlans::builtIn().find("Germany", ToneKind::Ringback), ToneLevel::dbm0(-16), {12.0, 0, 0, 1}, 0, 15);
        for (const int level : {20, 100, 500})
            QCOMPARE(run(ringing, level).moving, 0);

        const QDir data(qEnvironmentVariable("TELVOX_SOURCE_DIR") + "/tests/data");
        const Samples speech = telvox::test::readLineWav(data.filePath("speech_en_female_8k.wav").toStdString());
        QVERIFY(speech.size() > 3 * kSecond);
        // The loudest half second of the clip's first three.
        std::size_t word = 0;
        double loudest = 0;
        for (std::size_t at = 0; at + 4000 <= 3 * kSecond; at += 400) {
            double energy = 0;
            for (std::size_t i = at; i < at + 4000; ++i)
                energy += double(speech[i]) * speech[i];
            if (energy > loudest) {
                loudest = energy;
                word = at;
            }
        }
        for (const std::size_t at : {1000, 4000, 7000, 7800}) {
            Samples call(3 * kSecond, 0);
            std::copy(speech.begin() + word, speech.begin() + word + 4000, call.begin() + kSecond + at);
            call = noise(0, 150, call); // about -47 dBFS, above the silence level
            QVERIFY2(run(call).moving >= 1, qPrintable(QString::number(at)));
        }
    }

    // Speech never ends the recording as a busy tone, and every second of it that has a level
    // to judge moves: quiet, loud, over noise, at any offset against the buffers.
    void speechRecordings()
    {
        const QDir data(qEnvironmentVariable("TELVOX_SOURCE_DIR") + "/tests/data");
        const QStringList clips = data.entryList({"speech_*.wav"});
        QVERIFY(clips.size() >= 2);
        for (const QString &clip : clips) {
            const Samples speech = telvox::test::readLineWav(data.filePath(clip).toStdString());
            QVERIFY2(speech.size() >= 3 * kSecond, qPrintable(clip));
            Samples quiet = speech;
            for (std::int16_t &s : quiet)
                s = std::int16_t(s / 10);
            for (const Samples &signal : {speech, quiet, noise(0, 60, speech), Samples(speech.begin() + kSecond / 2, speech.end())}) {
                const Run r = run(signal);
                QVERIFY2(r.nearRatios == 0 && r.steady == 0 && r.moving >= 1, qPrintable(clip));
            }
        }
        // The synthetic talker over a minute: no busy stop, and nearly every second moves (a
        // steady second only delays the answer of a dialled call by a second).
        for (const auto voice : {SpeechLikeSource::Voice::Low, SpeechLikeSource::Voice::High}) {
            for (std::uint64_t seed = 1; seed <= 3; ++seed) {
                const Run r = run(SpeechLikeSource(seed, voice, -20.0).next(60 * kSecond));
                QCOMPARE(r.busyStops, 0);
                QVERIFY2(r.nearRatios <= 1 && r.steady <= 6 && r.moving >= 45, qPrintable(QString("%1 %2 %3").arg(r.nearRatios).arg(r.steady).arg(r.moving)));
            }
        }
    }
};

QTEST_GUILESS_MAIN(tst_Fbs)
#include "tst_Fbs.moc"
