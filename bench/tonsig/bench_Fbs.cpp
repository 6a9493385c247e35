// Cost of analysing one second of line audio (8000 samples) with Fbs, by kind of signal.
// The capture hands the analyser one buffer per second and line, so anything far below a
// millisecond leaves the user-interface thread free. BM_GoertzelBankFloor is the floor it is
// measured against in the same run: nothing but a Goertzel filter per bin of the analysed band
// (21 bins, 250..750 Hz) over the buffer's 40 ms frames every 20 ms.
#include "platform/tonsig/Fbs.h"
#include "sim/audio/SpeechLikeSource.h"
#include "sim/tones/ToneSource.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <numbers>

namespace {

using namespace telvox;

std::vector<std::int16_t> secondOf(sim::SampleSource &source)
{
    return source.next(8000);
}

void analyse(benchmark::State &state, const std::vector<std::int16_t> &buffer)
{
    std::int32_t countA = 0, countB = 0;
    tonsig::LevelProfile profile{};
    for (auto _ : state) {
        const std::int32_t silent = tonsig::Fbs(buffer, countA, countB, 100, tonsig::kFbsDefault, profile);
        benchmark::DoNotOptimize(silent);
        benchmark::DoNotOptimize(profile);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(buffer.size()));
}

void toneSecond(benchmark::State &state, const char *country, sim::ToneKind kind, double snrDb)
{
    sim::ToneImpairments impairments;
    impairments.snrDb = snrDb;
    sim::ToneSource source(*sim::TonePlans::builtIn().find(country, kind), sim::ToneLevel::dbm0(-24), impairments);
    source.skip(1234);
    analyse(state, secondOf(source));
}

void BM_Fbs_Silence(benchmark::State &state)
{
    analyse(state, std::vector<std::int16_t>(8000, 0));
}

void BM_Fbs_BusyTone(benchmark::State &state)
{
    toneSecond(state, "United States/Canada", sim::ToneKind::Busy, 20.0);
}

void BM_Fbs_Ringback(benchmark::State &state)
{
    toneSecond(state, "India", sim::ToneKind::Ringback, 30.0);
}

void BM_Fbs_Speech(benchmark::State &state)
{
    sim::SpeechLikeSource talk(3);
    analyse(state, secondOf(talk));
}

void BM_GoertzelBankFloor(benchmark::State &state)
{
    sim::SpeechLikeSource talk(3);
    const std::vector<std::int16_t> buffer = secondOf(talk);
    constexpr int frame = 320, step = 160, bins = 21, firstBin = 10;
    std::array<double, bins> coefficient{};
    for (int k = 0; k < bins; ++k)
        coefficient[k] = 2.0 * std::cos(2.0 * std::numbers::pi * (firstBin + k) / frame);
    std::array<double, bins> power{};
    for (auto _ : state) {
        for (std::size_t start = 0; start + frame <= buffer.size(); start += step) {
            std::array<double, bins> s1{}, s2{};
            for (int i = 0; i < frame; ++i) {
                const double x = buffer[start + i];
                for (int k = 0; k < bins; ++k) {
                    const double s0 = x + coefficient[k] * s1[k] - s2[k];
                    s2[k] = s1[k];
                    s1[k] = s0;
                }
            }
            for (int k = 0; k < bins; ++k)
                power[k] = s1[k] * s1[k] + s2[k] * s2[k] - coefficient[k] * s1[k] * s2[k];
            benchmark::DoNotOptimize(power);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(buffer.size()));
}

} // namespace

BENCHMARK(BM_GoertzelBankFloor);
BENCHMARK(BM_Fbs_Silence);
BENCHMARK(BM_Fbs_BusyTone);
BENCHMARK(BM_Fbs_Ringback);
BENCHMARK(BM_Fbs_Speech);

BENCHMARK_MAIN();
