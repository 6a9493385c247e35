#pragma once

#include "platform/media/SoundRecorder.h"

#include <memory>

class QAudioSource;
class QBuffer;

namespace telvox {

// Records from the default sound input through Qt Multimedia (the sound server converts to
// the format asked for) into memory.
class QtSoundRecorder final : public SoundRecorder
{
public:
    QtSoundRecorder();
    ~QtSoundRecorder() override;

    bool start(const RecordFormat &format) override;
    void stop() override;
    bool save(const QString &path) override;
    void discard() override;
    bool isRecording() const override { return bool(m_source); }

private:
    RecordFormat m_format;
    std::unique_ptr<QBuffer> m_buffer;
    std::unique_ptr<QAudioSource> m_source;
    QByteArray m_samples;
};

} // namespace telvox
