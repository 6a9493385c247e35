#pragma once

// Vectors, filters and small routines that the encoder's searches share (internal to the
// encoder: not part of the codec's interface).

#include "TrueSpeechDecoder.h"

#include <array>

namespace telvox::truespeech::enc {

constexpr int N = kSubframeSamples;

using Vec = std::array<float, N>;
using Coeffs = std::array<float, kOrder>; // direct-form coefficients of lags 1..8

// Perceptual weighting filter W(z) = A(z/g1) / A(z/g2) in direct form.
struct Weighting
{
    Coeffs num{}; // a_m g1^m
    Coeffs den{}; // a_m g2^m
};

// Memories of a W filter: past inputs and past outputs, newest first.
struct WeightingMemory
{
    Coeffs in{};
    Coeffs out{};
};

/// Runs W over n samples, advancing the memory.
void weight(const Weighting& w, WeightingMemory& m, const float* x, float* y, int n);

/// Zero-state convolution truncated to the subframe: y[n] = sum_{k<=n} h[k] x[n-k].
void convolve(const Vec& h, const float* x, Vec& y);

inline float dot(const float* a, const float* b, int n = N)
{
    float acc = 0;
    for (int i = 0; i < n; ++i)
        acc += a[i] * b[i];
    return acc;
}

/// Impulse response of synthesis 1/(1 - P(z)), the decoder's post-filter (without rounding)
/// and W, over one subframe. k1 is the frame's first reflection coefficient.
Vec impulseResponse(const Filter& f, const Weighting& w, int k1);

/// Correlations of a weighted impulse response that stay fixed for a subframe's filter:
/// phi[i][j] = sum_n h[n - i] h[n - j] over the subframe.
struct ResponseCorrelation
{
    explicit ResponseCorrelation(const Vec& h);
    Vec h;
    float phi[N][N];
    Vec diag; // phi[i][i]
};

} // namespace telvox::truespeech::enc
