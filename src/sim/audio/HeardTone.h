#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace telvox::sim {

// Where a stretch of recorded line audio lies in time: the sample at `offset` was heard at
// `atMs`; the samples after it follow at 8000 Hz up to the next mark.
struct AudioMark
{
    std::size_t offset = 0;
    std::int64_t atMs = 0;
};

// The strongest frequency of 100 ms of line audio (8000 Hz), in 10 Hz steps from 100 Hz to
// 3900 Hz; 0 for near silence.
double strongestFrequency(std::span<const std::int16_t> frame);

// Whether, between fromMs and toMs, the audio held a signal whose strongest frequency was
// within 3 % of `hz` for at least `minMs` without a break.
bool heardTone(std::span<const std::int16_t> samples, std::span<const AudioMark> marks, std::int64_t fromMs,
               std::int64_t toMs, double hz, std::int64_t minMs = 500);

} // namespace telvox::sim
