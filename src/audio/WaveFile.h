#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <optional>

namespace telvox {

// The 18-byte wave format record of a "fmt " chunk.
struct WaveFormat
{
    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSec = 0;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t extraSize = 0; // 0 when the chunk has only 16 bytes
    QByteArray extra;            // the extra format bytes (TrueSpeech: 32)

    bool isLinePcm() const
    {
        return formatTag == 1 && channels == 1 && samplesPerSec == 8000 && bitsPerSample == 16;
    }
};

struct WaveData
{
    WaveFormat format;
    QByteArray data; // the whole "data" chunk
};

// Parses a RIFF "WAVE" file held in memory: finds "fmt " and "data" wherever they stand among
// the chunks, steps over other chunks (odd sizes padded to even, as RIFF requires) and never
// reads past the end: a truncated "data" chunk yields the bytes that are there, a truncated or
// hostile header yields nothing.
std::optional<WaveData> parseWave(QByteArrayView bytes);
// Reads and parses a wave file; nothing when it cannot be read or is not a wave file.
std::optional<WaveData> readWaveFile(const QString &path);

// The audio as the line plays it: 16-bit linear PCM, mono, 8000 samples per second. PCM of
// 8 or 16 bits, any channel count and any rate is mixed down and resampled; other formats give
// nothing.
std::optional<QByteArray> toLineFormat(const WaveData &wave);

} // namespace telvox
