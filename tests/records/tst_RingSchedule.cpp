#include "records/RingSchedule.h"
#include "support/FakeShell.h"
#include "support/Files.h"

#include <QFile>
#include <QTest>

using namespace telvox;
using telvox::test::ScratchDir;
using telvox::test::writeBytes;

namespace {

// 2026-12-05 is a Saturday (weekday digit 7), 2026-12-06 a Sunday (1).
QDateTime at(int day, int h, int m, int s = 0) { return QDateTime(QDate(2026, 12, day), QTime(h, m, s)); }

} // namespace

class tst_RingSchedule : public QObject
{
    Q_OBJECT
private slots:
    void rangesAcrossMidnightAndStrictBounds()
    {
        ScratchDir dir;
        QVERIFY(writeBytes(dir.file("Rings.txt"), "2,22:00:00-06:00:00,7\r\n"));
        RingSchedule s;
        s.LoadRingRules(dir.file("Rings.txt"));
        QCOMPARE(s.PickRingCount(8, at(5, 23, 30)), 2);
        QCOMPARE(s.PickRingCount(8, at(5, 5, 0)), 2); // early Saturday morning
        QCOMPARE(s.PickRingCount(8, at(5, 6, 0, 0)), 8);
        QCOMPARE(s.PickRingCount(8, at(5, 22, 0, 0)), 8);
        QCOMPARE(s.PickRingCount(8, at(6, 1, 0)), 8); // Sunday is not in the rule
    }

    void firstMatchingRuleWinsAndDaylessRulesNeverApply()
    {
        ScratchDir dir;
        QVERIFY(writeBytes(dir.file("Rings.txt"), "3,08:00:00-18:00:00,2,3,4,5,6\r\n"
                                                  "5,00:00:00-23:59:59\r\n"
                                                  "4,09:00:00-17:00:00,1,7\r\n"
                                                  "1,10:00:00-12:00:00,7\r\n"));
        RingSchedule s;
        s.LoadRingRules(dir.file("Rings.txt"));
        QCOMPARE(s.ruleCount(), 4);
        QCOMPARE(s.rule(0).days, QString(",2,3,4,5,6"));
        QCOMPARE(s.PickRingCount(8, at(7, 12, 0)), 3);  // Monday noon
        QCOMPARE(s.PickRingCount(8, at(5, 11, 0)), 4);  // Saturday: rule 3 before rule 4
        QCOMPARE(s.PickRingCount(8, at(7, 19, 0)), 8);  // the dayless rule never applies
    }

    void malformedAndExtraLinesNeverStopLoading()
    {
        ScratchDir dir;
        QByteArray text = "\r\nx,ab:cd:ef-18:00:00,7\r\nshort\r\n";
        for (int i = 0; i < 25; ++i)
            text += "6,00:00:00-00:00:00,1,2,3,4,5,6,7\r\n";
        QVERIFY(writeBytes(dir.file("Rings.txt"), text));
        RingSchedule s;
        s.LoadRingRules(dir.file("Rings.txt"));
        QCOMPARE(s.ruleCount(), RingSchedule::kMaxRules);
        QCOMPARE(s.rule(1).rings, 0);
        QCOMPARE(s.rule(1).end, 0.75);
        // The malformed line keeps what converted: a start of 0 and an end of 18:00.
        QCOMPARE(s.PickRingCount(8, at(5, 10, 0)), 0);
        // After 18:00 the rules with start == end match (any moment but that instant).
        QCOMPARE(s.PickRingCount(8, at(5, 19, 0)), 6);

        RingSchedule none;
        none.LoadRingRules(dir.file("missing.txt"));
        QCOMPARE(none.ruleCount(), 0);
        QCOMPARE(none.PickRingCount(8, at(5, 12, 0)), 8);
    }

    void displayAndFileFormsRoundTrip()
    {
        QCOMPARE(ringRuleDisplay("3,08:00:00-18:00:00,2,3,4,5,6"), QString("3,08:00:00-18:00:00,Mon,Tue,Wed,Thu,Fri"));
        QCOMPARE(ringRuleDisplay("short"), QString("short"));
        QCOMPARE(ringRuleLine("3,08:00:00-18:00:00,Sat,Sun,Wed"), QString("3,08:00:00-18:00:00,1,4,7"));

        ScratchDir dir;
        const QString file = dir.file("Rings.txt");
        QVERIFY(appendRingRule(file, "3,08:00:00-18:00:00,2,3"));
        QVERIFY(appendRingRule(file, "1,22:00:00-06:00:00,7,1"));
        QVERIFY(rewriteRingRules(file, {ringRuleDisplay("1,22:00:00-06:00:00,7,1")}));
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("1,22:00:00-06:00:00,1,7\r\n")); // day digits ascending
    }

    void editorFieldsMustBeValid()
    {
        std::array<bool, 8> days{};
        days[2] = days[6] = true;
        QCOMPARE(buildRingRule("3", "8", "0", "18", "30", days), QString("3,08:00:00-18:30:00,2,6"));
        QCOMPARE(buildRingRule("", "8", "0", "18", "30", days), QString());
        QCOMPARE(buildRingRule("12", "8", "0", "18", "30", days), QString());
        QCOMPARE(buildRingRule("x", "8", "0", "18", "30", days), QString());
        QCOMPARE(buildRingRule("3", "24", "0", "18", "30", days), QString());
        QCOMPARE(buildRingRule("3", "8", "60", "18", "30", days), QString());
        QCOMPARE(buildRingRule("3", "8", "0", "18", "30", {}), QString("3,08:00:00-18:30:00"));
    }
};

QTEST_GUILESS_MAIN(tst_RingSchedule)
#include "tst_RingSchedule.moc"
