#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace telvox {

// The audio of a recording as 16-bit samples at its own rate, with what its header said.
struct RecordingAudio
{
    std::vector<std::int16_t> samples; // mono (the first channel of a multi-channel file)
    int sampleRate = 8000;
    bool wasTrueSpeech = false;
    std::int64_t lengthMs() const
    {
        return sampleRate <= 0 ? 0 : static_cast<std::int64_t>(samples.size()) * 1000 / sampleRate;
    }
};

// Reads a recording: 16-bit PCM (any rate, the first channel) or TrueSpeech, which our own
// decoder turns into samples. A truncated data chunk gives the whole frames that are there;
// nothing when the file cannot be read or holds another format. `error` says why.
std::optional<RecordingAudio> readRecordingAudio(const QString &path, QString *error = nullptr);

// Playing time in milliseconds that the header of a recording announces (0 when unreadable).
std::int64_t recordingLengthMs(const QString &path);

// Ogg Opus of the samples (mono, voice tuned, about 24 kbit/s), with a title comment. Empty
// when the encoder refuses the input.
QByteArray encodeOggOpus(const RecordingAudio &audio, const QString &title);

} // namespace telvox
