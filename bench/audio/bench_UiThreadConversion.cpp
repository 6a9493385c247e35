// User-interface thread time of recording four TrueSpeech lines, per second of audio, with the
// conversion inline (as the recorder did it) and on the conversion worker thread. One iteration
// is one second of speech on each of four lines: each buffer goes through the conversion queue
// and its result into the line's recording journal, as the audio engine does it. The CPU time
// of BM_FourLines is the calling thread's only (Google Benchmark measures the benchmark's own
// thread); BM_FourLinesAllThreads counts every thread, the worker's conversion included, to show
// what the move costs in total. "ms_per_line_s" is CPU milliseconds per second of audio of one
// line (printed with an "s" after it by the library: read milliseconds).

#include "audio/CodecConversion.h"
#include "audio/CodecConversionQueue.h"
#include "audio/RecordingJournal.h"
#include "core/QtEventLoop.h"
#include "support/FakeShell.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <iterator>

using namespace telvox;

namespace {

constexpr int kLines = 4;

// The tests' speech clip as one-second buffers of bytes, as the capture hands them over.
const std::vector<std::vector<std::uint8_t>> &speechSeconds()
{
    static const std::vector<std::vector<std::uint8_t>> seconds = [] {
        std::ifstream in(TELVOX_BENCH_SPEECH, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<std::vector<std::uint8_t>> out;
        for (std::size_t at = 44; at + 16000 <= bytes.size(); at += 16000)
            out.emplace_back(bytes.begin() + std::ptrdiff_t(at), bytes.begin() + std::ptrdiff_t(at + 16000));
        if (out.empty()) // no clip: a buzz, so that the encoder still works at full cost
            for (int s = 0; s < 5; ++s) {
                out.emplace_back(16000);
                for (int i = 0; i < 8000; ++i) {
                    const auto v = std::int16_t(((i * 120 + s) % 8000) - 4000);
                    std::memcpy(out.back().data() + 2 * i, &v, 2);
                }
            }
        return out;
    }();
    return seconds;
}

void fourLines(benchmark::State &state)
{
    const bool threaded = state.range(0) != 0;
    const auto &seconds = speechSeconds();
    QTemporaryDir dir;
    QtEventLoop loop;
    test::ScriptedPrompts prompts;
    codec::AudioCompressionManager manager;
    manager.addDriver(codec::makeTrueSpeechDriver());
    CodecConversion conversion(manager, prompts);
    conversion.EnumerateCodecs();
    std::array<RecordingJournal, kLines> journals;
    for (int line = 0; line < kLines; ++line) {
        conversion.OpenConversion(line);
        journals.at(std::size_t(line)).open(dir.path(), QStringLiteral("line%1.wav").arg(line), OutputFormat::TrueSpeech);
    }
    ConversionQueue queue(conversion, loop, [&](const ConvertedBuffer &b) {
        RecordingJournal &j = journals.at(std::size_t(b.slot));
        j.append(reinterpret_cast<const char *>(b.output.data()), qint64(b.output.size()));
        j.syncIfDue();
    });
    queue.setThreaded(threaded);
    std::size_t second = 0;
    for (auto _ : state) {
        const auto &pcm = seconds.at(second++ % seconds.size());
        for (int line = 0; line < kLines; ++line)
            queue.convert(line, 1, true, pcm);
        // Threaded, the results come back through the event loop while the thread does other
        // work; here it waits for them (asleep, no CPU) so that every iteration is a whole second.
        for (int line = 0; line < kLines; ++line)
            queue.drain(line);
        QCoreApplication::processEvents();
    }
    queue.setThreaded(false);
    for (int line = 0; line < kLines; ++line) {
        conversion.CloseConversion(line);
        journals.at(std::size_t(line)).discard();
    }
    state.SetLabel(threaded ? "worker thread" : "inline");
    state.counters["ms_per_line_s"] = benchmark::Counter(kLines * 1e-3 * double(state.iterations()),
                                                            benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_FourLines(benchmark::State &state) { fourLines(state); }
BENCHMARK(BM_FourLines)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_FourLinesAllThreads(benchmark::State &state) { fourLines(state); }
BENCHMARK(BM_FourLinesAllThreads)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
