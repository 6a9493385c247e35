#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace telvox::sim {

// Sample rate of everything that plays to or from a simulated line: 8000 Hz, 16-bit mono.
inline constexpr int kLineSampleRate = 8000;

// A stateful audio source that is pulled from: every read continues exactly where the last one
// stopped, whatever the sizes of the reads, so that one second read in one piece or in many
// small pieces gives the same samples.
class SampleSource
{
public:
    virtual ~SampleSource() = default;

    // Writes the next out.size() samples.
    virtual void read(std::span<std::int16_t> out) = 0;

    // The next `count` samples as a vector.
    std::vector<std::int16_t> next(std::size_t count)
    {
        std::vector<std::int16_t> samples(count);
        read(samples);
        return samples;
    }
};

// Rounds and clamps to the 16-bit range.
inline std::int16_t toSample(double value)
{
    if (value >= 32767.0)
        return 32767;
    if (value <= -32768.0)
        return -32768;
    return static_cast<std::int16_t>(value < 0 ? value - 0.5 : value + 0.5);
}

} // namespace telvox::sim
