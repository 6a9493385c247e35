#pragma once

#include "platform/wave/WaveDevice.h"

#include <memory>

namespace telvox {

// The computer's sound card as wave devices, made by the sound module (telvox-media.so) the
// first time a device is asked for; without the module there is no sound card.
class ModuleSoundCard final : public WaveDeviceProvider
{
public:
    ModuleSoundCard();
    ~ModuleSoundCard() override;

    bool hasInput(int deviceId) const override;
    bool hasOutput(int deviceId) const override;
    WaveResult openIn(int deviceId, const PcmFormat &format, WaveCallback callback, std::unique_ptr<WaveIn> &device) override;
    WaveResult openOut(int deviceId, const PcmFormat &format, WaveCallback callback, std::unique_ptr<WaveOut> &device) override;

private:
    WaveDeviceProvider *card() const; // null without the module

    mutable std::unique_ptr<WaveDeviceProvider> m_card;
    mutable bool m_tried = false;
};

} // namespace telvox
