#pragma once

// Search of a subframe's seven pulses (positions, 2-bit amplitude codes) and their common gain
// index, against a weighted target, with the amplitudes the decoder's tables allow.

#include "EncoderDsp.h"

namespace telvox::truespeech::enc {

struct PulseChoice
{
    std::array<int, kPulses> pos{};
    std::array<int, kPulses> code{};
    int gain = 0;
    float error = 0; // |t - H u|^2 - |t|^2
};

/// Chooses the pulses that best match `target` through the response whose correlations are
/// given: least-squares positions grown greedily and improved by one replacement pass, then,
/// at the few gain indices that fit those amplitudes best, coordinate descent over the
/// position and code of each pulse with the exact error.
PulseChoice searchPulses(const Vec& target, const ResponseCorrelation& response);

/// Packs the chosen pulses of subframe q into the frame: positions ascending within each half,
/// codes in that order.
void packPulses(const PulseChoice& c, FrameFields& f, int q);

} // namespace telvox::truespeech::enc
