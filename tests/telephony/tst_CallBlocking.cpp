// Call blocking in whole calls on the virtual exchange, in virtual time.

#include "TelephonyFixture.h"

#include "records/CallBlockList.h"
#include "records/CallRecords.h"
#include "telephony/PhoneBookTable.h"

#include <QFile>
#include <QTest>

using namespace telvox;
using telvox::test::TelephonyFixture;

namespace {

// The fixture with the block and allow lists of its program folder screening its calls.
struct BlockingRig
{
    explicit BlockingRig(const QByteArray &blockList, const QByteArray &allowList = {}, BlockingOptions options = {})
    {
        f.settings.WriteSetting("Config", "Rings", "3");
        f.settings.WriteSetting("Config", "PopCallID", "1");
        test::writeBytes(f.dir.file(CallBlockList::blockFileName()), blockList);
        test::writeBytes(f.dir.file(CallBlockList::allowFileName()), allowList);
        test::writeBytes(f.dir.file("PhoneBook.txt"), phonebook::recordBytes("Bob", "555-1234"));
        lists = std::make_unique<CallBlockList>(f.dir.path(), options);
    }
    bool start()
    {
        if (!f.start())
            return false;
        f.core->setCallScreen(lists.get());
        return true;
    }
    bool call(const QByteArray &number, bool withheld = false, CallerIdTiming timing = CallerIdTiming::AfterFirstRing)
    {
        IncomingCall c;
        c.number = number;
        c.withheld = withheld;
        c.callerIdTiming = timing;
        return f.exchange->placeIncomingCall(0, std::move(c));
    }
    // Everything after the lines came up.
    QStringList callTexts() const { return f.statusTexts().mid(1); }

    TelephonyFixture f;
    std::unique_ptr<CallBlockList> lists;
};

} // namespace

