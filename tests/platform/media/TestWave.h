#pragma once

#include "support/Files.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtEndian>

#include <cmath>
#include <cstdint>

namespace telvox::test {

// Writes a mono 16-bit PCM wave file of `ms` milliseconds of a quiet 440 Hz tone at `rate`.
// With `sparseMs` the header and the file size say that many milliseconds, but only the first
// `ms` are written: a long recording that costs no disk space.
inline bool writeTestWave(const QString &path, int ms, int rate = 8000, qint64 sparseMs = 0)
{
    const qint64 samples = static_cast<qint64>(rate) * ms / 1000;
    const qint64 totalSamples = sparseMs > 0 ? static_cast<qint64>(rate) * sparseMs / 1000 : samples;
    const qint64 dataBytes = totalSamples * 2;
    QByteArray h(44, '\0');
    auto put32 = [&h](int at, std::uint32_t v) { qToLittleEndian(v, h.data() + at); };
    auto put16 = [&h](int at, std::uint16_t v) { qToLittleEndian(v, h.data() + at); };
    h.replace(0, 4, "RIFF");
    put32(4, static_cast<std::uint32_t>(36 + dataBytes));
    h.replace(8, 8, "WAVEfmt ");
    put32(16, 16);
    put16(20, 1);
    put16(22, 1);
    put32(24, static_cast<std::uint32_t>(rate));
    put32(28, static_cast<std::uint32_t>(rate * 2));
    put16(32, 2);
    put16(34, 16);
    h.replace(36, 4, "data");
    put32(40, static_cast<std::uint32_t>(dataBytes));
    QByteArray pcm(static_cast<int>(samples * 2), '\0');
    for (qint64 i = 0; i < samples; ++i) {
        const auto v = static_cast<std::int16_t>(3000 * std::sin(2 * M_PI * 440.0 * static_cast<double>(i) / rate));
        qToLittleEndian(v, pcm.data() + i * 2);
    }
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    f.write(h);
    f.write(pcm);
    if (sparseMs > 0)
        return f.resize(44 + dataBytes);
    return true;
}

} // namespace telvox::test
