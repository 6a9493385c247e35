#pragma once

// Spectral analysis of the tone and silence analyser (internal to Fbs): the band filters, and
// the Hann-windowed Goertzel spectra of 40 ms frames, put together from 20 ms blocks.

#include "platform/tonsig/Fbs.h"

#include <array>
#include <cmath>
#include <numbers>

namespace telvox::tonsig::detail {

constexpr int kBlock = 160; // 20 ms: silence blocks, profile blocks and the frame step
constexpr int kFrame = 320; // 40 ms analysis frame: 25 Hz between Goertzel bins
constexpr int kBinLo = 10;  // 250 Hz
constexpr int kBinHi = 30;  // 750 Hz
constexpr int kBins = kBinHi - kBinLo + 1;
constexpr int kDftLo = kBinLo - 1; // one bin beyond each end, for the window's taps
constexpr int kDftBins = 24;       // 9..32 (31 is the last one used): a multiple of the vector width

// Second-order Butterworth section (bilinear transform).
class Biquad
{
public:
    static Biquad highPass(double cornerHz) { return Biquad(cornerHz, true); }
    static Biquad lowPass(double cornerHz) { return Biquad(cornerHz, false); }

    // Direct form I, grouped so that one multiplication and one subtraction lie on the
    // recursion's critical path.
    double process(double x)
    {
        const double y = (m_b0 * (x + m_x2) + m_b1 * m_x1 - m_a2 * m_y2) - m_a1 * m_y1;
        m_x2 = m_x1;
        m_x1 = x;
        m_y2 = m_y1;
        m_y1 = y;
        return y;
    }

private:
    Biquad(double cornerHz, bool high)
    {
        const double w0 = 2.0 * std::numbers::pi * cornerHz / kSampleRate;
        const double alpha = std::sin(w0) / std::numbers::sqrt2; // Q = 1/sqrt(2)
        const double c = std::cos(w0);
        const double a0 = 1.0 + alpha;
        const double edge = (high ? 1.0 + c : 1.0 - c) / 2.0;
        m_b0 = edge / a0; // b2 equals b0
        m_b1 = (high ? -2.0 : 2.0) * edge / a0;
        m_a1 = -2.0 * c / a0;
        m_a2 = (1.0 - alpha) / a0;
    }

    double m_b0, m_b1, m_a1, m_a2;
    double m_x1 = 0, m_x2 = 0, m_y1 = 0, m_y2 = 0;
};

// Per Goertzel bin (250..750 Hz), the share of a frame's windowed energy that lies in the bin
// (Parseval: the positive and negative halves of a real spectrum together hold N * energy).
using Spectrum = std::array<double, kBins>;

inline double at(const Spectrum &spectrum, int bin) { return spectrum[bin - kBinLo]; }

struct Frame
{
    double energy = 0; // windowed
    double rms = 0;    // not windowed
    Spectrum share{};
};

// One block on the frame's grid: DFT values at bins kDftLo.., and the sums of x^2, x^2 c and
// x^2 c^2 with c = halfCos, from which the Hann-windowed energy of either half frame follows.
struct BlockSpectrum
{
    std::array<double, kDftBins> re{}, im{};
    double s0 = 0, s1 = 0, s2 = 0;
};

// Transforms one 20 ms block (kBlock samples).
BlockSpectrum analyseBlock(const double *x);
// The frame made of blocks `a` and `b` (the next one).
Frame frameOf(const BlockSpectrum &a, const BlockSpectrum &b);

} // namespace telvox::tonsig::detail
