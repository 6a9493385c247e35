#pragma once

#include <QByteArray>

#include <cstdint>
#include <span>
#include <vector>

namespace telvox::modem {

// How the modem carries samples in its voice data stream.
enum class VoiceEncoding {
    Signed16,   // 16-bit signed linear, little-endian (what V.253 chips send)
    Signed16BigEndian,
    Unsigned16, // 16-bit unsigned linear (32768 = silence), little-endian
    Unsigned16BigEndian,
    MuLaw,      // G.711 mu-law
    ALaw,       // G.711 A-law
    Unsigned8,  // 8-bit unsigned linear (128 = silence)
    Signed8,    // 8-bit signed linear
};

int bytesPerSample(VoiceEncoding encoding);
bool isSixteenBit(VoiceEncoding encoding);
const char *encodingName(VoiceEncoding encoding);

std::int16_t muLawToLinear(std::uint8_t code);
std::uint8_t linearToMuLaw(std::int16_t sample);
std::int16_t aLawToLinear(std::uint8_t code);
std::uint8_t linearToALaw(std::int16_t sample);

// Turns modem bytes into 16-bit samples. A 16-bit sample split across two feeds is joined.
class VoiceDecoder
{
public:
    explicit VoiceDecoder(VoiceEncoding encoding = VoiceEncoding::Signed16)
        : m_encoding(encoding)
    {
    }
    void setEncoding(VoiceEncoding encoding)
    {
        m_encoding = encoding;
        m_hasHalf = false;
    }
    VoiceEncoding encoding() const { return m_encoding; }
    // Appends the samples of `data` to `out`.
    void decode(const char *data, qsizetype size, std::vector<std::int16_t> &out);
    void reset() { m_hasHalf = false; }

private:
    VoiceEncoding m_encoding;
    bool m_hasHalf = false;
    std::uint8_t m_half = 0;
};

// How the 16-bit samples of `bytes` (raw voice data, unshielded; a second of it is enough)
// are really laid out. Sources disagree on the byte order and the sign of some chips' 16-bit
// formats, so the claimed layout is checked against the audio: read the wrong way, speech and
// line noise turn into a signal that jumps by large steps from sample to sample (a swapped byte
// order) or sits half the scale away from zero (unsigned read as signed). The layout whose
// samples change least from one to the next wins; the claimed one is kept unless another is
// clearly (four times) smoother. 8-bit encodings are returned as they are.
VoiceEncoding detectSampleLayout(const QByteArray &bytes, VoiceEncoding claimed);

// Appends the modem bytes of `samples` (not yet shielded) to `out`.
void encodeSamples(VoiceEncoding encoding, std::span<const std::int16_t> samples, QByteArray &out);

} // namespace telvox::modem
