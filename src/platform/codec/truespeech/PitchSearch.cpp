#include "PitchSearch.h"

#include "TrueSpeechTables.h"

#include <algorithm>
#include <cmath>

namespace telvox::truespeech::enc {

namespace {

constexpr int kHalfSamples = 2 * N;
// LTP codes whose estimated error is checked with the exact prediction (a third one was
// chosen too rarely to pay for itself).
constexpr int kExactLtpCandidates = 2;

// The convolution of the excitation one sample earlier (x[-1], x[0], ..., x[N-2]) from that of
// x: y'[n] = y[n-1] + h[n] x[-1], which adds the same terms in the same order as convolve().
void convolveShifted(const Vec& h, const float* x, const Vec& y, Vec& shifted)
{
    shifted[0] = h[0] * x[-1];
    for (int n = N - 1; n > 0; --n)
        shifted[n] = y[n - 1] + h[n] * x[-1];
}

} // namespace

// Closed-loop search of the LTP code for a base lag. The error of every (fine lag, tap pair) is
// first estimated with the prediction linear in the taps (exact but for rounding when the lag is
// at least a subframe; with a periodic extension of unit gain when it is shorter); the best few
// are then evaluated with the exact prediction.
LtpChoice searchLtp(const std::array<std::int32_t, kHistory>& hist, int base, const Vec& x, const Vec& h)
{
    struct Candidate
    {
        float error;
        int lag;
        int tap;
    };
    std::array<Candidate, 5 * 25 + 2> candidates; // fine lags 0..4 with 25 tap pairs, 5 with 2
    int count = 0;
    const float xx = dot(x.data(), x.data());
    std::array<float, kHistory + N + 1> ext;
    for (int i = 0; i < kHistory; ++i)
        ext[i] = float(std::int16_t(std::uint16_t(std::uint32_t(hist[i]))));
    Vec ya, yb; // responses to the samples at lag D+1 (tap c0) and at lag D (tap c1)
    for (int fine = 0; fine <= 5 && base + fine <= kMaxBasePlusFine; ++fine) {
        const int lag = kMinLag + base + fine;
        for (int i = 0; i <= N; ++i)
            ext[kHistory + i] = ext[kHistory + i - lag];
        // Beyond a subframe the excitations are plain history: the one at lag D is the
        // previous lag's excitation at D + 1, and the one at D + 1 follows from it by a shift.
        if (fine > 0 && lag > N)
            yb = ya;
        else
            convolve(h, ext.data() + kHistory - lag, yb);
        // The excitation at lag D + 1 is the one at D delayed by a sample, for short lags too
        // (both read the same periodic extension).
        convolveShifted(h, ext.data() + kHistory - lag, yb, ya);
        // Five dot products in one pass: five independent sums, each in the order of dot().
        float xa = 0, xb = 0, aa = 0, bb = 0, ab = 0;
        for (int i = 0; i < N; ++i) {
            xa += x[i] * ya[i];
            xb += x[i] * yb[i];
            aa += ya[i] * ya[i];
            bb += yb[i] * yb[i];
            ab += ya[i] * yb[i];
        }
        const int taps = fine == 5 ? 2 : 25;
        for (int g = 0; g < taps; ++g) {
            const float c0 = tables::ts_order2_coeffs[g][0] / 16384.0f;
            const float c1 = tables::ts_order2_coeffs[g][1] / 16384.0f;
            const float e = -2 * (c0 * xa + c1 * xb) + c0 * c0 * aa + 2 * c0 * c1 * ab + c1 * c1 * bb;
            candidates[count++] = {e, lag, g};
        }
    }
    LtpChoice best;
    float bestError = 0; // no LTP: error |x|^2 - |x|^2 = 0
    const int exact = std::min(count, kExactLtpCandidates);
    std::partial_sort(candidates.begin(), candidates.begin() + exact, candidates.begin() + count,
                      [](const Candidate& a, const Candidate& b) { return a.error < b.error; });
    for (int c = 0; c < exact; ++c) {
        if (candidates[c].error > 0.1f * xx)
            break; // not even the estimate comes near "none"
        const Subframe v = longTermPredictionAt(hist, candidates[c].lag, candidates[c].tap);
        Vec vf, y;
        for (int i = 0; i < N; ++i)
            vf[i] = v[i];
        convolve(h, vf.data(), y);
        float e = 0;
        for (int i = 0; i < N; ++i)
            e += (x[i] - y[i]) * (x[i] - y[i]);
        e -= xx;
        if (e < bestError) {
            bestError = e;
            best.code = (candidates[c].lag - kMinLag - base) * 25 + candidates[c].tap;
            best.v = v;
            best.response = y;
        }
    }
    return best;
}

// The lag with the largest normalised correlation of the weighted speech, preferring a
// sub-multiple that correlates nearly as well.
std::array<int, 2> openLoopPitch(const float* wsp)
{
    // Correlations of all lags at once, the lag being the inner, vectorisable loop; each lag's
    // sum still adds its terms in the order of n.
    std::array<float, kMaxLag + 1> corr{};
    std::array<float, kMaxLag + kHalfSamples> reversed; // reversed[k] = wsp[kHalfSamples - 1 - k]
    for (int k = 0; k < kMaxLag + kHalfSamples; ++k)
        reversed[k] = wsp[kHalfSamples - 1 - k];
    // Blocks of 32 lags, whose sums stay in registers over the whole half frame.
    constexpr int kBlock = 32;
    static_assert((kMaxLag - kMinLag + 1) % kBlock == 0);
    for (int first = kMinLag; first <= kMaxLag; first += kBlock) {
        float acc[kBlock] = {};
        for (int n = 0; n < kHalfSamples; ++n) {
            const float x = wsp[n];
            const float* past = reversed.data() + kHalfSamples - 1 - n + first; // past[l] = wsp[n - first - l]
            for (int l = 0; l < kBlock; ++l)
                acc[l] += x * past[l];
        }
        for (int l = 0; l < kBlock; ++l)
            corr[first + l] = acc[l];
    }
    std::array<float, kMaxLag + 1> score{};
    float energy = 0;
    for (int n = 0; n < kHalfSamples; ++n)
        energy += wsp[n - kMinLag] * wsp[n - kMinLag];
    for (int lag = kMinLag; lag <= kMaxLag; ++lag) {
        if (lag > kMinLag) {
            // slide the lagged window by one sample
            const float in = wsp[-lag];
            const float out = wsp[kHalfSamples - lag];
            energy += in * in - out * out;
        }
        const float c = corr[lag];
        score[lag] = c > 0 ? c / std::sqrt(std::max(energy, 1.0f)) : 0.0f;
    }
    int best = kMinLag;
    for (int lag = kMinLag; lag <= kMaxLag; ++lag) {
        if (score[lag] > score[best])
            best = lag;
    }
    int chosen = best;
    for (int div = 4; div >= 2; --div) {
        const int centre = (best + div / 2) / div;
        for (int lag = std::max(kMinLag, centre - 1); lag <= std::min(kMaxLag, centre + 1); ++lag) {
            if (lag < chosen && score[lag] >= 0.85f * score[best]) {
                if (chosen == best || score[lag] > score[chosen])
                    chosen = lag;
            }
        }
        if (chosen != best)
            break;
    }
    int second = best != chosen ? best : -1;
    if (second < 0) {
        float s2 = 0;
        for (int lag = kMinLag; lag <= kMaxLag; ++lag) {
            if (std::abs(lag - chosen) > 5 && score[lag] > s2) {
                s2 = score[lag];
                second = lag;
            }
        }
    }
    return {chosen, second};
}

} // namespace telvox::truespeech::enc
