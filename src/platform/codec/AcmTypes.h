#pragma once

// Types of the audio compression manager stand-in: result codes, flags, handles, wave formats
// and the driver-details and stream-header records, after the classic multimedia API. Numeric
// values are those of that API, because the system shows result codes to the user in
// hexadecimal and reads the flags by value.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace telvox::codec {

/// Result codes. An unscoped enum on purpose: the names are the platform's, and the value is
/// what the system prints.
enum MmResult : std::uint32_t {
    MMSYSERR_NOERROR = 0,
    MMSYSERR_ERROR = 1,
    MMSYSERR_BADDEVICEID = 2,
    MMSYSERR_NOTENABLED = 3,
    MMSYSERR_ALLOCATED = 4,
    MMSYSERR_INVALHANDLE = 5,
    MMSYSERR_NODRIVER = 6,
    MMSYSERR_NOMEM = 7,
    MMSYSERR_NOTSUPPORTED = 8,
    MMSYSERR_BADERRNUM = 9,
    MMSYSERR_INVALFLAG = 10,
    MMSYSERR_INVALPARAM = 11,
    MMSYSERR_HANDLEBUSY = 12,
    ACMERR_BASE = 512,
    ACMERR_NOTPOSSIBLE = 512,
    ACMERR_BUSY = 513,
    ACMERR_UNPREPARED = 514,
    ACMERR_CANCELED = 515,
};

// Flags of driverEnum.
inline constexpr std::uint32_t ACM_DRIVERENUMF_NOLOCAL = 0x40000000;
inline constexpr std::uint32_t ACM_DRIVERENUMF_DISABLED = 0x80000000;

// Support flags of a driver (AcmDriverDetails::fdwSupport and the enumeration callback).
inline constexpr std::uint32_t ACMDRIVERDETAILS_SUPPORTF_CODEC = 0x00000001;
inline constexpr std::uint32_t ACMDRIVERDETAILS_SUPPORTF_CONVERTER = 0x00000002;
inline constexpr std::uint32_t ACMDRIVERDETAILS_SUPPORTF_FILTER = 0x00000004;
inline constexpr std::uint32_t ACMDRIVERDETAILS_SUPPORTF_HARDWARE = 0x00000008;
inline constexpr std::uint32_t ACMDRIVERDETAILS_SUPPORTF_ASYNC = 0x00000010;
inline constexpr std::uint32_t ACMDRIVERDETAILS_SUPPORTF_LOCAL = 0x40000000;
inline constexpr std::uint32_t ACMDRIVERDETAILS_SUPPORTF_DISABLED = 0x80000000;

/// Four-character code 'audc' of AcmDriverDetails::fccType.
inline constexpr std::uint32_t ACMDRIVERDETAILS_FCCTYPE_AUDIOCODEC = 0x63647561;

// Flags of streamOpen.
inline constexpr std::uint32_t ACM_STREAMOPENF_QUERY = 0x00000001;
inline constexpr std::uint32_t ACM_STREAMOPENF_ASYNC = 0x00000002;
inline constexpr std::uint32_t ACM_STREAMOPENF_NONREALTIME = 0x00000004;

// Flags of streamSize.
inline constexpr std::uint32_t ACM_STREAMSIZEF_SOURCE = 0x00000000;
inline constexpr std::uint32_t ACM_STREAMSIZEF_DESTINATION = 0x00000001;

// Flags of streamConvert.
inline constexpr std::uint32_t ACM_STREAMCONVERTF_BLOCKALIGN = 0x00000004;
inline constexpr std::uint32_t ACM_STREAMCONVERTF_START = 0x00000010;
inline constexpr std::uint32_t ACM_STREAMCONVERTF_END = 0x00000020;

// AcmStreamHeader::fdwStatus bits.
inline constexpr std::uint32_t ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
inline constexpr std::uint32_t ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;
inline constexpr std::uint32_t ACMSTREAMHEADER_STATUSF_INQUEUE = 0x00100000;

