#pragma once

#include "sim/audio/Random.h"
#include "sim/audio/SampleSource.h"

namespace telvox::sim {

// A synthetic talker: syllables of a glottal pulse train through three formant resonators,
// hiss-like fricatives, intonation that rises and falls, and pauses between words and
// phrases. It is not intelligible, but it has what tone and silence detectors must not
// mistake for a tone: a moving pitch, moving formants, energy spread over the band and a
// level that changes from syllable to syllable. The same seed gives the same talk.
class SpeechLikeSource final : public SampleSource
{
public:
    enum class Voice { Low, High }; // pitch around 110 Hz or around 210 Hz

    // `levelDbfs`: RMS of the talk spurts (pauses left out) of the first ten seconds, against a
    // full-scale square wave; later seconds stay within about 2 dB of it.
    explicit SpeechLikeSource(std::uint64_t seed = 1, Voice voice = Voice::Low, double levelDbfs = -20.0);

    void read(std::span<std::int16_t> out) override;
    // Whether the next sample lies in a syllable or fricative rather than in a pause.
    bool isTalking() const { return m_kind != Kind::Pause; }

private:
    enum class Kind { Voiced, Fricative, Pause };
    struct Resonator
    {
        double y1 = 0, y2 = 0;
        double process(double x, double hz, double bandwidthHz);
    };

    double nextRaw();
    void startNextSegment();

    Random m_random;
    double m_basePitch;
    double m_gain = 1.0;
    double m_voicedGain = 1.0;
    double m_hissGain = 1.0;
    Kind m_kind = Kind::Pause;
    int m_segmentLength = 0;
    int m_segmentPosition = 0;
    int m_syllablesLeftInWord = 0;
    int m_wordsLeftInPhrase = 0;
    int m_phraseWord = 0;
    double m_pitchStart = 0, m_pitchEnd = 0;
    double m_loudness = 1.0;
    double m_glottalPhase = 0;
    double m_previousPulse = 0;
    double m_formant[3] = {500, 1500, 2500};
    double m_formantTarget[3] = {500, 1500, 2500};
    Resonator m_resonator[3];
    Resonator m_hiss;
};

} // namespace telvox::sim
