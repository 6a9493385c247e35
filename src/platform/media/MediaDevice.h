#pragma once

#include <QString>

namespace telvox {

// One playback device behind the media control: a file is opened, played from its current
// position, paused and positioned. Positions and lengths are milliseconds. Implementations
// never block waiting for the sound system.
class MediaDevice
{
public:
    virtual ~MediaDevice() = default;

    // Opens `path` for playback at position 0. False when the file cannot be played (missing,
    // not a wave file, a format no decoder knows).
    virtual bool open(const QString &path) = 0;
    virtual void close() = 0;
    virtual qint64 lengthMs() const = 0;
    virtual qint64 positionMs() const = 0;
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual void seek(qint64 ms) = 0;
    // True while sound is being played; false once the end is reached or playback failed.
    virtual bool isPlaying() const = 0;
    // The last error the decoder or the sound system reported (empty when none).
    virtual QString lastError() const { return {}; }
};

} // namespace telvox
