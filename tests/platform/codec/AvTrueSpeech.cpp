#include "AvTrueSpeech.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
}

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace telvox::test {

AvTrueSpeech::AvTrueSpeech()
{
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_TRUESPEECH);
    if (!codec) {
        m_error = "libavcodec has no TrueSpeech decoder";
        return;
    }
    m_context = avcodec_alloc_context3(codec);
    m_context->sample_rate = 8000;
    av_channel_layout_default(&m_context->ch_layout, 1);
    m_context->block_align = 32;
    if (avcodec_open2(m_context, codec, nullptr) < 0) {
        m_error = "avcodec_open2 failed";
        avcodec_free_context(&m_context);
        return;
    }
    m_packet = av_packet_alloc();
    m_frame = av_frame_alloc();
}

AvTrueSpeech::~AvTrueSpeech()
{
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
    avcodec_free_context(&m_context);
}

std::vector<std::int16_t> AvTrueSpeech::decode(std::span<const std::uint8_t> bytes, std::size_t framesPerPacket)
{
    std::vector<std::int16_t> out;
    if (!m_context)
        return out;
    const std::size_t packetBytes = 32 * framesPerPacket;
    for (std::size_t at = 0; at < bytes.size(); at += packetBytes) {
        const std::size_t size = std::min(packetBytes, bytes.size() - at);
        if (av_new_packet(m_packet, int(size)) < 0) {
            m_error = "av_new_packet failed";
            return {};
        }
        std::memcpy(m_packet->data, bytes.data() + at, size);
        const int sent = avcodec_send_packet(m_context, m_packet);
        av_packet_unref(m_packet);
        if (sent < 0) {
            m_error = "avcodec_send_packet failed";
            return {};
        }
        while (avcodec_receive_frame(m_context, m_frame) == 0) {
            if (m_frame->format != AV_SAMPLE_FMT_S16) {
                m_error = "unexpected sample format";
                return {};
            }
            const auto* s = reinterpret_cast<const std::int16_t*>(m_frame->data[0]);
            out.insert(out.end(), s, s + m_frame->nb_samples);
            av_frame_unref(m_frame);
        }
    }
    return out;
}

double segmentalSnr(std::span<const std::int16_t> reference, std::span<const std::int16_t> test)
{
    constexpr std::size_t segment = 240;
    const std::size_t n = std::min(reference.size(), test.size());
    double sum = 0;
    int count = 0;
    for (std::size_t at = 0; at + segment <= n; at += segment) {
        double signal = 0, noise = 0;
        for (std::size_t i = at; i < at + segment; ++i) {
            const double d = double(reference[i]) - test[i];
            signal += double(reference[i]) * reference[i];
            noise += d * d;
        }
        if (signal / segment < std::pow(32768.0 * std::pow(10.0, -50.0 / 20), 2))
            continue;
        sum += std::clamp(10 * std::log10(signal / std::max(noise, 1.0)), -10.0, 40.0);
        ++count;
    }
    return count ? sum / count : 0.0;
}

double correlation(std::span<const std::int16_t> a, std::span<const std::int16_t> b)
{
    const std::size_t n = std::min(a.size(), b.size());
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < n; ++i) {
        ab += double(a[i]) * b[i];
        aa += double(a[i]) * a[i];
        bb += double(b[i]) * b[i];
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

} // namespace telvox::test
