// Cost of analysing one second of line audio (8000 samples) with Fbs, by kind of signal.
// The capture hands the analyser one buffer per second and line, so anything far below a
// millisecond leaves the user-interface thread free.
#include "platform/tonsig/Fbs.h"
#include "sim/audio/SpeechLikeSource.h"
#include "sim/tones/ToneSource.h"

#include <benchmark/benchmark.h>

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

} // namespace

BENCHMARK(BM_Fbs_Silence);
BENCHMARK(BM_Fbs_BusyTone);
BENCHMARK(BM_Fbs_Ringback);
BENCHMARK(BM_Fbs_Speech);

BENCHMARK_MAIN();
