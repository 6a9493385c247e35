#include "platform/telephony/sip/SipNotice.h"

#include "core/Texts.h"

namespace telvox::sip {

QString SipNotice::format(const Texts &texts) const
{
    QString pattern = texts.LoadText(text);
    if (pattern.isEmpty())
        pattern = QStringLiteral("#%1 %2").arg(text).arg(args.join(QLatin1Char(' ')));
    // One pass over %1..%n, so that a value holding "%2" is never substituted again; as many
    // values as the text has places (QString::arg warns about values without one).
    int places = 0;
    for (int n = 1; n <= 3; ++n) {
        if (pattern.contains(QLatin1Char('%') + QString::number(n)))
            places = n;
    }
    QStringList values = args;
    while (values.size() < places)
        values << QString();
    switch (places) {
    case 0:
        return pattern;
    case 1:
        return pattern.arg(values[0]);
    case 2:
        return pattern.arg(values[0], values[1]);
    default:
        return pattern.arg(values[0], values[1], values[2]);
    }
}

} // namespace telvox::sip
