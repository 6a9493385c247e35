// Bringing the service up, classifying devices and opening lines.

#include "support/CallRig.h"

#include <QTest>

using namespace telvox;
using namespace telvox::test;

namespace {

VirtualDevice device(const char *name, std::uint32_t modes)
{
    VirtualDevice d;
    d.name = name;
    d.mediaModes = modes;
    return d;
}

} // namespace

class tst_LineManager : public QObject
{
    Q_OBJECT
private slots:
    void classifiesDevicesAndForcesUnusableLinesOff()
    {
        ExchangeSetup setup;
        setup.devices = {device("Modem A", 0x1C), device("Modem B", 0x14), device("Modem C", 0x8),
                         device("Modem D", 0x10), device("Modem E", 0x1C), device("Modem F", 0x1C)};
        setup.devices[3].negotiateResult = LineErr::OperationFailed;
        CallRig f({.lines = 4, .exchange = setup});
        QCOMPARE(f.core->numDevs(), 4u); // devices 4 and 5 are never offered
        QCOMPARE(f.core->apiVersion(), 0x20002u); // device 3 failed to negotiate and counts for nothing
        const std::array<QString, 4> expected = {"Modem A  [28]", "  [20 Line does not support voice]Modem B",
                                                  "Modem C  [8]", "Modem D  [16] [ Line does not support voice]"};
        QCOMPARE(f.core->classifyDevices().txtLine, expected);
        QCOMPARE(f.core->classifyDevices().enabled, (std::array<bool, 4>{true, false, true, false}));
        QCOMPARE(f.setting("Config", "Line1"), QString("0"));
        QCOMPARE(f.setting("Config", "Line3"), QString("0"));
        QCOMPARE(f.setting("Config", "Line0"), QString("1"));
        // 0x1C opens with interactive voice, 0x8 with automated voice; lines 1 and 3 stay closed.
        QCOMPARE(f.exchange->view(0).openMediaModes, 4u);
        QCOMPARE(f.exchange->view(2).openMediaModes, 8u);
        QVERIFY(!f.exchange->view(1).open && !f.exchange->view(3).open);
        QCOMPARE(f.statusTexts(), (QStringList{"Line0 is ready", "Line2 is ready"}));
        QVERIFY(f.prompts.shown.isEmpty());
    }

    void invalidAndMissingDevices()
    {
        ExchangeSetup setup;
        setup.devices = {device("", 0x1C), device("Modem B", 0x1C)};
        setup.devices[1].devCapsResult = LineErr::NoDevice;
        CallRig f({.exchange = setup});
        QCOMPARE(f.core->classifyDevices().txtLine[0], QString("Invalid type of line"));
        QCOMPARE(f.core->classifyDevices().txtLine[1], QString("Invalid type of line"));
        QCOMPARE(f.core->classifyDevices().txtLine[2], QString("Not Detected Voice Modem Line"));
        QVERIFY(f.core->classifyDevices().enabled[2] && f.core->classifyDevices().enabled[3]);
        QCOMPARE(f.setting("Config", "Line0"), QString("0"));
        QVERIFY(f.setting("Config", "Line2").isEmpty()); // not classified, not forced
    }

    void lineOpenFailuresShowTheirHexadecimalCode()
    {
        ExchangeSetup setup;
        setup.devices[2].openResult = LineErr::Allocated;
        setup.devices[3].statusMessagesResult = LineErr::OperationFailed;
        CallRig f({.lines = 4, .countRings = true, .exchange = setup});
        QCOMPARE(f.prompts.shown.size(), 2);
        QCOMPARE(f.prompts.shown[0].text, QString("Line2 Error:  80000001"));
        QCOMPARE(f.prompts.shown[0].icon, MessageIcon::Critical);
        QCOMPARE(f.prompts.shown[1].text, QString("Can not initialize callback message of line3"));
        QCOMPARE(f.statusTexts(), (QStringList{"Line0 is ready", "Line1 is ready", "Line3 is ready"}));
        QCOMPARE(f.slot(2).hLine, HLine(0));
        QVERIFY(f.slot(3).hLine != 0);

        // Line 3 is open but without ring messages: a call is offered, its rings never counted.
        QVERIFY(f.exchange->placeIncomingCall(3, IncomingCall{}));
        f.loop.advance(20000);
        QVERIFY(f.statusTexts().contains("Line3 Ring..."));
        QVERIFY(!f.statusTexts().contains(" 1"));
        // Nothing happens on the line that failed to open.
        QVERIFY(f.exchange->placeIncomingCall(2, IncomingCall{}));
        f.loop.advance(20000);
        QVERIFY(!f.statusTexts().contains("Line2 Ring..."));

        // Shutdown closes the open lines only.
        f.core->closeOpenLines();
        f.core->lineShutdown();
        for (int k = 0; k < 4; ++k)
            QVERIFY(!f.exchange->view(k).open);
    }

    void noDeviceAtAll()
    {
        ExchangeSetup setup;
        setup.devices.clear();
        CallRig f({.lines = 2, .exchange = setup});
        QCOMPARE(f.core->apiVersion(), 0u);
        QCOMPARE(f.prompts.shown.size(), 2);
        QCOMPARE(f.prompts.shown[0].text.left(14), QString("Line0 Error:  "));
        QCOMPARE(f.prompts.shown[1].text.left(14), QString("Line1 Error:  "));
    }
};

QTEST_GUILESS_MAIN(tst_LineManager)
#include "tst_LineManager.moc"
