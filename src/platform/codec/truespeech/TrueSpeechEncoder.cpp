#include "TrueSpeechEncoder.h"

#include "TrueSpeechDecoder.h"
#include "TrueSpeechTables.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

namespace telvox::truespeech {

namespace {

constexpr int N = kSubframeSamples;
constexpr int kHalfSamples = 2 * kSubframeSamples;

// LPC analysis window: 40 samples of the previous frame, the frame, and the look-ahead.
constexpr int kWindowPast = 40;
constexpr int kWindowLength = kWindowPast + Encoder::kInputSamples;
constexpr int kWindowPeak = kWindowPast + 180; // rises up to frame sample 180, then falls

constexpr double kGammaNum = 0.9;   // weighting filter A(z/0.9) / A(z/0.6)
constexpr double kGammaDen = 0.6;
constexpr double kLagWindowHz = 60.0;

constexpr int kPitchHistory = kMaxLag + 2;
constexpr int kBaseCandidates = 4;
constexpr int kExactLtpCandidates = 3;
constexpr int kGainCandidates = 3;
constexpr int kDescentPasses = 3;

using Vec = std::array<float, N>;
using Coeffs = std::array<float, kOrder>; // direct-form coefficients of lags 1..8

// ---------------------------------------------------------------------------------------------
// Small DSP helpers

// Levinson-Durbin in the A(z) = 1 + sum a_m z^-m convention. Returns false when r[0] <= 0.
bool levinson(const std::array<double, kOrder + 1>& r, std::array<double, kOrder>& a,
              std::array<double, kOrder>& k)
{
    a.fill(0);
    k.fill(0);
    double err = r[0];
    if (!(err > 0))
        return false;
    for (int i = 0; i < kOrder; ++i) {
        double acc = r[i + 1];
        for (int j = 0; j < i; ++j)
            acc += a[j] * r[i - j];
        double ki = -acc / err;
        ki = std::clamp(ki, -0.9995, 0.9995);
        k[i] = ki;
        std::array<double, kOrder> old = a;
        for (int j = 0; j < i; ++j)
            a[j] = old[j] + ki * old[i - 1 - j];
        a[i] = ki;
        err *= 1.0 - ki * ki;
        if (err <= 0)
            break;
    }
    return true;
}

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

// Runs W over n samples, advancing the memory. The memories live in local arrays that the
// compiler keeps in registers; they shift by one element per sample without a library call.
void weight(const Weighting& w, WeightingMemory& m, const float* x, float* y, int n)
{
    Coeffs in = m.in, out = m.out;
    for (int i = 0; i < n; ++i) {
        float acc = x[i];
#pragma GCC unroll 8
        for (int j = 0; j < kOrder; ++j)
            acc += w.num[j] * in[j] - w.den[j] * out[j];
#pragma GCC unroll 8
        for (int j = kOrder - 1; j > 0; --j) {
            in[j] = in[j - 1];
            out[j] = out[j - 1];
        }
        in[0] = x[i];
        out[0] = acc;
        y[i] = acc;
    }
    m.in = in;
    m.out = out;
}

// Zero-state convolution truncated to the subframe: y[n] = sum_{k<=n} h[k] x[n-k]. Each y[n]
// adds its terms in the order k = 0, 1, ..., n; the loop over n is the inner one, so that it
// vectorises.
void convolve(const Vec& h, const float* x, Vec& y)
{
    y.fill(0.0f);
    for (int k = 0; k < N; ++k) {
        const float hk = h[k];
        for (int n = k; n < N; ++n)
            y[n] += hk * x[n - k];
    }
}

// The convolution of the excitation one sample earlier (x[-1], x[0], ..., x[N-2]) from that of
// x: y'[n] = y[n-1] + h[n] x[-1], which adds the same terms in the same order as convolve().
void convolveShifted(const Vec& h, const float* x, const Vec& y, Vec& shifted)
{
    shifted[0] = h[0] * x[-1];
    for (int n = N - 1; n > 0; --n)
        shifted[n] = y[n - 1] + h[n] * x[-1];
}

float dot(const float* a, const float* b, int n = N)
{
    float acc = 0;
    for (int i = 0; i < n; ++i)
        acc += a[i] * b[i];
    return acc;
}

// Nearest codebook entry of a reflection coefficient, measured in the arcsine domain, which
// resolves coefficients near +-1 more finely. (Choosing among the two nearest entries of k1..k4
// by the spectral distortion of the decoder's integer filter gained nothing measurable: the
// closed-loop searches make up for the small differences.)
int quantiseReflection(int i, double k)
{
    static constexpr const std::int16_t* books[kOrder] = {
        tables::ts_cb_0, tables::ts_cb_1, tables::ts_cb_2, tables::ts_cb_3,
        tables::ts_cb_4, tables::ts_cb_5, tables::ts_cb_6, tables::ts_cb_7,
    };
    // The codebooks' arcsines, worked out once.
    static const auto arcsines = [] {
        std::array<std::vector<double>, kOrder> table;
        for (int n = 0; n < kOrder; ++n) {
            for (int j = 0; j < (1 << kReflectionBits[n]); ++j)
                table[n].push_back(std::asin(books[n][j] / 32768.0));
        }
        return table;
    }();
    const int size = 1 << kReflectionBits[i];
    const double target = std::asin(std::clamp(k, -1.0, 1.0));
    int best = 0;
    double bestDist = 1e30;
    for (int j = 0; j < size; ++j) {
        const double d = std::abs(arcsines[i][j] - target);
        if (d < bestDist) {
            bestDist = d;
            best = j;
        }
    }
    return best;
}

// Pulse amplitude code of a sign and a magnitude step (1x or 3x).
constexpr int pulseCode(bool negative, bool triple) { return (negative ? 2 : 0) | (triple ? 1 : 0); }

// ---------------------------------------------------------------------------------------------
// Pulse search

struct PulseChoice
{
    std::array<int, kPulses> pos{};
    std::array<int, kPulses> code{};
    int gain = 0;
    float error = 0; // |t - H u|^2 - |t|^2
};

class PulseSearch
{
public:
    PulseSearch(const Vec& target, const Vec& h)
    {
        // d = H^T t
        for (int n = 0; n < N; ++n) {
            float acc = 0;
            for (int k = n; k < N; ++k)
                acc += target[k] * h[k - n];
            m_d[n] = acc;
        }
        // phi[i][i+m] = sum_{n=0}^{59-i-m} h[n+m] h[n], built from running sums per diagonal.
        for (int m = 0; m < N; ++m) {
            float acc = 0;
            for (int n = 0; n < N - m; ++n) {
                acc += h[n + m] * h[n];
                const int i = N - 1 - m - n;
                m_phi[i][i + m] = acc;
                m_phi[i + m][i] = acc;
            }
        }
    }

