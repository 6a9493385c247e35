#include "platform/codec/AudioCompressionManager.h"

#include <algorithm>
#include <cstring>

namespace telvox::codec {

namespace {

// Handle values of different kinds never meet: a handle of one kind passed as another is
// refused as invalid, as is a handle that was closed.
constexpr std::uintptr_t kDriverIdBase = 0x10000;
constexpr std::uintptr_t kDriverBase = 0x20000;
constexpr std::uintptr_t kStreamBase = 0x30000;

constexpr std::uint32_t kConvertFlags = ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END;
constexpr std::uint32_t kOpenFlags = ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_ASYNC | ACM_STREAMOPENF_NONREALTIME;

void put16(std::vector<std::uint8_t>& out, std::uint16_t v)
{
    out.push_back(std::uint8_t(v));
    out.push_back(std::uint8_t(v >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    put16(out, std::uint16_t(v));
    put16(out, std::uint16_t(v >> 16));
}

// A header handed back for converting or unpreparing must be the one prepared on this stream,
// with its buffers neither moved nor grown since.
MmResult checkPrepared(HAcmStream stream, const AcmStreamHeader& header)
{
    if (!(header.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) || header.reserved.stream != stream)
        return ACMERR_UNPREPARED;
    const auto& p = header.reserved;
    if (p.src != header.pbSrc || p.srcLength < header.cbSrcLength || p.dst != header.pbDst || p.dstLength < header.cbDstLength)
        return MMSYSERR_INVALPARAM;
    return MMSYSERR_NOERROR;
}

} // namespace

std::vector<std::uint8_t> WaveFormat::toBytes() const
{
    std::vector<std::uint8_t> out;
    put16(out, formatTag);
    put16(out, channels);
    put32(out, samplesPerSec);
    put32(out, avgBytesPerSec);
    put16(out, blockAlign);
    put16(out, bitsPerSample);
    put16(out, cbSize());
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
}

WaveFormat WaveFormat::pcm8kMono16()
{
    return {WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, {}};
}

WaveFormat WaveFormat::trueSpeech()
{
    WaveFormat f{WAVE_FORMAT_DSPGROUP_TRUESPEECH, 1, 8000, 1067, 32, 1, std::vector<std::uint8_t>(32, 0)};
    f.extra[0] = 1;   // revision
    f.extra[2] = 240; // samples per block
    return f;
}

AudioCompressionManager::AudioCompressionManager() = default;
AudioCompressionManager::~AudioCompressionManager() = default;

HAcmDriverId AudioCompressionManager::addDriver(std::unique_ptr<AcmDriver> driver, bool enabled)
{
    const HAcmDriverId id{kDriverIdBase + ++m_nextDriverId};
    m_drivers.push_back({id, DriverEntry{std::move(driver), enabled}});
    return id;
}

const AudioCompressionManager::DriverEntry* AudioCompressionManager::findDriver(HAcmDriverId id) const
{
    for (const auto& [driverId, entry] : m_drivers) {
        if (driverId == id)
            return &entry;
    }
    return nullptr;
}

AudioCompressionManager::OpenStream* AudioCompressionManager::findStream(HAcmStream stream)
{
    const auto it = m_streams.find(stream);
    return it == m_streams.end() ? nullptr : &it->second;
}

const AudioCompressionManager::OpenStream* AudioCompressionManager::findStream(HAcmStream stream) const
{
    const auto it = m_streams.find(stream);
    return it == m_streams.end() ? nullptr : &it->second;
}

MmResult AudioCompressionManager::driverEnum(const DriverEnumCallback& callback, std::uintptr_t instance, std::uint32_t flags)
{
    if (!callback)
        return MMSYSERR_INVALPARAM;
    if (flags & ~(ACM_DRIVERENUMF_NOLOCAL | ACM_DRIVERENUMF_DISABLED))
        return MMSYSERR_INVALFLAG;
    // Copy the identifiers first: the callback may register or open drivers.
    std::vector<HAcmDriverId> ids;
    for (const auto& [id, entry] : m_drivers) {
        if (entry.enabled || (flags & ACM_DRIVERENUMF_DISABLED))
            ids.push_back(id);
    }
    for (const HAcmDriverId id : ids) {
        const DriverEntry* entry = findDriver(id);
        std::uint32_t support = entry->driver->details().fdwSupport;
        if (!entry->enabled)
            support |= ACMDRIVERDETAILS_SUPPORTF_DISABLED;
        if (!callback(id, instance, support))
            break;
    }
    return MMSYSERR_NOERROR;
}

MmResult AudioCompressionManager::driverDetails(HAcmDriverId id, AcmDriverDetails* details, std::uint32_t flags) const
{
    const DriverEntry* entry = findDriver(id);
    if (!entry)
        return MMSYSERR_INVALHANDLE;
    if (!details || details->cbStruct < sizeof(details->cbStruct))
        return MMSYSERR_INVALPARAM;
    if (flags != 0)
        return MMSYSERR_INVALFLAG;
    AcmDriverDetails full = entry->driver->details();
    if (!entry->enabled)
        full.fdwSupport |= ACMDRIVERDETAILS_SUPPORTF_DISABLED;
    const std::uint32_t size = std::min<std::uint32_t>(details->cbStruct, sizeof(AcmDriverDetails));
    full.cbStruct = size;
    std::memcpy(static_cast<void*>(details), &full, size);
    return MMSYSERR_NOERROR;
}

MmResult AudioCompressionManager::driverOpen(HAcmDriver* driver, HAcmDriverId id, std::uint32_t flags)
{
    if (!driver)
        return MMSYSERR_INVALPARAM;
    const DriverEntry* entry = findDriver(id);
    if (!entry)
        return MMSYSERR_INVALHANDLE;
    if (flags != 0)
        return MMSYSERR_INVALFLAG;
    if (!entry->enabled)
        return MMSYSERR_NOTENABLED;
    const HAcmDriver handle{kDriverBase + ++m_nextDriver};
    m_openDrivers[handle] = {id, 0};
    *driver = handle;
    return MMSYSERR_NOERROR;
}

MmResult AudioCompressionManager::driverClose(HAcmDriver driver, std::uint32_t flags)
{
    const auto it = m_openDrivers.find(driver);
    if (it == m_openDrivers.end())
        return MMSYSERR_INVALHANDLE;
    if (flags != 0)
        return MMSYSERR_INVALFLAG;
    if (it->second.streams > 0)
        return ACMERR_BUSY;
    m_openDrivers.erase(it);
    return MMSYSERR_NOERROR;
}

MmResult AudioCompressionManager::streamOpen(HAcmStream* stream, HAcmDriver driver, const WaveFormat* source,
                                             const WaveFormat* destination, const void* filter,
                                             std::uintptr_t /*callback*/, std::uintptr_t /*instance*/, std::uint32_t flags)
{
    if (flags & ~kOpenFlags)
        return MMSYSERR_INVALFLAG;
    const bool query = flags & ACM_STREAMOPENF_QUERY;
    if ((!stream && !query) || !source || !destination)
        return MMSYSERR_INVALPARAM;
    if (stream)
        *stream = HAcmStream{};

    // The driver: the one given, or the first enabled one that can do the conversion.
    const DriverEntry* entry = nullptr;
    if (driver != HAcmDriver{}) {
        const auto it = m_openDrivers.find(driver);
        if (it == m_openDrivers.end())
            return MMSYSERR_INVALHANDLE;
        entry = findDriver(it->second.id);
        const MmResult supported = entry->driver->supports(*source, *destination);
        if (supported != MMSYSERR_NOERROR)
            return supported;
    } else {
        for (const auto& [id, candidate] : m_drivers) {
            if (candidate.enabled && candidate.driver->supports(*source, *destination) == MMSYSERR_NOERROR) {
                entry = &candidate;
                break;
            }
        }
        if (!entry)
            return ACMERR_NOTPOSSIBLE;
    }
    if (filter || (flags & ACM_STREAMOPENF_ASYNC))
        return ACMERR_NOTPOSSIBLE;
    if (query)
        return MMSYSERR_NOERROR;

    std::unique_ptr<AcmDriverStream> codec = entry->driver->openStream(*source, *destination);
    if (!codec)
        return MMSYSERR_NOMEM;
    const HAcmStream handle{kStreamBase + ++m_nextStream};
    if (driver != HAcmDriver{})
        ++m_openDrivers[driver].streams;
    m_streams[handle] = OpenStream{driver, std::move(codec)};
    *stream = handle;
    return MMSYSERR_NOERROR;
}

MmResult AudioCompressionManager::streamClose(HAcmStream stream, std::uint32_t flags)
{
    const auto it = m_streams.find(stream);
    if (it == m_streams.end())
        return MMSYSERR_INVALHANDLE;
    if (flags != 0)
        return MMSYSERR_INVALFLAG;
    const auto open = m_openDrivers.find(it->second.driver);
    if (open != m_openDrivers.end())
        --open->second.streams;
    m_streams.erase(it);
    return MMSYSERR_NOERROR;
}

MmResult AudioCompressionManager::streamSize(HAcmStream stream, std::uint32_t input, std::uint32_t* output, std::uint32_t flags) const
{
    const OpenStream* s = findStream(stream);
    if (!s)
        return MMSYSERR_INVALHANDLE;
    if (!output)
        return MMSYSERR_INVALPARAM;
    if (flags & ~ACM_STREAMSIZEF_DESTINATION)
        return MMSYSERR_INVALFLAG;
    const std::uint32_t size = s->codec->size(input, flags);
    if (size == 0)
        return ACMERR_NOTPOSSIBLE;
    *output = size;
    return MMSYSERR_NOERROR;
}

MmResult AudioCompressionManager::streamPrepareHeader(HAcmStream stream, AcmStreamHeader* header, std::uint32_t flags)
{
    if (!findStream(stream))
        return MMSYSERR_INVALHANDLE;
    if (!header || header->cbStruct < kMinStreamHeaderSize)
        return MMSYSERR_INVALPARAM;
    if (flags != 0)
        return MMSYSERR_INVALFLAG;
    if (!header->pbSrc || !header->pbDst)
        return MMSYSERR_INVALPARAM;
    header->reserved = {stream, header->pbSrc, header->cbSrcLength, header->pbDst, header->cbDstLength};
    header->fdwStatus &= ~(ACMSTREAMHEADER_STATUSF_DONE | ACMSTREAMHEADER_STATUSF_INQUEUE);
    header->fdwStatus |= ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

MmResult AudioCompressionManager::streamConvert(HAcmStream stream, AcmStreamHeader* header, std::uint32_t flags)
{
    OpenStream* s = findStream(stream);
    if (!s)
        return MMSYSERR_INVALHANDLE;
    if (!header || header->cbStruct < kMinStreamHeaderSize)
        return MMSYSERR_INVALPARAM;
    if (flags & ~kConvertFlags)
        return MMSYSERR_INVALFLAG;
    if (const MmResult refused = checkPrepared(stream, *header); refused != MMSYSERR_NOERROR)
        return refused;
    header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
    header->cbSrcLengthUsed = 0;
    header->cbDstLengthUsed = 0;
    const MmResult result = s->codec->convert(*header, flags);
    if (result == MMSYSERR_NOERROR)
        header->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
    return result;
}

MmResult AudioCompressionManager::streamUnprepareHeader(HAcmStream stream, AcmStreamHeader* header, std::uint32_t flags)
{
    if (!findStream(stream))
        return MMSYSERR_INVALHANDLE;
    if (!header || header->cbStruct < kMinStreamHeaderSize)
        return MMSYSERR_INVALPARAM;
    if (flags != 0)
        return MMSYSERR_INVALFLAG;
    if (const MmResult refused = checkPrepared(stream, *header); refused != MMSYSERR_NOERROR)
        return refused;
    header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
    header->reserved = {};
    return MMSYSERR_NOERROR;
}

} // namespace telvox::codec
