// Segmental SNR of TrueSpeech round trips (our encoder, the bit-exact decoder) and the
// encoder's CPU time per second of audio, on the speech clips of the tests and the espeak-ng
// talkers of the tone quality sets. Usage: telvox_truespeech_quality [FILE.wav|FOLDER]...
#include "platform/codec/truespeech/TrueSpeechDecoder.h"
#include "platform/codec/truespeech/TrueSpeechEncoder.h"
#include "platform/codec/AvTrueSpeech.h" // segmentalSnr, shared with the codec tests

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace telvox::truespeech;

namespace {

std::vector<std::int16_t> readPcm(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t header = path.extension() == ".wav" ? 44 : 0;
    std::vector<std::int16_t> pcm(bytes.size() > header ? (bytes.size() - header) / 2 : 0);
    if (!pcm.empty())
        std::memcpy(pcm.data(), bytes.data() + header, pcm.size() * 2);
    return pcm;
}

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

struct Totals
{
    double snr = 0, seconds = 0, cpu = 0;
    int clips = 0;
};

void measure(const std::string &name, const std::vector<std::int16_t> &pcm, Totals &totals)
{
    if (pcm.size() < 8000)
        return;
    EncoderStream encoder;
    std::vector<std::uint8_t> bytes;
    const double start = cpuSeconds();
    for (std::size_t at = 0; at < pcm.size(); at += 8000)
        encoder.write(std::span(pcm).subspan(at, std::min<std::size_t>(8000, pcm.size() - at)), bytes);
    encoder.flush(bytes);
    const double cpu = cpuSeconds() - start;
    Decoder decoder;
    std::vector<std::int16_t> decoded(bytes.size() / kFrameBytes * kFrameSamples);
    for (std::size_t f = 0; f < bytes.size() / kFrameBytes; ++f)
        decoder.decode(std::span<const std::uint8_t, kFrameBytes>(bytes.data() + f * kFrameBytes, kFrameBytes),
                       std::span<std::int16_t, kFrameSamples>(decoded.data() + f * kFrameSamples, kFrameSamples));
    const double snr = telvox::test::segmentalSnr(pcm, decoded);
    const double seconds = double(pcm.size()) / 8000;
    std::printf("%-28s %6.1f s  segSNR %6.2f dB  encoder %6.2f ms CPU per s of audio\n", name.c_str(), seconds, snr,
                1000 * cpu / seconds);
    totals.snr += snr;
    totals.seconds += seconds;
    totals.cpu += cpu;
    ++totals.clips;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> inputs(argv + 1, argv + argc);
    if (inputs.empty())
        inputs = {TELVOX_SPEECH_CLIPS, TELVOX_SPEECH_SET_DIR};
    Totals totals;
    for (const std::string &input : inputs) {
        const std::filesystem::path path(input);
        if (!std::filesystem::is_directory(path)) {
            measure(path.filename().string(), readPcm(path), totals);
            continue;
        }
        // A folder: its .wav clips one by one, its .raw utterances joined per talker.
        std::vector<std::filesystem::path> files;
        for (const auto &entry : std::filesystem::directory_iterator(path))
            files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        std::string talker;
        std::vector<std::int16_t> joined;
        for (const auto &file : files) {
            if (file.extension() == ".wav" && file.filename().string().rfind("speech_", 0) == 0) {
                measure(file.filename().string(), readPcm(file), totals);
            } else if (file.extension() == ".raw" && file.stem() != "hello") {
                const std::string stem = file.stem().string();
                const std::string who = stem.substr(0, stem.rfind('-'));
                if (who != talker && !joined.empty()) {
                    measure(talker, joined, totals);
                    joined.clear();
                }
                talker = who;
                const auto pcm = readPcm(file);
                joined.insert(joined.end(), pcm.begin(), pcm.end());
                joined.insert(joined.end(), 2400, 0);
            }
        }
        if (!joined.empty())
            measure(talker, joined, totals);
    }
    if (totals.clips > 0)
        std::printf("%-28s %6.1f s  segSNR %6.2f dB  encoder %6.2f ms CPU per s of audio (mean SNR of %d clips)\n", "all",
                    totals.seconds, totals.snr / totals.clips, 1000 * totals.cpu / totals.seconds, totals.clips);
    return 0;
}
