// Throughput of the byte-level work of a modem line: unshielding and decoding one second of
// received voice data, and encoding and shielding one second for playback.
#include "platform/telephony/modem/DleCodec.h"
#include "platform/telephony/modem/VoiceFormat.h"

#include <benchmark/benchmark.h>

#include <vector>

using namespace telvox::modem;

namespace {

std::vector<std::int16_t> speechLike()
{
    std::vector<std::int16_t> s(8000);
    std::uint32_t x = 12345;
    for (auto &v : s) {
        x = x * 1103515245u + 12345u;
        v = static_cast<std::int16_t>((x >> 16) & 0xFFFF);
    }
    return s;
}

void receiveOneSecond(benchmark::State &state)
{
    const auto encoding = static_cast<VoiceEncoding>(state.range(0));
    QByteArray raw;
    encodeSamples(encoding, speechLike(), raw);
    const QByteArray stream = shielded(raw);
    std::vector<std::int16_t> out;
    VoiceDecoder decoder(encoding);
    DleDecoder dle;
    dle.setHandlers([&](const char *d, qsizetype n) { decoder.decode(d, n, out); }, [](char) {});
    for (auto _ : state) {
        out.clear();
        // As the serial port delivers it: 20 ms pieces.
        const qsizetype piece = stream.size() / 50;
        for (qsizetype at = 0; at < stream.size(); at += piece)
            dle.feed(stream.constData() + at, std::min(piece, stream.size() - at));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * stream.size());
}

void transmitOneSecond(benchmark::State &state)
{
    const auto encoding = static_cast<VoiceEncoding>(state.range(0));
    const auto samples = speechLike();
    for (auto _ : state) {
        QByteArray raw;
        encodeSamples(encoding, samples, raw);
        const QByteArray out = shielded(raw);
        benchmark::DoNotOptimize(out.constData());
    }
}

} // namespace

BENCHMARK(receiveOneSecond)->Arg(int(VoiceEncoding::Signed16))->Arg(int(VoiceEncoding::MuLaw));
BENCHMARK(transmitOneSecond)->Arg(int(VoiceEncoding::Signed16))->Arg(int(VoiceEncoding::MuLaw));
BENCHMARK_MAIN();
