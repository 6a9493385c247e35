#pragma once

#include "core/WaveHeader.h"
#include "support/Files.h"

#include <QFile>
#include <QString>
#include <QtEndian>

#include <cmath>

namespace telvox::test {

// Writes a mono 16-bit PCM wave file of `ms` milliseconds of a quiet 440 Hz tone at `rate`.
// With `sparseMs` the header and the file size say that many milliseconds, but only the first
// `ms` are written: a long recording that costs no disk space.
inline bool writeTestWave(const QString &path, int ms, int rate = 8000, qint64 sparseMs = 0)
{
    const qint64 samples = qint64(rate) * ms / 1000;
    const qint64 dataBytes = 2 * (sparseMs > 0 ? qint64(rate) * sparseMs / 1000 : samples);
    QByteArray pcm(samples * 2, '\0');
    for (qint64 i = 0; i < samples; ++i)
        qToLittleEndian(std::int16_t(3000 * std::sin(2 * M_PI * 440.0 * double(i) / rate)), pcm.data() + i * 2);
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && f.write(pcmWaveHeader(1, std::uint32_t(rate), 16, std::uint32_t(dataBytes)) + pcm) == 44 + pcm.size()
           && (sparseMs <= 0 || f.resize(44 + dataBytes));
}

} // namespace telvox::test
