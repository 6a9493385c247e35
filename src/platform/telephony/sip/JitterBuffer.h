#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

namespace telvox::sip {

// The receive side of a call's audio: 8000 Hz samples placed by their RTP timestamp, read
// out at the line's own pace. Packets may arrive late, twice, out of order or not at all;
// what is missing at read time is concealed (the last 20 ms repeated, fading out over three
// frames, then silence), what comes after its time is dropped, and the delay grows by the
// lateness (concealed too, so without a gap) so that the next stall of the same length costs
// nothing; it grows up to `maxDelay` less a packet. Reading
// starts `targetDelay` samples behind the first packet, which absorbs the network's jitter;
// when more waits than the delay, some slack and what the read takes (the sender's clock runs
// ahead, or nobody read for a while), the reader skips forward to the delay again (a reader
// catching up after its own stall loses nothing up to half the ring, about half a second), and a packet far outside the window (a new stream, a
// timestamp jump) starts the timeline afresh. put() runs on the stack's thread, read() on the
// audio thread: one mutex guards both.
class JitterBuffer
{
public:
    explicit JitterBuffer(std::uint32_t targetDelay = 480, std::uint32_t maxDelay = 2400);

    void put(std::uint32_t timestamp, std::span<const std::int16_t> samples);
    void read(std::span<std::int16_t> out);
    void reset();

    struct Stats
    {
        std::uint64_t received = 0;   // samples put
        std::uint64_t late = 0;       // samples dropped for arriving after their time
        std::uint64_t concealed = 0;  // samples read as a concealment once the stream had begun
                                      // (lost, or not yet there)
        std::uint64_t stretched = 0;  // concealed samples inserted to grow the delay
        std::uint32_t delay = 0;      // the delay aimed at now (samples)
        std::uint64_t skipped = 0;    // samples skipped to keep the delay bounded
        std::uint32_t restarts = 0;   // times the timeline started afresh
        std::uint64_t delaySum = 0;   // sum over reads of the samples waiting (for the mean)
        std::uint64_t reads = 0;
    };
    Stats stats() const;
    // Samples waiting ahead of the reader (the current delay the buffer adds).
    std::uint32_t depth() const;

private:
    static constexpr std::uint32_t kSize = 8192; // a power of two, about one second
    static constexpr std::uint32_t kSlack = 480; // what a read may find beyond the target
    static constexpr std::uint32_t kFrame = 160; // 20 ms: a packet, and what is repeated to conceal
    void restartAt(std::uint32_t timestamp);
    std::int16_t conceal();
    std::uint32_t depthLocked() const;

    mutable std::mutex m_mutex;
    const std::uint32_t m_target;
    const std::uint32_t m_max;
    std::vector<std::int16_t> m_samples = std::vector<std::int16_t>(kSize);
    std::vector<std::uint8_t> m_filled = std::vector<std::uint8_t>(kSize);
    bool m_started = false;
    bool m_playing = false; // the reader has reached the stream (silence before is no loss)
    std::uint32_t m_readPos = 0; // the RTP timestamp of the next sample read
    std::uint32_t m_highest = 0; // one past the newest sample put
    std::uint32_t m_delay = 0;   // the delay aimed at: the target, grown by late packets
    std::uint32_t m_stretch = 0; // samples still to insert before reading on (growing the delay)
    std::vector<std::int16_t> m_lastFrame = std::vector<std::int16_t>(160); // the last 20 ms read
    std::uint32_t m_lastPos = 0;  // where in m_lastFrame the next sample read goes
    std::uint32_t m_missing = 0;  // samples concealed in a row
    Stats m_stats;
};

} // namespace telvox::sip
