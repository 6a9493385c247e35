#pragma once

// A driver of the audio compression manager stand-in: what it tells about itself and the
// conversion streams it opens. The manager does the handle, flag and header bookkeeping;
// a driver only checks formats and converts.

#include "platform/codec/AcmTypes.h"

#include <memory>

namespace telvox::codec {

/// One open conversion stream of a driver.
class AcmDriverStream
{
public:
    virtual ~AcmDriverStream() = default;

    /// Converts header.pbSrc[0, cbSrcLength) into header.pbDst[0, cbDstLength) and sets
    /// cbSrcLengthUsed and cbDstLengthUsed. `flags` holds the ACM_STREAMCONVERTF_* bits.
    virtual MmResult convert(AcmStreamHeader& header, std::uint32_t flags) = 0;
    /// Buffer size suggestion: destination bytes for `bytes` source bytes
    /// (ACM_STREAMSIZEF_SOURCE), or source bytes for `bytes` destination bytes
    /// (ACM_STREAMSIZEF_DESTINATION). 0 when no size fits.
    virtual std::uint32_t size(std::uint32_t bytes, std::uint32_t flags) const = 0;
};

class AcmDriver
{
public:
    virtual ~AcmDriver() = default;

    /// The full details record (cbStruct = sizeof(AcmDriverDetails)).
    virtual AcmDriverDetails details() const = 0;
    /// MMSYSERR_NOERROR when the driver converts `source` into `destination`, else the reason
    /// (usually ACMERR_NOTPOSSIBLE).
    virtual MmResult supports(const WaveFormat& source, const WaveFormat& destination) const = 0;
    /// Opens a stream for formats that supports() accepted.
    virtual std::unique_ptr<AcmDriverStream> openStream(const WaveFormat& source, const WaveFormat& destination) = 0;
};

} // namespace telvox::codec
