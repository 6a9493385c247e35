#include "sim/audio/SpeechLikeSource.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace telvox::sim {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr int kMs = kLineSampleRate / 1000;

// First three formants (Hz) of a few vowels.
constexpr std::array<std::array<double, 3>, 6> kVowels = {{
    {730, 1090, 2440}, // a
    {530, 1840, 2480}, // e
    {270, 2290, 3010}, // i
    {570, 840, 2410},  // o
    {300, 870, 2240},  // u
    {500, 1500, 2500}, // neutral
}};
constexpr std::array<double, 3> kFormantBandwidth = {90, 110, 160};

// Rosenberg glottal pulse over one period (phase 0..1): opening, closing, closed.
double glottalPulse(double phase)
{
    if (phase < 0.4)
        return 0.5 * (1.0 - std::cos(std::numbers::pi * phase / 0.4));
    if (phase < 0.56)
        return std::cos(std::numbers::pi * (phase - 0.4) / 0.32);
    return 0.0;
}

// Raised-cosine attack and release inside a segment.
double envelope(int position, int length, int attack, int release)
{
    if (position < attack)
        return 0.5 - 0.5 * std::cos(std::numbers::pi * position / attack);
    if (position >= length - release)
        return 0.5 - 0.5 * std::cos(std::numbers::pi * (length - position) / release);
    return 1.0;
}

} // namespace

double SpeechLikeSource::Resonator::process(double x, double hz, double bandwidthHz)
{
    const double r = std::exp(-std::numbers::pi * bandwidthHz / kLineSampleRate);
    const double a1 = 2.0 * r * std::cos(kTwoPi * hz / kLineSampleRate);
    const double a2 = -r * r;
    const double y = (1.0 - r) * x + a1 * y1 + a2 * y2;
    y2 = y1;
    y1 = y;
    return y;
}

SpeechLikeSource::SpeechLikeSource(std::uint64_t seed, Voice voice, double levelDbfs)
    : m_random(seed)
    , m_basePitch(voice == Voice::Low ? 110.0 : 210.0)
{
    startNextSegment();
    // Calibrate on a copy that talks the same way: vowels to unit RMS, hiss about 10 dB below
    // them, then the talk spurts as a whole to the level.
    SpeechLikeSource probe(*this);
    double voiced = 0, hiss = 0;
    long voicedCount = 0, hissCount = 0;
    for (int i = 0; i < 10 * kLineSampleRate; ++i) {
        const Kind kind = probe.m_kind;
        const double x = probe.nextRaw();
        (kind == Kind::Voiced ? voiced : hiss) += kind == Kind::Pause ? 0.0 : x * x;
        voicedCount += kind == Kind::Voiced;
        hissCount += kind == Kind::Fricative;
    }
    m_voicedGain = voiced > 0 ? std::sqrt(voicedCount / voiced) : 1.0;
    m_hissGain = hiss > 0 ? 0.3 * std::sqrt(hissCount / hiss) : 1.0;
    const double talk = (voiced * m_voicedGain * m_voicedGain + hiss * m_hissGain * m_hissGain) / std::max(1L, voicedCount + hissCount);
    m_gain = 32768.0 * std::pow(10.0, levelDbfs / 20.0) / std::sqrt(talk);
}

void SpeechLikeSource::startNextSegment()
{
    m_segmentPosition = 0;
    if (m_kind != Kind::Pause && m_syllablesLeftInWord == 0) {
        // End of a word: a short pause, or a long one at the end of a phrase.
        m_kind = Kind::Pause;
        m_segmentLength = m_wordsLeftInPhrase == 0 ? static_cast<int>(m_random.uniform(250, 500)) * kMs
                                                   : static_cast<int>(m_random.uniform(40, 150)) * kMs;
        return;
    }
    if (m_wordsLeftInPhrase == 0 && m_syllablesLeftInWord == 0) {
        m_wordsLeftInPhrase = 3 + static_cast<int>(m_random.uniform(0, 5));
        m_phraseWord = 0;
    }
    if (m_syllablesLeftInWord == 0) {
        m_syllablesLeftInWord = 1 + static_cast<int>(m_random.uniform(0, 3));
        --m_wordsLeftInPhrase;
        ++m_phraseWord;
    }
    if (m_kind != Kind::Fricative && m_random.uniform() < 0.25) {
        m_kind = Kind::Fricative;
        m_segmentLength = static_cast<int>(m_random.uniform(50, 120)) * kMs;
        m_loudness = m_random.uniform(0.2, 0.45);
        return;
    }
    --m_syllablesLeftInWord;
    m_kind = Kind::Voiced;
    m_segmentLength = static_cast<int>(m_random.uniform(110, 280)) * kMs;
    m_loudness = m_random.uniform(0.45, 1.0);
    // Declination over the phrase, an accent on each syllable and a glide inside it.
    const double declination = 1.0 - 0.04 * m_phraseWord;
    m_pitchStart = m_basePitch * declination * m_random.uniform(0.85, 1.2);
    m_pitchEnd = m_pitchStart * m_random.uniform(0.85, 1.12);
    const auto &vowel = kVowels[static_cast<std::size_t>(m_random.uniform(0, kVowels.size()))];
    for (int f = 0; f < 3; ++f)
        m_formantTarget[f] = vowel[f] * m_random.uniform(0.92, 1.08);
}

double SpeechLikeSource::nextRaw()
{
    const int position = m_segmentPosition++;
    // Formants glide towards their targets (about 25 ms time constant).
    for (int f = 0; f < 3; ++f)
        m_formant[f] += (m_formantTarget[f] - m_formant[f]) * 0.005;

    double excitation = 0;
    if (m_kind == Kind::Voiced) {
        const double progress = static_cast<double>(position) / m_segmentLength;
        const double pitch = (m_pitchStart + (m_pitchEnd - m_pitchStart) * progress) * (1.0 + 0.01 * m_random.gaussian());
        m_glottalPhase += pitch / kLineSampleRate;
        m_glottalPhase -= std::floor(m_glottalPhase);
        const double pulse = glottalPulse(m_glottalPhase);
        // The syllable swells to its nucleus and fades, with a little shimmer on every sample.
        const double swell = 0.35 + 0.65 * std::sin(std::numbers::pi * progress);
        excitation = (pulse - m_previousPulse) * swell * (1.0 + 0.05 * m_random.gaussian())
            * envelope(position, m_segmentLength, 15 * kMs, 35 * kMs);
        m_previousPulse = pulse;
    } else {
        m_previousPulse = 0;
    }
    double y = excitation;
    for (int f = 0; f < 3; ++f)
        y = m_resonator[f].process(y, m_formant[f], kFormantBandwidth[f]);
    y *= m_voicedGain;
    if (m_kind == Kind::Fricative)
        y += m_hiss.process(m_random.gaussian(), 3000.0, 1800.0) * m_hissGain * envelope(position, m_segmentLength, 10 * kMs, 20 * kMs);
    y *= m_loudness;
    if (m_segmentPosition >= m_segmentLength)
        startNextSegment();
    return y;
}

void SpeechLikeSource::read(std::span<std::int16_t> out)
{
    for (std::int16_t &sample : out)
        sample = toSample(m_gain * nextRaw());
}

} // namespace telvox::sim
