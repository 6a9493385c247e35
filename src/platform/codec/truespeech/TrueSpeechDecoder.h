#pragma once

// TrueSpeech decoder, bit-exact with libavcodec's decoder (AV_CODEC_ID_TRUESPEECH).
//
// The synthesis primitives are public because the encoder runs the very same arithmetic as its
// local decoder: every parameter choice is judged by, and every committed subframe advances, a
// SynthesisState that is identical to the state of any conforming decoder.

#include "TrueSpeechFrame.h"

#include <array>
#include <cstdint>
#include <span>

namespace telvox::truespeech {

using Filter = std::array<std::int16_t, kOrder>; // predictor coefficients, Q12
using Subframe = std::array<std::int16_t, kSubframeSamples>;

inline constexpr int kHistory = 146;

/// Everything a decoder carries from one subframe to the next.
struct SynthesisState
{
    std::array<std::int32_t, kHistory> hist{}; // long-term predictor memory, newest last
    Filter prev{};                             // previous frame's predictor coefficients
    std::array<std::int16_t, kOrder> m1{};     // synthesis filter memory, newest first
    std::array<std::int16_t, kOrder> m2{};     // post-filter FIR memory
    std::array<std::int16_t, kOrder> m3{};     // post-filter IIR memory
};

/// Reflection coefficients (Q15) of the codebook indices.
std::array<std::int16_t, kOrder> reflectionCoefficients(const std::array<std::uint8_t, kOrder>& ki);
/// Predictor coefficients (Q12, bandwidth expanded) of reflection coefficients in Q15.
Filter predictorCoefficients(const std::array<std::int16_t, kOrder>& k);
/// The filter set of each subframe, from the current and the previous frame's coefficients.
std::array<Filter, kSubframes> subframeFilters(const Filter& cur, const Filter& prev, bool interpolate);

/// Long-term prediction v of one subframe. `ltpCode` 127 gives zeros; `base` is the base lag.
Subframe longTermPrediction(const std::array<std::int32_t, kHistory>& hist, int base, int ltpCode);
/// The same for an explicit lag D (18..145) and tap-pair index g (0..24).
Subframe longTermPredictionAt(const std::array<std::int32_t, kHistory>& hist, int lag, int tapPair);

/// Pulse vector u of one subframe from its position index, amplitude codes and gain index.
std::array<std::int32_t, kSubframeSamples> pulseVector(std::uint32_t pos, std::uint16_t amp, int gain);

/// Advances the long-term memory by one subframe (stores u + 7/8 v) and returns e = u + v.
Subframe updateHistory(std::array<std::int32_t, kHistory>& hist, const Subframe& v,
                       const std::array<std::int32_t, kSubframeSamples>& u);

/// Short-term synthesis of one subframe: s = e filtered by 1/(1 - P(z)), memory m1.
Subframe synthesize(std::array<std::int16_t, kOrder>& m1, const Filter& f, const Subframe& e);

/// Post-filter of one subframe (memories m2, m3); k1 is the frame's first reflection coefficient.
Subframe postFilter(SynthesisState& state, const Filter& f, int k1, const Subframe& s);

/// Frame decoder with its state carried across frames.
class Decoder
{
public:
    /// Decodes one 32-byte frame into 240 samples.
    void decode(std::span<const std::uint8_t, kFrameBytes> frame, std::span<std::int16_t, kFrameSamples> out);
    void decode(const FrameFields& fields, std::span<std::int16_t, kFrameSamples> out);
    void reset() { m_state = {}; }
    const SynthesisState& state() const { return m_state; }

private:
    SynthesisState m_state;
};

} // namespace telvox::truespeech
