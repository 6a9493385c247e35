#include "TrueSpeechDecoder.h"

#include "TrueSpeechTables.h"

#include <algorithm>
#include <cstring>

namespace telvox::truespeech {

namespace {

// Two's-complement wrap-around to 16 and 32 bits, as integer stores do on every common compiler.
constexpr std::int16_t s16(std::int32_t x) { return std::int16_t(std::uint16_t(std::uint32_t(x))); }
constexpr std::int32_t s32(std::int64_t x) { return std::int32_t(std::uint32_t(std::uint64_t(x))); }
// Saturation used by the synthesis and the post-filter: +-32766, not 32767.
constexpr std::int32_t clip(std::int32_t x) { return std::clamp(x, -32766, 32766); }

constexpr const std::int16_t* kCodebooks[kOrder] = {
    tables::ts_cb_0, tables::ts_cb_1, tables::ts_cb_2, tables::ts_cb_3,
    tables::ts_cb_4, tables::ts_cb_5, tables::ts_cb_6, tables::ts_cb_7,
};

// Sum of eight products with 32-bit wrap-around, of the past values held oldest first at
// past[0..7] (past[7] is the newest) with the coefficients of lags 1..8.
inline std::int32_t dot8(const std::int32_t* past, const std::int32_t* b)
{
    std::uint32_t acc = 0;
#pragma GCC unroll 8
    for (int j = 0; j < kOrder; ++j)
        acc += std::uint32_t(past[kOrder - 1 - j] * b[j]);
    return std::int32_t(acc);
}

// The same sum in a recursive filter, where the newest value has just been worked out: it is
// passed in a register and its product added last, so that the other seven products (read from
// memory) are ready before it. (Integer sums: the order of the terms does not matter.)
inline std::int32_t dot8Recursive(const std::int32_t* past, std::int32_t newest, const std::int32_t* b)
{
    std::uint32_t acc = 0;
#pragma GCC unroll 8
    for (int j = kOrder - 1; j > 0; --j)
        acc += std::uint32_t(past[kOrder - 1 - j] * b[j]);
    return std::int32_t(acc + std::uint32_t(newest * b[0]));
}

// A filter memory (newest first) as the first kOrder entries of a history array (oldest first),
// and back from the array's last kOrder entries. The filters run over such arrays rather than
// shifting the memory at every sample.
template<std::size_t Size>
void toHistory(const std::array<std::int16_t, kOrder>& m, std::array<std::int32_t, Size>& history)
{
    for (int j = 0; j < kOrder; ++j)
        history[kOrder - 1 - j] = m[j];
}

template<std::size_t Size>
void fromHistory(const std::array<std::int32_t, Size>& history, std::array<std::int16_t, kOrder>& m)
{
    for (int j = 0; j < kOrder; ++j)
        m[j] = std::int16_t(history[Size - 1 - j]);
}

} // namespace

std::array<std::int16_t, kOrder> reflectionCoefficients(const std::array<std::uint8_t, kOrder>& ki)
{
    std::array<std::int16_t, kOrder> k{};
    for (int i = 0; i < kOrder; ++i)
        k[i] = kCodebooks[i][ki[i] & ((1 << kReflectionBits[i]) - 1)];
    return k;
}

Filter predictorCoefficients(const std::array<std::int16_t, kOrder>& k)
{
    Filter p{};
    for (int i = 0; i < kOrder; ++i) {
        const Filter old = p;
        for (int j = 0; j < i; ++j)
            p[j] = s16(p[j] + ((old[i - 1 - j] * k[i] + 0x4000) >> 15));
        p[i] = s16((8 - k[i]) >> 3);
    }
    for (int j = 0; j < kOrder; ++j)
        p[j] = s16((p[j] * tables::ts_decay_994_1000[j]) >> 15);
    return p;
}

std::array<Filter, kSubframes> subframeFilters(const Filter& cur, const Filter& prev, bool interpolate)
{
    std::array<Filter, kSubframes> f{prev, prev, cur, cur};
    if (interpolate) {
        for (int i = 0; i < kOrder; ++i) {
            f[0][i] = s16((cur[i] * 21846 + prev[i] * 10923 + 16384) >> 15);
            f[1][i] = s16((cur[i] * 10923 + prev[i] * 21846 + 16384) >> 15);
        }
    }
    return f;
}

Subframe longTermPredictionAt(const std::array<std::int32_t, kHistory>& hist, int lag, int tapPair)
{
    const int c0 = tables::ts_order2_coeffs[tapPair][0];
    const int c1 = tables::ts_order2_coeffs[tapPair][1];
    std::array<std::int16_t, kHistory + kSubframeSamples> x;
    for (int i = 0; i < kHistory; ++i)
        x[i] = s16(hist[i]);
    Subframe v;
    for (int i = 0; i < kSubframeSamples; ++i) {
        const std::int32_t t = (x[145 - lag + i] * c0 + x[146 - lag + i] * c1 + 0x2000) >> 14;
        v[i] = s16(t);
        x[146 + i] = v[i];
    }
    return v;
}

Subframe longTermPrediction(const std::array<std::int32_t, kHistory>& hist, int base, int ltpCode)
{
    if (ltpCode == kNoLtp)
        return Subframe{};
    const int lag = std::min(kMaxLag, kMinLag + base + ltpCode / 25);
    return longTermPredictionAt(hist, lag, ltpCode % 25);
}

std::array<std::int32_t, kSubframeSamples> pulseVector(std::uint32_t pos, std::uint16_t amp, int gain)
{
    std::array<std::int32_t, kSubframeSamples> u{};
    std::array<int, kPulses> at{};
    const int low = combinationFromIndex(pos >> 15, kPulsesLow, std::span<int>(at.data(), kPulsesLow));
    const int high = combinationFromIndex(pos & 0x7FFF, kPulsesHigh, std::span<int>(at.data() + low, kPulsesHigh));
    for (int n = low; n < low + high; ++n)
        at[n] += kHalfSubframe;
    // The n-th placed pulse takes the n-th code from the top. With out-of-range indices fewer
    // pulses are placed, and the codes are still taken in that order.
    for (int n = 0; n < low + high; ++n) {
        const int code = (amp >> (2 * (6 - n))) & 3;
        u[at[n]] = tables::ts_pulse_scales[gain & 15][code];
    }
    return u;
}

Subframe updateHistory(std::array<std::int32_t, kHistory>& hist, const Subframe& v,
                       const std::array<std::int32_t, kSubframeSamples>& u)
{
    std::memmove(hist.data(), hist.data() + kSubframeSamples, (kHistory - kSubframeSamples) * sizeof(std::int32_t));
    Subframe e;
    for (int i = 0; i < kSubframeSamples; ++i) {
        hist[kHistory - kSubframeSamples + i] = u[i] + v[i] - (v[i] >> 3);
        e[i] = s16(u[i] + v[i]);
    }
    return e;
}

Subframe synthesize(std::array<std::int16_t, kOrder>& m1, const Filter& f, const Subframe& e)
{
    std::array<std::int32_t, kOrder> coeff;
    for (int j = 0; j < kOrder; ++j)
        coeff[j] = f[j];
    // The memory and the outputs in one array, oldest first: y[i - 1 - j] is at kOrder - 1 + i - j.
    std::array<std::int32_t, kOrder + kSubframeSamples> y;
    toHistory(m1, y);
    std::int32_t newest = y[kOrder - 1];
    for (int i = 0; i < kSubframeSamples; ++i) {
        const std::int32_t acc = dot8Recursive(y.data() + i, newest, coeff.data());
        newest = clip(e[i] + (s32(std::int64_t(acc) + 0x800) >> 12));
        y[kOrder + i] = newest;
    }
    fromHistory(y, m1);
    Subframe s;
    for (int i = 0; i < kSubframeSamples; ++i)
        s[i] = std::int16_t(y[kOrder + i]);
    return s;
}

Subframe postFilter(SynthesisState& state, const Filter& f, int k1, const Subframe& s)
{
    std::array<std::int32_t, kOrder> g;
    std::array<std::int32_t, kOrder> h;
    for (int j = 0; j < kOrder; ++j) {
        g[j] = (tables::ts_decay_35_64[j] * f[j]) >> 15;
        h[j] = (tables::ts_decay_3_4[j] * f[j]) >> 15;
    }
    // FIR part: its input is known in advance, so every output is worked out independently
    // (integer sums: the order of the terms does not matter).
    std::array<std::int32_t, kOrder + kSubframeSamples> x;
    toHistory(state.m2, x);
    for (int i = 0; i < kSubframeSamples; ++i)
        x[kOrder + i] = s[i];
    std::array<std::int32_t, kSubframeSamples> z;
    for (int i = 0; i < kSubframeSamples; ++i)
        z[i] = s16(s[i] + (s32(-std::int64_t(dot8(x.data() + i, g.data()))) >> 12));
    fromHistory(x, state.m2);

    // IIR part with the tilt term.
    const std::int32_t t = k1 - (k1 >> 2);
    std::array<std::int32_t, kOrder + kSubframeSamples> w;
    toHistory(state.m3, w);
    Subframe out;
    std::int32_t newest = w[kOrder - 1];
    for (int i = 0; i < kSubframeSamples; ++i) {
        std::int32_t acc = s32(std::int64_t(std::uint32_t(z[i]) << 12) + dot8Recursive(w.data() + i, newest, h.data()));
        const std::int32_t previous = newest;
        newest = clip(s32(std::int64_t(acc) + 0x800) >> 12);
        w[kOrder + i] = newest;
        acc = s32(std::int64_t((previous * t) >> 4) + acc);
        acc = s32(std::int64_t(acc) - (acc >> 3));
        out[i] = std::int16_t(clip(s32(std::int64_t(acc) + 0x800) >> 12));
    }
    fromHistory(w, state.m3);
    return out;
}

void Decoder::decode(std::span<const std::uint8_t, kFrameBytes> frame, std::span<std::int16_t, kFrameSamples> out)
{
    decode(unpack(frame), out);
}

void Decoder::decode(const FrameFields& fields, std::span<std::int16_t, kFrameSamples> out)
{
    const auto k = reflectionCoefficients(fields.ki);
    const Filter cur = predictorCoefficients(k);
    const auto filters = subframeFilters(cur, m_state.prev, fields.interpolate);
    for (int q = 0; q < kSubframes; ++q) {
        const int base = q < 2 ? fields.lagA : fields.lagB;
        const Subframe v = longTermPrediction(m_state.hist, base, fields.ltp[q]);
        const auto u = pulseVector(fields.pos[q], fields.amp[q], fields.gain[q]);
        const Subframe e = updateHistory(m_state.hist, v, u);
        const Subframe s = synthesize(m_state.m1, filters[q], e);
        const Subframe y = postFilter(m_state, filters[q], k[0], s);
        std::copy(y.begin(), y.end(), out.begin() + q * kSubframeSamples);
    }
    m_state.prev = cur;
}

} // namespace telvox::truespeech