    PulseChoice run()
    {
        std::array<int, kPulses> pos{};
        std::array<double, kPulses> beta{};
        choosePositions(pos, beta);

        // Error of each gain index with the ideal amplitudes quantised to {+-a, +-3a}.
        std::array<std::pair<float, int>, 16> byGain{};
        for (int g = 0; g < 16; ++g) {
            std::array<float, kPulses> u{};
            const double a = tables::ts_pulse_scales[g][0];
            for (int n = 0; n < kPulses; ++n)
                u[n] = float(std::copysign(std::abs(beta[n]) > 2 * a ? 3 * a : a, beta[n]));
            byGain[g] = {energy(pos, u), g};
        }
        std::partial_sort(byGain.begin(), byGain.begin() + kGainCandidates, byGain.end());

        PulseChoice best;
        best.error = 1e30f;
        for (int c = 0; c < kGainCandidates; ++c) {
            const PulseChoice choice = refine(pos, beta, byGain[c].second);
            if (choice.error < best.error)
                best = choice;
        }
        return best;
    }

private:
    static int halfOf(int p) { return p < kHalfSubframe ? 0 : 1; }

    float energy(const std::array<int, kPulses>& pos, const std::array<float, kPulses>& u) const
    {
        float e = 0;
        for (int k = 0; k < kPulses; ++k) {
            e -= 2 * u[k] * m_d[pos[k]];
            for (int l = 0; l < kPulses; ++l)
                e += u[k] * u[l] * m_phi[pos[k]][pos[l]];
        }
        return e;
    }

