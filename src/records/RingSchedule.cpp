#include "records/RingSchedule.h"

#include "core/PrivateFiles.h"
#include "core/TextFile.h"
#include "core/Settings.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <cerrno>
#include <cmath>

namespace telvox {

namespace {

const char *const kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

} // namespace

double dayFraction(const QTime &time) { return time.msecsSinceStartOfDay() / 86400000.0; }

double parseTimeOfDay(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*(\\d{1,2}):(\\d{1,2}):(\\d{1,2})\\s*$"));
    const auto m = pattern.match(text);
    if (!m.hasMatch())
        return -1;
    const int h = m.captured(1).toInt();
    const int min = m.captured(2).toInt();
    const int s = m.captured(3).toInt();
    if (h > 23 || min > 59 || s > 59)
        return -1;
    return (h * 3600 + min * 60 + s) / 86400.0;
}

QStringList readRingRuleLines(const QString &ringsFile) { return readLocalLines(ringsFile); }

bool parseRingRule(const QString &line, RingRule *rule)
{
    // One digit, two times of day, day marks of one weekday digit each; blanks at the end are
    // forgiven (an editor may leave them), anything else is not a rule.
    static const QRegularExpression form(
        QStringLiteral("^(\\d),(\\d\\d:\\d\\d:\\d\\d)-(\\d\\d:\\d\\d:\\d\\d)((?:,[1-7])*)\\s*$"));
    const QRegularExpressionMatch m = form.match(line);
    if (!m.hasMatch())
        return false;
    const double start = parseTimeOfDay(m.captured(2));
    const double end = parseTimeOfDay(m.captured(3));
    if (start < 0 || end < 0)
        return false;
    rule->rings = m.captured(1).toInt();
    rule->start = start;
    rule->end = end;
    rule->days = m.captured(4);
    return true;
}

void RingSchedule::LoadRingRules(const QString &ringsFile)
{
    m_rules = {};
    m_count = 0;
    m_problems.clear();
    QFile file(ringsFile);
    // Only a plain file is read: a pipe or device put in its place would never end.
    if (QFileInfo::exists(ringsFile) && !QFileInfo(ringsFile).isFile()) {
        m_problems.push_back(
            LineProblem{0, LineFault::Unreadable, systemReason(QFileInfo(ringsFile).isDir() ? EISDIR : EINVAL)});
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.exists())
            m_problems.push_back(LineProblem{0, LineFault::Unreadable, file.errorString()});
        return;
    }
    const QStringList lines = readLocalLines(file);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString &line = lines[i];
        if (line.trimmed().isEmpty())
            continue;
        // A line that is not a rule takes no part: guessed fields (a ring count of 0 from a
        // stray letter, an empty time) would silence every call.
        RingRule rule;
        if (!parseRingRule(line, &rule)) {
            m_problems.push_back(LineProblem{int(i) + 1, LineFault::NotARingRule, line});
            continue;
        }
        if (m_count == kMaxRules) {
            m_problems.push_back(LineProblem{int(i) + 1, LineFault::BeyondRuleLimit, line});
            continue;
        }
        if (rule.rings == 0 && !rule.days.isEmpty())
            m_problems.push_back(LineProblem{int(i) + 1, LineFault::NeverAnswers, line});
        m_rules[static_cast<std::size_t>(m_count++)] = rule;
    }
}

int RingSchedule::PickRingCount(int ringsToAnswer, const QDateTime &when) const
{
    const QChar weekday = QChar('0' + (when.date().dayOfWeek() % 7) + 1); // Sunday = 1
    const double now = dayFraction(when.time());
    for (int i = 0; i < kMaxRules; ++i) {
        const RingRule &r = m_rules[static_cast<std::size_t>(i)];
        if (!r.days.contains(weekday))
            continue;
        const bool matches = r.start < r.end ? (r.start < now && now < r.end) : (now > r.start || now < r.end);
        if (matches)
            return r.rings;
    }
    return ringsToAnswer;
}

QString ringRuleDisplay(const QString &line)
{
    if (line.size() < 19)
        return line;
    QString display = line.left(19);
    const QString days = line.mid(19);
    for (int d = 1; d <= 7; ++d) {
        if (days.contains(QChar('0' + d)))
            display += QLatin1Char(',') + QLatin1String(kDayNames[d - 1]);
    }
    return display;
}

QString ringRuleLine(const QString &display)
{
    QString line = display.left(19);
    const QString rest = display.mid(19);
    for (int d = 1; d <= 7; ++d) {
        if (rest.contains(QLatin1String(kDayNames[d - 1])))
            line += QLatin1Char(',') + QString::number(d);
    }
    return line;
}

QString buildRingRule(const QString &rings, const QString &fromHours, const QString &fromMinutes,
                      const QString &toHours, const QString &toMinutes, const std::array<bool, 8> &days)
{
    static const QRegularExpression digit(QStringLiteral("^\\d$"));
    static const QRegularExpression number(QStringLiteral("^\\d{1,2}$"));
    if (!digit.match(rings).hasMatch())
        return QString();
    for (const QString *f : {&fromHours, &fromMinutes, &toHours, &toMinutes}) {
        if (!number.match(f->trimmed()).hasMatch())
            return QString();
    }
    const int fh = fromHours.trimmed().toInt();
    const int fm = fromMinutes.trimmed().toInt();
    const int th = toHours.trimmed().toInt();
    const int tm = toMinutes.trimmed().toInt();
    if (fh > 23 || th > 23 || fm > 59 || tm > 59)
        return QString();
    QString line = rings + QLatin1Char(',') + QTime(fh, fm).toString(QStringLiteral("HH:mm:ss")) + QLatin1Char('-')
        + QTime(th, tm).toString(QStringLiteral("HH:mm:ss"));
    for (int d = 1; d <= 7; ++d) {
        if (days[static_cast<std::size_t>(d)])
            line += QLatin1Char(',') + QString::number(d);
    }
    return line;
}

bool appendRingRule(const QString &ringsFile, const QString &line) { return appendLocalLine(ringsFile, line); }

bool rewriteRingRules(const QString &ringsFile, const QStringList &displayLines)
{
    QSaveFile file(ringsFile);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (const QString &display : displayLines)
        file.write(localLine(ringRuleLine(display)));
    return file.commit();
}

} // namespace telvox
