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

IncomingCall callFrom(const QByteArray &number, CallerIdTiming timing = CallerIdTiming::AfterFirstRing)
{
    IncomingCall c;
    c.number = number;
    c.callerIdTiming = timing;
    return c;
}

// The fixture with the block and allow lists of its program folder screening its calls.
struct BlockingRig
{
    explicit BlockingRig(const QByteArray &blockList, const QByteArray &allowList = {}, BlockingOptions options = {})
    {
        f.settings.WriteSetting("Config", "Rings", "3");
        f.settings.WriteSetting("Config", "PopCallID", "1");
        test::writeBytes(f.dir.file(CallBlockList::blockFileName()), blockList);
        test::writeBytes(f.dir.file(CallBlockList::allowFileName()), allowList);
        lists = std::make_unique<CallBlockList>(f.dir.path(), options);
    }
    bool start()
    {
        if (!f.start())
            return false;
        f.core->setCallScreen(lists.get());
        return true;
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
    void blockedCallerIsHungUpBeforeTheSecondRingAndNeverHeardOf()
    {
        BlockingRig r("# nuisance\n0900*\tpremium line\n");
        QVERIFY(r.start());
        QVERIFY(r.f.exchange->placeIncomingCall(0, callFrom("0900123")));
        r.f.loop.advance(2500); // ring 1 (2 s), caller ID 500 ms after it
        QCOMPARE(r.callTexts(), (QStringList{"Line0 Ring...", " 1", "Blocked: 0900123 (premium line)"}));
        r.f.loop.advance(30000);
        QCOMPARE(r.f.exchange->view(0).hCall, HCall(0)); // taken before ring 2 and hung up again
        QCOMPARE(r.callTexts().size(), 3);               // no rings counted, no disconnection line
        QVERIFY(r.f.audio.calls.isEmpty());              // no greeting, no recording
        QVERIFY(!r.f.core->popup().isVisible());         // no pop-up
        QVERIFY(!r.f.core->isBlockedCall(0));
        QCOMPARE(readCallRecords(r.f.settings, "Blocked"), QStringList{"0900123"});
        QVERIFY(readCallRecords(r.f.settings, "Received").isEmpty());
        QVERIFY(!QFile::exists(r.f.dir.file("callerid.txt")));

        // The next caller on the line is treated as usual.
        QVERIFY(r.f.exchange->placeIncomingCall(0, callFrom("5551234")));
        r.f.loop.advance(12000);
        QCOMPARE(r.f.audio.calls, QStringList{"PlayGreeting 0"});
        QVERIFY(r.f.statusTexts().contains("CallerID:5551234"));
    }

    void allowListWinsOverABlockedPrefix()
    {
        BlockingRig r("555*\n", "555-1234\tmy sister\n");
        QVERIFY(r.start());
        QVERIFY(r.f.exchange->placeIncomingCall(0, callFrom("5551234")));
        r.f.loop.advance(12000);
        QVERIFY(!r.f.core->isBlockedCall(0));
        QCOMPARE(r.f.audio.calls, QStringList{"PlayGreeting 0"});
        QCOMPARE(r.callTexts().mid(0, 3), (QStringList{"Line0 Ring...", " 1", "CallerID:5551234"}));
    }

    void withheldNumbersAreBlockedOnlyWhenAsked()
    {
        for (const bool blockWithheld : {false, true}) {
            BlockingRig r("", "", BlockingOptions{blockWithheld, false});
            QVERIFY(r.start());
            IncomingCall call = callFrom("");
            call.withheld = true;
            QVERIFY(r.f.exchange->placeIncomingCall(0, std::move(call)));
            r.f.loop.advance(12000);
            if (blockWithheld) {
                QCOMPARE(r.callTexts(), (QStringList{"Line0 Ring...", " 1", "Blocked: withheld"}));
                QVERIFY(r.f.audio.calls.isEmpty());
            } else {
                QVERIFY(r.f.statusTexts().contains("CallerID:UNKNOWN"));
                QCOMPARE(r.f.audio.calls, QStringList{"PlayGreeting 0"});
            }
        }
        // "unavailable" as a list entry: a call without any caller ID.
        BlockingRig r("unavailable\tno number\n");
        QVERIFY(r.start());
        QVERIFY(r.f.exchange->placeIncomingCall(0, callFrom("")));
        r.f.loop.advance(3000);
        QCOMPARE(r.callTexts().last(), QStringLiteral("Blocked: unavailable (no number)"));
    }

    void phonebookOnlyModeLetsOnlyKnownCallersRing()
    {
        BlockingRig r("", "", BlockingOptions{false, true});
        QFile book(r.f.dir.file("PhoneBook.txt"));
        QVERIFY(book.open(QIODevice::WriteOnly));
        book.write(phonebook::recordBytes("Bob", "555-1234"));
        book.close();
        QVERIFY(r.start());
        QVERIFY(r.f.exchange->placeIncomingCall(0, callFrom("5559999")));
        r.f.loop.advance(12000);
        QCOMPARE(r.callTexts().last(), QStringLiteral("Blocked: 5559999 (not in the phonebook)"));
        QVERIFY(r.f.audio.calls.isEmpty());

        QVERIFY(r.f.exchange->placeIncomingCall(0, callFrom("5551234")));
        r.f.loop.advance(12000);
        QCOMPARE(r.f.audio.calls, QStringList{"PlayGreeting 0"});
    }

    void callerIdBeforeTheFirstRingBlocksWithoutAnyRing()
    {
        BlockingRig r("0900123\n");
        QVERIFY(r.start());
        QVERIFY(r.f.exchange->placeIncomingCall(0, callFrom("0900123", CallerIdTiming::BeforeFirstRing)));
        r.f.loop.advance(20000);
        // The caller-ID event came before the call's offering, so it found no call yet.
        QCOMPARE(r.callTexts(), (QStringList{"CallerID:0900123", "Line0 Ring...", "Blocked: 0900123"}));
        QCOMPARE(r.f.exchange->view(0).hCall, HCall(0));
    }

    void manualAnswerPopupIsWithdrawn()
    {
        BlockingRig r("0900*\n");
        r.f.settings.WriteSetting("Config", "ActionMan", "1");
        QVERIFY(r.start());
        QVERIFY(r.f.exchange->placeIncomingCall(0, callFrom("0900123")));
        r.f.loop.advance(3000);
        QCOMPARE(r.f.core->popCount(), 0);
        QVERIFY(!r.f.core->popup().row(0).answerVisible);
        QVERIFY(!r.f.core->popup().isVisible());
    }
};

QTEST_GUILESS_MAIN(tst_CallBlocking)
#include "tst_CallBlocking.moc"
