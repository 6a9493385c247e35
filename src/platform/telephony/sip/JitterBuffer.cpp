#include "platform/telephony/sip/JitterBuffer.h"

#include <algorithm>

namespace telvox::sip {

namespace {
// Signed distance from `a` to `b` on the wrapping 32-bit timestamp line.
std::int32_t ahead(std::uint32_t from, std::uint32_t to) { return static_cast<std::int32_t>(to - from); }
} // namespace

JitterBuffer::JitterBuffer(std::uint32_t targetDelay, std::uint32_t maxDelay)
    : m_target(std::min<std::uint32_t>(targetDelay, kSize / 4))
    , m_max(std::clamp<std::uint32_t>(maxDelay, m_target + 160, kSize / 2))
    , m_delay(m_target)
{
}

// A sample for a gap: the last frame heard, repeated, each repetition half as loud, silence
// after the third. A lost packet in speech then sounds like a held syllable, not a click.
std::int16_t JitterBuffer::conceal()
{
    const std::uint32_t frame = m_missing / kFrame;
    ++m_missing;
    const std::int16_t held = m_lastFrame[m_lastPos];
    m_lastPos = (m_lastPos + 1) % kFrame;
    return frame >= 3 ? std::int16_t{0} : static_cast<std::int16_t>(held >> (frame + 1));
}

void JitterBuffer::restartAt(std::uint32_t timestamp)
{
    std::fill(m_filled.begin(), m_filled.end(), std::uint8_t{0});
    m_readPos = timestamp - m_delay;
    m_highest = timestamp;
    m_playing = false;
    if (m_started)
        ++m_stats.restarts;
    m_started = true;
}

void JitterBuffer::put(std::uint32_t timestamp, std::span<const std::int16_t> samples)
{
    if (samples.empty())
        return;
    const std::lock_guard lock(m_mutex);
    const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(samples.size(), kSize / 2));
    m_stats.received += count;
    if (!m_started) {
        restartAt(timestamp);
    } else {
        const std::int32_t offset = ahead(m_readPos, timestamp);
        // Far behind the reader or far ahead of it: a new timeline.
        if (offset + static_cast<std::int32_t>(count) < -static_cast<std::int32_t>(kSize / 2)
            || offset > static_cast<std::int32_t>(kSize / 2))
            restartAt(timestamp);
        // The newest packet, yet wholly behind the reader: the sender's clock runs slow or the
        // stream paused. Read it after the target delay rather than dropping every packet.
        else if (offset + static_cast<std::int32_t>(count) <= 0 && ahead(m_highest, timestamp) >= 0) {
            if (m_playing) {
                // A stall (here or on the way): the packets held up arrive in a burst, and
                // the reader has concealed the time they were missing. It goes on with this
                // one at once, so nothing more is lost, and the burst behind it makes the
                // delay that absorbs the next stall; the skip below keeps it at most the
                // grown delay plus the slack.
                const auto late = static_cast<std::uint32_t>(-offset);
                m_delay = std::min<std::uint32_t>(m_delay + (late + kFrame - 1) / kFrame * kFrame, m_max - kFrame);
                m_readPos = timestamp;
            } else {
                m_readPos = timestamp - m_delay;
                ++m_stats.restarts;
            }
        }
    }
    // The newest packet came after its time (the network or this machine stalled): its late
    // part is lost, but the delay grows by that much, up to the maximum less a packet, so that
    // a stall of the same length no longer loses anything. The reader inserts the growth as
    // concealment before it reads on.
    if (m_playing && ahead(m_highest, timestamp) >= 0 && ahead(m_readPos, timestamp) < 0) {
        const std::uint32_t late = static_cast<std::uint32_t>(-ahead(m_readPos, timestamp));
        const std::uint32_t grown = std::min<std::uint32_t>(m_delay + (late + kFrame - 1) / kFrame * kFrame,
                                                            m_max - kFrame);
        if (grown > m_delay) {
            m_stretch += grown - m_delay;
            m_delay = grown;
        }
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t ts = timestamp + i;
        if (ahead(m_readPos, ts) < 0) {
            ++m_stats.late;
            continue;
        }
        m_samples[ts & (kSize - 1)] = samples[i];
        m_filled[ts & (kSize - 1)] = 1;
    }
    if (ahead(m_highest, timestamp + count) > 0)
        m_highest = timestamp + count;
    // Nobody reads (no recording yet), or the reader stalls long: the ring must not wrap onto
    // what waits. A reader that stalls for less than half the ring catches up and loses nothing
    // (its next read takes everything due); a sender running ahead is held to the delay by
    // read().
    if (depthLocked() > std::max(m_max, kSize / 2)) {
        const std::uint32_t newPos = m_highest - m_delay;
        for (std::uint32_t ts = m_readPos; ts != newPos; ++ts)
            m_filled[ts & (kSize - 1)] = 0;
        m_stats.skipped += newPos - m_readPos;
        m_readPos = newPos;
    }
}

