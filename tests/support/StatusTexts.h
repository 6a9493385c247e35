#pragma once

#include "records/StatusLog.h"

#include <QRegularExpression>
#include <QStringList>

namespace telvox::test {

// The status list's lines without their time stamps.
inline QStringList statusTexts(const StatusListModel &statusList)
{
    static const QRegularExpression stamp(QStringLiteral("^\\d{2}:\\d{2}:\\d{2} "));
    QStringList result;
    for (QString line : statusList.lines())
        result << line.remove(stamp);
    return result;
}

} // namespace telvox::test
