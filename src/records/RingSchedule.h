#pragma once

#include "core/UserFileProblems.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <array>

namespace telvox {

// One ring rule of "Rings.txt": answer after `rings` rings on the weekdays in `days` (digits,
// 1 Sunday .. 7 Saturday) between `start` and `end` (fractions of a day). A line reads
// "3,08:00:00-18:00:00,2,3,4,5,6".
struct RingRule
{
    int rings = 0;
    double start = 0;
    double end = 0;
    QString days; // everything after the nineteenth character
};

// The weekly ring schedule: the rules read from "Rings.txt" at start-up (at most twenty take
// part) and the choice of a ring count for the present moment.
class RingSchedule
{
public:
    static constexpr int kMaxRules = 20;

    // Reads the rules; a missing file leaves the table empty. Only whole rules take part: a
    // line that is not one, or a rule after the twentieth, is left out and reported in
    // problems() (blank lines are passed over quietly).
    void LoadRingRules(const QString &ringsFile);
    const LineProblems &problems() const { return m_problems; }
    // The ring count of the first rule matching `when` (strict comparisons, ranges may cross
    // midnight), or `ringsToAnswer` unchanged when none does.
    int PickRingCount(int ringsToAnswer, const QDateTime &when) const;
    int ruleCount() const { return m_count; }
    const RingRule &rule(int index) const { return m_rules.at(static_cast<std::size_t>(index)); }

private:
    std::array<RingRule, kMaxRules> m_rules{};
    int m_count = 0;
    LineProblems m_problems;
};

// Parses one line of Rings.txt ("3,08:00:00-18:00:00,2,3,4,5,6"); false when it is not a rule.
bool parseRingRule(const QString &line, RingRule *rule);

// Time of day as a fraction of a day.
double dayFraction(const QTime &time);
// Parses "hh:mm:ss" as a fraction of a day; -1 when it is not a time.
double parseTimeOfDay(const QString &text);

// The display form of a rule line: the first 19 characters, then ",Sun" .. ",Sat" for each
// weekday digit found after them. A line too short for the columns is shown as it is.
QString ringRuleDisplay(const QString &line);
// The file form of a display line: the first 19 characters, then ",1" .. ",7" for each day
// name found after them, in weekday order.
QString ringRuleLine(const QString &display);
// Builds a rule line from the editor's fields; an empty string when a field is not valid
// (the ring count must be exactly one digit, hours 0-23, minutes 0-59).
QString buildRingRule(const QString &rings, const QString &fromHours, const QString &fromMinutes,
                      const QString &toHours, const QString &toMinutes, const std::array<bool, 8> &days);

// The lines of "Rings.txt" (empty when the file is missing).
QStringList readRingRuleLines(const QString &ringsFile);
// Appends one rule line (CR LF) to "Rings.txt", creating it when missing.
bool appendRingRule(const QString &ringsFile, const QString &line);
// Rewrites "Rings.txt" from display lines.
bool rewriteRingRules(const QString &ringsFile, const QStringList &displayLines);

} // namespace telvox
