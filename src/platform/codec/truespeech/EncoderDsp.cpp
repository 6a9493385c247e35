#include "EncoderDsp.h"

#include "TrueSpeechTables.h"

namespace telvox::truespeech::enc {

namespace {

// A subframe signal with kOrder zeros before it, so that the filters below run every sample over
// all their taps (a tap on a zero adds nothing to a sum) in loops of fixed length.
struct Padded
{
    float data[kOrder + N]{};
    float* at() { return data + kOrder; }
};

// The decoder's post-filter, without its rounding and saturation, applied to a signal that
// starts from zero state: FIR zeros A(z/0.55), IIR poles 1/A(z/0.75), then the tilt term and the
// 7/8 gain.
void postFilterModel(const Filter& f, int k1, Padded& x)
{
    Coeffs g, hh;
    for (int j = 0; j < kOrder; ++j) {
        g[j] = float((tables::ts_decay_35_64[j] * f[j]) >> 15) / 4096.0f;
        hh[j] = float((tables::ts_decay_3_4[j] * f[j]) >> 15) / 4096.0f;
    }
    const float tilt = float(k1 - (k1 >> 2)) / 65536.0f;
    Padded w;
    float* xs = x.at();
    float* ws = w.at();
    float z[N];
    for (int n = 0; n < N; ++n) {
        float acc = xs[n];
        for (int j = 0; j < kOrder; ++j)
            acc -= g[j] * xs[n - 1 - j];
        z[n] = acc;
    }
    for (int n = 0; n < N; ++n) {
        // The newest output's term last, as in weight().
        float acc = z[n];
        for (int j = kOrder - 1; j >= 0; --j)
            acc += hh[j] * ws[n - 1 - j];
        ws[n] = acc;
    }
    for (int n = 0; n < N; ++n)
        xs[n] = 0.875f * (ws[n] + tilt * ws[n - 1]);
}

} // namespace

// Runs W over n samples, advancing the memory. The memories live in local arrays that the
// compiler keeps in registers; they shift by one element per sample without a library call.
void weight(const Weighting& w, WeightingMemory& m, const float* x, float* y, int n)
{
    Coeffs in = m.in, out = m.out;
    for (int i = 0; i < n; ++i) {
        // The terms of the older samples first, the one of the newest output last: the sum of
        // the others is ready when that output is.
        float acc = x[i] + w.num[0] * in[0];
#pragma GCC unroll 8
        for (int j = 1; j < kOrder; ++j)
            acc += w.num[j] * in[j] - w.den[j] * out[j];
        acc -= w.den[0] * out[0];
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
// vectorises. The inner loop starts at the multiple of 4 at or below k, over a copy of x with
// zeros before it: the extra terms are h[k] * 0, which change no sum, and every pass then works
// on whole, aligned groups of four outputs.
void convolve(const Vec& h, const float* x, Vec& y)
{
    constexpr int kPad = 4;
    alignas(16) float padded[kPad + N];
    alignas(16) float acc[N];
    for (int i = 0; i < kPad; ++i)
        padded[i] = 0.0f;
    for (int n = 0; n < N; ++n) {
        padded[kPad + n] = x[n];
        acc[n] = 0.0f;
    }
    const float* xp = padded + kPad;
    for (int k = 0; k < N; ++k) {
        const float hk = h[k];
        const float* xk = xp - k;
        for (int n = k & ~3; n < N; ++n)
            acc[n] += hk * xk[n];
    }
    for (int n = 0; n < N; ++n)
        y[n] = acc[n];
}

Vec impulseResponse(const Filter& f, const Weighting& w, int k1)
{
    Coeffs p;
    for (int j = 0; j < kOrder; ++j)
        p[j] = f[j] / 4096.0f;
    Padded syn;
    float* s = syn.at();
    for (int n = 0; n < N; ++n) {
        float acc = n == 0 ? 1.0f : 0.0f;
        for (int j = kOrder - 1; j >= 0; --j)
            acc += p[j] * s[n - 1 - j];
        s[n] = acc;
    }
    postFilterModel(f, k1, syn);
    Vec h;
    WeightingMemory m;
    weight(w, m, s, h.data(), N);
    return h;
}

ResponseCorrelation::ResponseCorrelation(const Vec& response)
    : h(response)
{
    // phi[i][j] = sum_{n=max(i,j)}^{59} h[n-i] h[n-j] is phi[i+1][j+1] plus one term,
    // h[59-i] h[59-j]: the rows are built upwards from the last, each whole row in one
    // vectorisable loop. (Each sum adds its terms in the same order as a running sum along the
    // diagonal, and phi[i][j] and phi[j][i] come out equal.)
    Vec reversed;
    for (int n = 0; n < N; ++n)
        reversed[n] = h[N - 1 - n];
    for (int j = 0; j < N; ++j)
        phi[N - 1][j] = reversed[N - 1] * reversed[j];
    for (int i = N - 2; i >= 0; --i) {
        const float hi = reversed[i];
        float* row = phi[i];
        const float* below = phi[i + 1];
        for (int j = 0; j < N - 1; ++j)
            row[j] = below[j + 1] + hi * reversed[j];
        row[N - 1] = hi * reversed[N - 1];
    }
    for (int i = 0; i < N; ++i)
        diag[i] = phi[i][i];
}

} // namespace telvox::truespeech::enc
