#include "platform/telephony/modem/ModemCapabilities.h"

#include <QRegularExpression>

namespace telvox::modem {

namespace {

// Strips an answer prefix such as "+VSM: " or "+FCLASS:".
QString withoutPrefix(const QByteArray &line)
{
    QString text = QString::fromLatin1(line).trimmed();
    static const QRegularExpression prefix(QStringLiteral("^[+#][A-Z]+\\s*:\\s*"),
                                           QRegularExpression::CaseInsensitiveOption);
    text.remove(prefix);
    return text;
}

QString unquoted(QString text)
{
    text = text.trimmed();
    if (text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"')))
        text = text.mid(1, text.size() - 2);
    return text;
}

QString unbracketed(QString text)
{
    text = text.trimmed();
    if (text.startsWith(QLatin1Char('(')) && text.endsWith(QLatin1Char(')')))
        text = text.mid(1, text.size() - 2);
    return text;
}

} // namespace

QStringList splitTopLevel(const QString &text)
{
    QStringList parts;
    QString current;
    int depth = 0;
    bool quoted = false;
    for (const QChar c : text) {
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (!quoted && c == QLatin1Char('('))
            ++depth;
        else if (!quoted && c == QLatin1Char(')') && depth > 0)
            --depth;
        if (c == QLatin1Char(',') && depth == 0 && !quoted) {
            parts << current.trimmed();
            current.clear();
        } else {
            current += c;
        }
    }
    parts << current.trimmed();
    return parts;
}

QStringList parseValueList(const QByteArray &line)
{
    QStringList values;
    const QString text = withoutPrefix(line).remove(QLatin1Char('(')).remove(QLatin1Char(')'));
    for (const QString &part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString v = part.trimmed();
        const int dash = v.indexOf(QLatin1Char('-'));
        bool okLow = false;
        bool okHigh = false;
        const int low = dash > 0 ? v.left(dash).toInt(&okLow) : 0;
        const int high = dash > 0 ? v.mid(dash + 1).toInt(&okHigh) : 0;
        if (dash > 0 && okLow && okHigh && high >= low && high - low < 64) {
            for (int i = low; i <= high; ++i)
                values << QString::number(i);
        } else if (!v.isEmpty()) {
            values << v;
        }
    }
    return values;
}

QStringList parseClasses(const QList<QByteArray> &lines)
{
    QStringList classes;
    for (const QByteArray &line : lines)
        classes << parseValueList(line);
    return classes;
}

QList<VsmEntry> parseVsmList(const QList<QByteArray> &lines)
{
    QList<VsmEntry> entries;
    for (const QByteArray &line : lines) {
        const QStringList fields = splitTopLevel(withoutPrefix(line));
        if (fields.size() < 3)
            continue;
        VsmEntry e;
        bool ok = false;
        e.cml = fields[0].toInt(&ok);
        if (!ok)
            continue;
        e.name = unquoted(fields[1]);
        e.bits = fields[2].toInt();
        if (fields.size() >= 5) {
            for (const QString &r : unbracketed(fields[4]).split(QLatin1Char(','), Qt::SkipEmptyParts))
                e.rates << r.trimmed().toInt();
        }
        entries << e;
    }
    return entries;
}

std::optional<VoiceEncoding> encodingOf(const VsmEntry &e)
{
    const QString name = e.name.toUpper();
    if (name.contains(QLatin1String("ADPCM")) || name.contains(QLatin1String("14")))
        return std::nullopt;
    if (name.contains(QLatin1String("ULAW")) || name.contains(QLatin1String("MU-LAW"))
        || name.contains(QLatin1String("U-LAW")) || e.cml == 4)
        return VoiceEncoding::MuLaw;
    if (name.contains(QLatin1String("ALAW")) || name.contains(QLatin1String("A-LAW")) || e.cml == 5)
        return VoiceEncoding::ALaw;
    const bool linear = name.contains(QLatin1String("PCM")) || name.contains(QLatin1String("LINEAR"));
    if (!linear)
        return std::nullopt;
    const bool sixteen = e.bits == 16 || name.contains(QLatin1String("16"));
    if (sixteen) {
        // The capability text says little about the layout; where it does, it is believed
        // (and the first second of received audio is checked anyway).
        const bool isUnsigned = name.contains(QLatin1String("UNSIGNED")) || e.cml == 1;
        const bool bigEndian = name.contains(QLatin1String("BIG")) || name.contains(QLatin1String("MOTOROLA"))
            || name.contains(QLatin1String("MSB"));
        if (isUnsigned)
            return bigEndian ? VoiceEncoding::Unsigned16BigEndian : VoiceEncoding::Unsigned16;
        return bigEndian ? VoiceEncoding::Signed16BigEndian : VoiceEncoding::Signed16;
    }
    if (e.bits != 8 && !name.contains(QLatin1String("8")))
        return std::nullopt;
    // V.253 method 0 is signed, 1 unsigned; the vendor "8-BIT LINEAR" methods are unsigned.
    if (name.contains(QLatin1String("UNSIGNED")) || e.cml != 0)
        return VoiceEncoding::Unsigned8;
    return VoiceEncoding::Signed8;
}

std::optional<VoiceFormatChoice> chooseVoiceFormat(const QList<VsmEntry> &entries, int maxBytesPerSecond)
{
    static const VoiceEncoding order[] = {VoiceEncoding::Signed16, VoiceEncoding::MuLaw, VoiceEncoding::ALaw,
                                          VoiceEncoding::Unsigned8, VoiceEncoding::Signed8};
    for (const VoiceEncoding wanted : order) {
        const int bytesPerSecond = bytesPerSample(wanted) * 8000;
        if (maxBytesPerSecond > 0 && bytesPerSecond > maxBytesPerSecond)
            continue;
        for (const VsmEntry &e : entries) {
            if (!e.rates.isEmpty() && !e.rates.contains(8000))
                continue;
            const std::optional<VoiceEncoding> encoding = encodingOf(e);
            if (encoding && (*encoding == wanted || (isSixteenBit(wanted) && isSixteenBit(*encoding))))
                return VoiceFormatChoice{e.cml, *encoding};
        }
    }
    return std::nullopt;
}

std::optional<VoiceFormatChoice> parseFormatCode(const QString &entry)
{
    const QStringList parts = entry.split(QLatin1Char(':'));
    if (parts.size() != 2)
        return std::nullopt;
    bool ok = false;
    const int cml = parts[0].toInt(&ok);
    if (!ok)
        return std::nullopt;
    const QString e = parts[1].toLower();
    if (e == QLatin1String("s16"))
        return VoiceFormatChoice{cml, VoiceEncoding::Signed16};
    if (e == QLatin1String("s16be"))
        return VoiceFormatChoice{cml, VoiceEncoding::Signed16BigEndian};
    if (e == QLatin1String("u16"))
        return VoiceFormatChoice{cml, VoiceEncoding::Unsigned16};
    if (e == QLatin1String("ulaw"))
        return VoiceFormatChoice{cml, VoiceEncoding::MuLaw};
    if (e == QLatin1String("alaw"))
        return VoiceFormatChoice{cml, VoiceEncoding::ALaw};
    if (e == QLatin1String("u8"))
        return VoiceFormatChoice{cml, VoiceEncoding::Unsigned8};
    if (e == QLatin1String("s8"))
        return VoiceFormatChoice{cml, VoiceEncoding::Signed8};
    return std::nullopt;
}

} // namespace telvox::modem
