// The call table every line backend keeps its lines and calls in, and the line functions it
// answers for them: handles, the lookup of lines and calls, the checks of a call's state and
// the errors the call flow relies on, and the events of lines that were closed.

#include "core/VirtualEventLoop.h"
#include "platform/telephony/CallTableService.h"
#include "support/LineEvents.h"

#include <QTest>

#include <array>

using namespace telvox;

namespace {

// A backend of two lines whose signalling does only what the table needs to be seen working.
class TwoLines final : public CallTableService
{
public:
    explicit TwoLines(EventLoop &loop)
        : CallTableService(loop, 0x00D70001)
    {
        for (CallSlot &slot : devices)
            table().add(slot);
    }
    // The far end offers a call on `device`.
    HCall offer(std::uint32_t device)
    {
        CallSlot &slot = table().at(device);
        const HCall call = table().newCall(slot, true);
        table().setState(slot, LineCallState::Offering);
        return call;
    }
    void farEndHangsUp(std::uint32_t device) { table().setState(table().at(device), LineCallState::Idle); }

    std::array<CallSlot, 2> devices;
    QStringList hooks;

private:
    std::uint32_t offeredModes(const CallSlot &) const override { return MediaMode::InteractiveVoice; }
    std::int32_t describe(const CallSlot &, LineDevCaps &caps) override
    {
        caps.lineName = "two";
        return 0;
    }
    std::uint32_t waveDeviceId(const CallSlot &slot, LineApplication::WaveClass waveClass) const override
    {
        return (waveClass == LineApplication::WaveClass::In ? 0x100 : 0x200) + slot.device;
    }
    void closing(CallSlot &slot) override { hooks << QStringLiteral("closing %1 %2").arg(slot.device).arg(slot.hCall != 0); }
    void callFreed(CallSlot &slot) override { hooks << QStringLiteral("freed %1").arg(slot.device); }
    std::int32_t answerCall(CallSlot &slot) override
    {
        table().setState(slot, LineCallState::Connected);
        return table().nextRequest();
    }
    std::int32_t dropCall(CallSlot &slot) override
    {
        table().cancelDigits(slot);
        table().setState(slot, LineCallState::Idle);
        return table().nextRequest();
    }
    std::int32_t sendDigits(CallSlot &slot, const QString &, std::uint32_t) override
    {
        slot.generating = true;
        return 0;
    }
    std::int32_t placeCall(CallSlot &slot, const QString &, HCall &call) override
    {
        call = table().newCall(slot, false);
        table().setState(slot, LineCallState::Dialing);
        return table().nextRequest();
    }
};

struct Bench
{
    Bench()
    {
        events.openLine(lines, loop);
        lines.lineOpen(events.app, 1, second, 0x20002, 0, 0, 0, MediaMode::InteractiveVoice);
    }
    VirtualEventLoop loop;
    TwoLines lines{loop};
    test::LineEvents events;
    HLine second = 0;
};

} // namespace

class tst_CallTable : public QObject
{
    Q_OBJECT

private slots:
    void handlesAreNeverReused()
    {
        Bench b;
        QVERIFY(b.events.line != 0 && b.second != 0 && b.events.line != b.second);
        const HCall first = b.lines.offer(0);
        QVERIFY(first != b.events.line && first != b.second);
        b.lines.farEndHangsUp(0);
        QCOMPARE(b.lines.lineDeallocateCall(first), 0);
        QCOMPARE(b.lines.hooks, QStringList{"freed 0"});
        // The freed handle names nothing any more, not even after the line's next call.
        LineCallInfo info;
        QCOMPARE(b.lines.lineGetCallInfo(first, info), LineErr::InvalCallHandle);
        QCOMPARE(b.lines.lineDeallocateCall(first), LineErr::InvalCallHandle);
        const HCall next = b.lines.offer(0);
        QVERIFY(next != first);
        QCOMPARE(b.lines.lineGetCallInfo(first, info), LineErr::InvalCallHandle);
        QCOMPARE(b.lines.lineGetCallInfo(next, info), 0);
        QCOMPARE(info.hLine, b.events.line);
        QCOMPARE(info.callState, LineCallState::Offering);
    }

    void lookupFindsTheRightLineOrNone()
    {
        Bench b;
        const HCall call = b.lines.offer(1);
        std::uint32_t wave = 0;
        QCOMPARE(b.lines.lineGetID(0, 0, call, kCallSelectCall, wave, "wave/in"), 0);
        QCOMPARE(wave, 0x101u);
        QCOMPARE(b.lines.lineGetID(b.events.line, 0, 0, kCallSelectLine, wave, "WAVE/OUT"), 0);
        QCOMPARE(wave, 0x200u);
        QCOMPARE(b.lines.lineGetID(b.second, 0, 0, kCallSelectLine, wave, "midi/in"), LineErr::InvalDeviceClass);
        QCOMPARE(b.lines.lineGetID(0, 0, call + 50, kCallSelectCall, wave, "wave/in"), LineErr::InvalCallHandle);
        QCOMPARE(b.lines.lineGetID(call, 0, 0, kCallSelectLine, wave, "wave/in"), LineErr::InvalLineHandle);
        // A call handle is not a line handle, nor 0 a handle at all.
        QCOMPARE(b.lines.lineSetStatusMessages(call, 0, 0), LineErr::InvalLineHandle);
        QCOMPARE(b.lines.lineAnswer(b.second), LineErr::InvalCallHandle);
        QCOMPARE(b.lines.lineAnswer(0), LineErr::InvalCallHandle);
        QCOMPARE(b.lines.lineMonitorDigits(0, 0), LineErr::InvalCallHandle);

        // Closing the line forgets its call; the closed line's handle is unknown.
        QCOMPARE(b.lines.lineClose(b.second), 0);
        QCOMPARE(b.lines.hooks, QStringList{"closing 1 1"});
        LineCallInfo info;
        QCOMPARE(b.lines.lineGetCallInfo(call, info), LineErr::InvalCallHandle);
        QCOMPARE(b.lines.lineClose(b.second), LineErr::InvalLineHandle);
        HCall dialled = 0;
        QCOMPARE(b.lines.lineMakeCall(b.second, dialled, "1", 0), LineErr::InvalLineHandle);
        // Reopened, it has a new handle.
        HLine again = 0;
        QCOMPARE(b.lines.lineOpen(b.events.app, 1, again, 0x20002, 0, 0, 0, MediaMode::InteractiveVoice), 0);
        QVERIFY(again != b.second);
        // What the closed line had to say (its call offered) is not told to the reopened one.
        b.loop.advance(10);
        QCOMPARE(b.events.count(LINE_CALLSTATE, LineCallState::Offering), 0);
    }

