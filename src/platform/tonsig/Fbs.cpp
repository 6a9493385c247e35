#include "platform/tonsig/Fbs.h"

#include "platform/tonsig/FbsSpectrum.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>
#include <optional>
#include <vector>

namespace telvox::tonsig {

using namespace detail;

namespace {

constexpr int kPeakLo = 12; // tone peaks lie in 300..700 Hz
constexpr int kPeakHi = 28;
constexpr int kPeakHalfWidth = 2; // a Hann-windowed tone keeps its energy within +-2 bins

constexpr std::size_t kClickBlocks = 2; // loudest blocks left out of the silence RMS ...
constexpr std::size_t kMinBlocksForClicks = 10; // ... in buffers of at least 200 ms
constexpr std::size_t kProfileWindowBlocks = 4; // 80 ms
constexpr double kMinContrast = 2.8;  // 9 dB between the noise floor and the loudest block
constexpr double kAboveFloor = 2.0;   // sound is at least 6 dB above the floor ...
constexpr double kBelowLoudest = 10.0; // ... and at most 20 dB below the loudest block
constexpr std::size_t kMinSoundWindows = 5;
constexpr std::size_t kMinToneStretchFrames = 12;   // 0.26 s
constexpr std::size_t kMinEdgeToneStretchFrames = 6; // 0.14 s

constexpr double kCandidateShare = 0.6;
constexpr double kOnShare = 0.75;
constexpr double kFrequencyTolerance = 0.015;
constexpr double kPairBalanceDb = 10.0;
constexpr double kOffPeakDropDb = 12.0;
constexpr double kOffTotalDropDb = 5.0;
constexpr int kMinOnFrames = 4;
constexpr int kMaxChangeOverFrames = 2;
constexpr double kMaxSegmentSamples = 0.86 * kSampleRate;
constexpr double kMinSegmentSamples = 0.10 * kSampleRate;
constexpr double kMaxUnexplained = 0.2;

double dbToPower(double db) { return std::pow(10.0, db / 10.0); }

// A spectral peak: the bins within kPeakHalfWidth of its strongest bin.
struct Peak
{
    int bin = -1; // -1: no peak
    double hz = 0;

    bool present() const { return bin >= 0; }
    bool covers(int b) const { return present() && std::abs(b - bin) <= kPeakHalfWidth; }
    // The share of the energy in the peak's bins, leaving out those of `other`.
    double share(const Spectrum &spectrum, const Peak *other = nullptr) const
    {
        double sum = 0;
        for (int b = bin - kPeakHalfWidth; present() && b <= bin + kPeakHalfWidth; ++b)
            if (!other || !other->covers(b))
                sum += at(spectrum, b);
        return sum;
    }
};

// Frequency of the peak around `bin`, from a parabola through the log powers (the bin itself
// at the edges of the analysed band).
double peakHz(const Spectrum &spectrum, int bin)
{
    if (bin <= kBinLo || bin >= kBinHi)
        return static_cast<double>(bin) * kSampleRate / kFrame;
    constexpr double tiny = 1e-30;
    const double l = std::log(at(spectrum, bin - 1) + tiny);
    const double c = std::log(at(spectrum, bin) + tiny);
    const double r = std::log(at(spectrum, bin + 1) + tiny);
    const double curvature = l - 2.0 * c + r;
    const double offset = curvature < 0 ? std::clamp(0.5 * (l - r) / curvature, -0.5, 0.5) : 0.0;
    return (bin + offset) * kSampleRate / kFrame;
}

int strongestBin(const Spectrum &spectrum, const Peak *awayFrom = nullptr)
{
    int best = -1;
    for (int b = kPeakLo; b <= kPeakHi; ++b)
        if ((!awayFrom || !awayFrom->covers(b)) && (best < 0 || at(spectrum, b) > at(spectrum, best)))
            best = b;
    return best;
}

// The one or two peaks that hold a spectrum's in-band energy; the second only when it is a
// local maximum of at least `secondMinRatio` of the first.
struct Tone
{
    Peak first;
    Peak second;

