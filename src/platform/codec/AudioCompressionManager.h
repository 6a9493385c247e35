#pragma once

// Audio compression manager: the stand-in for the platform's compression manager, with its
// operations, result codes and flags (see AcmTypes.h). Drivers are registered by the
// composition root; ours is the TrueSpeech driver (makeTrueSpeechDriver()).
//
// Call sequence of a recording converted to TrueSpeech:
//
//   // once, at start-up: find the driver
//   manager.driverEnum(callback, 0, ACM_DRIVERENUMF_DISABLED);
//       // callback(id, instance, support): driverDetails(id, &details, 0) with details.cbStruct
//       // set; if details.szShortName contains "TrueSpeech", keep id and return false (stop)
//   // at capture start, per line slot
//   manager.driverOpen(&driver, id, 0);
//   manager.streamOpen(&stream, driver, &pcm, &trueSpeech, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME);
//   // per captured buffer (e.g. one second, 16000 bytes)
//   header = {cbStruct = 88, pbSrc/cbSrcLength = the buffer, pbDst/cbDstLength = output block};
//   manager.streamPrepareHeader(stream, &header, 0);
//   manager.streamConvert(stream, &header, 0);   // header.cbDstLengthUsed bytes of whole frames
//   manager.streamUnprepareHeader(stream, &header, 0);
//   // when the capture has closed
//   manager.streamClose(stream, 0);
//   manager.driverClose(driver, 0);
//
// Every operation returns MMSYSERR_NOERROR (0) or an error code; none throws. A conversion
// stream keeps the samples that do not complete a frame and encodes them at the next convert
// call, so one-second buffers give 33 or 34 frames and the sound has no gaps;
// ACM_STREAMCONVERTF_END pads and emits the last partial frame, ACM_STREAMCONVERTF_START
// starts the stream afresh. streamSize() suggests a destination size for a source size.
//
// Single-threaded, like its callers: no operation may run concurrently with another one on
// the same manager.

#include "platform/codec/AcmDriver.h"
#include "platform/codec/AcmTypes.h"

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace telvox::codec {

class AudioCompressionManager
{
public:
    /// Called once per driver; return false to end the enumeration.
    using DriverEnumCallback = std::function<bool(HAcmDriverId id, std::uintptr_t instance, std::uint32_t support)>;

    AudioCompressionManager();
    ~AudioCompressionManager();
    AudioCompressionManager(const AudioCompressionManager&) = delete;
    AudioCompressionManager& operator=(const AudioCompressionManager&) = delete;

    /// Registers a driver; drivers are enumerated in the order added. A disabled driver is only
    /// listed with ACM_DRIVERENUMF_DISABLED and cannot be opened.
    HAcmDriverId addDriver(std::unique_ptr<AcmDriver> driver, bool enabled = true);

    MmResult driverEnum(const DriverEnumCallback& callback, std::uintptr_t instance, std::uint32_t flags);
    MmResult driverDetails(HAcmDriverId id, AcmDriverDetails* details, std::uint32_t flags) const;
    MmResult driverOpen(HAcmDriver* driver, HAcmDriverId id, std::uint32_t flags);
    MmResult driverClose(HAcmDriver driver, std::uint32_t flags);

    /// Opens a conversion stream. With no driver (HAcmDriver{}), the first enabled driver that
    /// supports the formats is used. Filters and asynchronous conversion are not available:
    /// `filter` must be null and ACM_STREAMOPENF_ASYNC is refused with ACMERR_NOTPOSSIBLE.
    /// With ACM_STREAMOPENF_QUERY nothing is opened and `stream` may be null.
    MmResult streamOpen(HAcmStream* stream, HAcmDriver driver, const WaveFormat* source,
                        const WaveFormat* destination, const void* filter, std::uintptr_t callback,
                        std::uintptr_t instance, std::uint32_t flags);
    MmResult streamClose(HAcmStream stream, std::uint32_t flags);
    MmResult streamSize(HAcmStream stream, std::uint32_t input, std::uint32_t* output, std::uint32_t flags) const;
    MmResult streamPrepareHeader(HAcmStream stream, AcmStreamHeader* header, std::uint32_t flags);
    MmResult streamConvert(HAcmStream stream, AcmStreamHeader* header, std::uint32_t flags);
    MmResult streamUnprepareHeader(HAcmStream stream, AcmStreamHeader* header, std::uint32_t flags);

private:
    struct DriverEntry
    {
        std::unique_ptr<AcmDriver> driver;
        bool enabled = true;
    };
    struct OpenDriver
    {
        HAcmDriverId id{};
        int streams = 0;
    };
    struct OpenStream
    {
        HAcmDriver driver{};
        std::unique_ptr<AcmDriverStream> codec;
    };

    const DriverEntry* findDriver(HAcmDriverId id) const;
    OpenStream* findStream(HAcmStream stream);
    const OpenStream* findStream(HAcmStream stream) const;

    std::vector<std::pair<HAcmDriverId, DriverEntry>> m_drivers; // in enumeration order
    std::map<HAcmDriver, OpenDriver> m_openDrivers;
    std::map<HAcmStream, OpenStream> m_streams;
    std::uintptr_t m_nextDriverId = 0;
    std::uintptr_t m_nextDriver = 0;
    std::uintptr_t m_nextStream = 0;
};

/// The TrueSpeech driver: PCM 8000 Hz 16-bit mono to TrueSpeech (WaveFormat::trueSpeech()) and
/// back. Short name "TrueSpeech".
std::unique_ptr<AcmDriver> makeTrueSpeechDriver();

} // namespace telvox::codec
