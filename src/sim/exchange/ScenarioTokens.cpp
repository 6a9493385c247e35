#include "sim/exchange/ScenarioTokens.h"

#include <QStringList>

namespace telvox::sim::scenario {

// Splits one line into words and quoted strings; '#' outside quotes starts a comment.
// Quoted strings know the escapes \" \\ \n \r \t \0 and \xHH (one byte).
bool tokenize(const QString &line, std::vector<Token> &tokens, ParseFailure &failure)
{
    tokens.clear();
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (i < n) {
        const QChar c = line[i];
        if (c.isSpace()) {
            ++i;
            continue;
        }
        if (c == QLatin1Char('#'))
            break;
        Token t;
        t.column = static_cast<int>(i) + 1;
        if (c == QLatin1Char('"')) {
            t.quoted = true;
            ++i;
            bool closed = false;
            while (i < n) {
                const QChar d = line[i];
                if (d == QLatin1Char('"')) {
                    closed = true;
                    ++i;
                    break;
                }
                if (d == QLatin1Char('\\')) {
                    if (i + 1 >= n) {
                        failure = {static_cast<int>(i) + 1, QStringLiteral("a backslash ends the line")};
                        return false;
                    }
                    const QChar e = line[i + 1];
                    i += 2;
                    switch (e.unicode()) {
                    case '"': t.text += QLatin1Char('"'); break;
                    case '\\': t.text += QLatin1Char('\\'); break;
                    case 'n': t.text += QLatin1Char('\n'); break;
                    case 'r': t.text += QLatin1Char('\r'); break;
                    case 't': t.text += QLatin1Char('\t'); break;
                    case '0': t.text += QChar(0); break;
                    case 'x': {
                        bool ok = false;
                        const int value = line.mid(i, 2).toInt(&ok, 16);
                        if (!ok || line.mid(i, 2).size() != 2) {
                            failure = {static_cast<int>(i) - 1, QStringLiteral("\\x needs two hexadecimal digits")};
                            return false;
                        }
                        t.text += QChar(value);
                        i += 2;
                        break;
                    }
                    default:
                        failure = {static_cast<int>(i) - 1, QStringLiteral("unknown escape \\") + e};
                        return false;
                    }
                    continue;
                }
                t.text += d;
                ++i;
            }
            if (!closed) {
                failure = {t.column, QStringLiteral("the quoted text is not closed")};
                return false;
            }
        } else {
            while (i < n && !line[i].isSpace() && line[i] != QLatin1Char('"'))
                t.text += line[i++];
        }
        tokens.push_back(std::move(t));
    }
    return true;
}

// Bytes of a quoted text: characters up to U+00FF are single bytes (so "\xFF" is the byte
// 0xFF); anything above is written in UTF-8.
QByteArray toBytes(const QString &text)
{
    QByteArray out;
    for (const QChar c : text) {
        if (c.unicode() <= 0xFF)
            out += static_cast<char>(c.unicode());
        else
            out += QString(c).toUtf8();
    }
    return out;
}

const std::map<QString, std::int32_t> &errorNames()
{
    static const std::map<QString, std::int32_t> names = {
        {QStringLiteral("ALLOCATED"), LineErr::Allocated},
        {QStringLiteral("BADDEVICEID"), LineErr::BadDeviceId},
        {QStringLiteral("INCOMPATIBLEAPIVERSION"), LineErr::IncompatibleApiVersion},
        {QStringLiteral("NODEVICE"), LineErr::NoDevice},
        {QStringLiteral("NODRIVER"), LineErr::NoDriver},
        {QStringLiteral("OPERATIONFAILED"), LineErr::OperationFailed},
        {QStringLiteral("OPERATIONUNAVAIL"), LineErr::OperationUnavail},
        {QStringLiteral("RESOURCEUNAVAIL"), LineErr::ResourceUnavail},
        {QStringLiteral("INVALMEDIAMODE"), LineErr::InvalMediaMode},
    };
    return names;
}

// Milliseconds of "1500", "1500ms" or "1.5s"; -1 when the text is no such time.
std::int64_t timeValue(QString text)
{
    double scale = 1.0;
    if (text.endsWith(QLatin1String("ms")))
        text.chop(2);
    else if (text.endsWith(QLatin1Char('s'))) {
        text.chop(1);
        scale = 1000.0;
    }
    bool ok = false;
    const double value = text.toDouble(&ok) * scale;
    if (!ok || value < 0 || value > 1e12)
        return -1;
    return static_cast<std::int64_t>(value + 0.5);
}

} // namespace telvox::sim::scenario
