#include "platform/wave/WaveDevice.h"

namespace telvox {

WaveResult WaveIn::prepareHeader(WaveBuffer &buffer)
{
    if (buffer.data.empty())
        return MMSYSERR_INVALPARAM;
    buffer.prepared = true;
    buffer.done = false;
    return MMSYSERR_NOERROR;
}

WaveResult WaveIn::unprepareHeader(WaveBuffer &buffer)
{
    if (buffer.queued)
        return WAVERR_STILLPLAYING;
    buffer.prepared = false;
    return MMSYSERR_NOERROR;
}

WaveResult WaveOut::prepareHeader(WaveBuffer &buffer)
{
    buffer.prepared = true;
    buffer.done = false;
    return MMSYSERR_NOERROR;
}

WaveResult WaveOut::unprepareHeader(WaveBuffer &buffer)
{
    if (buffer.queued)
        return WAVERR_STILLPLAYING;
    buffer.prepared = false;
    return MMSYSERR_NOERROR;
}

void WaveDevices::addProvider(WaveDeviceProvider &provider, bool isDefault)
{
    m_providers.push_back(&provider);
    if (isDefault && !m_default)
        m_default = &provider;
}

WaveResult WaveDevices::waveInOpen(int deviceId, const PcmFormat &format, WaveCallback callback,
                                   std::unique_ptr<WaveIn> &device)
{
    if (deviceId == -1)
        return m_default ? m_default->openIn(-1, format, std::move(callback), device) : MMSYSERR_NODRIVER;
    for (WaveDeviceProvider *p : m_providers) {
        if (p->hasInput(deviceId))
            return p->openIn(deviceId, format, std::move(callback), device);
    }
    return MMSYSERR_BADDEVICEID;
}

WaveResult WaveDevices::waveOutOpen(int deviceId, const PcmFormat &format, WaveCallback callback,
                                    std::unique_ptr<WaveOut> &device)
{
    if (deviceId == -1)
        return m_default ? m_default->openOut(-1, format, std::move(callback), device) : MMSYSERR_NODRIVER;
    for (WaveDeviceProvider *p : m_providers) {
        if (p->hasOutput(deviceId))
            return p->openOut(deviceId, format, std::move(callback), device);
    }
    return MMSYSERR_BADDEVICEID;
}

} // namespace telvox
