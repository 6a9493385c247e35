#pragma once

#include "platform/wave/WaveDevice.h"

namespace telvox {

// The computer's sound card through Qt Multimedia: id -1 is the default input or output,
// 0..15 the devices in the order Qt Multimedia lists them. Any PCM format is accepted; the
// sound server converts. Callbacks run on the user-interface thread.
class QtAudioDevices final : public WaveDeviceProvider
{
public:
    static constexpr int kMaxDevices = 16;

    bool hasInput(int deviceId) const override;
    bool hasOutput(int deviceId) const override;
    WaveResult openIn(int deviceId, const PcmFormat &format, WaveCallback callback, std::unique_ptr<WaveIn> &device) override;
    WaveResult openOut(int deviceId, const PcmFormat &format, WaveCallback callback, std::unique_ptr<WaveOut> &device) override;
};

} // namespace telvox
