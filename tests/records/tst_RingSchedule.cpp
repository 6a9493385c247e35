#include "records/RingSchedule.h"
#include "support/FakeShell.h"
#include "support/Files.h"

#include <QDir>
#include <QTest>

using namespace telvox;
using namespace telvox::test;

namespace {

// 2026-12-05 is a Saturday (weekday digit 7), 2026-12-06 a Sunday (1), 2026-12-07 a Monday (2).
QDateTime at(int day, int h, int m, int s = 0) { return QDateTime(QDate(2026, 12, day), QTime(h, m, s)); }

RingSchedule load(const ScratchDir &dir, const QByteArray &rules)
{
    writeBytes(dir.file("Rings.txt"), rules);
    RingSchedule s;
    s.LoadRingRules(dir.file("Rings.txt"));
    return s;
}

} // namespace

class tst_RingSchedule : public QObject
{
    Q_OBJECT
private slots:
    // Both bounds are exclusive: the very second a range starts or ends it does not apply,
    // one second inside it does. A range with start after end crosses midnight; equal bounds
    // match any moment but that one.
    void boundsAreExclusive_data()
    {
        QTest::addColumn<QByteArray>("rule");
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<int>("rings");
        const QByteArray day = "3,08:00:00-18:00:00,7\r\n";
        const QByteArray night = "2,22:00:00-06:00:00,7\r\n";
        const QByteArray equal = "6,12:00:00-12:00:00,7\r\n";
        QTest::newRow("day, at the start") << day << at(5, 8, 0) << 8;
        QTest::newRow("day, a second after the start") << day << at(5, 8, 0, 1) << 3;
        QTest::newRow("day, a second before the end") << day << at(5, 17, 59, 59) << 3;
        QTest::newRow("day, at the end") << day << at(5, 18, 0) << 8;
        QTest::newRow("night, at the start") << night << at(5, 22, 0) << 8;
        QTest::newRow("night, a second after the start") << night << at(5, 22, 0, 1) << 2;
        QTest::newRow("night, after midnight") << night << at(5, 0, 30) << 2;
        QTest::newRow("night, a second before the end") << night << at(5, 5, 59, 59) << 2;
        QTest::newRow("night, at the end") << night << at(5, 6, 0) << 8;
        QTest::newRow("equal bounds, that moment") << equal << at(5, 12, 0) << 8;
        QTest::newRow("equal bounds, a second before") << equal << at(5, 11, 59, 59) << 6;
        QTest::newRow("equal bounds, a second after") << equal << at(5, 12, 0, 1) << 6;
        QTest::newRow("another weekday") << night << at(6, 23, 0) << 8;
    }
    void boundsAreExclusive()
    {
        QFETCH(QByteArray, rule);
        QFETCH(QDateTime, when);
        QFETCH(int, rings);
        ScratchDir dir;
        QCOMPARE(load(dir, rule).PickRingCount(8, when), rings);
    }

    void firstMatchingRuleWinsAndDaylessRulesNeverApply()
    {
        ScratchDir dir;
        const RingSchedule s = load(dir, "3,08:00:00-18:00:00,2,3,4,5,6\r\n"
                                         "5,00:00:00-23:59:59\r\n"
                                         "4,09:00:00-17:00:00,1,7\r\n"
                                         "1,10:00:00-12:00:00,7\r\n");
        QCOMPARE(s.ruleCount(), 4);
        QCOMPARE(s.rule(0).days, QString(",2,3,4,5,6"));
        QCOMPARE(s.PickRingCount(8, at(7, 12, 0)), 3); // Monday noon
        QCOMPARE(s.PickRingCount(8, at(5, 11, 0)), 4); // Saturday: rule 3 before rule 4
        QCOMPARE(s.PickRingCount(8, at(7, 19, 0)), 8); // the dayless rule never applies
    }