class tst_CallBlocking : public QObject
{
    Q_OBJECT
private slots:
    void screening_data()
    {
        QTest::addColumn<QByteArray>("blockList");
        QTest::addColumn<QByteArray>("allowList");
        QTest::addColumn<bool>("withheldOption");
        QTest::addColumn<bool>("phonebookOnly");
        QTest::addColumn<QByteArray>("number"); // "P": withheld
        QTest::addColumn<bool>("before");       // caller ID before the first ring
        QTest::addColumn<QString>("texts");     // the status lines of a blocked call; empty: let through
        QTest::newRow("listed prefix") << QByteArray("# nuisance\n0900*\tpremium line\n") << QByteArray() << false << false
                                       << QByteArray("0900123") << false
                                       << "Line0 Ring...| 1|Blocked: 0900123 (premium line)";
        QTest::newRow("allow list wins") << QByteArray("555*\n") << QByteArray("555-9999\tmy sister\n") << false << false
                                         << QByteArray("5559999") << false << "";
        QTest::newRow("withheld, option off") << QByteArray() << QByteArray() << false << false << QByteArray("P")
                                              << false << "";
        QTest::newRow("withheld, option on") << QByteArray() << QByteArray() << true << false << QByteArray("P") << false
                                             << "Line0 Ring...| 1|Blocked: withheld";
        QTest::newRow("unavailable entry") << QByteArray("unavailable\tno number\n") << QByteArray() << false << false
                                           << QByteArray() << false << "Line0 Ring...| 1|Blocked: unavailable (no number)";
        QTest::newRow("phonebook only: stranger") << QByteArray() << QByteArray() << false << true
                                                  << QByteArray("5559999") << false
                                                  << "Line0 Ring...| 1|Blocked: 5559999 (not in the phonebook)";
        QTest::newRow("phonebook only: known") << QByteArray() << QByteArray() << false << true << QByteArray("5551234")
                                               << false << "";
        // The caller-ID event came before the call's offering, so it found no call yet: the
        // block happens at the offering, before any ring.
        QTest::newRow("caller ID before the first ring") << QByteArray("0900123\n") << QByteArray() << false << false
                                                         << QByteArray("0900123") << true
                                                         << "CallerID:0900123|Line0 Ring...|Blocked: 0900123";
    }
    void screening()
    {
        QFETCH(QByteArray, blockList);
        QFETCH(QByteArray, allowList);
        QFETCH(bool, withheldOption);
        QFETCH(bool, phonebookOnly);
        QFETCH(QByteArray, number);
        QFETCH(bool, before);
        QFETCH(QString, texts);
        BlockingRig r(blockList, allowList, BlockingOptions{withheldOption, phonebookOnly});
        QVERIFY(r.start());
        const bool withheld = number == "P";
        QVERIFY(r.call(withheld ? QByteArray() : number, withheld,
                       before ? CallerIdTiming::BeforeFirstRing : CallerIdTiming::AfterFirstRing));
        r.f.loop.advance(2500); // ring 1 (2 s), caller ID 500 ms after it
        if (texts.isEmpty()) {
            r.f.loop.advance(10000);
            QCOMPARE(r.f.audio.calls, QStringList{"PlayGreeting 0"});
            QVERIFY(readBlockedCalls(r.f.dir.path()).empty());
            return;
        }
        QCOMPARE(r.callTexts(), texts.split('|'));
        r.f.loop.advance(30000);
        QCOMPARE(r.f.exchange->view(0).hCall, HCall(0)); // turned away before ring 2
        QCOMPARE(r.callTexts(), texts.split('|'));       // no rings counted, no disconnection line
        QVERIFY(r.f.audio.calls.isEmpty());              // no greeting, no recording
        QVERIFY(!r.f.core->popup().isVisible());
        QVERIFY(!r.f.core->isBlockedCall(0));
        // (Caller ID that came before the offering was taken in before the block could be decided.)
        QCOMPARE(readCallRecords(r.f.settings, "Received").isEmpty(), !before);
        QCOMPARE(QFile::exists(r.f.dir.file("callerid.txt")), before);
        const std::vector<BlockedCall> blocked = readBlockedCalls(r.f.dir.path());
        QCOMPARE(int(blocked.size()), 1);
        QCOMPARE("Blocked: " + blocked[0].number + (blocked[0].label.isEmpty() ? "" : " (" + blocked[0].label + ")"),
                 texts.split('|').last());
    }

    // With the notice on, the call is answered, hears the refusal prompt and is hung up at its
    // end; a manual-answer pop-up is withdrawn; the next caller is treated as usual.
    void noticeIsPlayedThenTheCallEnds()
    {
        BlockingRig r("0900*\n", {}, BlockingOptions{false, false, true});
        r.f.settings.WriteSetting("Config", "ActionMan", "1");
        QVERIFY(r.start());
        QVERIFY(r.call("0900123"));
        r.f.loop.advance(3000);
        QCOMPARE(r.f.audio.calls, QStringList{"PlayBlockedNotice 0"});
        QVERIFY(r.f.exchange->view(0).hCall != 0);
        QCOMPARE(r.f.core->popCount(), 0);
        QVERIFY(!r.f.core->popup().row(0).answerVisible);
        QVERIFY(!r.f.core->popup().isVisible());
        r.f.loop.advance(3000); // the 2.3 s prompt ends, the line hangs up
        QCOMPARE(r.f.exchange->view(0).hCall, HCall(0));
        QCOMPARE(r.f.audio.calls, (QStringList{"PlayBlockedNotice 0", "ClosePromptOutput 0"}));

        r.f.settings.WriteSetting("Config", "ActionMan", "0");
        r.f.core->setSetupOptions(readSetupOptions(r.f.settings));
        QVERIFY(r.call("5551234"));
        r.f.loop.advance(12000);
        QCOMPARE(r.f.audio.calls.mid(2), QStringList{"PlayGreeting 0"});
    }
};

QTEST_GUILESS_MAIN(tst_CallBlocking)
#include "tst_CallBlocking.moc"
