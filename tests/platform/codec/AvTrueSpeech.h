#pragma once

// Test helpers: libavcodec's TrueSpeech decoder as the reference, the speech clips of
// tests/data, and quality measures.

#include "../../support/SignalWav.h"

#include <cstddef>
#include <cstdlib>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct AVCodecContext;
struct AVPacket;
struct AVFrame;

namespace telvox::test {

/// libavcodec's TrueSpeech decoder (AV_CODEC_ID_TRUESPEECH), one instance per stream.
class AvTrueSpeech
{
public:
    AvTrueSpeech();
    ~AvTrueSpeech();
    AvTrueSpeech(const AvTrueSpeech&) = delete;
    AvTrueSpeech& operator=(const AvTrueSpeech&) = delete;

    bool isOpen() const { return m_context != nullptr; }
    /// Decodes `bytes` in packets of `framesPerPacket` frames; returns the samples, or an empty
    /// vector with error() set when libavcodec refuses.
    std::vector<std::int16_t> decode(std::span<const std::uint8_t> bytes, std::size_t framesPerPacket = 1);
    const std::string& error() const { return m_error; }

private:
    AVCodecContext* m_context = nullptr;
    AVPacket* m_packet = nullptr;
    AVFrame* m_frame = nullptr;
    std::string m_error;
};

/// Samples of a speech clip of tests/data (8000 Hz, 16-bit, mono); empty when the file is
/// missing (the tests run with TELVOX_SOURCE_DIR set to the source tree).
inline std::vector<std::int16_t> loadSpeech(const std::string& name)
{
    const char* root = std::getenv("TELVOX_SOURCE_DIR");
    return readLineWav(std::string(root ? root : ".") + "/tests/data/" + name);
}

/// Segmental SNR in dB over 240-sample segments, skipping segments whose reference is near
/// silent (below -50 dBFS RMS); each segment's SNR is limited to -10..+40 dB.
double segmentalSnr(std::span<const std::int16_t> reference, std::span<const std::int16_t> test);
/// Normalised cross-correlation of the two signals at lag 0.
double correlation(std::span<const std::int16_t> a, std::span<const std::int16_t> b);

} // namespace telvox::test
