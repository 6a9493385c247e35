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
{
}

void JitterBuffer::restartAt(std::uint32_t timestamp)
{
    std::fill(m_filled.begin(), m_filled.end(), std::uint8_t{0});
    m_readPos = timestamp - m_target;
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
            m_readPos = timestamp - m_target;
            m_playing = false;
            ++m_stats.restarts;
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
    // The sender runs ahead of the reader: keep the delay bounded.
    if (depthLocked() > m_max) {
        const std::uint32_t newPos = m_highest - m_target;
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
    // Latency built up while nobody read (before the recording started) or in a burst of
    // packets is given up at once: keep the delay near the target.
    if (depthLocked() > m_target + kSlack) {
        const std::uint32_t newPos = m_highest - m_target;
        for (std::uint32_t ts = m_readPos; ts != newPos; ++ts)
            m_filled[ts & (kSize - 1)] = 0;
        m_stats.skipped += newPos - m_readPos;
        m_readPos = newPos;
    }
    m_stats.delaySum += depthLocked();
    ++m_stats.reads;
    for (auto &sample : out) {
        const std::uint32_t slot = m_readPos & (kSize - 1);
        if (m_filled[slot]) {
            sample = m_samples[slot];
            m_filled[slot] = 0;
            m_playing = true;
        } else {
            sample = 0;
            if (m_playing && ahead(m_readPos, m_highest) > 0)
                ++m_stats.concealed;
        }
        ++m_readPos;
    }
}

void JitterBuffer::reset()
{
    const std::lock_guard lock(m_mutex);
    std::fill(m_filled.begin(), m_filled.end(), std::uint8_t{0});
    m_started = false;
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
    return m_stats;
}

} // namespace telvox::sip
