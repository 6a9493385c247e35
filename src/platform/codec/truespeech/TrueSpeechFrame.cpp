#include "TrueSpeechFrame.h"

#include "TrueSpeechTables.h"

namespace telvox::truespeech {

namespace {

// Reads fields MSB-first from the eight words, as the frame defines them.
class BitReader
{
public:
    explicit BitReader(std::span<const std::uint8_t, kFrameBytes> bytes)
    {
        for (int j = 0; j < 8; ++j) {
            m_words[j] = std::uint32_t(bytes[4 * j]) | std::uint32_t(bytes[4 * j + 1]) << 8
                | std::uint32_t(bytes[4 * j + 2]) << 16 | std::uint32_t(bytes[4 * j + 3]) << 24;
        }
    }
    std::uint32_t read(int width)
    {
        const int word = m_bit / 32;
        const int lo = 32 - (m_bit % 32) - width;
        m_bit += width;
        const std::uint32_t mask = width == 32 ? 0xFFFFFFFFu : (1u << width) - 1u;
        return (m_words[word] >> lo) & mask;
    }

private:
    std::array<std::uint32_t, 8> m_words{};
    int m_bit = 0;
};

class BitWriter
{
public:
    void write(std::uint32_t value, int width)
    {
        const int word = m_bit / 32;
        const int lo = 32 - (m_bit % 32) - width;
        m_bit += width;
        const std::uint32_t mask = width == 32 ? 0xFFFFFFFFu : (1u << width) - 1u;
        m_words[word] |= (value & mask) << lo;
    }
    FrameBytes bytes() const
    {
        FrameBytes out{};
        for (int j = 0; j < 8; ++j) {
            for (int b = 0; b < 4; ++b)
                out[4 * j + b] = std::uint8_t(m_words[j] >> (8 * b));
        }
        return out;
    }

private:
    std::array<std::uint32_t, 8> m_words{};
    int m_bit = 0;
};

} // namespace

FrameBytes pack(const FrameFields& f)
{
    BitWriter w;
    for (int i = kOrder - 1; i >= 0; --i)
        w.write(f.ki[i], kReflectionBits[i]);
    w.write(f.interpolate ? 1 : 0, 1);
    w.write(f.lagA >> 4, 4);
    for (int q = 3; q >= 0; --q)
        w.write(f.ltp[q], 7);
    w.write(f.lagB & 15, 4);
    w.write(f.amp[1], 14);
    w.write(f.amp[0], 14);
    w.write(f.lagB >> 4, 4);
    w.write(f.amp[3], 14);
    w.write(f.amp[2], 14);
    for (int q = 0; q < kSubframes; ++q) {
        w.write((f.lagA >> q) & 1, 1);
        w.write(f.pos[q], 27);
        w.write(f.gain[q], 4);
    }
    return w.bytes();
}

FrameFields unpack(std::span<const std::uint8_t, kFrameBytes> bytes)
{
    BitReader r(bytes);
    FrameFields f;
    for (int i = kOrder - 1; i >= 0; --i)
        f.ki[i] = std::uint8_t(r.read(kReflectionBits[i]));
    f.interpolate = r.read(1) != 0;
    std::uint32_t lagA = r.read(4) << 4;
    for (int q = 3; q >= 0; --q)
        f.ltp[q] = std::uint8_t(r.read(7));
    std::uint32_t lagB = r.read(4);
    f.amp[1] = std::uint16_t(r.read(14));
    f.amp[0] = std::uint16_t(r.read(14));
    lagB |= r.read(4) << 4;
    f.amp[3] = std::uint16_t(r.read(14));
    f.amp[2] = std::uint16_t(r.read(14));
    for (int q = 0; q < kSubframes; ++q) {
        lagA |= r.read(1) << q;
        f.pos[q] = r.read(27);
        f.gain[q] = std::uint8_t(r.read(4));
    }
    f.lagA = std::uint8_t(lagA);
    f.lagB = std::uint8_t(lagB);
    return f;
}

bool isLegal(const FrameFields& f)
{
    for (int i = 0; i < kOrder; ++i) {
        if (f.ki[i] >= (1u << kReflectionBits[i]))
            return false;
    }
    for (int q = 0; q < kSubframes; ++q) {
        const int code = f.ltp[q];
        const int base = q < 2 ? f.lagA : f.lagB;
        if (code > kNoLtp)
            return false;
        if (code != kNoLtp && base + code / 25 > kMaxBasePlusFine)
            return false;
        if ((f.pos[q] >> 15) >= kLowPositionSets || (f.pos[q] & 0x7FFF) >= kHighPositionSets)
            return false;
        if (f.amp[q] >= (1u << 14) || f.gain[q] >= 16)
            return false;
    }
    return true;
}

std::uint32_t combinationIndex(std::span<const int> p)
{
    // index = sum over m of sum_{i = p[m-1]+1 .. p[m]-1} C(29 - i, K - m), with p[-1] = -1.
    // ts_pulse_values[r][i] = C(29 - i, 3 - r), so C(29 - i, j) is row 3 - j.
    const int k = int(p.size());
    std::uint32_t index = 0;
    int previous = -1;
    for (int m = 1; m <= k; ++m) {
        for (int i = previous + 1; i < p[m - 1]; ++i)
            index += std::uint32_t(tables::ts_pulse_values[3 - (k - m)][i]);
        previous = p[m - 1];
    }
    return index;
}

int combinationFromIndex(std::uint32_t index, int k, std::span<int> out)
{
    int found = 0;
    for (int i = 0; i < kHalfSubframe && k > 0; ++i) {
        const auto t = std::uint32_t(tables::ts_pulse_values[3 - (k - 1)][i]);
        if (index >= t) {
            index -= t;
        } else {
            out[found++] = i;
            --k;
        }
    }
    return found;
}

std::uint32_t encodePositions(const PulsePositions& positions)
{
    std::array<int, kPulsesHigh> high{};
    for (int n = 0; n < kPulsesHigh; ++n)
        high[n] = positions.at[kPulsesLow + n] - kHalfSubframe;
    const std::uint32_t hi = combinationIndex(std::span<const int>(positions.at.data(), kPulsesLow));
    const std::uint32_t lo = combinationIndex(high);
    return hi << 15 | lo;
}

} // namespace telvox::truespeech