    // Only whole rules take part: junk never silences calls (a stray letter once read as a ring
    // count of 0 matched every moment); each line left out is named with its number and reason.
    void onlyWholeRulesTakePartAndTheRestIsNamed()
    {
        ScratchDir dir;
        QByteArray text = "\r\nx,ab:cd:ef-18:00:00,7\r\nshort\r\n3,25:00:00-18:00:00,7\r\n3,08:00:00-18:00:00,8\r\n"
                          "0,22:00:00-06:00:00,1\r\n\x01\x02\xff\xfe garbage\r\n";
        for (int i = 0; i < 20; ++i)
            text += "6,00:00:00-00:00:00,1,2,3,4,5,6,7\r\n";
        const RingSchedule s = load(dir, text);
        QCOMPARE(s.ruleCount(), RingSchedule::kMaxRules);
        QCOMPARE(s.rule(0).rings, 0); // a whole rule of 0 rings is the user's choice...
        QCOMPARE(s.PickRingCount(8, at(5, 10, 0)), 6); // ...and no junk line applies
        QCOMPARE(s.PickRingCount(8, at(6, 23, 0)), 0);
        QList<QPair<int, LineFault>> named;
        for (const LineProblem &p : s.problems())
            named << qMakePair(p.line, p.fault);
        const QList<QPair<int, LineFault>> expected{
            {2, LineFault::NotARingRule}, {3, LineFault::NotARingRule}, {4, LineFault::NotARingRule},
            {5, LineFault::NotARingRule}, {6, LineFault::NeverAnswers}, {7, LineFault::NotARingRule},
            {27, LineFault::BeyondRuleLimit}};
        QCOMPARE(named, expected);
        QCOMPARE(s.problems().front().text, QString("x,ab:cd:ef-18:00:00,7"));
        QVERIFY(s.problems().at(4).used() && !s.problems().front().used());

        RingSchedule none;
        none.LoadRingRules(dir.file("missing.txt"));
        QCOMPARE(none.ruleCount(), 0);
        QVERIFY(none.problems().empty());
        QCOMPARE(none.PickRingCount(8, at(5, 12, 0)), 8);
        // A folder where the file should be cannot be read, and says so.
        QVERIFY(QDir().mkpath(dir.file("Folder.txt")));
        none.LoadRingRules(dir.file("Folder.txt"));
        QCOMPARE(int(none.problems().size()), 1);
        QCOMPARE(none.problems().front().fault, LineFault::Unreadable);
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
        QCOMPARE(readAll(file), QByteArray("3,08:00:00-18:00:00,2,3\r\n1,22:00:00-06:00:00,7,1\r\n"));
        QVERIFY(rewriteRingRules(file, {ringRuleDisplay("1,22:00:00-06:00:00,7,1")}));
        QCOMPARE(readAll(file), QByteArray("1,22:00:00-06:00:00,1,7\r\n")); // day digits ascending
    }

    void editorFieldsMustBeValid_data()
    {
        QTest::addColumn<QStringList>("fields"); // rings, from hh, mm, to hh, mm
        QTest::addColumn<QString>("line");
        QTest::newRow("valid") << QStringList{"3", "8", "0", "18", "30"} << "3,08:00:00-18:30:00,2,6";
        QTest::newRow("bounds") << QStringList{"0", "0", "0", "23", "59"} << "0,00:00:00-23:59:00,2,6";
        QTest::newRow("no ring count") << QStringList{"", "8", "0", "18", "30"} << "";
        QTest::newRow("two digits") << QStringList{"12", "8", "0", "18", "30"} << "";
        QTest::newRow("a letter") << QStringList{"x", "8", "0", "18", "30"} << "";
        QTest::newRow("hour 24") << QStringList{"3", "24", "0", "18", "30"} << "";
        QTest::newRow("minute 60") << QStringList{"3", "8", "0", "18", "60"} << "";
    }
    void editorFieldsMustBeValid()
    {
        QFETCH(QStringList, fields);
        QFETCH(QString, line);
        std::array<bool, 8> days{};
        days[2] = days[6] = true;
        QCOMPARE(buildRingRule(fields[0], fields[1], fields[2], fields[3], fields[4], days), line);
        if (!line.isEmpty()) // no day ticked: no day marks
            QCOMPARE(buildRingRule(fields[0], fields[1], fields[2], fields[3], fields[4], {}), line.left(19));
    }
};

QTEST_GUILESS_MAIN(tst_RingSchedule)
#include "tst_RingSchedule.moc"
