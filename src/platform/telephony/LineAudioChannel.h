#pragma once

#include <cstdint>
#include <span>

namespace telvox {

// The audio path of one telephone line, 8000 Hz 16-bit mono, as the wave devices of the line
// see it ("wave/in" reads from the line, "wave/out" plays into it). Samples are pulled and
// pushed in any block size; the line keeps its own sample clock.
class LineAudioChannel
{
public:
    virtual ~LineAudioChannel() = default;

    // The next out.size() samples that the line carries to the computer.
    virtual void readFromLine(std::span<std::int16_t> out) = 0;
    // Samples the computer plays into the line.
    virtual void writeToLine(std::span<const std::int16_t> samples) = 0;
};

} // namespace telvox
