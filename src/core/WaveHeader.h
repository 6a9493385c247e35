#pragma once

#include <QByteArray>
#include <QtEndian>

#include <cstdint>

namespace telvox {

// Little-endian fields of a RIFF wave header.
inline void appendLe16(QByteArray &out, std::uint16_t value)
{
    char raw[2];
    qToLittleEndian(value, raw);
    out.append(raw, 2);
}

inline void appendLe32(QByteArray &out, std::uint32_t value)
{
    char raw[4];
    qToLittleEndian(value, raw);
    out.append(raw, 4);
}

// The 44-byte header of a PCM wave file whose data chunk holds `dataBytes` bytes.
inline QByteArray pcmWaveHeader(std::uint16_t channels, std::uint32_t samplesPerSec, std::uint16_t bitsPerSample,
                                std::uint32_t dataBytes)
{
    const auto blockAlign = static_cast<std::uint16_t>(channels * bitsPerSample / 8);
    QByteArray h;
    h.reserve(44);
    h.append("RIFF");
    appendLe32(h, dataBytes + 36);
    h.append("WAVEfmt ");
    appendLe32(h, 16);
    appendLe16(h, 1);
    appendLe16(h, channels);
    appendLe32(h, samplesPerSec);
    appendLe32(h, samplesPerSec * blockAlign);
    appendLe16(h, blockAlign);
    appendLe16(h, bitsPerSample);
    h.append("data");
    appendLe32(h, dataBytes);
    return h;
}

} // namespace telvox
