// TrueSpeech encoding and decoding speed. The "audio_s_per_s" counter is seconds of 8000 Hz
// audio processed per second: of CPU time for one stream, of wall time for four streams on four
// threads (four lines recording at once). The recorder needs well over 1. The floors the
// encoder's cost is compared against, measured in the same run on the same speech:
// BM_AvDecodeFloor, libavcodec's TrueSpeech decoder, and BM_GsmEncodeFloor, GSM 06.10 encoding
// by libgsm (the encoder sox uses). Each reports "ms_per_audio_s", CPU milliseconds per second
// of audio (printed with an "s" after it by the library: read milliseconds); the ratio of two
// of them is the encoder's cost in floors.

#include "platform/codec/truespeech/TrueSpeechDecoder.h"
#include "platform/codec/truespeech/TrueSpeechEncoder.h"
#include "platform/codec/AvTrueSpeech.h"

#include <benchmark/benchmark.h>
#include <gsm.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>
#include <vector>

using namespace telvox::truespeech;

namespace {

// The speech clip of the tests, or a synthetic vowel-like signal if it is missing.
const std::vector<std::int16_t>& speech()
{
    static const std::vector<std::int16_t> samples = [] {
        std::ifstream in(TELVOX_BENCH_SPEECH, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<std::int16_t> pcm;
        if (bytes.size() > 44) {
            pcm.resize((bytes.size() - 44) / 2);
            std::memcpy(pcm.data(), bytes.data() + 44, pcm.size() * 2);
        } else {
            pcm.resize(5 * 8000);
            for (std::size_t n = 0; n < pcm.size(); ++n) {
                const double t = double(n) / 8000;
                pcm[n] = std::int16_t(6000 * std::sin(2 * std::numbers::pi * 120 * t) + 3000 * std::sin(2 * std::numbers::pi * 720 * t)
                                      + 1500 * std::sin(2 * std::numbers::pi * 1300 * t));
            }
        }
        return pcm;
    }();
    return samples;
}

// One-second buffers through a stream, as the recorder delivers them.
void BM_EncodeOneSecondBuffers(benchmark::State& state)
{
    const auto& pcm = speech();
    const std::size_t seconds = pcm.size() / 8000;
    EncoderStream encoder;
    std::vector<std::uint8_t> out;
    std::size_t second = 0;
    for (auto _ : state) {
        out.clear();
        encoder.write(std::span(pcm).subspan((second++ % seconds) * 8000, 8000), out);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["audio_s_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["ms_per_audio_s"] = benchmark::Counter(1e-3 * double(state.iterations()),
                                                          benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_EncodeOneSecondBuffers)->Unit(benchmark::kMillisecond);
// Four lines recording at once (one stream per thread).
BENCHMARK(BM_EncodeOneSecondBuffers)->Unit(benchmark::kMillisecond)->Threads(4)->UseRealTime();

void BM_Decode(benchmark::State& state)
{
    const auto& pcm = speech();
    EncoderStream encoder;
    std::vector<std::uint8_t> frames;
    encoder.write(pcm, frames);
    const std::size_t count = frames.size() / kFrameBytes;
    Decoder decoder;
    std::array<std::int16_t, kFrameSamples> out;
    std::size_t f = 0;
    for (auto _ : state) {
        for (int i = 0; i < 100; ++i, ++f) // 100 frames = 3 s
            decoder.decode(std::span<const std::uint8_t, kFrameBytes>(frames.data() + (f % count) * kFrameBytes, kFrameBytes), out);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["audio_s_per_s"] = benchmark::Counter(3.0 * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Decode)->Unit(benchmark::kMicrosecond);

void BM_AvDecodeFloor(benchmark::State& state)
{
    const auto& pcm = speech();
    EncoderStream encoder;
    std::vector<std::uint8_t> frames;
    encoder.write(pcm, frames);
    const std::size_t count = frames.size() / kFrameBytes;
    telvox::test::AvTrueSpeech decoder;
    std::size_t f = 0;
    for (auto _ : state) {
        if (f + 100 > count)
            f = 0;
        const auto out = decoder.decode(std::span<const std::uint8_t>(frames.data() + f * kFrameBytes, 100 * kFrameBytes), 100);
        benchmark::DoNotOptimize(out.data());
        f += 100;
    }
    state.counters["audio_s_per_s"] = benchmark::Counter(3.0 * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["ms_per_audio_s"] = benchmark::Counter(3e-3 * double(state.iterations()),
                                                          benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AvDecodeFloor)->Unit(benchmark::kMicrosecond);

// GSM 06.10 encoding of one-second buffers (160-sample frames), as sox encodes to .gsm.
void BM_GsmEncodeFloor(benchmark::State& state)
{
    const auto& pcm = speech();
    const std::size_t seconds = pcm.size() / 8000;
    gsm encoder = gsm_create();
    std::vector<gsm_signal> frame(160);
    gsm_frame out;
    std::size_t second = 0;
    for (auto _ : state) {
        const std::int16_t* at = pcm.data() + (second++ % seconds) * 8000;
        for (int f = 0; f < 50; ++f) {
            std::copy(at + f * 160, at + f * 160 + 160, frame.begin());
            gsm_encode(encoder, frame.data(), out);
        }
        benchmark::DoNotOptimize(out);
    }
    gsm_destroy(encoder);
    state.counters["audio_s_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["ms_per_audio_s"] = benchmark::Counter(1e-3 * double(state.iterations()),
                                                          benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_GsmEncodeFloor)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
