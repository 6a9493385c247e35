#include "platform/telephony/modem/ModemNotice.h"

#include "core/Texts.h"

namespace telvox::modem {

namespace {

// Puts the values into %1..%9 in one pass, so that a value which itself contains "%2" (a
// port name can) is never substituted again.
QString fill(const QString &pattern, const QStringList &args)
{
    QString out;
    out.reserve(pattern.size() + 32);
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == QLatin1Char('%') && i + 1 < pattern.size() && pattern[i + 1] >= QLatin1Char('1')
            && pattern[i + 1] <= QLatin1Char('9')) {
            const int n = pattern[i + 1].unicode() - '1';
            if (n < args.size()) {
                out += args[n];
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

} // namespace

QString ModemNotice::format(const Texts &texts) const
{
    QString pattern = texts.LoadText(text);
    if (pattern.isEmpty()) // a table without this entry: say at least what it is about
        pattern = QStringLiteral("#%1 ").arg(text) + args.join(QLatin1Char(' '));
    const QString body = fill(pattern, args);
    return line >= 0 ? QStringLiteral("Line%1 ").arg(line) + body : body;
}

QString ModemNotice::english() const
{
    return format(Texts(builtInStrings(), 0));
}

} // namespace telvox::modem