    double share(const Spectrum &spectrum) const { return first.share(spectrum) + second.share(spectrum, &first); }
};

Tone findTone(const Spectrum &spectrum, double secondMinRatio)
{
    Tone tone;
    tone.first.bin = strongestBin(spectrum);
    tone.first.hz = peakHz(spectrum, tone.first.bin);
    const int second = strongestBin(spectrum, &tone.first);
    const double value = at(spectrum, second);
    if (value >= at(spectrum, second - 1) && value >= at(spectrum, second + 1)
        && value >= secondMinRatio * at(spectrum, tone.first.bin)) {
        tone.second.bin = second;
        tone.second.hz = peakHz(spectrum, second);
    }
    return tone;
}

// Whether the frame's own peak near `reference` lies within the frequency tolerance of it.
bool matches(const Spectrum &spectrum, const Peak &reference)
{
    int best = reference.bin;
    for (int b = reference.bin - kPeakHalfWidth; b <= reference.bin + kPeakHalfWidth; ++b)
        if (at(spectrum, b) > at(spectrum, best))
            best = b;
    return std::abs(peakHz(spectrum, best) - reference.hz) <= kFrequencyTolerance * reference.hz;
}

double median(std::vector<double> values)
{
    const auto middle = values.begin() + values.size() / 2;
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// The buffer's tone: the peaks of the mean spectrum of its tonal frames, and for a pair the
// share of the second peak against the first.
struct Reference
{
    Tone tone;
    double balance = 0;
};

// A frame whose energy sits in one or two narrow peaks: perhaps a call-progress tone.
bool isToneCandidate(const Frame &f)
{
    return f.rms >= kToneFloorRms && findTone(f.share, 0.0).share(f.share) >= kCandidateShare;
}

std::optional<Reference> referenceTone(const std::vector<Frame> &frames)
{
    Spectrum mean{};
    int candidates = 0;
    for (const Frame &f : frames) {
        if (!isToneCandidate(f))
            continue;
        for (int k = 0; k < kBins; ++k)
            mean[k] += f.share[k];
        ++candidates;
    }
    if (candidates < kMinOnFrames)
        return std::nullopt;
    Reference reference{findTone(mean, 0.1)};
    if (reference.tone.second.present())
        reference.balance = reference.tone.second.share(mean, &reference.tone.first) / reference.tone.first.share(mean);
    return reference;
}

enum class Label { On, Off, Other };

// On: the reference tone, nothing much besides. Off: quiet next to the on frames and without
// a peak at any frequency. Other: anything else.
std::vector<Label> labelFrames(const std::vector<Frame> &frames, const Reference &reference)
{
    const Tone &tone = reference.tone;
    std::vector<Label> labels(frames.size(), Label::Other);
    std::vector<double> onPeakEnergy, onEnergy;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Frame &f = frames[i];
        const double first = tone.first.share(f.share);
        const double second = tone.second.share(f.share, &tone.first);
        if (f.rms < kToneFloorRms || first + second < kOnShare || !matches(f.share, tone.first))
            continue;
        if (tone.second.present()) {
            const double balanceDb = 10.0 * std::log10((second + 1e-12) / (first * reference.balance));
            if (std::abs(balanceDb) > kPairBalanceDb || !matches(f.share, tone.second))
                continue;
        }
        labels[i] = Label::On;
        onPeakEnergy.push_back(f.energy * (first + second));
        onEnergy.push_back(f.energy);
    }
    if (onEnergy.size() < static_cast<std::size_t>(kMinOnFrames))
        return {};
    const double quietPeak = median(onPeakEnergy) / dbToPower(kOffPeakDropDb);
    const double quietTotal = median(onEnergy) / dbToPower(kOffTotalDropDb);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Frame &f = frames[i];
        if (labels[i] != Label::Other || f.energy > quietTotal)
            continue;
        double strongest = 0;
        for (int b = kPeakLo; b <= kPeakHi; ++b)
            strongest = std::max(strongest, Peak{b, 0}.share(f.share));
        if (f.energy * strongest <= quietPeak)
            labels[i] = Label::Off;
    }
    return labels;
}

// Frames explained by an interrupted tone: on and off segments of 0.1..0.86 s (those cut by
// the buffer's ends may be shorter) and short change-overs between them. 0 when the labels do
// not make such a tone.
int explainedFrames(const std::vector<Label> &labels, std::size_t sampleCount)
{
    struct Segment
    {
        Label label;
        int firstFrame;
        int lastFrame;
    };
    std::vector<Segment> segments;
    const int count = static_cast<int>(labels.size());
    int unexplained = 0;
    int others = 0; // other frames since the last on or off frame
    for (int i = 0; i < count; ++i) {
        if (labels[i] == Label::Other) {
            ++others;
            continue;
        }
        if (!segments.empty() && segments.back().label == labels[i]) {
            unexplained += others; // inside a segment they are never a change-over
            segments.back().lastFrame = i;
        } else {
            unexplained += others > kMaxChangeOverFrames ? others : 0;
            segments.push_back({labels[i], i, i});
        }
        others = 0;
    }
    unexplained += others > kMaxChangeOverFrames ? others : 0;
    if (segments.size() < 2 || unexplained > kMaxUnexplained * count)
        return 0;

    // Frame i stands for the 20 ms around its centre; a change-over ends a segment in its
    // middle; the first and last segments reach the buffer's ends.
    const auto slotStart = [](int frame) { return frame * kBlock + (kFrame - kBlock) / 2.0; };
    const auto boundary = [&](std::size_t s) {
        return 0.5 * (slotStart(segments[s - 1].lastFrame + 1) + slotStart(segments[s].firstFrame));
    };
    for (std::size_t s = 0; s < segments.size(); ++s) {
        const bool first = s == 0, last = s + 1 == segments.size();
        const double length = (last ? static_cast<double>(sampleCount) : boundary(s + 1)) - (first ? 0.0 : boundary(s));
        if (length > kMaxSegmentSamples || (!first && !last && length < kMinSegmentSamples))
            return 0;
    }
    return count - unexplained;
}

// Frames inside a stretch of the buffer's reference tone: most of their energy in its peaks
// and those peaks at its frequencies (or, in an interrupted tone, its on frames),
// one frame in between allowed (the trough of a slow modulation), lasting at least
// kMinToneStretchFrames or running into an end of the buffer. A vowel whose harmonic falls on
// the reference rarely holds it that long.
std::vector<bool> toneStretches(const std::vector<Frame> &frames, const std::optional<Reference> &reference,
                                const std::vector<Label> &interrupted)
{
    const std::size_t count = frames.size();
    std::vector<bool> tone(count, false);
    if (!reference)
        return tone;
    std::vector<bool> holds(count);
    for (std::size_t f = 0; f < count; ++f)
        holds[f] = frames[f].rms >= kToneFloorRms && reference->tone.share(frames[f].share) >= kCandidateShare
                   && matches(frames[f].share, reference->tone.first)
                   && (!reference->tone.second.present() || matches(frames[f].share, reference->tone.second));
    // In a buffer that is an interrupted tone, its on frames are the tone whatever the noise.
    for (std::size_t f = 0; f < interrupted.size(); ++f)
        holds[f] = holds[f] || interrupted[f] == Label::On;
    for (std::size_t f = 1; f + 1 < count; ++f)
        if (!holds[f] && holds[f - 1] && holds[f + 1] && frames[f].rms >= kToneFloorRms)
            tone[f] = true; // a gap of one frame, marked for the stretch below
    for (std::size_t f = 0; f < count; ++f)
        holds[f] = holds[f] || tone[f];
    std::fill(tone.begin(), tone.end(), false);
    for (std::size_t start = 0; start < count;) {
        if (!holds[start]) {
            ++start;
            continue;
        }
        std::size_t end = start;
        while (end < count && holds[end])
            ++end;
        const std::size_t length = end - start;
        if (length >= kMinToneStretchFrames || ((start == 0 || end == count) && length >= kMinEdgeToneStretchFrames))
            std::fill(tone.begin() + start, tone.begin() + end, true);
        start = end;
    }
    return tone;
}

} // namespace

