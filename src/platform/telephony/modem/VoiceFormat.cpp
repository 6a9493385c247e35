#include "platform/telephony/modem/VoiceFormat.h"

#include <array>

namespace telvox::modem {

int bytesPerSample(VoiceEncoding encoding) { return encoding == VoiceEncoding::Signed16 ? 2 : 1; }

const char *encodingName(VoiceEncoding encoding)
{
    switch (encoding) {
    case VoiceEncoding::Signed16:
        return "16-bit linear";
    case VoiceEncoding::MuLaw:
        return "mu-law";
    case VoiceEncoding::ALaw:
        return "A-law";
    case VoiceEncoding::Unsigned8:
        return "8-bit unsigned linear";
    case VoiceEncoding::Signed8:
        return "8-bit signed linear";
    }
    return "?";
}

// G.711 as in the recommendation: mu-law with the 0x84 bias, A-law with even bits inverted.
std::int16_t muLawToLinear(std::uint8_t code)
{
    code = static_cast<std::uint8_t>(~code);
    const int exponent = (code >> 4) & 0x07;
    const int mantissa = code & 0x0F;
    int magnitude = ((mantissa << 3) + 0x84) << exponent;
    magnitude -= 0x84;
    return static_cast<std::int16_t>((code & 0x80) ? -magnitude : magnitude);
}

std::uint8_t linearToMuLaw(std::int16_t sample)
{
    constexpr int kBias = 0x84;
    constexpr int kClip = 32635;
    int value = sample;
    int sign = 0;
    if (value < 0) {
        value = -value;
        sign = 0x80;
    }
    if (value > kClip)
        value = kClip;
    value += kBias;
    int exponent = 7;
    for (int mask = 0x4000; (value & mask) == 0 && exponent > 0; mask >>= 1)
        --exponent;
    const int mantissa = (value >> (exponent + 3)) & 0x0F;
    return static_cast<std::uint8_t>(~(sign | (exponent << 4) | mantissa));
}

std::int16_t aLawToLinear(std::uint8_t code)
{
    code ^= 0x55;
    const int exponent = (code >> 4) & 0x07;
    const int mantissa = code & 0x0F;
    int magnitude = exponent == 0 ? (mantissa << 4) + 8 : ((mantissa << 4) + 0x108) << (exponent - 1);
    return static_cast<std::int16_t>((code & 0x80) ? magnitude : -magnitude);
}

std::uint8_t linearToALaw(std::int16_t sample)
{
    int value = sample;
    int sign = 0x80;
    if (value < 0) {
        value = -value - 1;
        sign = 0;
    }
    if (value > 32767)
        value = 32767;
    std::uint8_t code;
    if (value < 256) {
        code = static_cast<std::uint8_t>(value >> 4);
    } else {
        int exponent = 1;
        for (int v = value >> 8; v > 1; v >>= 1)
            ++exponent;
        code = static_cast<std::uint8_t>((exponent << 4) | ((value >> (exponent + 3)) & 0x0F));
    }
    return static_cast<std::uint8_t>((code | sign) ^ 0x55);
}

void VoiceDecoder::decode(const char *data, qsizetype size, std::vector<std::int16_t> &out)
{
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(data);
    switch (m_encoding) {
    case VoiceEncoding::Signed16: {
        qsizetype i = 0;
        if (m_hasHalf && size > 0) {
            out.push_back(static_cast<std::int16_t>(m_half | (bytes[0] << 8)));
            m_hasHalf = false;
            i = 1;
        }
        for (; i + 1 < size; i += 2)
            out.push_back(static_cast<std::int16_t>(bytes[i] | (bytes[i + 1] << 8)));
        if (i < size) {
            m_half = bytes[i];
            m_hasHalf = true;
        }
        break;
    }
    case VoiceEncoding::MuLaw:
        for (qsizetype i = 0; i < size; ++i)
            out.push_back(muLawToLinear(bytes[i]));
        break;
    case VoiceEncoding::ALaw:
        for (qsizetype i = 0; i < size; ++i)
            out.push_back(aLawToLinear(bytes[i]));
        break;
    case VoiceEncoding::Unsigned8:
        for (qsizetype i = 0; i < size; ++i)
            out.push_back(static_cast<std::int16_t>((bytes[i] - 128) * 256));
        break;
    case VoiceEncoding::Signed8:
        for (qsizetype i = 0; i < size; ++i)
            out.push_back(static_cast<std::int16_t>(static_cast<std::int8_t>(bytes[i]) * 256));
        break;
    }
}

void encodeSamples(VoiceEncoding encoding, std::span<const std::int16_t> samples, QByteArray &out)
{
    out.reserve(out.size() + static_cast<qsizetype>(samples.size()) * bytesPerSample(encoding));
    for (const std::int16_t s : samples) {
        switch (encoding) {
        case VoiceEncoding::Signed16:
            out.append(static_cast<char>(s & 0xFF));
            out.append(static_cast<char>((s >> 8) & 0xFF));
            break;
        case VoiceEncoding::MuLaw:
            out.append(static_cast<char>(linearToMuLaw(s)));
            break;
        case VoiceEncoding::ALaw:
            out.append(static_cast<char>(linearToALaw(s)));
            break;
        case VoiceEncoding::Unsigned8:
            out.append(static_cast<char>((s >> 8) + 128));
            break;
        case VoiceEncoding::Signed8:
            out.append(static_cast<char>(s >> 8));
            break;
        }
    }
}

} // namespace telvox::modem
