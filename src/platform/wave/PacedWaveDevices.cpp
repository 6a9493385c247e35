#include "platform/wave/PacedWaveDevices.h"

#include "core/EventLoop.h"

#include <algorithm>
#include <cstring>

namespace telvox {

namespace {
constexpr std::int64_t kSamplesPerMs = 8;
}

class PacedWaveDevices::In final : public WaveIn
{
public:
    In(PacedWaveDevices &owner, int id, EventLoop &loop, int tickMs, PullSamples source, std::size_t hold,
       WaveCallback callback)
        : m_owner(owner)
        , m_id(id)
        , m_loop(loop)
        , m_source(std::move(source))
        , m_hold(hold)
        , m_queue(std::move(callback))
    {
        m_timer = loop.createTimer(tickMs, [this] { pump(); });
    }
    ~In() override { m_owner.m_inputOpen[m_id] = false; }

    WaveResult addBuffer(WaveBuffer &b) override { return m_closed ? MMSYSERR_INVALHANDLE : m_queue.add(b); }
    WaveResult start() override
    {
        if (m_closed)
            return MMSYSERR_INVALHANDLE;
        if (!m_running) {
            m_running = true;
            m_startedAt = m_loop.now();
            m_delivered = 0;
            m_waiting.clear();
            m_timer->setEnabled(true);
        }
        return MMSYSERR_NOERROR;
    }
    WaveResult reset() override
    {
        if (m_closed)
            return MMSYSERR_INVALHANDLE;
        pump();
        m_running = false;
        m_timer->setEnabled(false);
        m_queue.returnAll();
        return MMSYSERR_NOERROR;
    }
    WaveResult close() override
    {
        if (m_closed)
            return MMSYSERR_INVALHANDLE;
        if (!m_queue.empty())
            return WAVERR_STILLPLAYING;
        m_closed = true;
        m_running = false;
        m_timer->setEnabled(false);
        m_owner.m_inputOpen[m_id] = false;
        m_queue.notify(WaveMessage::Close);
        return MMSYSERR_NOERROR;
    }

private:
    // Moves the samples that the clock says have arrived into the queued buffers.
    void pump()
    {
        if (!m_running)
            return;
        const std::int64_t due = (m_loop.now() - m_startedAt) * kSamplesPerMs - m_delivered;
        if (due <= 0)
            return;
        m_scratch.resize(static_cast<std::size_t>(due));
        m_source(m_scratch);
        m_delivered += due;
        // What finds no buffer at the device is lost (the line goes on regardless), unless it
        // may wait for the next buffer.
        if (m_hold == 0) {
            m_queue.fill(m_scratch);
            return;
        }
        m_waiting.insert(m_waiting.end(), m_scratch.begin(), m_scratch.end());
        const std::size_t taken = m_queue.fill(m_waiting);
        const std::size_t lost = m_waiting.size() - taken > m_hold ? m_waiting.size() - taken - m_hold : 0;
        m_waiting.erase(m_waiting.begin(), m_waiting.begin() + static_cast<std::ptrdiff_t>(taken + lost));
    }

    PacedWaveDevices &m_owner;
    int m_id;
    EventLoop &m_loop;
    PullSamples m_source;
    std::size_t m_hold;
    WaveBufferQueue m_queue;
    std::unique_ptr<Timer> m_timer;
    std::vector<std::int16_t> m_scratch;
    std::vector<std::int16_t> m_waiting; // captured, waiting for a buffer
    std::int64_t m_startedAt = 0;
    std::int64_t m_delivered = 0;
    bool m_running = false;
    bool m_closed = false;
};

class PacedWaveDevices::Out final : public WaveOut
{
public:
    Out(PacedWaveDevices &owner, int id, EventLoop &loop, int tickMs, PushSamples sink, WaveCallback callback)
        : m_owner(owner)
        , m_id(id)
        , m_loop(loop)
        , m_sink(std::move(sink))
        , m_queue(std::move(callback))
    {
        m_timer = loop.createTimer(tickMs, [this] { pump(); });
    }
    ~Out() override { m_owner.m_outputOpen[m_id] = false; }

