#include "PulseSearch.h"

#include "TrueSpeechTables.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace telvox::truespeech::enc {

namespace {

constexpr int kGainCandidates = 3;
constexpr int kDescentPasses = 3;
// One pass of replacements after the greedy growth: a second pass changed a position in few
// subframes and the coordinate descent that follows makes up for them.
constexpr int kReplacePasses = 1;

// Pulse amplitude code of a sign and a magnitude step (1x or 3x).
constexpr int pulseCode(bool negative, bool triple) { return (negative ? 2 : 0) | (triple ? 1 : 0); }

class PulseSearch
{
public:
    PulseSearch(const Vec& target, const ResponseCorrelation& response)
        : m_phi(response.phi)
        , m_diag(response.diag)
    {
        // d = H^T t: d[n] = sum_j h[j] t[n + j], with n the inner, vectorisable loop.
        const Vec& h = response.h;
        m_d.fill(0.0f);
        for (int j = 0; j < N; ++j) {
            const float hj = h[j];
            for (int n = 0; n < N - j; ++n)
                m_d[n] += hj * target[n + j];
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
    // Row i of the factor and of the forward substitution depends only on the positions 0..i, so
    // the rows of the longest prefix shared with the previous call are kept rather than worked
    // out again. The diagonal is kept as reciprocals: every division becomes a product.
    void solve(const int* pos, int count, double* beta) const
    {
        auto& a = m_factor;
        auto& inv = m_inverseDiagonal;
        auto& y = m_forward;
        int first = 0;
        while (first < std::min(count, m_factorRows) && m_factorPos[first] == pos[first])
            ++first;
        for (int i = first; i < count; ++i)
            m_factorPos[i] = pos[i];
        m_factorRows = count;
        for (int i = first; i < count; ++i) {
            const float* row = m_phi[pos[i]];
            for (int j = 0; j < i; ++j) {
                double s = row[pos[j]];
                for (int k = 0; k < j; ++k)
                    s -= a[i][k] * a[j][k];
                a[i][j] = s * inv[j];
            }
            double s = row[pos[i]];
            for (int k = 0; k < i; ++k)
                s -= a[i][k] * a[i][k];
            inv[i] = 1.0 / std::sqrt(std::max(s, 1e-9 + 1e-6 * row[pos[i]]));
            double f = m_d[pos[i]];
            for (int k = 0; k < i; ++k)
                f -= a[i][k] * y[k];
            y[i] = f * inv[i];
        }
        for (int i = count - 1; i >= 0; --i) {
            double s = y[i];
            for (int k = i + 1; k < count; ++k)
                s -= a[k][i] * beta[k];
            beta[i] = s * inv[i];
        }
    }

    // Residual correlation r = d - Phi beta of the pulses given, at positions lo..hi-1 only.
    void residual(const int* pos, const double* beta, int count, int lo, int hi, std::array<float, N>& r) const
    {
        for (int n = lo; n < hi; ++n)
            r[n] = m_d[n];
        for (int k = 0; k < count; ++k) {
            const float b = float(beta[k]);
            const auto& col = m_phi[pos[k]];
            for (int n = lo; n < hi; ++n)
                r[n] -= b * col[n];
        }
    }

    // Best free position of one half for one more pulse: max r^2 / phi. `blocked` is 0 at a free
    // position and minus infinity at an occupied one; the scores are worked out in one
    // vectorisable loop, then the first largest is taken.
    int bestFree(const std::array<float, N>& r, int half, const std::array<float, N>& blocked) const
    {
        const int lo = half * kHalfSubframe;
        std::array<float, kHalfSubframe> score;
        for (int i = 0; i < kHalfSubframe; ++i)
            score[i] = r[lo + i] * r[lo + i] / std::max(m_diag[lo + i], 1e-12f) + blocked[lo + i];
        int best = -1;
        float bestScore = -1;
        for (int i = 0; i < kHalfSubframe; ++i) {
            if (score[i] > bestScore) {
                bestScore = score[i];
                best = lo + i;
            }
        }
        return best;
    }

    // Positions with free amplitudes: greedy growth, then replacement passes.
    void choosePositions(std::array<int, kPulses>& pos, std::array<double, kPulses>& beta) const
    {
        constexpr float kBlocked = -std::numeric_limits<float>::infinity();
        std::array<float, N> blocked{};
        std::array<int, 2> room{kPulsesLow, kPulsesHigh};
        std::array<float, N> r;
        int count = 0;
        while (count < kPulses) {
            // Only the halves that still have room are scanned.
            residual(pos.data(), beta.data(), count, room[0] > 0 ? 0 : kHalfSubframe, room[1] > 0 ? N : kHalfSubframe, r);
            int best = -1;
            float bestScore = -1;
            for (int half = 0; half < 2; ++half) {
                if (room[half] == 0)
                    continue;
                const int p = bestFree(r, half, blocked);
                const float score = r[p] * r[p] / std::max(m_phi[p][p], 1e-12f);
                if (score > bestScore) {
                    bestScore = score;
                    best = p;
                }
            }
            pos[count++] = best;
            blocked[best] = kBlocked;
            --room[halfOf(best)];
            solve(pos.data(), count, beta.data());
        }
        for (int pass = 0; pass < kReplacePasses; ++pass) {
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
                const int half = halfOf(pos[k]);
                residual(others.data(), b.data(), m, half * kHalfSubframe, (half + 1) * kHalfSubframe, r);
                blocked[pos[k]] = 0;
                const int p = bestFree(r, half, blocked);
                blocked[p] = kBlocked;
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
        // 0 at a free position, infinity at one that holds a pulse: added to a candidate's
        // error, it keeps the position out of the scans.
        constexpr float kTaken = std::numeric_limits<float>::infinity();
        std::array<float, N> occupied{};
        for (int k = 0; k < kPulses; ++k) {
            u[k] = std::copysign(std::abs(beta[k]) > 2 * a ? 3 * a : a, float(beta[k]));
            occupied[pos[k]] = kTaken;
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
                // Without pulse k: r_w = r + Phi[:, p0] u0, E(w) = E(u) + 2 u0 r_w[p0] - u0^2 phi.
                // r_w is needed only over the pulse's half until the pulse actually moves.
                const auto& col0 = m_phi[p0];
                const int lo = halfOf(p0) * kHalfSubframe;
                std::array<float, kHalfSubframe> rw;
                for (int i = 0; i < kHalfSubframe; ++i)
                    rw[i] = r[lo + i] + u0 * col0[lo + i];
                const float ew = e + 2 * u0 * rw[p0 - lo] - u0 * u0 * m_phi[p0][p0];
                occupied[p0] = 0;
                // Error of the best amplitude at every position of the half, in one vectorisable
                // loop; then the first position that improves on the current error by 0.1 %.
                // Most scans find nothing better: the first test of the scan is made for all
                // positions at once (occupied ones have an infinite error), and the sequential
                // scan runs only when a position passes it.
                std::array<float, kHalfSubframe> cand;
                for (int i = 0; i < kHalfSubframe; ++i) {
                    const float rp = std::abs(rw[i]);
                    const float phi = m_diag[lo + i];
                    cand[i] = ew + std::min(-2 * a * rp + a * a * phi, -6 * a * rp + 9 * a * a * phi) + occupied[lo + i];
                }
                float bestE = e;
                const float firstBar = bestE - 1e-3f * std::abs(bestE);
                int passes = 0;
                for (int i = 0; i < kHalfSubframe; ++i)
                    passes |= int(cand[i] < firstBar);
                if (!passes) {
                    occupied[p0] = kTaken; // the pulse stays: r and E stay as they are
                    continue;
                }
                int bestP = p0;
                for (int i = 0; i < kHalfSubframe; ++i) {
                    if (cand[i] < bestE - 1e-3f * std::abs(bestE)) {
                        bestE = cand[i];
                        bestP = lo + i;
                    }
                }
                const float rp = std::abs(rw[bestP - lo]);
                const float phi = m_diag[bestP];
                const float m = -6 * a * rp + 9 * a * a * phi < -2 * a * rp + a * a * phi ? 3 * a : a;
                const float bestU = rw[bestP - lo] < 0 ? -m : m;
                changed = true;
                pos[k] = bestP;
                u[k] = bestU;
                occupied[bestP] = kTaken;
                const auto& col = m_phi[bestP];
                for (int n = 0; n < N; ++n)
                    r[n] += u0 * col0[n] - bestU * col[n];
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
    const float (&m_phi)[N][N];
    const Vec& m_diag;
    mutable double m_factor[kPulses][kPulses];
    mutable double m_inverseDiagonal[kPulses];
    mutable double m_forward[kPulses];
    mutable std::array<int, kPulses> m_factorPos{};
    mutable int m_factorRows = 0;
};

} // namespace

PulseChoice searchPulses(const Vec& target, const ResponseCorrelation& response)
{
    return PulseSearch(target, response).run();
}

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

} // namespace telvox::truespeech::enc
