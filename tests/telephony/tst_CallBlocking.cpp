// Call blocking in whole calls on the virtual exchange, in virtual time.

#include "support/CallRig.h"

#include "records/CallBlockList.h"
#include "records/CallRecords.h"
#include "telephony/PhoneBookTable.h"

#include <QFile>
#include <QTest>

using namespace telvox;

namespace {

// The call system with the block and allow lists of its program folder screening its calls:
// numbers written any way, a prefix, a label after a tab, comments.
struct BlockingRig : test::CallRig
{
    BlockingRig(BlockingOptions options, bool manual)
        : CallRig({.countRings = true, .config = {{"PopCallID", "1"}, {"ActionMan", manual ? "1" : "0"}},
                   .before = [options](CallRig &f) {
            writeBlockingOptions(f.settings, options);
            test::writeBytes(f.dir.file(CallBlockList::blockFileName()),
                             "# nuisance callers\r\n555-1234\tDouble glazing\n\n+44 (0)900*\tpremium lines # all of them\n"
                             "unavailable\tno number\n---\n   # only a comment\n");
            test::writeBytes(f.dir.file(CallBlockList::allowFileName()), "+44 0900 111\tthe doctor's night line\n");
            test::writeBytes(f.dir.file("PhoneBook.txt"), phonebook::recordBytes("Bob", "555-9876"));
        }})
        , linesBefore(int(statusTexts().size()))
    {
    }
    bool call(const QByteArray &number, CallerIdTiming timing = CallerIdTiming::AfterFirstRing)
    {
        IncomingCall c;
        c.withheld = number == "P";
        c.number = c.withheld ? QByteArray() : number;
        c.callerIdTiming = timing;
        return exchange->placeIncomingCall(0, std::move(c));
    }
    // Everything after the lines came up (and the list's unusable "---" line was named).
    QStringList callTexts() const { return statusTexts().mid(linesBefore); }
    int linesBefore;
};

} // namespace

class tst_CallBlocking : public QObject
{
    Q_OBJECT
private slots:
    void screening_data()
    {
        QTest::addColumn<QByteArray>("number"); // "P": withheld; empty: no caller ID
        QTest::addColumn<bool>("withheldOption");
        QTest::addColumn<bool>("phonebookOnly");
        QTest::addColumn<bool>("before");       // caller ID before the first ring
        QTest::addColumn<QString>("blocked");   // the status line of the block; empty: let through
        QTest::newRow("listed") << QByteArray("5551234") << false << false << false << "Blocked: 5551234 (Double glazing)";
        QTest::newRow("listed, manual answering") << QByteArray("5551234") << false << false << false
                                                  << "Blocked: 5551234 (Double glazing)";
        QTest::newRow("longer number") << QByteArray("15551234") << false << false << false << "";
        QTest::newRow("prefix") << QByteArray("+440900123") << false << false << false
                                << "Blocked: +440900123 (premium lines)";
        QTest::newRow("prefix needs its +44") << QByteArray("0900123") << false << false << false << "";
        QTest::newRow("allow list wins") << QByteArray("+440900111") << false << false << false << "";
        QTest::newRow("withheld, option off") << QByteArray("P") << false << false << false << "";
        QTest::newRow("withheld, option on") << QByteArray("P") << true << false << false << "Blocked: withheld";
        QTest::newRow("unavailable entry") << QByteArray() << false << false << false << "Blocked: unavailable (no number)";
        QTest::newRow("phonebook only: stranger") << QByteArray("5550000") << false << true << false
                                                  << "Blocked: 5550000 (not in the phonebook)";
        QTest::newRow("phonebook only: known") << QByteArray("5559876") << false << true << false << "";
        QTest::newRow("phonebook only: allowed") << QByteArray("+440900111") << false << true << false << "";
        // The caller-ID event came before the call's offering, so it found no call yet: the
        // block happens at the offering, before any ring.
        QTest::newRow("caller ID before the first ring") << QByteArray("+440900123") << false << false << true
                                                         << "Blocked: +440900123 (premium lines)";
    }
    void screening()
    {
        QFETCH(QByteArray, number);
        QFETCH(bool, withheldOption);
        QFETCH(bool, phonebookOnly);
        QFETCH(bool, before);
        QFETCH(QString, blocked);
        const bool manual = QByteArray(QTest::currentDataTag()).contains("manual");
        BlockingRig r(BlockingOptions{withheldOption, phonebookOnly}, manual);
        QVERIFY(r.call(number, before ? CallerIdTiming::BeforeFirstRing : CallerIdTiming::AfterFirstRing));
        r.loop.advance(1000);
        QCOMPARE(r.core->popCount(), manual ? 1 : 0); // the manual-answer pop-up offers the call
        r.loop.advance(1500); // ring 1 (2 s), caller ID 500 ms after it
        if (blocked.isEmpty()) {
            r.loop.advance(10000);
            QCOMPARE(r.requests, QStringList{"PlayGreeting 0"});
            QVERIFY(readBlockedCalls(r.store).empty());
            return;
        }
        const QStringList texts = before ? QStringList{"CallerID:" + number, "Line0 Ring...", blocked}
                                         : QStringList{"Line0 Ring...", " 1", blocked};
        QCOMPARE(r.callTexts(), texts);
        r.loop.advance(30000);
        QCOMPARE(r.exchange->view(0).hCall, HCall(0)); // turned away before ring 2
        QCOMPARE(r.callTexts(), texts);                  // no rings counted, no disconnection line
        QVERIFY(r.requests.isEmpty());              // no greeting, no recording
        QVERIFY(!r.core->popup().isVisible()); // a manual-answer pop-up is withdrawn
        QVERIFY(r.core->popCount() == 0 && !r.core->popup().row(0).answerVisible);
        QVERIFY(!r.core->isBlockedCall(0));
        // (Caller ID that came before the offering was taken in before the block could be decided.)
        QCOMPARE(readCallRecords(r.store, "Received").isEmpty(), !before);
        QCOMPARE(QFile::exists(r.dir.file("callerid.txt")), before);
        const std::vector<BlockedCall> calls = readBlockedCalls(r.store);
        QCOMPARE(int(calls.size()), 1);
        QCOMPARE("Blocked: " + calls[0].number + (calls[0].label.isEmpty() ? "" : " (" + calls[0].label + ")"), blocked);
    }

