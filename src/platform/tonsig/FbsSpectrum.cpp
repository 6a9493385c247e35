#include "platform/tonsig/FbsSpectrum.h"

#include <cmath>
#include <numbers>

namespace telvox::tonsig::detail {

namespace {

// The frames' spectra are put together from their two 20 ms blocks: the unwindowed DFT of a
// frame on its 320-point grid is the first block's plus (-1)^k times the second's, both
// taken on that grid, and the Hann window in the time domain is a three-tap filter across
// the bins. So each block is transformed once instead of twice, and the windowing costs
// three bins instead of 320 multiplications. The result equals a Goertzel filter per bin
// over each windowed frame up to rounding.

struct Tables
{
    alignas(16) std::array<float, kDftBins> coefficientF{}; // 2 cos(w) of each bin, w = 2 pi k / 320
    std::array<double, kDftBins> cosW{}, sinW{};
    std::array<double, kDftBins> cosEnd{}, sinEnd{}; // of w (160 - 1): back to the block's start
    std::array<double, kBlock> halfCos{}; // cos(2 pi (i + 0.5) / 320) over the first half frame
    double tapRe = 0, tapIm = 0;          // 0.25 e^(j pi / 320): the Hann window's side taps
};

const Tables &tables()
{
    static const Tables t = [] {
        Tables built;
        for (int k = 0; k < kDftBins; ++k) {
            const double w = 2.0 * std::numbers::pi * (kDftLo + k) / kFrame;
            built.coefficientF[k] = static_cast<float>(2.0 * std::cos(w));
            built.cosW[k] = std::cos(w);
            built.sinW[k] = std::sin(w);
            built.cosEnd[k] = std::cos(w * (kBlock - 1));
            built.sinEnd[k] = std::sin(w * (kBlock - 1));
        }
        for (int i = 0; i < kBlock; ++i)
            built.halfCos[i] = std::cos(2.0 * std::numbers::pi * (i + 0.5) / kFrame);
        built.tapRe = 0.25 * std::cos(std::numbers::pi / kFrame);
        built.tapIm = 0.25 * std::sin(std::numbers::pi / kFrame);
        return built;
    }();
    return t;
}

} // namespace

BlockSpectrum analyseBlock(const double *x)
{
    const Tables &t = tables();
    BlockSpectrum out;
    // All bins side by side in single precision, so that the loop over them runs four bins
    // to a vector instruction with its state in registers; the recursion is written so that
    // only one multiplication and one addition lie on its critical path. Over one block the
    // rounding stays near 1e-6 of the bin's amplitude.
    alignas(16) float f1[kDftBins] = {}, f2[kDftBins] = {};
    for (int i = 0; i < kBlock; ++i) {
        const auto xi = static_cast<float>(x[i]);
#pragma GCC unroll 24
        for (int k = 0; k < kDftBins; ++k) {
            const float f0 = (xi - f2[k]) + t.coefficientF[k] * f1[k];
            f2[k] = f1[k];
            f1[k] = f0;
        }
    }
    std::array<double, kDftBins> z1, z2;
    for (int k = 0; k < kDftBins; ++k) {
        z1[k] = f1[k];
        z2[k] = f2[k];
    }
    for (int i = 0; i < kBlock; ++i) {
        const double e = x[i] * x[i];
        const double c = t.halfCos[i];
        out.s0 += e;
        out.s1 += e * c;
        out.s2 += e * c * c;
    }
    // Goertzel: y = z1 - e^(-jw) z2 = sum x[n] e^(jw(N-1-n)); the DFT is e^(-jw(N-1)) y.
    for (int k = 0; k < kDftBins; ++k) {
        const double yRe = z1[k] - t.cosW[k] * z2[k];
        const double yIm = t.sinW[k] * z2[k];
        out.re[k] = t.cosEnd[k] * yRe + t.sinEnd[k] * yIm;
        out.im[k] = t.cosEnd[k] * yIm - t.sinEnd[k] * yRe;
    }
    return out;
}

Frame frameOf(const BlockSpectrum &a, const BlockSpectrum &b)
{
    const Tables &t = tables();
    Frame f;
    f.rms = std::sqrt((a.s0 + b.s0) / kFrame);
    f.energy = 0.25 * ((a.s0 - 2.0 * a.s1 + a.s2) + (b.s0 + 2.0 * b.s1 + b.s2));
    if (f.energy <= 0)
        return f;
    std::array<double, kDftBins> re, im;
    for (int k = 0; k < kDftBins; ++k) {
        const double sign = (kDftLo + k) % 2 == 0 ? 1.0 : -1.0;
        re[k] = a.re[k] + sign * b.re[k];
        im[k] = a.im[k] + sign * b.im[k];
    }
    // Hann: W[k] = X[k] / 2 - e^(j pi/N) X[k-1] / 4 - e^(-j pi/N) X[k+1] / 4.
    for (int k = 0; k < kBins; ++k) {
        const int m = k + kBinLo - kDftLo;
        const double wRe = 0.5 * re[m] - (t.tapRe * re[m - 1] - t.tapIm * im[m - 1]) - (t.tapRe * re[m + 1] + t.tapIm * im[m + 1]);
        const double wIm = 0.5 * im[m] - (t.tapRe * im[m - 1] + t.tapIm * re[m - 1]) - (t.tapRe * im[m + 1] - t.tapIm * re[m + 1]);
        f.share[k] = 2.0 * (wRe * wRe + wIm * wIm) / (kFrame * f.energy);
    }
    return f;
}

} // namespace telvox::tonsig::detail
