#include "platform/media/SoundRecorder.h"

#include "core/EventLoop.h"

#include <QFile>
#include <QtEndian>

#include <cmath>
#include <numbers>

namespace telvox {

namespace {

void put16(QByteArray &b, quint16 v)
{
    char raw[2];
    qToLittleEndian(v, raw);
    b.append(raw, 2);
}

void put32(QByteArray &b, quint32 v)
{
    char raw[4];
    qToLittleEndian(v, raw);
    b.append(raw, 4);
}

} // namespace

QByteArray pcmWaveFile(const RecordFormat &format, const QByteArray &samples)
{
    const auto length = static_cast<quint32>(samples.size());
    QByteArray file;
    file.reserve(44 + samples.size());
    file.append("RIFF");
    put32(file, length + 36);
    file.append("WAVEfmt ");
    put32(file, 16);
    put16(file, 1);
    put16(file, static_cast<quint16>(format.channels));
    put32(file, static_cast<quint32>(format.samplesPerSec));
    put32(file, static_cast<quint32>(format.bytesPerSecond()));
    put16(file, static_cast<quint16>(format.blockAlign()));
    put16(file, static_cast<quint16>(format.bitsPerSample));
    file.append("data");
    put32(file, length);
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
                put16(m_samples, static_cast<quint16>(value));
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