    // Least-squares amplitudes of the given positions (Cholesky of the normal equations).
    // Row i of the factor depends only on the positions 0..i, so the rows of the longest prefix
    // shared with the previous call are kept rather than worked out again.
    void solve(const int* pos, int count, double* beta) const
    {
        auto& a = m_factor;
        double y[kPulses];
        int first = 0;
        while (first < std::min(count, m_factorRows) && m_factorPos[first] == pos[first])
            ++first;
        for (int i = first; i < count; ++i)
            m_factorPos[i] = pos[i];
        m_factorRows = count;
        for (int i = first; i < count; ++i) {
            for (int j = 0; j <= i; ++j) {
                double s = m_phi[pos[i]][pos[j]];
                for (int k = 0; k < j; ++k)
                    s -= a[i][k] * a[j][k];
                if (i == j)
                    a[i][i] = std::sqrt(std::max(s, 1e-9 + 1e-6 * m_phi[pos[i]][pos[i]]));
                else
                    a[i][j] = s / a[j][j];
            }
        }
        for (int i = 0; i < count; ++i) {
            double s = m_d[pos[i]];
            for (int k = 0; k < i; ++k)
                s -= a[i][k] * y[k];
            y[i] = s / a[i][i];
        }
        for (int i = count - 1; i >= 0; --i) {
            double s = y[i];
            for (int k = i + 1; k < count; ++k)
                s -= a[k][i] * beta[k];
            beta[i] = s / a[i][i];
        }
    }

    // Residual correlation r = d - Phi u for the pulses given, except pulse `skip`.
    void residual(const int* pos, const double* beta, int count, int skip, std::array<float, N>& r) const
    {
        r = m_d;
        for (int k = 0; k < count; ++k) {
            if (k == skip)
                continue;
            const float b = float(beta[k]);
            const auto& col = m_phi[pos[k]];
            for (int n = 0; n < N; ++n)
                r[n] -= b * col[n];
        }
    }

    // Best free position of one half for one more pulse: max r^2 / phi.
    int bestFree(const std::array<float, N>& r, int half, const std::array<bool, N>& used) const
    {
        int best = -1;
        float bestScore = -1;
        for (int p = half * kHalfSubframe; p < (half + 1) * kHalfSubframe; ++p) {
            if (used[p])
                continue;
            const float score = r[p] * r[p] / std::max(m_phi[p][p], 1e-12f);
            if (score > bestScore) {
                bestScore = score;
                best = p;
            }
        }
        return best;
    }

    // Positions with free amplitudes: greedy growth, then replacement passes.
    void choosePositions(std::array<int, kPulses>& pos, std::array<double, kPulses>& beta) const
    {
        std::array<bool, N> used{};
        std::array<int, 2> room{kPulsesLow, kPulsesHigh};
        std::array<float, N> r;
        int count = 0;
        while (count < kPulses) {
            residual(pos.data(), beta.data(), count, -1, r);
            int best = -1;
            float bestScore = -1;
            for (int half = 0; half < 2; ++half) {
                if (room[half] == 0)
                    continue;
                const int p = bestFree(r, half, used);
                const float score = r[p] * r[p] / std::max(m_phi[p][p], 1e-12f);
                if (score > bestScore) {
                    bestScore = score;
                    best = p;
                }
            }
            pos[count++] = best;
            used[best] = true;
            --room[halfOf(best)];
            solve(pos.data(), count, beta.data());
        }
        for (int pass = 0; pass < 2; ++pass) {
            bool changed = false;
            for (int k = 0; k < kPulses; ++k) {
                // Amplitudes of the others re-solved without pulse k.
                std::array<int, kPulses> others{};
                std::array<double, kPulses> b{};
                int m = 0;
                for (int j = 0; j < kPulses; ++j) {
                    if (j != k)
                        others[m++] = pos[j];
                }
                solve(others.data(), m, b.data());
                residual(others.data(), b.data(), m, -1, r);
                used[pos[k]] = false;
                const int p = bestFree(r, halfOf(pos[k]), used);
                used[p] = true;
                if (p != pos[k]) {
                    pos[k] = p;
                    changed = true;
                }
                solve(pos.data(), kPulses, beta.data());
            }
            if (!changed)
                break;
        }
    }

