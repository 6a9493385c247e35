#include "platform/telephony/modem/VoiceFormat.h"

#include <array>
#include <cmath>
#include <cstdlib>

namespace telvox::modem {

bool isSixteenBit(VoiceEncoding encoding)
{
    return encoding == VoiceEncoding::Signed16 || encoding == VoiceEncoding::Signed16BigEndian
        || encoding == VoiceEncoding::Unsigned16 || encoding == VoiceEncoding::Unsigned16BigEndian;
}

int bytesPerSample(VoiceEncoding encoding) { return isSixteenBit(encoding) ? 2 : 1; }

namespace {

std::int16_t sample16(VoiceEncoding encoding, std::uint8_t first, std::uint8_t second)
{
    const bool bigEndian = encoding == VoiceEncoding::Signed16BigEndian || encoding == VoiceEncoding::Unsigned16BigEndian;
    const bool isUnsigned = encoding == VoiceEncoding::Unsigned16 || encoding == VoiceEncoding::Unsigned16BigEndian;
    auto value = static_cast<std::uint16_t>(bigEndian ? (first << 8) | second : first | (second << 8));
    if (isUnsigned)
        value ^= 0x8000;
    return static_cast<std::int16_t>(value);
}

} // namespace

const char *encodingName(VoiceEncoding encoding)
{
    switch (encoding) {
    case VoiceEncoding::Signed16:
        return "16-bit linear";
    case VoiceEncoding::Signed16BigEndian:
        return "16-bit linear, big-endian";
    case VoiceEncoding::Unsigned16:
        return "16-bit unsigned linear";
    case VoiceEncoding::Unsigned16BigEndian:
        return "16-bit unsigned linear, big-endian";
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
    case VoiceEncoding::Signed16:
    case VoiceEncoding::Signed16BigEndian:
    case VoiceEncoding::Unsigned16:
    case VoiceEncoding::Unsigned16BigEndian: {
        qsizetype i = 0;
        if (m_hasHalf && size > 0) {
            out.push_back(sample16(m_encoding, m_half, bytes[0]));
            m_hasHalf = false;
            i = 1;
        }
        for (; i + 1 < size; i += 2)
            out.push_back(sample16(m_encoding, bytes[i], bytes[i + 1]));
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

VoiceEncoding detectSampleLayout(const QByteArray &bytes, VoiceEncoding claimed)
{
    if (!isSixteenBit(claimed) || bytes.size() < 64)
        return claimed;
    static const VoiceEncoding layouts[] = {VoiceEncoding::Signed16, VoiceEncoding::Signed16BigEndian,
                                            VoiceEncoding::Unsigned16, VoiceEncoding::Unsigned16BigEndian};
    // Mean step between neighbouring samples plus the mean offset from zero: both are small
    // for audio read the right way.
    const auto roughness = [&bytes](VoiceEncoding layout) {
        std::vector<std::int16_t> s;
        VoiceDecoder decoder(layout);
        decoder.decode(bytes.constData(), bytes.size(), s);
        double steps = 0;
        double sum = 0;
        for (std::size_t i = 0; i < s.size(); ++i) {
            sum += s[i];
            if (i > 0)
                steps += std::abs(int(s[i]) - int(s[i - 1]));
        }
        const double n = static_cast<double>(s.size());
        return steps / n + std::abs(sum / n);
    };
    const double claimedRoughness = roughness(claimed);
    VoiceEncoding best = claimed;
    double bestRoughness = claimedRoughness;
    for (const VoiceEncoding layout : layouts) {
        const double r = roughness(layout);
        if (r < bestRoughness) {
            best = layout;
            bestRoughness = r;
        }
    }
    return bestRoughness * 4 < claimedRoughness ? best : claimed;
}

void encodeSamples(VoiceEncoding encoding, std::span<const std::int16_t> samples, QByteArray &out)
{
    out.reserve(out.size() + static_cast<qsizetype>(samples.size()) * bytesPerSample(encoding));
    for (const std::int16_t s : samples) {
        switch (encoding) {
        case VoiceEncoding::Signed16:
        case VoiceEncoding::Signed16BigEndian:
        case VoiceEncoding::Unsigned16:
        case VoiceEncoding::Unsigned16BigEndian: {
            auto value = static_cast<std::uint16_t>(s);
            if (encoding == VoiceEncoding::Unsigned16 || encoding == VoiceEncoding::Unsigned16BigEndian)
                value ^= 0x8000;
            const auto low = static_cast<char>(value & 0xFF);
            const auto high = static_cast<char>(value >> 8);
            const bool bigEndian = encoding == VoiceEncoding::Signed16BigEndian || encoding == VoiceEncoding::Unsigned16BigEndian;
            out.append(bigEndian ? high : low);
            out.append(bigEndian ? low : high);
            break;
        }
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
