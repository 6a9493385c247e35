#pragma once

#include "platform/media/MediaDevice.h"
#include "platform/media/SoundRecorder.h"

#include <memory>

namespace telvox {

// The sound card's player and recorder live in the sound module (telvox-media.so, with Qt
// Multimedia and the sound server's libraries), loaded when a file is first played or a
// prompt first recorded: a start that plays nothing loads none of it. Without the module
// nothing plays or records, as on a computer without a sound card. (core/ProgramModule.h)
class ModuleMediaDevice final : public MediaDevice
{
public:
    ModuleMediaDevice();
    ~ModuleMediaDevice() override;

    bool open(const QString &path) override;
    void close() override;
    qint64 lengthMs() const override;
    qint64 positionMs() const override;
    void play() override;
    void pause() override;
    void seek(qint64 ms) override;
    bool isPlaying() const override;
    QString lastError() const override;

private:
    std::unique_ptr<MediaDevice> m_device; // made on the first open
    QString m_loadError;
};

class ModuleSoundRecorder final : public SoundRecorder
{
public:
    ModuleSoundRecorder();
    ~ModuleSoundRecorder() override;

    bool start(const RecordFormat &format) override;
    void stop() override;
    bool save(const QString &path) override;
    void discard() override;
    bool isRecording() const override;

private:
    std::unique_ptr<SoundRecorder> m_recorder; // made on the first start
};

} // namespace telvox