    // Quantised amplitudes at one gain index, refined by coordinate descent over the position
    // and code of each pulse in turn, with the exact error.
    PulseChoice refine(std::array<int, kPulses> pos, const std::array<double, kPulses>& beta, int gain) const
    {
        const float a = tables::ts_pulse_scales[gain][0];
        std::array<float, kPulses> u{};
        std::array<bool, N> used{};
        for (int k = 0; k < kPulses; ++k) {
            u[k] = std::copysign(std::abs(beta[k]) > 2 * a ? 3 * a : a, float(beta[k]));
            used[pos[k]] = true;
        }
        // r = d - Phi u, E = -2 u.d + u Phi u
        std::array<float, N> r = m_d;
        for (int k = 0; k < kPulses; ++k) {
            const auto& col = m_phi[pos[k]];
            for (int n = 0; n < N; ++n)
                r[n] -= u[k] * col[n];
        }
        float e = 0;
        for (int k = 0; k < kPulses; ++k)
            e -= u[k] * (m_d[pos[k]] + r[pos[k]]);

        for (int pass = 0; pass < kDescentPasses; ++pass) {
            bool changed = false;
            for (int k = 0; k < kPulses; ++k) {
                const int p0 = pos[k];
                const float u0 = u[k];
                // Remove pulse k: r_w = r + Phi[:, p0] u0, E(w) = E(u) + 2 u0 r_w[p0] - u0^2 phi.
                const auto& col0 = m_phi[p0];
                for (int n = 0; n < N; ++n)
                    r[n] += u0 * col0[n];
                const float ew = e + 2 * u0 * r[p0] - u0 * u0 * m_phi[p0][p0];
                used[p0] = false;
                int bestP = p0;
                float bestU = u0;
                float bestE = e;
                const int half = halfOf(p0);
                for (int p = half * kHalfSubframe; p < (half + 1) * kHalfSubframe; ++p) {
                    if (used[p])
                        continue;
                    const float rp = std::abs(r[p]);
                    const float phi = m_phi[p][p];
                    const float e1 = -2 * a * rp + a * a * phi;
                    const float e3 = -6 * a * rp + 9 * a * a * phi;
                    const float m = e3 < e1 ? 3 * a : a;
                    const float cand = ew + std::min(e1, e3);
                    if (cand < bestE - 1e-3f * std::abs(bestE)) {
                        bestE = cand;
                        bestP = p;
                        bestU = r[p] < 0 ? -m : m;
                    }
                }
                if (bestP != p0 || bestU != u0)
                    changed = true;
                pos[k] = bestP;
                u[k] = bestU;
                used[bestP] = true;
                const auto& col = m_phi[bestP];
                for (int n = 0; n < N; ++n)
                    r[n] -= bestU * col[n];
                e = ew - 2 * bestU * (r[bestP] + bestU * m_phi[bestP][bestP]) + bestU * bestU * m_phi[bestP][bestP];
            }
            if (!changed)
                break;
        }
        PulseChoice choice;
        choice.pos = pos;
        for (int k = 0; k < kPulses; ++k)
            choice.code[k] = pulseCode(u[k] < 0, std::abs(u[k]) > 2 * a);
        choice.gain = gain;
        choice.error = e;
        return choice;
    }

