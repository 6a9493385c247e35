// The caller pop-up and the Virtual Exchange window driving real calls.

#include "support/CallRig.h"
#include "ui/frmPopCallID.h"
#include "ui/frmVirtualExchange.h"
#include "platform/telephony/LineAudioChannel.h"

#include <cmath>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace telvox;
using telvox::test::CallRig;

class tst_TelephonyWindows : public QObject
{
    Q_OBJECT
private slots:
    void manualAnswerThroughThePopUp()
    {
        CallRig f({.config = {{"ActionMan", "1"}, {"PopCallId", "1"}}});
        frmPopCallID popup(*f.core);
        frmVirtualExchange window(*f.exchange, f.texts());
        window.findChild<QLineEdit *>("txtNumber")->setText("5557777");
        window.findChild<QLineEdit *>("txtName")->setText("Jo");
        QVERIFY(!popup.isVisible());

        window.findChild<QPushButton *>("cmdCall")->click();
        f.loop.advance(2600); // offering, ring 1, caller ID
        QVERIFY(popup.isVisible());
        QCOMPARE(popup.windowTitle(), QString("Incoming Call Offering"));
        QVERIFY(popup.cmdAnswer(0)->isVisible() && popup.cmdHangup(0)->isVisible());
        QVERIFY(!popup.cmdAnswer(1)->isVisible());
        QCOMPARE(popup.lblCallerID(0)->text(), QString("5557777 "));
        QCOMPARE(popup.lblCallerName(0)->text(), QString("Jo "));
        QVERIFY(window.findChild<QLabel *>("lblState")->text().contains("Line0: ringing"));

        popup.cmdAnswer(0)->click();
        f.loop.advance(0);
        QVERIFY(!popup.cmdAnswer(0)->isVisible() && popup.cmdHangup(0)->isVisible());
        QCOMPARE(f.exchange->view(0).callState, LineCallState::Connected);
        // The try-out caller talks: the line carries sound, not silence.
        LineAudioChannel *line = f.exchange->audioChannel(VirtualExchange::kWaveInBase + 0);
        QVERIFY(line);
        std::vector<std::int16_t> heard(16000);
        line->readFromLine(heard);
        double energy = 0;
        for (const std::int16_t sample : heard)
            energy += double(sample) * sample;
        QVERIFY2(std::sqrt(energy / double(heard.size())) > 100, qPrintable(QString::number(std::sqrt(energy / double(heard.size())))));

        window.findChild<QPushButton *>("cmdKey_7")->click();
        f.loop.advance(300);
        QCOMPARE(f.slot(0).digits, QString("7"));

        popup.cmdHangup(0)->click();
        QVERIFY(!popup.isVisible());
        f.loop.advance(500);
        QCOMPARE(f.exchange->view(0).hCall, HCall(0));
        QVERIFY(window.findChild<QPushButton *>("cmdCall")->isEnabled());
    }

    void handsetAndHangUpFromTheWindow()
    {
        CallRig f({.rings = "6"});
        frmVirtualExchange window(*f.exchange, f.texts());
        window.findChild<QPushButton *>("cmdCall")->click();
        f.loop.advance(6000);
        window.findChild<QPushButton *>("cmdPickUp")->click();
        QVERIFY(!window.findChild<QPushButton *>("cmdPickUp")->isEnabled());
        f.loop.advance(7000); // the ring watch answers the handset call
        QVERIFY(f.requests.contains("StartLineRecording 0 M~5551234"));
        window.findChild<QCheckBox *>("chkDisconnect")->setChecked(false);
        window.findChild<QPushButton *>("cmdHangUp")->click();
        f.loop.advance(1000);
        QVERIFY(!f.statusTexts().contains("Line0 Disconnected")); // only the busy tone tells
        QVERIFY(window.findChild<QLabel *>("lblState")->text().contains("far end gone"));
    }
};

QTEST_MAIN(tst_TelephonyWindows)
#include "tst_TelephonyWindows.moc"
