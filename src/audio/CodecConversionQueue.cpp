#include "audio/CodecConversionQueue.h"

#include "audio/CodecConversion.h"
#include "core/EventLoop.h"

#include <algorithm>

namespace telvox {

ConversionQueue::ConversionQueue(CodecConversion &conversion, EventLoop &loop, Receiver receiver)
    : m_conversion(conversion)
    , m_loop(loop)
    , m_receiver(std::move(receiver))
{
}

ConversionQueue::~ConversionQueue()
{
    {
        const std::lock_guard lock(m_mutex);
        m_jobs.clear();
    }
    stop();
    *m_alive = false;
}

void ConversionQueue::setThreaded(bool threaded)
{
    if (threaded == isThreaded())
        return;
    if (!threaded) {
        for (int slot = 0; slot < kSlots; ++slot)
            drain(slot);
        stop();
        m_threaded = false;
        return;
    }
    m_threaded = true;
}

void ConversionQueue::stop()
{
    if (!m_worker.joinable())
        return;
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_jobReady.notify_all();
    m_worker.join();
}

ConvertedBuffer ConversionQueue::convertNow(int slot, std::uint64_t capture, bool keep, std::span<const std::uint8_t> pcm)
{
    ConvertedBuffer result{slot, capture, keep, false, {}};
    result.ok = m_conversion.ConvertBuffer(slot, pcm);
    if (result.ok) {
        const auto out = m_conversion.convertedOutput(slot);
        result.output.assign(out.begin(), out.end());
    }
    m_conversion.releaseOutput(slot);
    return result;
}

bool ConversionQueue::convert(int slot, std::uint64_t capture, bool keep, std::span<const std::uint8_t> pcm)
{
    // The stream's handle changes only on this thread, with the slot drained.
    if (pcm.empty() || !m_conversion.isOpen(slot))
        return false;
    if (!isThreaded()) {
        const ConvertedBuffer result = convertNow(slot, capture, keep, pcm);
        if (result.ok)
            m_receiver(result);
        return result.ok;
    }
    if (!m_worker.joinable()) {
        m_stopping = false;
        m_worker = std::thread([this] { work(); });
    }
    {
        std::unique_lock lock(m_mutex);
        waitFor(lock, slot, 0); // the slot's previous buffer first
        m_jobs.push_back(Job{slot, capture, keep, std::vector<std::uint8_t>(pcm.begin(), pcm.end())});
        ++m_unconverted.at(std::size_t(slot));
    }
    m_jobReady.notify_one();
    return true;
}

void ConversionQueue::waitFor(std::unique_lock<std::mutex> &lock, int slot, int atMost)
{
    m_jobDone.wait(lock, [&] { return m_unconverted.at(std::size_t(slot)) <= atMost; });
}

void ConversionQueue::work()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_jobReady.wait(lock, [&] { return m_stopping || !m_jobs.empty(); });
        if (m_jobs.empty())
            return;
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        ConvertedBuffer result = convertNow(job.slot, job.capture, job.keep, job.pcm);
        lock.lock();
        if (result.ok)
            m_results.push_back(std::move(result));
        --m_unconverted.at(std::size_t(job.slot));
        m_jobDone.notify_all();
        lock.unlock();
        std::weak_ptr<bool> alive = m_alive;
        m_loop.post([this, alive] {
            if (!alive.expired())
                deliver();
        });
        lock.lock();
    }
}

void ConversionQueue::deliver()
{
    // One at a time from the front, so that the order holds even if the receiver leads,
    // through a drain, to another delivery.
    for (;;) {
        ConvertedBuffer result;
        {
            const std::lock_guard lock(m_mutex);
            if (m_results.empty())
                return;
            result = std::move(m_results.front());
            m_results.pop_front();
        }
        m_receiver(result);
    }
}

void ConversionQueue::drain(int slot)
{
    if (!isThreaded())
        return;
    {
        std::unique_lock lock(m_mutex);
        waitFor(lock, slot, 0);
    }
    deliver();
}

void ConversionQueue::drop(int slot)
{
    if (!isThreaded())
        return;
    std::unique_lock lock(m_mutex);
    // (The iterator forms: clang 14 cannot compile libstdc++ 12's ranges, and the fuzzing build
    // uses clang.)
    const auto waiting = std::remove_if(m_jobs.begin(), m_jobs.end(), [slot](const Job &j) { return j.slot == slot; });
    m_unconverted.at(std::size_t(slot)) -= int(m_jobs.end() - waiting);
    m_jobs.erase(waiting, m_jobs.end());
    waitFor(lock, slot, 0);
    m_results.erase(std::remove_if(m_results.begin(), m_results.end(), [slot](const ConvertedBuffer &r) { return r.slot == slot; }),
                    m_results.end());
}

} // namespace telvox
