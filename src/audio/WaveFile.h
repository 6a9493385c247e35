#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <optional>

namespace telvox {

// The 18-byte wave format record of a "fmt " chunk.
struct WaveFormat
{
    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSec = 0;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t extraSize = 0; // 0 when the chunk has only 16 bytes
    QByteArray extra;            // the extra format bytes (TrueSpeech: 32)

    bool isLinePcm() const
    {
        return formatTag == 1 && channels == 1 && samplesPerSec == 8000 && bitsPerSample == 16;
    }
};

struct WaveData
{
    WaveFormat format;
    QByteArray data; // the whole "data" chunk
};

// Parses a RIFF "WAVE" file held in memory: finds "fmt " and "data" wherever they stand among
// the chunks, steps over other chunks (odd sizes padded to even, as RIFF requires) and never
// reads past the end: a truncated "data" chunk yields the bytes that are there, a truncated or
// hostile header yields nothing.
std::optional<WaveData> parseWave(QByteArrayView bytes);
// Reads and parses a wave file; nothing when it cannot be read or is not a wave file.
std::optional<WaveData> readWaveFile(const QString &path);

// The sample rates a prompt may claim. Outside them a header is broken or hostile (a rate of
// 1 Hz would make a two-second prompt hours long when it is resampled for the line).
inline constexpr std::uint32_t kMinPromptRate = 4000;
inline constexpr std::uint32_t kMaxPromptRate = 48000;

// Why a prompt cannot be played to a line.
enum class PromptProblem {
    None,
    NotWave, // no RIFF "WAVE" file with a "fmt " and a "data" chunk
    Format,  // not PCM of 8 or 16 bits with 1 to 8 channels
    Rate,    // a sample rate outside kMinPromptRate..kMaxPromptRate
};
PromptProblem promptProblem(const WaveFormat &format);

// The audio as the line plays it: 16-bit linear PCM, mono, 8000 samples per second. PCM of
// 8 or 16 bits, 1 to 8 channels and a rate of 4000 to 48000 Hz is mixed down and resampled
// (the result is at most four times the size of the data: two 16-bit samples for each byte of
// 8-bit mono at 4000 Hz); anything else gives nothing.
std::optional<QByteArray> toLineFormat(const WaveData &wave);

// A prompt file read and converted for the line. `problem` says why `audio` is empty when the
// file exists but cannot be played; a missing or unreadable file gives None and no audio.
struct LinePrompt
{
    std::optional<QByteArray> audio;
    PromptProblem problem = PromptProblem::None;
    std::uint32_t claimedRate = 0;
};
LinePrompt readLinePrompt(const QString &path);

class Texts;
// The status line for a prompt that was refused: "<file> cannot be played (<why>)", with
// "; the default prompt is used instead" when the built-in one takes its place.
QString promptRefusedText(const Texts &texts, const QString &fileName, PromptProblem problem,
                          std::uint32_t claimedRate, bool defaultUsed);
// The built-in prompt that stands in for a prompt file of this name (greeting or legal
// notice); empty for any other file.
QString builtInPromptFor(const QString &path);

} // namespace telvox
