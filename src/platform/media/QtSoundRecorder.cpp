#include "platform/media/QtSoundRecorder.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSource>
#include <QBuffer>
#include <QMediaDevices>

namespace telvox {

QtSoundRecorder::QtSoundRecorder() = default;

QtSoundRecorder::~QtSoundRecorder() { stop(); }

bool QtSoundRecorder::start(const RecordFormat &format)
{
    stop();
    m_samples.clear();
    const QAudioDevice input = QMediaDevices::defaultAudioInput();
    if (input.isNull())
        return false;
    if (format.bitsPerSample != 16 && format.bitsPerSample != 8)
        return false;
    QAudioFormat qtFormat;
    qtFormat.setSampleRate(format.samplesPerSec);
    qtFormat.setChannelCount(format.channels);
    qtFormat.setSampleFormat(format.bitsPerSample == 16 ? QAudioFormat::Int16 : QAudioFormat::UInt8);
    m_format = format;
    m_buffer = std::make_unique<QBuffer>(&m_samples);
    m_buffer->open(QIODevice::WriteOnly);
    m_source = std::make_unique<QAudioSource>(input, qtFormat);
    m_source->start(m_buffer.get());
    if (m_source->error() != QAudio::NoError) {
        m_source.reset();
        m_buffer.reset();
        return false;
    }
    return true;
}

void QtSoundRecorder::stop()
{
    if (!m_source)
        return;
    m_source->stop();
    m_source.reset();
    m_buffer.reset();
}

bool QtSoundRecorder::save(const QString &path) { return writeWholeFile(path, pcmWaveFile(m_format, m_samples)); }

void QtSoundRecorder::discard()
{
    stop();
    m_samples.clear();
}

} // namespace telvox
