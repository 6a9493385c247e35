#include "platform/media/SoundRecorder.h"

#include "core/EventLoop.h"
#include "core/WaveHeader.h"

#include <QFile>
#include <QtEndian>

#include <cmath>
#include <numbers>

namespace telvox {

QByteArray pcmWaveFile(const RecordFormat &format, const QByteArray &samples)
{
    QByteArray file = pcmWaveHeader(static_cast<std::uint16_t>(format.channels),
                                    static_cast<std::uint32_t>(format.samplesPerSec),
                                    static_cast<std::uint16_t>(format.bitsPerSample),
                                    static_cast<std::uint32_t>(samples.size()));
    file.append(samples);
    return file;
}

bool writeWholeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool ok = file.write(bytes) == bytes.size();
    file.close();
    return ok && file.error() == QFileDevice::NoError;
}

bool VirtualSoundRecorder::start(const RecordFormat &format)
{
    if (!m_inputPresent)
        return false;
    m_format = format;
    m_samples.clear();
    m_startedAt = m_loop.now();
    m_recording = true;
    return true;
}

void VirtualSoundRecorder::stop()
{
    if (!m_recording)
        return;
    m_recording = false;
    const qint64 frames = (m_loop.now() - m_startedAt) * m_format.samplesPerSec / 1000;
    const int bytesPerSample = m_format.bitsPerSample / 8;
    m_samples.reserve(static_cast<qsizetype>(frames * m_format.blockAlign()));
    for (qint64 i = 0; i < frames; ++i) {
        const double phase = 2.0 * std::numbers::pi * 440.0 * double(i) / m_format.samplesPerSec;
        const auto value = static_cast<qint16>(8000.0 * std::sin(phase));
        for (int c = 0; c < m_format.channels; ++c) {
            if (bytesPerSample == 2)
                appendLe16(m_samples, static_cast<quint16>(value));
            else
                m_samples.append(static_cast<char>(128 + value / 256));
        }
    }
}

bool VirtualSoundRecorder::save(const QString &path)
{
    return writeWholeFile(path, pcmWaveFile(m_format, m_samples));
}

} // namespace telvox
