#pragma once

#include <QByteArray>
#include <QString>

namespace telvox {

class EventLoop;

// The format a prompt is recorded in; the media control's "set" commands change it.
struct RecordFormat
{
    int samplesPerSec = 11025;
    int channels = 1;
    int bitsPerSample = 16;

    int blockAlign() const { return channels * bitsPerSample / 8; }
    int bytesPerSecond() const { return samplesPerSec * blockAlign(); }
};

// The recording device behind the media control's "open new type waveaudio": records from the
// computer's default sound input into memory until stopped, then saves what it holds as a PCM
// wave file.
class SoundRecorder
{
public:
    virtual ~SoundRecorder() = default;

    // Starts recording with `format`. False when there is no sound input to record from.
    virtual bool start(const RecordFormat &format) = 0;
    virtual void stop() = 0;
    // Writes what was recorded as a RIFF wave file (replacing `path`); false when it cannot
    // be written.
    virtual bool save(const QString &path) = 0;
    // Forgets what was recorded.
    virtual void discard() = 0;
    virtual bool isRecording() const = 0;
};

// A complete PCM wave file: the 44-byte header for `format` followed by `samples`.
QByteArray pcmWaveFile(const RecordFormat &format, const QByteArray &samples);
// Writes `bytes` to `path`, replacing what was there; false on failure.
bool writeWholeFile(const QString &path, const QByteArray &bytes);

// A recorder without sound hardware: it "records" a steady 440 Hz tone for as long as the
// event loop's clock runs between start and stop, so tests can record in virtual time. An
// absent input is simulated with setInputPresent(false).
class VirtualSoundRecorder final : public SoundRecorder
{
public:
    explicit VirtualSoundRecorder(const EventLoop &loop)
        : m_loop(loop)
    {
    }

    bool start(const RecordFormat &format) override;
    void stop() override;
    bool save(const QString &path) override;
    void discard() override { m_samples.clear(); }
    bool isRecording() const override { return m_recording; }

    void setInputPresent(bool present) { m_inputPresent = present; }
    RecordFormat format() const { return m_format; }

private:
    const EventLoop &m_loop;
    RecordFormat m_format;
    QByteArray m_samples;
    qint64 m_startedAt = 0;
    bool m_recording = false;
    bool m_inputPresent = true;
};

} // namespace telvox
