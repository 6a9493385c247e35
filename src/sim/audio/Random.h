#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>

namespace telvox::sim {

// Small deterministic random generator (splitmix64), so that a seed gives the same signal on
// every platform and standard library.
class Random
{
public:
    explicit Random(std::uint64_t seed)
        : m_state(seed)
    {
    }

    std::uint64_t nextBits()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1).
    double uniform() { return static_cast<double>(nextBits() >> 11) * 0x1.0p-53; }
    // Uniform in [lo, hi).
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    // Standard normal (Box-Muller; the second value of each pair is kept for the next call).
    double gaussian()
    {
        if (m_hasSpare) {
            m_hasSpare = false;
            return m_spare;
        }
        const double u = 1.0 - uniform(); // (0, 1]
        const double v = uniform();
        const double r = std::sqrt(-2.0 * std::log(u));
        m_spare = r * std::sin(2.0 * std::numbers::pi * v);
        m_hasSpare = true;
        return r * std::cos(2.0 * std::numbers::pi * v);
    }

private:
    std::uint64_t m_state;
    double m_spare = 0;
    bool m_hasSpare = false;
};

} // namespace telvox::sim
