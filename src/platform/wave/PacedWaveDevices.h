#pragma once

#include "platform/wave/WaveDevice.h"

#include <cstdint>
#include <deque>
#include <map>
#include <span>

namespace telvox {

class EventLoop;
class Timer;

// Where a paced device gets its audio from and where it plays it: 8000 Hz 16-bit mono.
using PullSamples = std::function<void(std::span<std::int16_t>)>;
using PushSamples = std::function<void(std::span<const std::int16_t>)>;

// Wave devices over sample streams, paced by the event loop's clock at 8000 samples per
// second: an input buffer of 16000 bytes comes back one second after recording started, in
// virtual time as in real time. These carry the audio of virtual telephone lines and the test
// devices. Only the line format (PCM, mono, 8000 Hz, 16 bit) is accepted.
class PacedWaveDevices final : public WaveDeviceProvider
{
public:
    explicit PacedWaveDevices(EventLoop &loop, int tickMs = 20);
    ~PacedWaveDevices() override;

    // `holdMs`: samples that find no buffer queued wait up to that long for the next one, as a
    // sound card's driver keeps what it captured while a program swaps its buffers (the oldest
    // go first); 0: they are lost at once.
    void addInput(int deviceId, PullSamples source, int holdMs = 0);
    void addOutput(int deviceId, PushSamples sink);
    void removeDevice(int deviceId);

    bool hasInput(int deviceId) const override;
    bool hasOutput(int deviceId) const override;
    WaveResult openIn(int deviceId, const PcmFormat &format, WaveCallback callback, std::unique_ptr<WaveIn> &device) override;
    WaveResult openOut(int deviceId, const PcmFormat &format, WaveCallback callback, std::unique_ptr<WaveOut> &device) override;

private:
    class In;
    class Out;
    EventLoop &m_loop;
    int m_tickMs;
    std::map<int, PullSamples> m_inputs;
    std::map<int, std::size_t> m_inputHold; // samples
    std::map<int, PushSamples> m_outputs;
    std::map<int, bool> m_inputOpen;
    std::map<int, bool> m_outputOpen;
};

} // namespace telvox
