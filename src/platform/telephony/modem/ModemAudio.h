#pragma once

#include "platform/wave/WaveDevice.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace telvox::modem {

// The wave-in device of a modem line. Buffers fill at the modem's own clock with the samples
// the line decodes from the voice receive stream; reset returns them with what they hold.
class ModemWaveIn final : public WaveIn
{
public:
    // `changed` tells the line that the device wants (or no longer wants) audio.
    ModemWaveIn(WaveCallback callback, std::function<void()> changed, std::function<void()> detached);
    ~ModemWaveIn() override;

    WaveResult addBuffer(WaveBuffer &buffer) override;
    WaveResult start() override;
    WaveResult reset() override;
    WaveResult close() override;

    // --- the line's side ---
    bool running() const { return m_running && !m_closed; }
    void deliver(std::span<const std::int16_t> samples);
    // The line has gone (port lost, service shut down): every buffer comes back as it is.
    void lineGone();

private:
    WaveBufferQueue m_queue;
    std::function<void()> m_changed;
    std::function<void()> m_detached;
    // Samples that arrived while no buffer was at the device (the capture is about to queue
    // the next one); kept up to one second.
    std::deque<std::int16_t> m_pending;
    bool m_running = false;
    bool m_closed = false;
};

// The wave-out device of a modem line. The line takes samples from the written buffers as
// fast as the modem plays them; a buffer comes back once the modem's clock has played it.
class ModemWaveOut final : public WaveOut
{
public:
    ModemWaveOut(WaveCallback callback, std::function<void()> changed, std::function<void()> aborted,
                 std::function<void()> detached);
    ~ModemWaveOut() override;

    WaveResult write(WaveBuffer &buffer) override;
    WaveResult reset() override;
    WaveResult close() override;

    // --- the line's side ---
    bool hasUnsent() const;
    // Up to `count` samples not yet sent; returns how many were appended to `out`.
    std::size_t take(std::size_t count, std::vector<std::int16_t> &out);
    std::int64_t sentTotal() const { return m_sent; }
    // Returns the buffers whose last sample lies before sample `position` of the stream,
    // except the last one written: that one comes back when the modem says it has played
    // everything (so that closing the device afterwards cuts nothing off).
    void playedUpTo(std::int64_t position) { returnPlayed(position, true); }
    // The modem has played everything it was sent.
    void allPlayed() { returnPlayed(m_sent, false); }
    void lineGone();

private:
    struct Queued
    {
        WaveBuffer *buffer;
        std::int64_t endSample; // stream position after its last sample (known once fully taken)
        bool fullyTaken;
    };
    void returnFront();
    void returnPlayed(std::int64_t position, bool keepLast);
    WaveCallback m_callback;
    std::function<void()> m_changed;
    std::function<void()> m_aborted;
    std::function<void()> m_detached;
    std::deque<Queued> m_queue;
    std::size_t m_offset = 0; // byte offset in the first buffer not fully taken
    std::int64_t m_sent = 0;
    bool m_closed = false;
};

} // namespace telvox::modem