    // No caller ID at all (not even a message without a number): "unavailable" applies once
    // the call reaches the ring after which caller ID would have come, before that ring is
    // counted; until then the call is not held up.
    void noCallerIdAtAllIsUnavailable()
    {
        BlockingRig r(BlockingOptions{}, false);
        QCOMPARE(r.statusTexts().mid(1), (QStringList{"BlockList.txt, line 6: \"---\" is not used: it is not a number, a "
                                                      "prefix ending in *, anonymous or unavailable"}));
        QVERIFY(r.call({}, CallerIdTiming::None));
        r.loop.advance(5000);
        QCOMPARE(r.callTexts(), (QStringList{"Line0 Ring...", " 1"}));
        r.loop.advance(2000); // ring 2 at 6 s
        QCOMPARE(r.callTexts(), (QStringList{"Line0 Ring...", " 1", "Blocked: unavailable (no number)"}));
        r.loop.advance(30000);
        QVERIFY(r.requests.isEmpty());
        QCOMPARE(int(readBlockedCalls(r.store).size()), 1);
    }

    // Each call on a line is screened afresh: after a caller turned away with the refusal
    // prompt (answered, the prompt, hung up), the next call, without caller ID, is judged at
    // its second ring, and a known caller after it rings on to the greeting.
    void everyCallScreenedAfresh()
    {
        BlockingOptions options;
        options.notice = true;
        BlockingRig r(options, false);
        QVERIFY(r.call("5551234"));
        r.loop.advance(30000);
        QCOMPARE(r.requests.filter("Play"), QStringList{"PlayBlockedNotice 0"}); // no greeting
        QCOMPARE(r.exchange->view(0).hCall, HCall(0));
        QVERIFY(!r.core->isBlockedCall(0));

        r.requests.clear();
        QVERIFY(r.call({}, CallerIdTiming::None));
        r.loop.advance(7000); // ring 2 at 6 s
        QCOMPARE(r.callTexts().last(), "Blocked: unavailable (no number)");
        r.loop.advance(30000);
        QCOMPARE(r.requests.filter("Play"), QStringList{"PlayBlockedNotice 0"});

        r.requests.clear();
        QVERIFY(r.call("5559876"));
        r.loop.advance(40000);
        QCOMPARE(r.requests.filter("Play"), QStringList{"PlayGreeting 0"});
        QCOMPARE(int(readBlockedCalls(r.store).size()), 2);
    }
};

QTEST_GUILESS_MAIN(tst_CallBlocking)
#include "tst_CallBlocking.moc"
