#pragma once

#include "platform/media/MediaDevice.h"
#include "platform/media/WaveFileInfo.h"

#include <memory>

class QAudioOutput;
class QMediaPlayer;

namespace telvox {

// Plays on the sound card through Qt Multimedia (GStreamer on Linux: PCM through the base
// plugins, TrueSpeech and other compressed wave formats where the libav plugin is installed).
// The length of a wave file comes from its header, so it is known as soon as the file is open;
// other files report the decoder's duration once it is known. The player is created on the
// first open, so a program that never plays anything never starts the sound system.
class QtMediaDevice final : public MediaDevice
{
public:
    QtMediaDevice();
    ~QtMediaDevice() override;

    bool open(const QString &path) override;
    void close() override;
    qint64 lengthMs() const override;
    qint64 positionMs() const override;
    void play() override;
    void pause() override;
    void seek(qint64 ms) override;
    bool isPlaying() const override;

    QString lastError() const override { return m_error; }

private:
    void ensurePlayer();

    std::unique_ptr<QAudioOutput> m_output;
    std::unique_ptr<QMediaPlayer> m_player;
    WaveFileInfo m_info;
    QString m_error;
    bool m_open = false;
};

} // namespace telvox
