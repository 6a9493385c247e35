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
    // The allow list wins, then the block list (numbers written any way, "*" prefixes, the words
    // for withheld and unavailable callers, comments), then the two options.
    void decisions_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("number");
        QTest::addColumn<bool>("inPhonebook");
        QTest::addColumn<bool>("phonebookOnly");
        QTest::addColumn<QString>("expected"); // "-": let through; else the label of the block
        const int number = int(CallerKind::Number), withheld = int(CallerKind::Withheld);
        const int unavailable = int(CallerKind::Unavailable);
        QTest::newRow("number with blanks") << number << "555 1234" << false << false << "Double glazing";
        QTest::newRow("other number") << number << "5551235" << false << false << "-";
        QTest::newRow("longer number") << number << "15551234" << false << false << "-";
        QTest::newRow("prefix, comment cut from label") << number << "+440900123456" << false << false << "premium lines";
        QTest::newRow("prefix needs its +44") << number << "0900123456" << false << false << "-";
        QTest::newRow("allowed inside a blocked prefix") << number << "+44 0900 111" << false << false << "-";
        QTest::newRow("withheld word") << withheld << "" << false << false << "";
        QTest::newRow("unavailable word") << unavailable << "" << false << false << "no number";
        QTest::newRow("phonebook only: stranger") << number << "5550000" << false << true << "";
        QTest::newRow("phonebook only: known") << number << "5550000" << true << true << "-";
        QTest::newRow("phonebook only: allowed stays") << number << "+440900111" << false << true << "-";
    }
    void decisions()
    {
        QFETCH(int, kind);
        QFETCH(QString, number);
        QFETCH(bool, inPhonebook);
        QFETCH(bool, phonebookOnly);
        QFETCH(QString, expected);
        ScratchDir dir;
        QVERIFY(test::writeBytes(dir.file(CallBlockList::blockFileName()),
                                 "# nuisance callers\r\n555-1234\tDouble glazing\n\n+44 (0)900*\tpremium lines # all of "
                                 "them\nAnonymous\nunavailable\tno number\n---\n   # only a comment\n"));
        QVERIFY(test::writeBytes(dir.file(CallBlockList::allowFileName()), "+44 0900 111\tthe doctor's night line\n"));
        CallBlockList lists(dir.path(), BlockingOptions{false, phonebookOnly});
        QCOMPARE(int(lists.blocked().size()), 4);
        const BlockDecision d = lists.check(CallerKind(kind), number, inPhonebook);
        QCOMPARE(d.blocked, expected != QLatin1String("-"));
        if (d.blocked)
            QCOMPARE(d.label, expected);
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

        // The record of blocked calls: newest first, tabs in a label cannot split a line, the
        // last kBlockedCallsKept only.
        const QDateTime start(QDate(2026, 12, 6), QTime(9, 0));
        for (int i = 0; i < kBlockedCallsKept + 5; ++i)
            QVERIFY(appendBlockedCall(dir.path(), {start.addSecs(i), QString::number(5550000 + i), "a\tb"}));
        const std::vector<BlockedCall> calls = readBlockedCalls(dir.path());
        QCOMPARE(int(calls.size()), kBlockedCallsKept);
        QCOMPARE(calls.front().when, start.addSecs(kBlockedCallsKept + 4));
        QCOMPARE(calls.front().label, QStringLiteral("a b"));
        QCOMPARE(calls.back().number, QStringLiteral("5550005"));
    }
};

QTEST_GUILESS_MAIN(tst_CallBlockList)
#include "tst_CallBlockList.moc"
