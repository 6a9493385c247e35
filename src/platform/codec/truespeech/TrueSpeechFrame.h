#pragma once

// The 32-byte TrueSpeech frame: its fields, their legal ranges, and the bit packing.
//
// A frame holds 240 samples (30 ms at 8000 Hz) in four subframes of 60 samples. The fields are
// read from eight little-endian 32-bit words, most significant bit first; see pack() for the map.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace telvox::truespeech {

inline constexpr int kSampleRate = 8000;
inline constexpr int kFrameSamples = 240;
inline constexpr int kSubframes = 4;
inline constexpr int kSubframeSamples = 60;
inline constexpr std::size_t kFrameBytes = 32;
inline constexpr int kOrder = 8;

/// Bit widths of the eight reflection-coefficient indices k1..k8.
inline constexpr std::array<int, kOrder> kReflectionBits{5, 5, 4, 4, 4, 3, 3, 3};

/// LTP code meaning "no long-term prediction in this subframe".
inline constexpr int kNoLtp = 127;
/// Largest LTP code with a meaning: 125 and 126 give fine lag 5 with tap pair 0 or 1.
inline constexpr int kMaxLtpCode = 126;
/// Lags a legal frame may use: 18 + base + fine lag stays within 18..145.
inline constexpr int kMinLag = 18;
inline constexpr int kMaxLag = 145;
/// Largest base + fine lag of a legal frame.
inline constexpr int kMaxBasePlusFine = kMaxLag - kMinLag;

inline constexpr int kPulsesLow = 3;   // pulses in positions 0..29
inline constexpr int kPulsesHigh = 4;  // pulses in positions 30..59
inline constexpr int kPulses = kPulsesLow + kPulsesHigh;
inline constexpr int kHalfSubframe = 30;
/// Number of position sets: C(30,3) and C(30,4).
inline constexpr std::uint32_t kLowPositionSets = 4060;
inline constexpr std::uint32_t kHighPositionSets = 27405;

/// All fields of one frame, unpacked.
struct FrameFields
{
    std::array<std::uint8_t, kOrder> ki{};       // codebook index of k1..k8
    bool interpolate = false;                    // the flag: interpolated filters in subframes 0-1
    std::uint8_t lagA = 0;                       // base lag of subframes 0 and 1
    std::uint8_t lagB = 0;                       // base lag of subframes 2 and 3
    std::array<std::uint8_t, kSubframes> ltp{};  // LTP code per subframe (0..126, or 127)
    std::array<std::uint16_t, kSubframes> amp{}; // seven 2-bit pulse codes per subframe (14 bits)
    std::array<std::uint32_t, kSubframes> pos{}; // pulse-position index per subframe (27 bits)
    std::array<std::uint8_t, kSubframes> gain{}; // pulse gain index per subframe (4 bits)

    bool operator==(const FrameFields&) const = default;
};

using FrameBytes = std::array<std::uint8_t, kFrameBytes>;

/// Packs the fields into 32 bytes. Fields wider than their bit width are truncated.
FrameBytes pack(const FrameFields& fields);
/// Reads the fields of 32 bytes; every bit pattern gives some FrameFields.
FrameFields unpack(std::span<const std::uint8_t, kFrameBytes> bytes);

/// True when every field lies in the range that every decoder understands the same way:
/// indices within their widths, base + fine lag <= 127, LTP code <= 126 or exactly 127,
/// position indices below C(30,3) << 15 and C(30,4).
bool isLegal(const FrameFields& fields);

/// Position set of one subframe: three positions in 0..29 and four in 30..59, each group ascending.
struct PulsePositions
{
    std::array<int, kPulses> at{};
};

/// Index of a K-subset {p1 < ... < pK} of {0..29} in lexicographic order (0 = {0,1,..,K-1}).
std::uint32_t combinationIndex(std::span<const int> ascending);
/// The K-subset with the given index; returns the number of positions decoded (fewer than K
/// when the index is out of range, as the decoder tolerates).
int combinationFromIndex(std::uint32_t index, int k, std::span<int> out);

/// Packs seven positions (three below 30, four from 30, each group ascending) into `pos`.
std::uint32_t encodePositions(const PulsePositions& positions);

} // namespace telvox::truespeech
