#pragma once

#include <QString>

#include <cstdint>

namespace telvox {

// What the RIFF header of a wave file says about its audio.
struct WaveFileInfo
{
    bool valid = false;          // a RIFF/WAVE file with a "fmt " and a "data" chunk
    std::uint16_t formatTag = 0; // 1 PCM, 0x22 TrueSpeech, ...
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSec = 0;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    qint64 dataOffset = 0;   // file offset of the first audio byte
    qint64 dataBytes = 0;    // audio bytes actually present (a truncated file counts what is left)
    qint64 fileBytes = 0;

    // Playing time of the audio present, in milliseconds (fraction cut off).
    qint64 lengthMs() const
    {
        return avgBytesPerSec == 0 ? 0 : dataBytes * 1000 / static_cast<qint64>(avgBytesPerSec);
    }
};

// Reads the header of `path`. Chunks other than "fmt " and "data" are skipped; a file that is
// not a wave file, or whose format chunk is unusable, comes back with valid == false.
WaveFileInfo readWaveFileInfo(const QString &path);

} // namespace telvox
