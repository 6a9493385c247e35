#include "platform/media/VirtualMediaDevice.h"

#include "core/EventLoop.h"

namespace telvox {

bool VirtualMediaDevice::open(const QString &path)
{
    close();
    m_info = readWaveFileInfo(path);
    if (!m_info.valid)
        return false;
    m_open = true;
    m_file = path;
    return true;
}

void VirtualMediaDevice::close()
{
    m_open = false;
    m_playing = false;
    m_base = 0;
    m_file.clear();
    m_info = {};
}

qint64 VirtualMediaDevice::positionMs() const
{
    if (!m_open)
        return 0;
    if (!m_playing)
        return m_base;
    return qMin(m_base + (m_loop.now() - m_startedAt), lengthMs());
}

void VirtualMediaDevice::play()
{
    if (!m_open || m_playing)
        return;
    if (m_base >= lengthMs())
        m_base = 0; // playing a file that has ended starts it again
    m_playing = true;
    m_startedAt = m_loop.now();
}

void VirtualMediaDevice::pause()
{
    m_base = positionMs();
    m_playing = false;
}

void VirtualMediaDevice::seek(qint64 ms)
{
    m_base = qBound<qint64>(0, ms, lengthMs());
    m_startedAt = m_loop.now();
}

bool VirtualMediaDevice::isPlaying() const { return m_playing && positionMs() < lengthMs(); }

} // namespace telvox
