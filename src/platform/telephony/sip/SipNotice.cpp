#include "platform/telephony/sip/SipNotice.h"

#include "core/Texts.h"

namespace telvox::sip {

QString SipNotice::format(const Texts &texts) const
{
    QString pattern = texts.LoadText(text);
    if (pattern.isEmpty())
        pattern = QStringLiteral("#%1 %2").arg(text).arg(args.join(QLatin1Char(' ')));
    // One pass over %1..%3, so that a value holding "%2" is never substituted again.
    QStringList values = args;
    while (values.size() < 3)
        values << QString();
    return pattern.arg(values[0], values[1], values[2]);
}

} // namespace telvox::sip
