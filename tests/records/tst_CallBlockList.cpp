#include "core/Settings.h"
#include "records/CallBlockList.h"
#include "records/MessageStore.h"
#include "support/FakeShell.h"
#include "support/Files.h"

#include <QFile>
#include <QTest>

using namespace telvox;
using telvox::test::ScratchDir;

class tst_CallBlockList : public QObject
{
    Q_OBJECT
private slots:
    // (Whole-call decisions: tst_CallBlocking.) The words for withheld and unavailable callers.
    void wordsForCallersWithoutANumber()
    {
        for (const BlockEntry &e : parseBlockList("Anonymous\nprivate\twho\nwithheld\n"))
            QVERIFY(e.matches(CallerKind::Withheld, {}) && !e.matches(CallerKind::Unavailable, {}));
        for (const BlockEntry &e : parseBlockList("unknown\nout of area\n"))
            QVERIFY(e.matches(CallerKind::Unavailable, {}) && !e.matches(CallerKind::Withheld, {}));
        QCOMPARE(int(parseBlockList("Anonymous\nprivate\twho\nwithheld\nunknown\nout of area\n").size()), 5);
    }

    // A prefix without a digit would turn every caller away: refused and named, as is a line
    // that is no entry; the rest of the list still works.
    void entriesMatchingEveryoneOrNothingAreRefusedAndNamed()
    {
        LineProblems problems;
        const std::vector<BlockEntry> entries
            = parseBlockList("*\n-*\t\tall\n(*\n+*\n  # comment\nabc\n---\n0900*\n555-0199\n+*49\n", &problems);
        QCOMPARE(int(entries.size()), 2);
        for (const char *caller : {"5551234", "+4930123", "0", ""}) {
            for (const BlockEntry &e : entries)
                QVERIFY2(!e.matches(CallerKind::Number, caller), qPrintable(e.text + " matched " + caller));
        }
        QVERIFY(entries[0].matches(CallerKind::Number, "0900 123"));
        QList<QPair<int, LineFault>> named;
        for (const LineProblem &p : problems)
            named << qMakePair(p.line, p.fault);
        const QList<QPair<int, LineFault>> expected{
            {1, LineFault::MatchesEveryCaller}, {2, LineFault::MatchesEveryCaller}, {3, LineFault::MatchesEveryCaller},
            {4, LineFault::MatchesEveryCaller}, {6, LineFault::NotAnEntry}, {7, LineFault::NotAnEntry},
            {10, LineFault::NotAnEntry}};
        QCOMPARE(named, expected);
        QCOMPARE(problems[1].text, QString("-*"));

        // The lists as files: what was refused in each is kept apart; nothing is blocked.
        ScratchDir dir;
        QVERIFY(test::writeBytes(dir.file(CallBlockList::blockFileName()), "*\r\n"));
        QVERIFY(test::writeBytes(dir.file(CallBlockList::allowFileName()), "5551234\n"));
        CallBlockList lists(dir.path());
        QCOMPARE(int(lists.blockProblems().size()), 1);
        QVERIFY(lists.allowProblems().empty());
        QVERIFY(!lists.check(CallerKind::Number, "5559999", false).blocked);
    }

    void appendedEntriesOptionsAndBlockedCallsAreKept()
    {
        ScratchDir dir;
        QVERIFY(test::writeBytes(dir.file(CallBlockList::blockFileName()), "0900*\tpremium")); // no final line break
        CallBlockList lists(dir.path());
        QVERIFY(lists.appendEntry(true, QStringLiteral("5557777"), QStringLiteral("survey # robot")));
        QCOMPARE(test::readAll(dir.file(CallBlockList::blockFileName())), QByteArray("0900*\tpremium\n5557777\tsurvey robot\n"));
        QCOMPARE(lists.check(CallerKind::Number, QStringLiteral("5557777"), true).label, QStringLiteral("survey robot"));

        SettingsStore settings(dir.file("telvox.ini"), dir.file("settings.txt"));
        QCOMPARE(readBlockingOptions(settings).sipReject, 603); // Decline unless 486 is chosen
        writeBlockingOptions(settings, BlockingOptions{true, false, true, 486});
        QCOMPARE(settings.ReadSetting("Blocking", "SipReject"), QStringLiteral("486"));
        const BlockingOptions back = readBlockingOptions(settings);
        QVERIFY(back.blockWithheld && !back.phonebookOnly && back.notice && back.sipReject == 486);

        // The record of blocked calls in the store: newest first, tabs in a label flattened,
        // the last kBlockedCallsKept only, and still there when the store is opened again.
        const QDateTime start(QDate(2026, 12, 6), QTime(9, 0));
        {
            MessageStore store(dir.file("messages.db"));
            for (int i = 0; i < kBlockedCallsKept + 5; ++i)
                QVERIFY(appendBlockedCall(store, {start.addSecs(i), QString::number(5550000 + i), "a\tb"}));
        }
        const std::vector<BlockedCall> calls = readBlockedCalls(MessageStore(dir.file("messages.db")));
        QCOMPARE(int(calls.size()), kBlockedCallsKept);
        QCOMPARE(calls.front().when, start.addSecs(kBlockedCallsKept + 4));
        QCOMPARE(calls.front().label, QStringLiteral("a b"));
        QCOMPARE(calls.back().number, QStringLiteral("5550005"));
        QVERIFY(!QFile::exists(dir.file(blockedCallsFileName())));
    }

    // An earlier version's BlockedCalls.txt moves into the store once, after what the store
    // holds already; a kill after the commit but before the file's rename (the file found
    // again) adds nothing. Two identical lines are two calls.
    void blockedCallsFileIsMigratedOnce()
    {
        ScratchDir dir;
        const QByteArray old = "2026-12-01 08:00:00\t5550100\tsurvey\n"
                               "junk line\n"
                               "2026-12-01 09:00:00\twithheld\t\n"
                               "2026-12-01 09:00:00\twithheld\t\n"
                               "2026-12-02 10:30:00\t09001234\tpremium\n";
        QVERIFY(test::writeBytes(dir.file(blockedCallsFileName()), old));
        MessageStore store(dir.file("messages.db"));
        QVERIFY(appendBlockedCall(store, {QDateTime(QDate(2026, 12, 6), QTime(7, 0)), "5559999", ""}));
        QCOMPARE(migrateBlockedCalls(store, dir.path()), 4);
        QVERIFY(!QFile::exists(dir.file(blockedCallsFileName())));
        QCOMPARE(test::readAll(dir.file(blockedCallsFileName() + ".migrated")), old);
        const auto numbers = [&] {
            QStringList out;
            for (const BlockedCall &c : readBlockedCalls(MessageStore(dir.file("messages.db"))))
                out << c.when.toString("dd HH:mm ") + c.number + "/" + c.label;
            return out;
        };
        const QStringList expected{"02 10:30 09001234/premium", "01 09:00 withheld/", "01 09:00 withheld/",
                                   "01 08:00 5550100/survey", "06 07:00 5559999/"};
        QCOMPARE(numbers(), expected);

        QVERIFY(QFile::copy(dir.file(blockedCallsFileName() + ".migrated"), dir.file(blockedCallsFileName())));
        QCOMPARE(migrateBlockedCalls(store, dir.path()), 0);
        QCOMPARE(numbers(), expected);
        QVERIFY(!QFile::exists(dir.file(blockedCallsFileName())));
        QCOMPARE(migrateBlockedCalls(store, dir.path()), 0); // no file: nothing to do
    }
};

QTEST_GUILESS_MAIN(tst_CallBlockList)
#include "tst_CallBlockList.moc"
