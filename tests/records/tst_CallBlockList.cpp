#include "core/Settings.h"
#include "records/CallBlockList.h"
#include "support/FakeShell.h"
#include "support/Files.h"

#include <QTest>

using namespace telvox;
using telvox::test::ScratchDir;

class tst_CallBlockList : public QObject
{
    Q_OBJECT
private slots:
    void parsesEntriesPrefixesWordsCommentsAndLabels()
    {
        const auto entries = parseBlockList(QStringLiteral("# nuisance callers\r\n"
                                                           "555-1234\tDouble glazing\n"
                                                           "\n"
                                                           "+44 (0)900*\tpremium lines # all of them\n"
                                                           "Anonymous\n"
                                                           "unavailable\tno number\n"
                                                           "---\n"
                                                           "   # only a comment\n"));
        QCOMPARE(int(entries.size()), 4);
        QCOMPARE(entries[0].kind, BlockEntry::Kind::Number);
        QCOMPARE(entries[0].digits, QStringLiteral("5551234"));
        QCOMPARE(entries[0].label, QStringLiteral("Double glazing"));
        QCOMPARE(entries[1].kind, BlockEntry::Kind::Prefix);
        QCOMPARE(entries[1].digits, QStringLiteral("+440900"));
        QCOMPARE(entries[1].label, QStringLiteral("premium lines"));
        QCOMPARE(entries[2].kind, BlockEntry::Kind::Withheld);
        QCOMPARE(entries[3].kind, BlockEntry::Kind::Unavailable);
        QCOMPARE(entries[3].label, QStringLiteral("no number"));

        QVERIFY(entries[0].matches(CallerKind::Number, QStringLiteral("555 1234")));
        QVERIFY(!entries[0].matches(CallerKind::Number, QStringLiteral("5551235")));
        QVERIFY(!entries[0].matches(CallerKind::Number, QStringLiteral("15551234")));
        QVERIFY(entries[1].matches(CallerKind::Number, QStringLiteral("+440900123456")));
        QVERIFY(!entries[1].matches(CallerKind::Number, QStringLiteral("0900123456")));
        QVERIFY(entries[2].matches(CallerKind::Withheld, QString()));
        QVERIFY(!entries[2].matches(CallerKind::Unavailable, QString()));
        QVERIFY(!entries[0].matches(CallerKind::Withheld, QStringLiteral("5551234")));
    }

    void allowListWinsThenBlockListThenTheOptions()
    {
        ScratchDir dir;
        QVERIFY(test::writeBytes(dir.file(CallBlockList::blockFileName()), "0900*\tpremium\nanonymous\n"));
        QVERIFY(test::writeBytes(dir.file(CallBlockList::allowFileName()), "0900 111\tthe doctor's night line\n"));
        CallBlockList lists(dir.path());

        BlockDecision d = lists.check(CallerKind::Number, QStringLiteral("0900222"), false);
        QVERIFY(d.blocked);
        QCOMPARE(d.label, QStringLiteral("premium"));
        QVERIFY(!lists.check(CallerKind::Number, QStringLiteral("0900111"), false).blocked);
        QVERIFY(lists.check(CallerKind::Withheld, QString(), false).blocked);
        QVERIFY(!lists.check(CallerKind::Unavailable, QString(), false).blocked);
        QVERIFY(!lists.check(CallerKind::Number, QStringLiteral("5551234"), false).blocked);

        BlockingOptions only;
        only.phonebookOnly = true;
        lists.setOptions(only);
        d = lists.check(CallerKind::Number, QStringLiteral("5551234"), false);
        QVERIFY(d.blocked);
        QCOMPARE(d.reason, BlockDecision::Reason::NotInPhonebook);
        QVERIFY(!lists.check(CallerKind::Number, QStringLiteral("5551234"), true).blocked);
        QVERIFY(lists.check(CallerKind::Unavailable, QString(), false).blocked);
        QVERIFY(!lists.check(CallerKind::Number, QStringLiteral("0900111"), false).blocked); // allowed stays allowed

        // Entries appended by the "Block this caller" path apply at once.
        QVERIFY(test::writeBytes(dir.file(CallBlockList::blockFileName()), "0900*\tpremium")); // no final line break
        QVERIFY(lists.appendEntry(true, QStringLiteral("5557777"), QStringLiteral("survey # robot")));
        QCOMPARE(test::readAll(dir.file(CallBlockList::blockFileName())), QByteArray("0900*\tpremium\n5557777\tsurvey robot\n"));
        QCOMPARE(lists.check(CallerKind::Number, QStringLiteral("5557777"), true).label, QStringLiteral("survey robot"));
    }

    void optionsLiveInTheirOwnSection()
    {
        ScratchDir dir;
        SettingsStore settings(dir.file("telvox.ini"), dir.file("settings.txt"));
        QVERIFY(!readBlockingOptions(settings).blockWithheld);
        writeBlockingOptions(settings, BlockingOptions{true, false});
        QCOMPARE(settings.ReadSetting("Blocking", "Withheld"), QStringLiteral("1"));
        QVERIFY(readBlockingOptions(settings).blockWithheld);
        QVERIFY(!readBlockingOptions(settings).phonebookOnly);
    }
};

QTEST_GUILESS_MAIN(tst_CallBlockList)
#include "tst_CallBlockList.moc"
