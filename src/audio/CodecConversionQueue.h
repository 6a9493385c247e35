#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace telvox {

class CodecConversion;
class EventLoop;

// The converted audio of one captured buffer.
struct ConvertedBuffer
{
    int slot = 0;
    std::uint64_t capture = 0; // which capture of the slot it belongs to (the engine numbers them)
    bool keep = true;          // false: converted only so that the stream's state goes on
    bool ok = false;           // false: the conversion failed and the buffer contributes nothing
    std::vector<std::uint8_t> output;
};

// Runs the conversion of the captured buffers of every line, in one of two ways:
// - inline: at once, on the calling thread; the receiver has the result before convert()
//   returns (the deterministic way, for virtual time);
// - threaded: a copy of the buffer goes to one worker thread, which converts the buffers in
//   the order given; the results come back to the receiver on the event loop's thread, in
//   that same order, through EventLoop::post (which must then be callable from any thread).
// While a slot has buffers waiting, its codec stream belongs to the worker: whoever opens,
// closes or reopens the slot's conversion drains (or drops) the slot first.
//
// A slot has at most one buffer unconverted: a buffer given while the slot's previous one is
// not converted yet waits for it (a buffer comes every second and takes milliseconds, so this
// happens only when the machine cannot keep up). The user-interface thread then waits as if it
// converted inline, and a crash loses no more of a call than when it did: the buffer being
// converted and the one at the device.
class ConversionQueue
{
public:
    using Receiver = std::function<void(const ConvertedBuffer &)>;
    static constexpr int kSlots = 4;

    ConversionQueue(CodecConversion &conversion, EventLoop &loop, Receiver receiver);
    ~ConversionQueue(); // buffers still waiting are not converted
    ConversionQueue(const ConversionQueue &) = delete;
    ConversionQueue &operator=(const ConversionQueue &) = delete;

    // Converts on a worker thread, or inline. The worker starts with the first buffer (a
    // program that records nothing never starts it); going inline drains every slot first.
    void setThreaded(bool threaded);
    bool isThreaded() const { return m_threaded; }

    // Converts `pcm` for the slot. An empty buffer, or a slot with no open stream, is not
    // converted: false, and the receiver hears nothing. Otherwise inline: whether the
    // conversion worked; threaded: true.
    bool convert(int slot, std::uint64_t capture, bool keep, std::span<const std::uint8_t> pcm);
    // Waits until every buffer given for the slot is converted, then hands every result not
    // yet handed over (of any slot, in order) to the receiver.
    void drain(int slot);
    // Forgets the slot's buffers that wait and its results not yet handed over; waits for
    // the one being converted.
    void drop(int slot);

private:
    struct Job
    {
        int slot = 0;
        std::uint64_t capture = 0;
        bool keep = true;
        std::vector<std::uint8_t> pcm;
    };
    ConvertedBuffer convertNow(int slot, std::uint64_t capture, bool keep, std::span<const std::uint8_t> pcm);
    void work();
    void deliver();
    void waitFor(std::unique_lock<std::mutex> &lock, int slot, int atMost);
    void stop();

    CodecConversion &m_conversion;
    EventLoop &m_loop;
    Receiver m_receiver;
    std::mutex m_mutex;
    std::condition_variable m_jobReady;  // wakes the worker
    std::condition_variable m_jobDone;   // wakes a drain
    std::deque<Job> m_jobs;
    std::deque<ConvertedBuffer> m_results;
    std::array<int, kSlots> m_unconverted{}; // waiting or being converted
    bool m_stopping = false;
    bool m_threaded = false;
    std::thread m_worker; // started by the first buffer converted threaded
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace telvox
