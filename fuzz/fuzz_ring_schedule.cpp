// Rings.txt as any text: each line parsed as a rule, its display form and back, and the whole
// file loaded; a rule that parses has a ring count and times of day within a day.
#include "records/RingSchedule.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace telvox;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QString text = QString::fromUtf8(bytes);
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        RingRule rule;
        if (parseRingRule(line, &rule) && (rule.start < 0 || rule.start > 1 || rule.end < 0 || rule.end > 1))
            std::abort();
        const QString display = ringRuleDisplay(line);
        (void)ringRuleLine(display);
        (void)parseTimeOfDay(line);
    }
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Rings.txt"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(bytes);
    }
    RingSchedule schedule;
    schedule.LoadRingRules(path);
    if (schedule.ruleCount() < 0 || schedule.ruleCount() > RingSchedule::kMaxRules)
        std::abort();
    const QDateTime when(QDate(2026, 1, 5), QTime(9, 30));
    (void)schedule.PickRingCount(4, when);
    return 0;
}