// Wave format tags.
inline constexpr std::uint16_t WAVE_FORMAT_PCM = 0x0001;
inline constexpr std::uint16_t WAVE_FORMAT_DSPGROUP_TRUESPEECH = 0x0022;

/// Handles. The value 0 is "no handle"; every other value names one object of one kind.
enum class HAcmDriverId : std::uintptr_t {};
enum class HAcmDriver : std::uintptr_t {};
enum class HAcmStream : std::uintptr_t {};

/// A wave format record (the classic WAVEFORMATEX) with its extra bytes; the record's
/// extra-size field is extra.size().
struct WaveFormat
{
    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSec = 0;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::vector<std::uint8_t> extra;

    std::uint16_t cbSize() const { return std::uint16_t(extra.size()); }
    /// The record as a wave file's "fmt " chunk holds it: 18 bytes little-endian, then the extra
    /// bytes (50 bytes in all for TrueSpeech).
    std::vector<std::uint8_t> toBytes() const;
    bool operator==(const WaveFormat&) const = default;

    /// PCM, 8000 samples per second, 16 bits, mono: 16000 bytes per second, block align 2.
    static WaveFormat pcm8kMono16();
    /// DSP Group TrueSpeech: tag 0x0022, mono, 8000 Hz, 1067 bytes per second, block align 32,
    /// 1 bit per sample, 32 extra bytes: revision 1, 240 samples per block, 28 zero bytes.
    static WaveFormat trueSpeech();
};

/// Driver details (the classic ACMDRIVERDETAILS, wide-character version). A caller sets cbStruct
/// to the size of the record it provides; only that many bytes from the start are filled, and
/// cbStruct then tells how many were.
struct AcmDriverDetails
{
    std::uint32_t cbStruct = sizeof(AcmDriverDetails);
    std::uint32_t fccType = 0;
    std::uint32_t fccComp = 0;
    std::uint16_t wMid = 0;
    std::uint16_t wPid = 0;
    std::uint32_t vdwACM = 0;
    std::uint32_t vdwDriver = 0;
    std::uint32_t fdwSupport = 0;
    std::uint32_t cFormatTags = 0;
    std::uint32_t cFilterTags = 0;
    std::array<char16_t, 32> szShortName{};
    std::array<char16_t, 128> szLongName{};
    std::array<char16_t, 80> szCopyright{};
    std::array<char16_t, 128> szLicensing{};
    std::array<char16_t, 512> szFeatures{};
};

/// Size that the classic 32-bit stream-header record has; a header whose cbStruct is smaller is
/// refused as an invalid parameter.
inline constexpr std::uint32_t kMinStreamHeaderSize = 84;

/// Stream header (the classic ACMSTREAMHEADER): one source and one destination buffer.
struct AcmStreamHeader
{
    std::uint32_t cbStruct = 0; // set by the caller, at least kMinStreamHeaderSize
    std::uint32_t fdwStatus = 0;
    std::uintptr_t dwUser = 0;
    const std::uint8_t* pbSrc = nullptr;
    std::uint32_t cbSrcLength = 0;
    std::uint32_t cbSrcLengthUsed = 0; // set by streamConvert
    std::uintptr_t dwSrcUser = 0;
    std::uint8_t* pbDst = nullptr;
    std::uint32_t cbDstLength = 0;
    std::uint32_t cbDstLengthUsed = 0; // set by streamConvert
    std::uintptr_t dwDstUser = 0;

    /// Kept by the manager between prepare and unprepare; callers leave it alone.
    struct Prepared
    {
        HAcmStream stream{};
        const std::uint8_t* src = nullptr;
        std::uint32_t srcLength = 0;
        std::uint8_t* dst = nullptr;
        std::uint32_t dstLength = 0;
    } reserved;
};

} // namespace telvox::codec