    std::array<float, N> m_d{};
    float m_phi[N][N];
    mutable double m_factor[kPulses][kPulses];
    mutable std::array<int, kPulses> m_factorPos{};
    mutable int m_factorRows = 0;
};

// Packs the seven chosen pulses: positions ascending within each half, codes in that order.
void packPulses(const PulseChoice& c, FrameFields& f, int q)
{
    std::array<std::pair<int, int>, kPulses> pulses;
    for (int k = 0; k < kPulses; ++k)
        pulses[k] = {c.pos[k], c.code[k]};
    std::sort(pulses.begin(), pulses.end());
    PulsePositions positions;
    std::uint32_t amp = 0;
    for (int n = 0; n < kPulses; ++n) {
        positions.at[n] = pulses[n].first;
        amp |= std::uint32_t(pulses[n].second) << (2 * (6 - n));
    }
    f.pos[q] = encodePositions(positions);
    f.amp[q] = std::uint16_t(amp);
    f.gain[q] = std::uint8_t(c.gain);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Encoder state

struct Encoder::State
{
    SynthesisState synth;           // the local decoder
    WeightingMemory errorMemory;    // W applied to speech minus synthesis
    WeightingMemory speechMemory;   // W applied to speech
    std::array<double, kOrder + 1> prevR{1, 0, 0, 0, 0, 0, 0, 0, 0}; // previous normalised autocorrelation
    std::array<float, kWindowPast> past{};                        // speech before the frame
    std::array<float, kPitchHistory + kFrameSamples> wsp{};       // weighted speech, frame at the end
    std::array<double, kWindowLength> window{};

    State()
    {
        // Asymmetric window: a raised-cosine rise to the peak, a quarter-cosine fall after it.
        for (int i = 0; i < kWindowLength; ++i) {
            if (i < kWindowPeak)
                window[i] = 0.54 - 0.46 * std::cos(std::numbers::pi * i / kWindowPeak);
            else
                window[i] = std::cos(0.5 * std::numbers::pi * (i - kWindowPeak) / (kWindowLength - kWindowPeak));
        }
    }
};

namespace {

// Per-subframe search context: everything that stays fixed while the candidates of a half are
// tried.
struct SubframeSetup
{
    const float* speech; // 60 samples
    Weighting w;
};

// The part of the state that a trial changes.
struct Trial
{
    SynthesisState synth;
    WeightingMemory errorMemory;
    FrameFields fields;
    double error = 0;
};

// The decoder's post-filter, without its rounding and saturation, applied in place to a signal
// that starts from zero state: FIR zeros A(z/0.55), IIR poles 1/A(z/0.75), then the tilt term
// and the 7/8 gain.
void postFilterModel(const Filter& f, int k1, Vec& x)
{
    Coeffs g, hh;
    for (int j = 0; j < kOrder; ++j) {
        g[j] = float((tables::ts_decay_35_64[j] * f[j]) >> 15) / 4096.0f;
        hh[j] = float((tables::ts_decay_3_4[j] * f[j]) >> 15) / 4096.0f;
    }
    const float tilt = float(k1 - (k1 >> 2)) / 65536.0f;
    Vec z, w;
    for (int n = 0; n < N; ++n) {
        float acc = x[n];
        for (int j = 0; j < kOrder && j < n; ++j)
            acc -= g[j] * x[n - 1 - j];
        z[n] = acc;
    }
    for (int n = 0; n < N; ++n) {
        float acc = z[n];
        for (int j = 0; j < kOrder && j < n; ++j)
            acc += hh[j] * w[n - 1 - j];
        w[n] = acc;
    }
    for (int n = 0; n < N; ++n)
        x[n] = 0.875f * (w[n] + (n > 0 ? tilt * w[n - 1] : 0.0f));
}

// Impulse response of synthesis 1/(1 - P(z)), post-filter and W, over one subframe.
Vec impulseResponse(const Filter& f, const Weighting& w, int k1)
{
    Coeffs p;
    for (int j = 0; j < kOrder; ++j)
        p[j] = f[j] / 4096.0f;
    Vec syn{};
    for (int n = 0; n < N; ++n) {
        float acc = n == 0 ? 1.0f : 0.0f;
        for (int j = 0; j < kOrder && j < n; ++j)
            acc += p[j] * syn[n - 1 - j];
        syn[n] = acc;
    }
    postFilterModel(f, k1, syn);
    Vec h;
    WeightingMemory m;
    weight(w, m, syn.data(), h.data(), N);
    return h;
}

struct LtpChoice
{
    int code = kNoLtp;
    Subframe v{};
    Vec response{}; // v through the subframe's weighted impulse response
};

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
        if (lag >= N)
            convolveShifted(h, ext.data() + kHistory - lag, yb, ya);
        else
            convolve(h, ext.data() + kHistory - 1 - lag, ya);
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

// Encodes subframe q of a trial with the given base lag and filter; advances the trial's state.
// `h` is the subframe's weighted impulse response, which depends only on the filter, so the
// caller works it out once for all the base lags it tries.
void encodeSubframe(Trial& t, int q, int base, const Filter& f, int k1, const SubframeSetup& setup, const Vec& h)
{
    // Target: weighted speech minus the weighted zero-input response of synthesis and
    // post-filter.
    std::array<std::int16_t, kOrder> m1 = t.synth.m1;
    SynthesisState copy = t.synth;
    const Subframe zir = postFilter(copy, f, k1, synthesize(m1, f, Subframe{}));
    Vec diff, x;
    for (int i = 0; i < N; ++i)
        diff[i] = setup.speech[i] - zir[i];
    WeightingMemory mem = t.errorMemory;
    weight(setup.w, mem, diff.data(), x.data(), N);

    const LtpChoice ltp = searchLtp(t.synth.hist, base, x, h);
    Vec t2 = x;
    if (ltp.code != kNoLtp) {
        for (int i = 0; i < N; ++i)
            t2[i] -= ltp.response[i];
    }
    PulseSearch search(t2, h);
    const PulseChoice pulses = search.run();

    t.fields.ltp[q] = std::uint8_t(ltp.code);
    packPulses(pulses, t.fields, q);

    // Commit through the decoder's arithmetic.
    const auto u = pulseVector(t.fields.pos[q], t.fields.amp[q], t.fields.gain[q]);
    const Subframe e = updateHistory(t.synth.hist, ltp.v, u);
    const Subframe out = postFilter(t.synth, f, k1, synthesize(t.synth.m1, f, e));
    Vec err, werr;
    for (int i = 0; i < N; ++i)
        err[i] = setup.speech[i] - out[i];
    weight(setup.w, t.errorMemory, err.data(), werr.data(), N);
    t.error += dot(werr.data(), werr.data());
}

// Open-loop pitch of a half frame: the lag with the largest normalised correlation of the
// weighted speech, preferring a sub-multiple that correlates nearly as well. Returns up to two
// distinct lag estimates, best first.
std::array<int, 2> openLoopPitch(const float* wsp /* half start; kPitchHistory samples before */)
{
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
        float c = 0;
        for (int n = 0; n < kHalfSamples; ++n)
            c += wsp[n] * wsp[n - lag];
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

int baseFor(int lag) { return std::clamp(lag - kMinLag - 2, 0, kMaxBasePlusFine - 4); }

} // namespace

Encoder::Encoder()
    : m_state(std::make_unique<State>())
{
}

Encoder::~Encoder() = default;
Encoder::Encoder(Encoder&&) noexcept = default;
Encoder& Encoder::operator=(Encoder&&) noexcept = default;

void Encoder::reset()
{
    m_state = std::make_unique<State>();
}

FrameFields Encoder::encodeFrame(std::span<const float, kInputSamples> samples)
{
    State& st = *m_state;

    // LPC analysis.
    std::array<double, kWindowLength> windowed;
    for (int i = 0; i < kWindowLength; ++i) {
        const float x = i < kWindowPast ? st.past[i] : samples[i - kWindowPast];
        windowed[i] = x * st.window[i];
    }
    std::array<double, kOrder + 1> r{};
    for (int lag = 0; lag <= kOrder; ++lag) {
        double acc = 0;
        for (int i = lag; i < kWindowLength; ++i)
            acc += windowed[i] * windowed[i - lag];
        r[lag] = acc;
    }
    if (r[0] < 1.0) {
        r.fill(0);
        r[0] = 1.0;
    }
    for (int lag = 1; lag <= kOrder; ++lag) {
        const double w = 2 * std::numbers::pi * kLagWindowHz * lag / kSampleRate;
        r[lag] *= std::exp(-0.5 * w * w) / r[0];
    }
    r[0] = 1.0001;

    std::array<double, kOrder> a, k;
    levinson(r, a, k);
    FrameFields fields;
    for (int i = 0; i < kOrder; ++i)
        fields.ki[i] = std::uint8_t(quantiseReflection(i, k[i]));
    const std::array<std::int16_t, kOrder> kq = reflectionCoefficients(fields.ki);
    const Filter cur = predictorCoefficients(kq);

    // Weighting filters per subframe from the autocorrelation interpolated between the previous
    // and this frame's analysis (whose window peaks near sample 180).
    std::array<SubframeSetup, kSubframes> setups;
    static constexpr std::array<double, kSubframes> kCurrentShare{0.375, 0.625, 0.875, 1.0};
    for (int q = 0; q < kSubframes; ++q) {
        std::array<double, kOrder + 1> rq;
        for (int i = 0; i <= kOrder; ++i)
            rq[i] = kCurrentShare[q] * r[i] + (1 - kCurrentShare[q]) * st.prevR[i];
        std::array<double, kOrder> aq, kk;
        levinson(rq, aq, kk);
        double g1 = 1, g2 = 1;
        for (int j = 0; j < kOrder; ++j) {
            g1 *= kGammaNum;
            g2 *= kGammaDen;
            setups[q].w.num[j] = float(aq[j] * g1);
            setups[q].w.den[j] = float(aq[j] * g2);
        }
        setups[q].speech = samples.data() + q * N;
    }

    // Weighted speech of the frame, for the open-loop pitch.
    std::memmove(st.wsp.data(), st.wsp.data() + kFrameSamples, kPitchHistory * sizeof(float));
    for (int q = 0; q < kSubframes; ++q)
        weight(setups[q].w, st.speechMemory, setups[q].speech, st.wsp.data() + kPitchHistory + q * N, N);

    Trial committed{st.synth, st.errorMemory, fields, 0};
    for (int half = 0; half < 2; ++half) {
        const auto lags = openLoopPitch(st.wsp.data() + kPitchHistory + half * kHalfSamples);
        std::array<int, kBaseCandidates> bases{};
        int baseCount = 0;
        auto addBase = [&](int b) {
            b = std::clamp(b, 0, kMaxBasePlusFine - 4);
            if (std::find(bases.begin(), bases.begin() + baseCount, b) == bases.begin() + baseCount && baseCount < kBaseCandidates)
                bases[baseCount++] = b;
        };
        addBase(baseFor(lags[0]));
        if (lags[1] >= 0)
            addBase(baseFor(lags[1]));
        addBase(baseFor(lags[0]) - 4);
        addBase(baseFor(lags[0]) + 4);

        Trial best;
        best.error = -1;
        for (int flag = 0; flag < (half == 0 ? 2 : 1); ++flag) {
            Trial start = committed;
            if (half == 0)
                start.fields.interpolate = flag != 0;
            const auto filters = subframeFilters(cur, st.synth.prev, start.fields.interpolate);
            std::array<Vec, 2> responses;
            for (int q = 2 * half; q < 2 * half + 2; ++q)
                responses[q - 2 * half] = impulseResponse(filters[q], setups[q].w, kq[0]);
            for (int b = 0; b < baseCount; ++b) {
                Trial t = start;
                if (half == 0)
                    t.fields.lagA = std::uint8_t(bases[b]);
                else
                    t.fields.lagB = std::uint8_t(bases[b]);
                for (int q = 2 * half; q < 2 * half + 2; ++q)
                    encodeSubframe(t, q, bases[b], filters[q], kq[0], setups[q], responses[q - 2 * half]);
                if (best.error < 0 || t.error < best.error)
                    best = t;
            }
        }
        committed = best;
    }

    st.synth = committed.synth;
    st.synth.prev = cur;
    st.errorMemory = committed.errorMemory;
    st.prevR = r;
    std::copy(samples.begin() + kFrameSamples - kWindowPast, samples.begin() + kFrameSamples, st.past.begin());
    return committed.fields;
}

// ---------------------------------------------------------------------------------------------
// Stream

namespace {

// DC blocker y[n] = x[n] - x[n-1] + R y[n-1], cut-off about 6 Hz. A steeper high-pass (hum
// removal at 60-80 Hz) shifts the phase of a low voice's fundamental so much that the waveform
// match, which is what the analysis by synthesis optimises, loses 2-3 dB.
constexpr double kDcPole = 0.995;

} // namespace

EncoderStream::EncoderStream()
{
    m_buffer.reserve(Encoder::kInputSamples);
}

float EncoderStream::removeDc(float x)
{
    const double y = x - m_hpX + kDcPole * m_hpY;
    m_hpX = x;
    m_hpY = y;
    return float(y);
}

void EncoderStream::encodeBufferedFrame(std::uint8_t* out)
{
    const FrameFields fields = m_encoder.encodeFrame(std::span<const float, Encoder::kInputSamples>(m_buffer.data(), Encoder::kInputSamples));
    const FrameBytes bytes = pack(fields);
    std::memcpy(out, bytes.data(), kFrameBytes);
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + kFrameSamples);
}

EncoderStream::Progress EncoderStream::write(std::span<const std::int16_t> samples, std::span<std::uint8_t> out)
{
    Progress progress;
    const std::size_t maxFrames = out.size() / kFrameBytes;
    std::size_t frames = 0;
    while (true) {
        const std::size_t need = Encoder::kInputSamples - m_buffer.size();
        const std::size_t left = samples.size() - progress.samplesUsed;
        if (left < need) {
            for (std::size_t i = 0; i < left; ++i)
                m_buffer.push_back(removeDc(samples[progress.samplesUsed + i]));
            progress.samplesUsed += left;
            break;
        }
        if (frames == maxFrames)
            break;
        for (std::size_t i = 0; i < need; ++i)
            m_buffer.push_back(removeDc(samples[progress.samplesUsed + i]));
        progress.samplesUsed += need;
        encodeBufferedFrame(out.data() + frames * kFrameBytes);
        ++frames;
    }
    progress.bytesWritten = frames * kFrameBytes;
    return progress;
}

void EncoderStream::write(std::span<const std::int16_t> samples, std::vector<std::uint8_t>& out)
{
    const std::size_t frames = (m_buffer.size() + samples.size()) / kFrameSamples + 1;
    const std::size_t start = out.size();
    out.resize(start + frames * kFrameBytes);
    const Progress p = write(samples, std::span<std::uint8_t>(out.data() + start, frames * kFrameBytes));
    out.resize(start + p.bytesWritten);
}

std::size_t EncoderStream::flushBytes() const
{
    return (m_buffer.size() + kFrameSamples - 1) / kFrameSamples * kFrameBytes;
}

std::size_t EncoderStream::flush(std::span<std::uint8_t> out)
{
    const std::size_t bytes = flushBytes();
    if (out.size() < bytes)
        return 0;
    std::size_t real = m_buffer.size();
    std::size_t written = 0;
    while (real > 0) {
        // Zeros after the DC blocker: zeros before it would make a step of any offset.
        m_buffer.resize(Encoder::kInputSamples, 0.0f);
        encodeBufferedFrame(out.data() + written);
        written += kFrameBytes;
        real = real > std::size_t(kFrameSamples) ? real - kFrameSamples : 0;
    }
    reset();
    return written;
}

void EncoderStream::flush(std::vector<std::uint8_t>& out)
{
    const std::size_t start = out.size();
    out.resize(start + flushBytes());
    flush(std::span<std::uint8_t>(out.data() + start, out.size() - start));
}

void EncoderStream::reset()
{
    m_encoder.reset();
    m_buffer.clear();
    m_hpX = m_hpY = 0;
}

std::size_t EncoderStream::maxBytesFor(std::size_t samples)
{
    // At most kInputSamples - 1 samples are held between calls.
    const std::size_t total = samples + Encoder::kInputSamples - 1;
    return (total + kFrameSamples - 1) / kFrameSamples * kFrameBytes;
}

} // namespace telvox::truespeech
