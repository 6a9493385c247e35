#include "platform/wave/ModuleSoundCard.h"

#include "core/ProgramModule.h"

#include <QTextStream>

namespace telvox {

ModuleSoundCard::ModuleSoundCard() = default;
ModuleSoundCard::~ModuleSoundCard() = default;

WaveDeviceProvider *ModuleSoundCard::card() const
{
    if (!m_tried) {
        m_tried = true;
        using Entry = WaveDeviceProvider *(*)(const char *build);
        QString error;
        auto make = reinterpret_cast<Entry>(
            programModuleSymbol(kMediaModuleFile, kMediaModuleOverride, "telvox_media_sound_card", &error));
        if (make)
            m_card.reset(make(programModuleBuild()));
        else
            QTextStream(stderr) << "telvox: no sound card: " << error << Qt::endl;
    }
    return m_card.get();
}

bool ModuleSoundCard::hasInput(int deviceId) const { return card() && m_card->hasInput(deviceId); }

bool ModuleSoundCard::hasOutput(int deviceId) const { return card() && m_card->hasOutput(deviceId); }

WaveResult ModuleSoundCard::openIn(int deviceId, const PcmFormat &format, WaveCallback callback,
                                   std::unique_ptr<WaveIn> &device)
{
    return card() ? m_card->openIn(deviceId, format, std::move(callback), device) : MMSYSERR_NODRIVER;
}

WaveResult ModuleSoundCard::openOut(int deviceId, const PcmFormat &format, WaveCallback callback,
                                    std::unique_ptr<WaveOut> &device)
{
    return card() ? m_card->openOut(deviceId, format, std::move(callback), device) : MMSYSERR_NODRIVER;
}

} // namespace telvox
