// The TrueSpeech driver of the audio compression manager stand-in.

#include "platform/codec/AudioCompressionManager.h"
#include "platform/codec/truespeech/TrueSpeechDecoder.h"
#include "platform/codec/truespeech/TrueSpeechEncoder.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

namespace telvox::codec {

namespace ts = telvox::truespeech;

namespace {

constexpr std::uint32_t kPcmBytesPerFrame = ts::kFrameSamples * 2;
constexpr std::uint32_t kFrameBytes = ts::kFrameBytes;

bool isPcm8kMono16(const WaveFormat& f)
{
    return f.formatTag == WAVE_FORMAT_PCM && f.channels == 1 && f.samplesPerSec == 8000 && f.bitsPerSample == 16
        && f.blockAlign == 2 && f.avgBytesPerSec == 16000;
}

// The TrueSpeech format as written in wave files: the extra bytes hold revision 1 and 240
// samples per block (the reserved bytes after them are not examined).
bool isTrueSpeech(const WaveFormat& f)
{
    const WaveFormat ref = WaveFormat::trueSpeech();
    return f.formatTag == ref.formatTag && f.channels == ref.channels && f.samplesPerSec == ref.samplesPerSec
        && f.avgBytesPerSec == ref.avgBytesPerSec && f.blockAlign == ref.blockAlign
        && f.bitsPerSample == ref.bitsPerSample && f.extra.size() == ref.extra.size()
        && std::equal(ref.extra.begin(), ref.extra.begin() + 4, f.extra.begin());
}

template <std::size_t N>
void copyText(std::array<char16_t, N>& to, std::u16string_view text)
{
    const std::size_t n = std::min(text.size(), N - 1);
    std::copy_n(text.begin(), n, to.begin());
    to[n] = 0;
}

class EncodeStream final : public AcmDriverStream
{
public:
    MmResult convert(AcmStreamHeader& h, std::uint32_t flags) override
    {
        if (flags & ACM_STREAMCONVERTF_START)
            m_stream.reset();
        // Samples are taken as they come, two bytes each; an odd last byte is not used.
        m_samples.resize(h.cbSrcLength / 2);
        if (!m_samples.empty())
            std::memcpy(m_samples.data(), h.pbSrc, m_samples.size() * 2);
        const std::span<const std::int16_t> samples(m_samples);
        const auto progress = m_stream.write(samples, std::span<std::uint8_t>(h.pbDst, h.cbDstLength));
        h.cbSrcLengthUsed = std::uint32_t(progress.samplesUsed * 2);
        h.cbDstLengthUsed = std::uint32_t(progress.bytesWritten);
        if ((flags & ACM_STREAMCONVERTF_END) && progress.samplesUsed == samples.size()) {
            const std::size_t tail = m_stream.flush(std::span<std::uint8_t>(h.pbDst + h.cbDstLengthUsed, h.cbDstLength - h.cbDstLengthUsed));
            h.cbDstLengthUsed += std::uint32_t(tail);
        }
        return MMSYSERR_NOERROR;
    }

    std::uint32_t size(std::uint32_t bytes, std::uint32_t flags) const override
    {
        if (flags & ACM_STREAMSIZEF_DESTINATION)
            return bytes / kFrameBytes * kPcmBytesPerFrame;
        // Enough for every frame the samples held so far and these can complete, flush included.
        return std::uint32_t(ts::EncoderStream::maxBytesFor(bytes / 2));
    }

private:
    ts::EncoderStream m_stream;
    std::vector<std::int16_t> m_samples; // the source, aligned
};

class DecodeStream final : public AcmDriverStream
{
public:
    MmResult convert(AcmStreamHeader& h, std::uint32_t flags) override
    {
        if (flags & ACM_STREAMCONVERTF_START)
            m_decoder.reset();
        // Whole frames only, as many as both buffers allow.
        const std::uint32_t frames = std::min(h.cbSrcLength / kFrameBytes, h.cbDstLength / kPcmBytesPerFrame);
        std::array<std::int16_t, ts::kFrameSamples> pcm;
        for (std::uint32_t f = 0; f < frames; ++f) {
            m_decoder.decode(std::span<const std::uint8_t, ts::kFrameBytes>(h.pbSrc + f * kFrameBytes, kFrameBytes), pcm);
            std::memcpy(h.pbDst + f * kPcmBytesPerFrame, pcm.data(), kPcmBytesPerFrame);
        }
        h.cbSrcLengthUsed = frames * kFrameBytes;
        h.cbDstLengthUsed = frames * kPcmBytesPerFrame;
        return MMSYSERR_NOERROR;
    }

    std::uint32_t size(std::uint32_t bytes, std::uint32_t flags) const override
    {
        if (flags & ACM_STREAMSIZEF_DESTINATION)
            return bytes / kPcmBytesPerFrame * kFrameBytes;
        return bytes / kFrameBytes * kPcmBytesPerFrame;
    }

private:
    ts::Decoder m_decoder;
};

class TrueSpeechDriver final : public AcmDriver
{
public:
    AcmDriverDetails details() const override
    {
        AcmDriverDetails d;
        d.fccType = ACMDRIVERDETAILS_FCCTYPE_AUDIOCODEC;
        d.vdwACM = 0x03320000;
        d.vdwDriver = 0x01000000;
        d.fdwSupport = ACMDRIVERDETAILS_SUPPORTF_CODEC;
        d.cFormatTags = 2; // PCM and TrueSpeech
        copyText(d.szShortName, u"TrueSpeech");
        copyText(d.szLongName, u"TrueSpeech(TM) compatible codec, 8000 Hz mono, 8533 bit/s");
        copyText(d.szFeatures, u"Encodes 8000 Hz 16-bit mono PCM to DSP Group TrueSpeech frames and decodes them.");
        return d;
    }

    MmResult supports(const WaveFormat& source, const WaveFormat& destination) const override
    {
        if ((isPcm8kMono16(source) && isTrueSpeech(destination)) || (isTrueSpeech(source) && isPcm8kMono16(destination)))
            return MMSYSERR_NOERROR;
        return ACMERR_NOTPOSSIBLE;
    }

    std::unique_ptr<AcmDriverStream> openStream(const WaveFormat& source, const WaveFormat& /*destination*/) override
    {
        if (source.formatTag == WAVE_FORMAT_PCM)
            return std::make_unique<EncodeStream>();
        return std::make_unique<DecodeStream>();
    }
};

} // namespace

std::unique_ptr<AcmDriver> makeTrueSpeechDriver()
{
    return std::make_unique<TrueSpeechDriver>();
}

} // namespace telvox::codec