    WaveResult write(WaveBuffer &b) override
    {
        if (m_closed)
            return MMSYSERR_INVALHANDLE;
        if (const WaveResult r = m_queue.add(b); r != MMSYSERR_NOERROR)
            return r;
        if (!m_timer->isEnabled()) {
            m_startedAt = m_loop.now();
            m_played = 0;
            m_timer->setEnabled(true);
        }
        return MMSYSERR_NOERROR;
    }
    WaveResult reset() override
    {
        if (m_closed)
            return MMSYSERR_INVALHANDLE;
        m_timer->setEnabled(false);
        m_offset = 0;
        m_queue.returnAll();
        return MMSYSERR_NOERROR;
    }
    WaveResult close() override
    {
        if (m_closed)
            return MMSYSERR_INVALHANDLE;
        if (!m_queue.empty())
            return WAVERR_STILLPLAYING;
        m_closed = true;
        m_timer->setEnabled(false);
        m_owner.m_outputOpen[m_id] = false;
        m_queue.notify(WaveMessage::Close);
        return MMSYSERR_NOERROR;
    }

private:
    // Plays the samples that are due by now; a buffer comes back once its last sample played.
    void pump()
    {
        std::int64_t due = (m_loop.now() - m_startedAt) * kSamplesPerMs - m_played;
        while (due > 0 && !m_queue.empty()) {
            WaveBuffer &b = m_queue.head();
            const std::size_t left = (b.data.size() - m_offset) / 2;
            const auto n = static_cast<std::size_t>(std::min<std::int64_t>(due, static_cast<std::int64_t>(left)));
            m_scratch.resize(n);
            if (n > 0)
                std::memcpy(m_scratch.data(), b.data.data() + m_offset, n * 2);
            m_sink(m_scratch);
            m_offset += n * 2;
            m_played += static_cast<std::int64_t>(n);
            due -= static_cast<std::int64_t>(n);
            if (m_offset + 1 >= b.data.size()) {
                m_offset = 0;
                m_queue.returnHead();
            }
        }
        if (m_queue.empty())
            m_timer->setEnabled(false);
    }

    PacedWaveDevices &m_owner;
    int m_id;
    EventLoop &m_loop;
    PushSamples m_sink;
    WaveBufferQueue m_queue;
    std::unique_ptr<Timer> m_timer;
    std::vector<std::int16_t> m_scratch;
    std::size_t m_offset = 0;
    std::int64_t m_startedAt = 0;
    std::int64_t m_played = 0;
    bool m_closed = false;
};

PacedWaveDevices::PacedWaveDevices(EventLoop &loop, int tickMs)
    : m_loop(loop)
    , m_tickMs(tickMs)
{
}

PacedWaveDevices::~PacedWaveDevices() = default;

void PacedWaveDevices::addInput(int deviceId, PullSamples source, int holdMs)
{
    m_inputs[deviceId] = std::move(source);
    m_inputHold[deviceId] = static_cast<std::size_t>(std::max(0, holdMs) * kSamplesPerMs);
}
void PacedWaveDevices::addOutput(int deviceId, PushSamples sink) { m_outputs[deviceId] = std::move(sink); }

void PacedWaveDevices::removeDevice(int deviceId)
{
    m_inputs.erase(deviceId);
    m_inputHold.erase(deviceId);
    m_outputs.erase(deviceId);
}

bool PacedWaveDevices::hasInput(int deviceId) const { return m_inputs.count(deviceId) > 0; }
bool PacedWaveDevices::hasOutput(int deviceId) const { return m_outputs.count(deviceId) > 0; }

WaveResult PacedWaveDevices::openIn(int deviceId, const PcmFormat &format, WaveCallback callback,
                                    std::unique_ptr<WaveIn> &device)
{
    auto it = m_inputs.find(deviceId);
    if (it == m_inputs.end())
        return MMSYSERR_BADDEVICEID;
    if (!format.isLinePcm())
        return WAVERR_BADFORMAT;
    if (m_inputOpen[deviceId])
        return MMSYSERR_ALLOCATED;
    m_inputOpen[deviceId] = true;
    device = std::make_unique<In>(*this, deviceId, m_loop, m_tickMs, it->second, m_inputHold[deviceId], callback);
    if (callback)
        callback(WaveMessage::Open);
    return MMSYSERR_NOERROR;
}

WaveResult PacedWaveDevices::openOut(int deviceId, const PcmFormat &format, WaveCallback callback,
                                     std::unique_ptr<WaveOut> &device)
{
    auto it = m_outputs.find(deviceId);
    if (it == m_outputs.end())
        return MMSYSERR_BADDEVICEID;
    if (!format.isLinePcm())
        return WAVERR_BADFORMAT;
    if (m_outputOpen[deviceId])
        return MMSYSERR_ALLOCATED;
    m_outputOpen[deviceId] = true;
    device = std::make_unique<Out>(*this, deviceId, m_loop, m_tickMs, it->second, callback);
    if (callback)
        callback(WaveMessage::Open);
    return MMSYSERR_NOERROR;
}

} // namespace telvox
