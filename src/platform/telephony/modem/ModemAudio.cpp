#include "platform/telephony/modem/ModemAudio.h"

#include <algorithm>
#include <cstring>

namespace telvox::modem {

// --- wave in -------------------------------------------------------------------------------

ModemWaveIn::ModemWaveIn(WaveCallback callback, std::function<void()> changed, std::function<void()> detached)
    : m_queue(std::move(callback))
    , m_changed(std::move(changed))
    , m_detached(std::move(detached))
{
}

ModemWaveIn::~ModemWaveIn()
{
    if (m_detached)
        m_detached();
}

WaveResult ModemWaveIn::addBuffer(WaveBuffer &b)
{
    if (m_closed)
        return MMSYSERR_INVALHANDLE;
    if (const WaveResult r = m_queue.add(b); r != MMSYSERR_NOERROR)
        return r;
    if (!m_pending.empty()) {
        const std::vector<std::int16_t> pending(m_pending.begin(), m_pending.end());
        m_pending.clear();
        deliver(pending);
    }
    return MMSYSERR_NOERROR;
}

WaveResult ModemWaveIn::start()
{
    if (m_closed)
        return MMSYSERR_INVALHANDLE;
    if (!m_running) {
        m_running = true;
        if (m_changed)
            m_changed();
    }
    return MMSYSERR_NOERROR;
}

WaveResult ModemWaveIn::reset()
{
    if (m_closed)
        return MMSYSERR_INVALHANDLE;
    const bool was = m_running;
    m_running = false;
    m_pending.clear();
    m_queue.returnAll();
    if (was && m_changed)
        m_changed();
    return MMSYSERR_NOERROR;
}

WaveResult ModemWaveIn::close()
{
    if (m_closed)
        return MMSYSERR_INVALHANDLE;
    if (!m_queue.empty())
        return WAVERR_STILLPLAYING;
    m_closed = true;
    m_running = false;
    if (m_detached) {
        auto detached = std::move(m_detached);
        m_detached = nullptr;
        detached();
    }
    m_queue.notify(WaveMessage::Close);
    return MMSYSERR_NOERROR;
}

void ModemWaveIn::deliver(std::span<const std::int16_t> samples)
{
    if (!running())
        return;
    std::size_t at = m_queue.fill(samples);
    constexpr std::size_t kPendingLimit = 8000;
    for (; at < samples.size(); ++at) {
        if (m_pending.size() >= kPendingLimit)
            m_pending.pop_front();
        m_pending.push_back(samples[at]);
    }
}

void ModemWaveIn::lineGone()
{
    m_detached = nullptr;
    m_changed = nullptr;
    m_running = false;
    m_queue.returnAll();
}

// --- wave out ------------------------------------------------------------------------------

ModemWaveOut::ModemWaveOut(WaveCallback callback, std::function<void()> changed, std::function<void()> aborted,
                           std::function<void()> detached)
    : m_callback(std::move(callback))
    , m_changed(std::move(changed))
    , m_aborted(std::move(aborted))
    , m_detached(std::move(detached))
{
}

ModemWaveOut::~ModemWaveOut()
{
    if (m_detached)
        m_detached();
}

WaveResult ModemWaveOut::write(WaveBuffer &b)
{
    if (!b.prepared)
        return WAVERR_UNPREPARED;
    if (m_closed)
        return MMSYSERR_INVALHANDLE;
    b.done = false;
    b.queued = true;
    m_queue.push_back({&b, 0, false});
    if (m_changed)
        m_changed();
    return MMSYSERR_NOERROR;
}

WaveResult ModemWaveOut::reset()
{
    if (m_closed)
        return MMSYSERR_INVALHANDLE;
    const bool wasPlaying = !m_queue.empty();
    m_offset = 0;
    while (!m_queue.empty())
        returnFront();
    if (wasPlaying && m_aborted)
        m_aborted();
    return MMSYSERR_NOERROR;
}

WaveResult ModemWaveOut::close()
{
    if (m_closed)
        return MMSYSERR_INVALHANDLE;
    if (!m_queue.empty())
        return WAVERR_STILLPLAYING;
    m_closed = true;
    if (m_detached) {
        auto detached = std::move(m_detached);
        m_detached = nullptr;
        detached();
    }
    if (m_callback)
        m_callback(WaveMessage::Close);
    return MMSYSERR_NOERROR;
}

void ModemWaveOut::returnFront()
{
    WaveBuffer *b = m_queue.front().buffer;
    m_queue.pop_front();
    b->queued = false;
    b->done = true;
    if (m_callback)
        m_callback(WaveMessage::Done);
}

bool ModemWaveOut::hasUnsent() const
{
    return std::any_of(m_queue.begin(), m_queue.end(), [](const Queued &q) { return !q.fullyTaken; });
}

std::size_t ModemWaveOut::take(std::size_t count, std::vector<std::int16_t> &out)
{
    std::size_t taken = 0;
    for (Queued &q : m_queue) {
        if (taken >= count)
            break;
        if (q.fullyTaken)
            continue;
        const std::size_t left = (q.buffer->data.size() - m_offset) / 2;
        const std::size_t n = std::min(left, count - taken);
        const std::size_t first = out.size();
        out.resize(first + n);
        std::memcpy(out.data() + first, q.buffer->data.data() + m_offset, n * 2);
        m_offset += n * 2;
        taken += n;
        m_sent += static_cast<std::int64_t>(n);
        if (m_offset + 1 >= q.buffer->data.size()) {
            q.fullyTaken = true;
            q.endSample = m_sent;
            m_offset = 0;
        }
    }
    return taken;
}

void ModemWaveOut::returnPlayed(std::int64_t position, bool keepLast)
{
    while (!m_queue.empty() && m_queue.front().fullyTaken && m_queue.front().endSample <= position
           && !(keepLast && m_queue.size() == 1))
        returnFront();
}

void ModemWaveOut::lineGone()
{
    m_detached = nullptr;
    m_changed = nullptr;
    m_aborted = nullptr;
    m_offset = 0;
    while (!m_queue.empty())
        returnFront();
}

} // namespace telvox::modem
