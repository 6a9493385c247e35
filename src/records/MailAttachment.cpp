#include "records/MailAttachment.h"

#include "platform/codec/truespeech/TrueSpeechDecoder.h"

#include <QFile>
#include <QtEndian>

#include <opusenc.h>

#include <array>

namespace telvox {

namespace {

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatTrueSpeech = 0x22;

struct RiffAudio
{
    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t rate = 0;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t bitsPerSample = 0;
    QByteArray data;
};

std::uint32_t le32(const QByteArray &b, qsizetype at) { return qFromLittleEndian<std::uint32_t>(b.constData() + at); }
std::uint16_t le16(const QByteArray &b, qsizetype at) { return qFromLittleEndian<std::uint16_t>(b.constData() + at); }

// The "fmt " and "data" chunks of a RIFF WAVE file, wherever they stand; never past the end.
std::optional<RiffAudio> parseRiff(const QByteArray &bytes)
{
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return std::nullopt;
    RiffAudio audio;
    bool haveFormat = false;
    bool haveData = false;
    qsizetype at = 12;
    while (at + 8 <= bytes.size() && !(haveFormat && haveData)) {
        const QByteArray id = bytes.mid(at, 4);
        const qint64 size = le32(bytes, at + 4);
        const qsizetype body = at + 8;
        const qsizetype available = std::min<qint64>(size, bytes.size() - body);
        if (id == "fmt " && available >= 16) {
            audio.formatTag = le16(bytes, body);
            audio.channels = le16(bytes, body + 2);
            audio.rate = le32(bytes, body + 4);
            audio.avgBytesPerSec = le32(bytes, body + 8);
            audio.bitsPerSample = le16(bytes, body + 14);
            haveFormat = true;
        } else if (id == "data") {
            audio.data = bytes.mid(body, available);
            haveData = true;
        }
        at = body + size + (size & 1);
    }
    if (!haveFormat || !haveData)
        return std::nullopt;
    return audio;
}

} // namespace

std::optional<RecordingAudio> readRecordingAudio(const QString &path, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return std::nullopt;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    const auto riff = parseRiff(file.readAll());
    if (!riff)
        return fail(QStringLiteral("not a wave file"));

    RecordingAudio audio;
    if (riff->formatTag == kFormatPcm && riff->bitsPerSample == 16 && riff->channels >= 1 && riff->rate > 0) {
        const qsizetype frameBytes = 2 * qsizetype(riff->channels);
        const qsizetype frames = riff->data.size() / frameBytes;
        audio.sampleRate = static_cast<int>(riff->rate);
        audio.samples.resize(static_cast<std::size_t>(frames));
        for (qsizetype i = 0; i < frames; ++i)
            audio.samples[std::size_t(i)] = qFromLittleEndian<std::int16_t>(riff->data.constData() + i * frameBytes);
        return audio;
    }
    if (riff->formatTag == kFormatTrueSpeech) {
        using namespace telvox::truespeech;
        truespeech::Decoder decoder;
        const qsizetype frames = riff->data.size() / qsizetype(kFrameBytes);
        audio.wasTrueSpeech = true;
        audio.sampleRate = 8000;
        audio.samples.resize(static_cast<std::size_t>(frames) * kFrameSamples);
        for (qsizetype i = 0; i < frames; ++i) {
            const auto *frame = reinterpret_cast<const std::uint8_t *>(riff->data.constData()) + i * qsizetype(kFrameBytes);
            decoder.decode(std::span<const std::uint8_t, kFrameBytes>(frame, kFrameBytes),
                           std::span<std::int16_t, kFrameSamples>(audio.samples.data() + i * kFrameSamples,
                                                                  kFrameSamples));
        }
        return audio;
    }
    return fail(QStringLiteral("unsupported wave format %1").arg(riff->formatTag));
}

std::int64_t recordingLengthMs(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    // The header and the size of the data chunk are enough: the audio itself is not read.
    const QByteArray head = file.read(256);
    const auto riff = parseRiff(head);
    if (!riff || riff->avgBytesPerSec == 0)
        return 0;
    qsizetype at = head.indexOf("data");
    if (at < 0 || at + 8 > head.size())
        return 0;
    const qint64 announced = le32(head, at + 4);
    const qint64 present = std::min<qint64>(announced, file.size() - (at + 8));
    return present * 1000 / riff->avgBytesPerSec;
}

namespace {

int appendToBuffer(void *user, const unsigned char *ptr, opus_int32 len)
{
    static_cast<QByteArray *>(user)->append(reinterpret_cast<const char *>(ptr), len);
    return 0;
}

int closeBuffer(void *) { return 0; }

} // namespace

QByteArray encodeOggOpus(const RecordingAudio &audio, const QString &title)
{
    QByteArray out;
    OggOpusComments *comments = ope_comments_create();
    if (!comments)
        return out;
    ope_comments_add(comments, "TITLE", title.toUtf8().constData());
    ope_comments_add(comments, "ENCODER", "Telvox");
    OpusEncCallbacks callbacks{&appendToBuffer, &closeBuffer};
    int error = 0;
    OggOpusEnc *encoder = ope_encoder_create_callbacks(&callbacks, &out, comments, audio.sampleRate, 1, 0, &error);
    ope_comments_destroy(comments);
    if (!encoder || error != OPE_OK) {
        if (encoder)
            ope_encoder_destroy(encoder);
        return QByteArray();
    }
    ope_encoder_ctl(encoder, OPUS_SET_BITRATE(24000));
    ope_encoder_ctl(encoder, OPUS_SET_SIGNAL(OPUS_SIGNAL_VOICE));
    // Written in pieces, so that the encoder never needs the whole recording twice.
    constexpr std::size_t kPiece = 8000;
    bool ok = true;
    for (std::size_t at = 0; ok && at < audio.samples.size(); at += kPiece) {
        const std::size_t n = std::min(kPiece, audio.samples.size() - at);
        ok = ope_encoder_write(encoder, audio.samples.data() + at, static_cast<int>(n)) == OPE_OK;
    }
    ok = ok && ope_encoder_drain(encoder) == OPE_OK;
    ope_encoder_destroy(encoder);
    return ok ? out : QByteArray();
}

} // namespace telvox