    void callStateChecks()
    {
        Bench b;
        const HCall call = b.lines.offer(0);
        QCOMPARE(b.lines.lineDeallocateCall(call), LineErr::InvalCallState); // still offered
        QCOMPARE(b.lines.lineGenerateDigits(call, kDigitModeDtmf, "1", 0), LineErr::InvalCallState);
        HCall other = 0;
        QCOMPARE(b.lines.lineMakeCall(b.events.line, other, "123", 0), LineErr::CallUnavail);
        QCOMPARE(b.lines.lineMonitorDigits(call, 0x8), LineErr::InvalDigitMode);
        QCOMPARE(b.lines.lineMonitorDigits(call, kDigitModeDtmf), 0);
        QVERIFY(b.lines.devices[0].monitoring);

        QVERIFY(b.lines.lineAnswer(call) > 0);
        QCOMPARE(b.lines.lineGenerateDigits(call, 0x4, "1", 0), LineErr::InvalDigitMode);
        QCOMPARE(b.lines.lineGenerateDigits(call, kDigitModeDtmf, "", 0), LineErr::InvalDigitList);
        QCOMPARE(b.lines.lineGenerateDigits(call, kDigitModeDtmf, "1x", 0), LineErr::InvalDigitList);
        QCOMPARE(b.lines.lineGenerateDigits(call, kDigitModeDtmf, "*9#A", 0), 0);

        // Dropped: the tones under way are cancelled, the call idle but still known.
        QVERIFY(b.lines.lineDrop(call) > 0);
        QCOMPARE(b.lines.lineDrop(call), LineErr::InvalCallState);
        QCOMPARE(b.lines.lineMonitorDigits(call, 0), LineErr::InvalCallState);
        LineCallInfo info;
        QCOMPARE(b.lines.lineGetCallInfo(call, info), 0);
        // An idle call does not hold the line: a new call may be made before it is freed.
        QVERIFY(b.lines.lineMakeCall(b.events.line, other, "123", 0) > 0);
        QVERIFY(other != call && other != 0);
        QCOMPARE(b.lines.lineGetCallInfo(other, info), 0);
        QCOMPARE(info.callerIdFlags, CallPartyId::Unknown);
        QVERIFY(!b.lines.devices[0].monitoring && !b.lines.devices[0].incoming);

        b.loop.advance(10);
        QCOMPARE(b.events.count(LINE_GENERATE, kGenerateTermCancel), 1);
        QCOMPARE(b.events.count(LINE_CALLSTATE, LineCallState::Idle), 1);
    }

    void openAndShutdown()
    {
        Bench b;
        HLine line = 0;
        QCOMPARE(b.lines.lineOpen(b.events.app, 0, line, 0x20002, 0, 0, 0, MediaMode::InteractiveVoice),
                 LineErr::Allocated);
        QCOMPARE(b.lines.lineOpen(b.events.app, 2, line, 0x20002, 0, 0, 0, MediaMode::InteractiveVoice),
                 LineErr::BadDeviceId);
        QCOMPARE(b.lines.lineOpen(b.events.app + 1, 0, line, 0x20002, 0, 0, 0, MediaMode::InteractiveVoice),
                 LineErr::InvalAppHandle);
        b.lines.lineClose(b.second);
        QCOMPARE(b.lines.lineOpen(b.events.app, 1, line, 0x20003, 0, 0, 0, MediaMode::InteractiveVoice),
                 LineErr::IncompatibleApiVersion);
        QCOMPARE(b.lines.lineOpen(b.events.app, 1, line, 0x20002, 0, 0, 0, MediaMode::DataModem),
                 LineErr::InvalMediaMode);
        std::uint32_t version = 0;
        std::uint64_t extension = 7;
        QCOMPARE(b.lines.lineNegotiateAPIVersion(b.events.app, 1, 0x10003, 0x30000, version, extension), 0);
        QCOMPARE(version, 0x20002u);
        QCOMPARE(extension, 0u);

        // Events posted for a line that is closed before they are delivered are dropped; the
        // shutdown closes every line still open, with its call.
        b.lines.offer(0);
        b.lines.hooks.clear();
        QCOMPARE(b.lines.lineShutdown(b.events.app), 0);
        QCOMPARE(b.lines.hooks, QStringList{"closing 0 1"});
        QCOMPARE(b.lines.lineShutdown(b.events.app), LineErr::InvalAppHandle);
        b.loop.advance(10);
        QCOMPARE(b.events.count(LINE_CALLSTATE, LineCallState::Offering), 0);
        QVERIFY(!b.lines.devices[0].isOpen() && b.lines.devices[0].hCall == 0);
    }
};

QTEST_GUILESS_MAIN(tst_CallTable)
#include "tst_CallTable.moc"
