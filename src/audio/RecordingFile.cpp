#include "audio/RecordingFile.h"

#include "core/WaveHeader.h"
#include "platform/codec/AcmTypes.h"

#include <QDir>
#include <QFile>
#include <QtEndian>

namespace telvox {

OutputFormat outputFormatFromSetting(const QString &value)
{
    return value.trimmed() == QLatin1String("1") ? OutputFormat::TrueSpeech : OutputFormat::Pcm;
}

QString RecordingTimeStamp(const QDateTime &when) { return when.toString(QStringLiteral("yyyy-MM-dd~HH-mm-ss")); }

QString safeCallerPart(const QString &callerPart)
{
    QString number = callerPart.startsWith(QLatin1Char('~')) ? callerPart.mid(1) : callerPart;
    if (number.isEmpty())
        return QString();
    static const QString refused = QStringLiteral("/\\:*?\"<>|");
    QString safe;
    safe.reserve(number.size());
    for (const QChar c : number) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || refused.contains(c) || c.category() == QChar::Other_Format)
            safe += QLatin1Char('_');
        else
            safe += c;
    }
    while (safe.contains(QStringLiteral("..")))
        safe.replace(QStringLiteral(".."), QStringLiteral("_"));
    safe = safe.left(64);
    return QLatin1Char('~') + safe;
}

QString recordingName(QChar mode, const QDateTime &when, const QString &callerPart)
{
    return QString(mode) + RecordingTimeStamp(when) + safeCallerPart(callerPart) + QStringLiteral(".wav");
}

QByteArray waveHeader(OutputFormat format, std::uint32_t L)
{
    if (format == OutputFormat::Pcm)
        return pcmWaveHeader(1, 8000, 16, L);
    // TrueSpeech: the 50-byte format the codec describes, then the sample count.
    const std::vector<std::uint8_t> fmt = codec::WaveFormat::trueSpeech().toBytes();
    QByteArray h;
    h.reserve(90);
    h.append("RIFF");
    appendLe32(h, L + 82);
    h.append("WAVEfmt ");
    appendLe32(h, static_cast<std::uint32_t>(fmt.size()));
    h.append(reinterpret_cast<const char *>(fmt.data()), static_cast<qsizetype>(fmt.size()));
    h.append("fact");
    appendLe32(h, 4);
    appendLe32(h, static_cast<std::uint32_t>(std::uint64_t(L) * 8000u / 1067u));
    h.append("data");
    appendLe32(h, L);
    return h;
}

bool copyAfterHeader(QIODevice &in, QIODevice &out, const QByteArray &header, const std::function<void(qint64)> &onBlock)
{
    bool ok = out.write(header) == header.size();
    QByteArray block(kCopyBlockBytes, '\0');
    while (ok) {
        const qint64 got = in.read(block.data(), kCopyBlockBytes);
        if (got <= 0)
            break;
        if (onBlock)
            onBlock(got);
        ok = out.write(block.constData(), got) == got;
    }
    return ok;
}

} // namespace telvox