void JitterBuffer::read(std::span<std::int16_t> out)
{
    const std::lock_guard lock(m_mutex);
    if (!m_started) {
        std::fill(out.begin(), out.end(), std::int16_t{0});
        return;
    }
    // Latency built up while nobody read (before the recording started), in a burst of packets
    // or by a sender whose clock runs ahead is given up at once: keep the delay near the
    // target. What this read takes is not latency: a reader catching up after a stall of its
    // own (the wave device's tick came late) asks for all it missed in one read.
    if (m_stretch == 0 && depthLocked() > m_delay + kSlack + static_cast<std::uint32_t>(out.size())) {
        const std::uint32_t newPos = m_highest - m_delay;
        for (std::uint32_t ts = m_readPos; ts != newPos; ++ts)
            m_filled[ts & (kSize - 1)] = 0;
        m_stats.skipped += newPos - m_readPos;
        m_readPos = newPos;
    }
    m_stats.delaySum += depthLocked();
    ++m_stats.reads;
    for (auto &sample : out) {
        if (m_stretch > 0 && m_playing) {
            // Growing the delay: the reader holds its place for a moment.
            sample = conceal();
            --m_stretch;
            ++m_stats.stretched;
            continue;
        }
        m_stretch = 0;
        const std::uint32_t slot = m_readPos & (kSize - 1);
        if (m_filled[slot]) {
            sample = m_samples[slot];
            m_filled[slot] = 0;
            m_playing = true;
            m_missing = 0;
            m_lastFrame[m_lastPos] = sample;
            m_lastPos = (m_lastPos + 1) % kFrame;
        } else if (m_playing) {
            // Lost, or not here yet (the reader ran out: a stall, or the stream's end).
            sample = conceal();
            ++m_stats.concealed;
        } else {
            sample = 0;
        }
        ++m_readPos;
    }
}

void JitterBuffer::reset()
{
    const std::lock_guard lock(m_mutex);
    std::fill(m_filled.begin(), m_filled.end(), std::uint8_t{0});
    std::fill(m_lastFrame.begin(), m_lastFrame.end(), std::int16_t{0});
    m_started = false;
    m_delay = m_target;
    m_stretch = 0;
    m_missing = 0;
    m_stats = {};
}

std::uint32_t JitterBuffer::depthLocked() const
{
    const std::int32_t d = ahead(m_readPos, m_highest);
    return d > 0 ? static_cast<std::uint32_t>(d) : 0;
}

std::uint32_t JitterBuffer::depth() const
{
    const std::lock_guard lock(m_mutex);
    return depthLocked();
}

JitterBuffer::Stats JitterBuffer::stats() const
{
    const std::lock_guard lock(m_mutex);
    Stats s = m_stats;
    s.delay = m_delay;
    return s;
}

} // namespace telvox::sip
