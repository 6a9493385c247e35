#include "sim/audio/HeardTone.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace telvox::sim {

namespace {

constexpr int kRate = 8000;
constexpr std::size_t kFrame = 800; // 100 ms
constexpr std::int64_t kFrameMs = 100;
constexpr double kSilenceRms = 100.0;

// The power of `hz` in the (windowed) frame, by the Goertzel recurrence.
double power(std::span<const double> frame, double hz)
{
    const double coeff = 2 * std::cos(2 * std::numbers::pi * hz / kRate);
    double s1 = 0;
    double s2 = 0;
    for (double x : frame) {
        const double s0 = x + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - coeff * s1 * s2;
}

} // namespace

double strongestFrequency(std::span<const std::int16_t> frame)
{
    if (frame.empty())
        return 0;
    double energy = 0;
    std::vector<double> windowed(frame.size());
    for (std::size_t i = 0; i < frame.size(); ++i) {
        energy += double(frame[i]) * frame[i];
        const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / double(frame.size() - 1));
        windowed[i] = frame[i] * w;
    }
    if (std::sqrt(energy / double(frame.size())) < kSilenceRms)
        return 0;
    double best = 0;
    double bestPower = -1;
    for (int hz = 100; hz <= 3900; hz += 10) {
        const double p = power(windowed, hz);
        if (p > bestPower) {
            bestPower = p;
            best = hz;
        }
    }
    return best;
}

bool heardTone(std::span<const std::int16_t> samples, std::span<const AudioMark> marks, std::int64_t fromMs,
               std::int64_t toMs, double hz, std::int64_t minMs)
{
    // Marks whose samples follow on in time without a gap join into one stretch; frames are
    // cut inside a stretch.
    struct Stretch
    {
        std::size_t begin, end;
        std::int64_t atMs;
    };
    std::vector<Stretch> stretches;
    for (std::size_t m = 0; m < marks.size(); ++m) {
        const std::size_t end = std::min(samples.size(), m + 1 < marks.size() ? marks[m + 1].offset : samples.size());
        if (!stretches.empty()) {
            Stretch &last = stretches.back();
            const std::int64_t expected = last.atMs + std::int64_t(marks[m].offset - last.begin) * 1000 / kRate;
            if (last.end == marks[m].offset && std::abs(marks[m].atMs - expected) <= 5) {
                last.end = end;
                continue;
            }
        }
        stretches.push_back({marks[m].offset, end, marks[m].atMs});
    }
    std::int64_t runStart = -1;
    std::int64_t runEnd = -1;
    for (const Stretch &stretch : stretches) {
        for (std::size_t at = stretch.begin; at + kFrame <= stretch.end; at += kFrame) {
            const std::int64_t t = stretch.atMs + std::int64_t(at - stretch.begin) * 1000 / kRate;
            if (t < fromMs || t + kFrameMs > toMs)
                continue;
            const double f = strongestFrequency(samples.subspan(at, kFrame));
            const bool match = f > 0 && std::abs(f - hz) <= 0.03 * hz;
            if (!match) {
                runStart = -1;
                continue;
            }
            // A frame that does not follow the last one closely starts a new run.
            if (runStart < 0 || t - runEnd > kFrameMs / 2)
                runStart = t;
            runEnd = t + kFrameMs;
            if (runEnd - runStart >= minMs)
                return true;
        }
    }
    return false;
}

} // namespace telvox::sim
