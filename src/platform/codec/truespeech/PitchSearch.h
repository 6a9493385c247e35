#pragma once

// Pitch searches of the encoder: the open-loop estimate of a half frame's lag on the weighted
// speech, and the closed-loop search of a subframe's LTP code (fine lag and tap pair) for a
// base lag.

#include "EncoderDsp.h"

#include <algorithm>

namespace telvox::truespeech::enc {

/// Samples of weighted speech that the open-loop search looks back.
constexpr int kPitchHistory = kMaxLag + 2;

struct LtpChoice
{
    int code = kNoLtp;
    Subframe v{};
    Vec response{}; // v through the subframe's weighted impulse response
};

/// Closed-loop search of the LTP code for base lag `base`, against the weighted target x,
/// with the subframe's weighted impulse response h and the long-term memory `hist`.
LtpChoice searchLtp(const std::array<std::int32_t, kHistory>& hist, int base, const Vec& x, const Vec& h);

/// Open-loop pitch of a half frame (120 samples of weighted speech at `wsp`, with
/// kPitchHistory samples before it): up to two distinct lag estimates, best first (-1: none).
std::array<int, 2> openLoopPitch(const float* wsp);

/// The base lag whose fine lags are centred on an estimated lag.
inline int baseFor(int lag) { return std::clamp(lag - kMinLag - 2, 0, kMaxBasePlusFine - 4); }

} // namespace telvox::truespeech::enc
