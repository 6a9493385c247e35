#include "audio/CodecConversion.h"

#include "platform/shell/UserPrompts.h"

namespace telvox {

using namespace codec;

CodecConversion::CodecConversion(AudioCompressionManager &manager, UserPrompts &prompts)
    : m_manager(manager)
    , m_prompts(prompts)
{
}

CodecConversion::~CodecConversion()
{
    for (Slot &s : m_slots)
        closeSlot(s, false);
}

void CodecConversion::showError(const char *prefix, std::uint32_t code)
{
    m_prompts.messageBox(QString::fromLatin1(prefix) + QString::number(code, 16).toUpper(), MessageIcon::Critical,
                         QStringLiteral("Telvox"));
}

void CodecConversion::EnumerateCodecs()
{
    const MmResult result = m_manager.driverEnum(
        [this](HAcmDriverId id, std::uintptr_t, std::uint32_t) {
            AcmDriverDetails details;
            details.cbStruct = 925;
            (void)m_manager.driverDetails(id, &details, 0);
            // The first 16 wide characters of the short name.
            QString shortName;
            for (std::size_t i = 0; i < 16 && details.szShortName[i] != 0; ++i)
                shortName += QChar(details.szShortName[i]);
            if (shortName.contains(QLatin1String("TRUESPEECH"), Qt::CaseInsensitive)) {
                m_driverId = id;
                return false;
            }
            return true;
        },
        0, ACM_DRIVERENUMF_DISABLED);
    if (result != MMSYSERR_NOERROR)
        showError("Acm Driver Enum Error: ", result);
}

void CodecConversion::closeSlot(Slot &s, bool report)
{
    MmResult streamResult = MMSYSERR_NOERROR;
    MmResult driverResult = MMSYSERR_NOERROR;
    {
        // The messages come after the lock: a message box may run events for a while.
        const std::lock_guard lock(m_managerLock);
        if (s.prepared) {
            (void)m_manager.streamUnprepareHeader(s.stream, &s.header, 0);
            s.prepared = false;
        }
        if (s.stream != HAcmStream{})
            streamResult = m_manager.streamClose(s.stream, 0);
        if (s.driver != HAcmDriver{})
            driverResult = m_manager.driverClose(s.driver, 0);
    }
    s.output.clear();
    if (report && streamResult != MMSYSERR_NOERROR)
        showError("Stram Close Error: ", streamResult);
    if (report && driverResult != MMSYSERR_NOERROR)
        showError("Driver Close Error: ", driverResult);
    s.stream = {};
    s.driver = {};
}

void CodecConversion::OpenConversion(int index)
{
    Slot &s = slot(index);
    closeSlot(s, false);
    const WaveFormat source = WaveFormat::pcm8kMono16();
    const WaveFormat target = WaveFormat::trueSpeech();
    MmResult result = MMSYSERR_NOERROR;
    {
        const std::lock_guard lock(m_managerLock);
        result = m_manager.driverOpen(&s.driver, m_driverId, 0);
    }
    if (result != MMSYSERR_NOERROR) {
        s.driver = {};
        showError("TrueSpeech Driver Open  Error: ", result);
    }
    {
        const std::lock_guard lock(m_managerLock);
        result = m_manager.streamOpen(&s.stream, s.driver, &source, &target, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME);
    }
    if (result != MMSYSERR_NOERROR) {
        s.stream = {};
        showError("Stream Open Error: ", result);
    }
}

bool CodecConversion::ConvertBuffer(int index, std::span<const std::uint8_t> recorded)
{
    m_conversionOk = false;
    if (recorded.empty())
        return false;
    Slot &s = slot(index);
    const std::lock_guard lock(m_managerLock);
    if (s.prepared) {
        (void)m_manager.streamUnprepareHeader(s.stream, &s.header, 0);
        s.prepared = false;
    }
    s.output.assign(kOutputBlockBytes, 0);
    s.header = AcmStreamHeader{};
    s.header.cbStruct = 88;
    s.header.pbSrc = recorded.data();
    s.header.cbSrcLength = static_cast<std::uint32_t>(recorded.size());
    s.header.pbDst = s.output.data();
    s.header.cbDstLength = kOutputBlockBytes;
    s.prepared = m_manager.streamPrepareHeader(s.stream, &s.header, 0) == MMSYSERR_NOERROR;
    if (m_manager.streamConvert(s.stream, &s.header, 0) == MMSYSERR_NOERROR) {
        m_conversionOk = true;
        return true;
    }
    if (s.prepared) {
        (void)m_manager.streamUnprepareHeader(s.stream, &s.header, 0);
        s.prepared = false;
    }
    s.output.clear();
    return false;
}

std::span<const std::uint8_t> CodecConversion::convertedOutput(int index) const
{
    const Slot &s = m_slots.at(static_cast<std::size_t>(index));
    if (s.output.empty())
        return {};
    return std::span<const std::uint8_t>(s.output.data(), std::min<std::size_t>(s.header.cbDstLengthUsed, s.output.size()));
}

void CodecConversion::releaseOutput(int index)
{
    Slot &s = slot(index);
    if (s.prepared) {
        const std::lock_guard lock(m_managerLock);
        (void)m_manager.streamUnprepareHeader(s.stream, &s.header, 0);
        s.prepared = false;
    }
    s.output.clear();
}

void CodecConversion::CloseConversion(int index)
{
    closeSlot(slot(index), true);
}

bool CodecConversion::isOpen(int index) const
{
    return m_slots.at(static_cast<std::size_t>(index)).stream != HAcmStream{};
}

} // namespace telvox
