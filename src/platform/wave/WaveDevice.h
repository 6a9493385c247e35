#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace telvox {

// Result codes of the wave devices, with the classic multimedia numbers.
using WaveResult = std::uint32_t;
enum : WaveResult {
    MMSYSERR_NOERROR = 0,
    MMSYSERR_ERROR = 1,
    MMSYSERR_BADDEVICEID = 2,
    MMSYSERR_ALLOCATED = 4,
    MMSYSERR_INVALHANDLE = 5,
    MMSYSERR_NODRIVER = 6,
    MMSYSERR_NOMEM = 7,
    MMSYSERR_INVALPARAM = 11,
    WAVERR_BADFORMAT = 32,
    WAVERR_STILLPLAYING = 33,
    WAVERR_UNPREPARED = 34,
};

// The audio format a device is opened with.
struct PcmFormat
{
    std::uint16_t formatTag = 1;
    std::uint16_t channels = 1;
    std::uint32_t samplesPerSec = 8000;
    std::uint16_t bitsPerSample = 16;

    bool isLinePcm() const { return formatTag == 1 && channels == 1 && samplesPerSec == 8000 && bitsPerSample == 16; }
    std::uint32_t bytesPerSecond() const { return samplesPerSec * channels * bitsPerSample / 8; }
};

// A buffer handed to a device (the wave header): the device fills or plays `data`,
// `bytesRecorded` tells how much a returned input buffer holds.
struct WaveBuffer
{
    std::vector<char> data;
    std::uint32_t bytesRecorded = 0;
    bool prepared = false;
    bool queued = false;
    bool done = false;
};

// What a device reports through its callback: opened, a buffer came back (recorded or played),
// closed. The callback may run on an audio thread and only sets flags.
enum class WaveMessage { Open, Done, Close };
using WaveCallback = std::function<void(WaveMessage)>;

// The buffers queued at an open device, filled or played in order and returned through the
// device's callback. Shared by the device backends.
class WaveBufferQueue
{
public:
    explicit WaveBufferQueue(WaveCallback callback)
        : m_callback(std::move(callback))
    {
    }

    // Queues a prepared buffer (an input buffer starts empty).
    WaveResult add(WaveBuffer &buffer)
    {
        if (!buffer.prepared)
            return WAVERR_UNPREPARED;
        buffer.done = false;
        buffer.queued = true;
        buffer.bytesRecorded = 0;
        m_queue.push_back(&buffer);
        return MMSYSERR_NOERROR;
    }
    bool empty() const { return m_queue.empty(); }
    std::size_t size() const { return m_queue.size(); }
    WaveBuffer &head() { return *m_queue.front(); }
    WaveBuffer &at(std::size_t index) { return *m_queue.at(index); }
    // Returns the first buffer to its owner (Done).
    void returnHead()
    {
        WaveBuffer *b = m_queue.front();
        m_queue.pop_front();
        b->queued = false;
        b->done = true;
        notify(WaveMessage::Done);
    }
    void returnAll()
    {
        while (!m_queue.empty())
            returnHead();
    }
    // Input devices: appends 16-bit samples to the queued buffers in order, returning each
    // buffer as soon as it is full. Returns how many samples found room.
    std::size_t fill(std::span<const std::int16_t> samples)
    {
        std::size_t at = 0;
        while (at < samples.size() && !m_queue.empty()) {
            WaveBuffer &b = head();
            const std::size_t room = (b.data.size() - b.bytesRecorded) / 2;
            const std::size_t n = std::min(room, samples.size() - at);
            if (n > 0)
                std::memcpy(b.data.data() + b.bytesRecorded, samples.data() + at, n * 2);
            b.bytesRecorded += static_cast<std::uint32_t>(n * 2);
            at += n;
            if (b.bytesRecorded + 1 >= b.data.size())
                returnHead();
        }
        return at;
    }
    void notify(WaveMessage message) const
    {
        if (m_callback)
            m_callback(message);
    }

private:
    WaveCallback m_callback;
    std::deque<WaveBuffer *> m_queue;
};

// An open wave-in device: buffers are prepared, queued, filled in order and returned.
class WaveIn
{
public:
    virtual ~WaveIn() = default;
    virtual WaveResult prepareHeader(WaveBuffer &buffer);
    virtual WaveResult unprepareHeader(WaveBuffer &buffer);
    virtual WaveResult addBuffer(WaveBuffer &buffer) = 0;
    virtual WaveResult start() = 0;
    // Stops recording and returns every queued buffer at once with what it holds.
    virtual WaveResult reset() = 0;
    // Closes the device (it reports Close); refused while buffers are still queued.
    virtual WaveResult close() = 0;
};

// An open wave-out device: written buffers play in order and come back when played.
class WaveOut
{
public:
    virtual ~WaveOut() = default;
    virtual WaveResult prepareHeader(WaveBuffer &buffer);
    virtual WaveResult unprepareHeader(WaveBuffer &buffer);
    virtual WaveResult write(WaveBuffer &buffer) = 0;
    // Stops playback and returns every queued buffer.
    virtual WaveResult reset() = 0;
    virtual WaveResult close() = 0;
};

// A family of wave devices (the sound card, the lines of a telephony backend, test devices).
class WaveDeviceProvider
{
public:
    virtual ~WaveDeviceProvider() = default;
    virtual bool hasInput(int deviceId) const = 0;
    virtual bool hasOutput(int deviceId) const = 0;
    virtual WaveResult openIn(int deviceId, const PcmFormat &format, WaveCallback callback, std::unique_ptr<WaveIn> &device) = 0;
    virtual WaveResult openOut(int deviceId, const PcmFormat &format, WaveCallback callback, std::unique_ptr<WaveOut> &device) = 0;
};

// Maps device ids to providers. Id -1 is the default device: the first provider registered
// as default (the sound card).
class WaveDevices
{
public:
    void addProvider(WaveDeviceProvider &provider, bool isDefault = false);
    WaveResult waveInOpen(int deviceId, const PcmFormat &format, WaveCallback callback, std::unique_ptr<WaveIn> &device);
    WaveResult waveOutOpen(int deviceId, const PcmFormat &format, WaveCallback callback, std::unique_ptr<WaveOut> &device);

private:
    std::vector<WaveDeviceProvider *> m_providers;
    WaveDeviceProvider *m_default = nullptr;
};

} // namespace telvox
