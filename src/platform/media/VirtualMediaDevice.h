#pragma once

#include "platform/media/MediaDevice.h"
#include "platform/media/WaveFileInfo.h"

namespace telvox {

class EventLoop;

// A media device without sound: it reads the wave header for the length and lets the
// position run with the event loop's clock, so players can be driven in virtual time.
// Files that are not wave files cannot be opened, like a device without a decoder for them.
class VirtualMediaDevice final : public MediaDevice
{
public:
    explicit VirtualMediaDevice(const EventLoop &loop)
        : m_loop(loop)
    {
    }

    bool open(const QString &path) override;
    void close() override;
    qint64 lengthMs() const override { return m_open ? m_info.lengthMs() : 0; }
    qint64 positionMs() const override;
    void play() override;
    void pause() override;
    void seek(qint64 ms) override;
    bool isPlaying() const override;

    // The file opened last (empty when closed), for assertions.
    QString file() const { return m_file; }

private:
    const EventLoop &m_loop;
    WaveFileInfo m_info;
    QString m_file;
    bool m_open = false;
    bool m_playing = false;
    qint64 m_base = 0;      // position when playback last started or was positioned
    qint64 m_startedAt = 0; // clock reading when playback last started
};

} // namespace telvox
