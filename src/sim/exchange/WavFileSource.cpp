#include "sim/exchange/WavFileSource.h"

#include <QFile>

#include <algorithm>

namespace telvox::sim {

namespace {

// Little-endian fields of a byte array (the caller has checked the bounds).
quint32 le32(const QByteArray &b, qsizetype at)
{
    return quint32(uchar(b[at])) | quint32(uchar(b[at + 1])) << 8 | quint32(uchar(b[at + 2])) << 16
           | quint32(uchar(b[at + 3])) << 24;
}
quint16 le16(const QByteArray &b, qsizetype at) { return quint16(uchar(b[at]) | uchar(b[at + 1]) << 8); }
} // namespace

std::unique_ptr<WavFileSource> WavFileSource::open(const QString &path, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return nullptr;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read ") + path);
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return fail(path + QStringLiteral(" is not a RIFF wave file"));
    bool formatOk = false;
    qsizetype pos = 12;
    while (pos + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(pos, 4);
        const quint32 size = le32(bytes, pos + 4);
        const qsizetype body = pos + 8;
        if (id == "fmt " && size >= 16 && pos + 8 + 16 <= bytes.size()) {
            const auto tag = le16(bytes, body);
            const auto channels = le16(bytes, body + 2);
            const auto rate = le32(bytes, body + 4);
            const auto bits = le16(bytes, body + 14);
            formatOk = tag == 1 && channels == 1 && rate == static_cast<quint32>(kLineSampleRate) && bits == 16;
            if (!formatOk)
                return fail(path + QStringLiteral(" is not 16-bit mono PCM at 8000 Hz"));
        } else if (id == "data") {
            if (!formatOk)
                return fail(path + QStringLiteral(" has no format before its data"));
            const qsizetype available = std::min<qsizetype>(size, bytes.size() - pos - 8);
            auto source = std::unique_ptr<WavFileSource>(new WavFileSource);
            source->m_samples.resize(static_cast<std::size_t>(available / 2));
            for (std::size_t i = 0; i < source->m_samples.size(); ++i)
                source->m_samples[i] = static_cast<std::int16_t>(le16(bytes, body + 2 * static_cast<qsizetype>(i)));
            return source;
        }
        pos += 8 + static_cast<qsizetype>(size) + (size & 1);
    }
    return fail(path + QStringLiteral(" has no data chunk"));
}

void WavFileSource::read(std::span<std::int16_t> out)
{
    for (std::int16_t &sample : out)
        sample = m_position < m_samples.size() ? m_samples[m_position++] : std::int16_t{0};
}

} // namespace telvox::sim