std::int32_t Fbs(std::span<const std::int16_t> samples,
                 std::int32_t &countA,
                 std::int32_t &countB,
                 std::int32_t silenceLevel,
                 std::int32_t /*reserved*/,
                 std::span<std::int32_t, kLevelProfileSize> levelProfile)
{
    std::fill(levelProfile.begin(), levelProfile.end(), 0);
    countA = 0;
    countB = 0;
    const std::size_t n = samples.size();
    if (n == 0)
        return 1;

    // One pass: the DC-free signal high-passed for the frames, block peaks of the band-limited
    // signal for the profile, block energies for silence and for the profile's quiet windows.
    const double mean
        = static_cast<double>(std::accumulate(samples.begin(), samples.end(), std::int64_t{0})) / static_cast<double>(n);
    const std::size_t blockCount = (n + kBlock - 1) / kBlock;
    std::vector<double> highPassed(n);
    std::vector<double> blockPeak(blockCount, 0.0);
    std::vector<double> blockEnergy(blockCount, 0.0);
    std::vector<double> blockBandEnergy(blockCount, 0.0);
    Biquad frameHighPass = Biquad::highPass(200.0);
    Biquad profileHighPass = Biquad::highPass(250.0);
    Biquad profileLowPass = Biquad::lowPass(900.0);
    for (std::size_t block = 0; block < blockCount; ++block) {
        double peak = 0, bandEnergy = 0, energy = 0; // in registers, not in the vectors
        for (std::size_t i = block * kBlock; i < std::min(n, (block + 1) * kBlock); ++i) {
            const double x = samples[i] - mean;
            highPassed[i] = frameHighPass.process(x);
            const double band = profileLowPass.process(profileHighPass.process(x));
            peak = std::max(peak, std::abs(band));
            bandEnergy += band * band;
            energy += x * x;
        }
        blockPeak[block] = peak;
        blockBandEnergy[block] = bandEnergy;
        blockEnergy[block] = energy;
    }
    const auto blockLength = [n](std::size_t block) {
        return static_cast<double>(std::min<std::size_t>(kBlock, n - block * kBlock));
    };
    const auto isQuiet = [silenceLevel](double energy, double length) { return std::sqrt(energy / length) < silenceLevel; };

    // Counts.
    std::vector<BlockSpectrum> blockSpectra;
    for (std::size_t start = 0; n >= kFrame && start + kBlock <= n; start += kBlock)
        blockSpectra.push_back(analyseBlock(highPassed.data() + start));
    std::vector<Frame> frames;
    for (std::size_t b = 0; b + 1 < blockSpectra.size(); ++b)
        frames.push_back(frameOf(blockSpectra[b], blockSpectra[b + 1]));
    countB = static_cast<std::int32_t>(frames.size());
    const std::optional<Reference> reference = referenceTone(frames);
    std::vector<Label> labels;
    if (reference) {
        labels = labelFrames(frames, *reference);
        countA = labels.empty() ? 0 : explainedFrames(labels, n);
    }
    const std::vector<bool> tonal = toneStretches(frames, reference, countA > 0 ? labels : std::vector<Label>{});

    // Silence: the RMS over the blocks but the loudest two.
    std::vector<std::size_t> byLoudness(blockCount);
    std::iota(byLoudness.begin(), byLoudness.end(), std::size_t{0});
    std::sort(byLoudness.begin(), byLoudness.end(), [&](std::size_t a, std::size_t b) {
        return blockEnergy[a] / blockLength(a) > blockEnergy[b] / blockLength(b);
    });
    double energy = 0, length = 0;
    for (std::size_t r = blockCount >= kMinBlocksForClicks ? kClickBlocks : 0; r < blockCount; ++r) {
        energy += blockEnergy[byLoudness[r]];
        length += blockLength(byLoudness[r]);
    }
    if (isQuiet(energy, length))
        return 1;

    // Level profile: deciles of the levels of the windows that hold sound. Whether a 20 ms
    // block holds sound is judged against the line's noise floor in the buffer (a low
    // percentile of the band-limited block RMS) and against the loudest block, so that line
    // hiss in a ring-back pause is quiet whatever its level; blocks below the silence level
    // are always quiet. A buffer whose blocks all keep about one level (only hiss, or only
    // tone) has nothing to judge. A window with a quiet block overlaps the start or the end
    // of the sound and shows only part of it: it is left out.
    std::vector<double> bandRms(blockCount);
    for (std::size_t b = 0; b < blockCount; ++b)
        bandRms[b] = std::sqrt(blockBandEnergy[b] / blockLength(b));
    std::vector<double> byLevel = bandRms;
    std::sort(byLevel.begin(), byLevel.end());
    const double noiseFloor = byLevel[(byLevel.size() - 1) / 10];
    const double loudest = byLevel.back();
    if (loudest < kMinContrast * noiseFloor)
        return 0;
    const double threshold = std::max(kAboveFloor * noiseFloor, loudest / kBelowLoudest);
    std::vector<bool> sound(blockCount);
    for (std::size_t b = 0; b < blockCount; ++b)
        sound[b] = bandRms[b] >= threshold && !isQuiet(blockEnergy[b], blockLength(b));
    // A window's level is its band-limited RMS above the noise floor (power less the floor's
    // power), so that hiss does not flatten the level changes of speech. A window whose frames all hold a tone (most of
    // their energy in one or two narrow peaks of 300..700 Hz) is part of a call-progress tone:
    // it counts at the median level of such windows, so that the noise riding on a tone, a
    // slow modulation or bursts of two levels do not make the tone look like speech.
    const std::size_t windowBlocks = std::min(kProfileWindowBlocks, blockCount);
    std::vector<double> levels, toneLevels;
    std::vector<bool> toneWindow;
    for (std::size_t w = 0; w + windowBlocks <= blockCount; ++w) {
        double windowEnergy = 0, windowLength = 0;
        bool whole = true;
        for (std::size_t b = w; b < w + windowBlocks; ++b) {
            windowEnergy += blockBandEnergy[b];
            windowLength += blockLength(b);
            whole = whole && sound[b];
        }
        if (!whole)
            continue;
        // Frame f spans blocks f and f + 1.
        bool tone = true;
        for (std::size_t b = w; tone && b < w + windowBlocks; ++b)
            tone = (b < tonal.size() && tonal[b]) || (b > 0 && b - 1 < tonal.size() && tonal[b - 1]);
        const double level = std::sqrt(std::max(0.0, windowEnergy / windowLength - noiseFloor * noiseFloor));
        levels.push_back(level);
        toneWindow.push_back(tone);
        if (tone)
            toneLevels.push_back(level);
    }
    if (levels.size() < kMinSoundWindows)
        return 0;
    if (!toneLevels.empty()) {
        const double toneLevel = median(toneLevels);
        for (std::size_t i = 0; i < levels.size(); ++i)
            if (toneWindow[i])
                levels[i] = toneLevel;
    }
    std::sort(levels.begin(), levels.end());
    for (std::size_t k = 0; k < kLevelProfileSize; ++k) {
        // Between two windows the decile is interpolated, so that a handful of windows (a
        // single word) does not repeat the same level in several deciles.
        const double position = static_cast<double>(k * (levels.size() - 1)) / 10.0;
        const auto below = static_cast<std::size_t>(position);
        const std::size_t above = std::min(below + 1, levels.size() - 1);
        const double level = levels[below] + (levels[above] - levels[below]) * (position - static_cast<double>(below));
        levelProfile[k] = static_cast<std::int32_t>(std::lround(level));
    }
    return 0;
}

} // namespace telvox::tonsig
