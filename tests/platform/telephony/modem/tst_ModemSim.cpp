// The port probe against telvox-modemsim's chips on pseudo-terminals, in real time: a voice
// modem found and identified, one left streaming by an earlier run brought back, an absent port.
// The emulator itself is checked through what runs on it: its faults by their effect on the
// backend (tst_ModemCall), its pacing, busy-tone reports and caller ID by vgetty (tst_ModemPeer).

#include "platform/telephony/modem/ModemPorts.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace telvox::modem;

class tst_ModemSim : public QObject
{
    Q_OBJECT

private slots:
    void probeFindsTheVoiceModem()
    {
        QTemporaryDir dir;
        QProcess sim;
        // Line 1 was left streaming voice data by a program that died in a call.
        sim.start(QStringLiteral(TELVOX_MODEMSIM), {"--lines", "2", "--profile", "agere,usr", "--link-dir", dir.path(),
                                                    "--fault", "1:stuck@0"});
        QVERIFY(sim.waitForReadyRead(5000));
        const ProbeResult r = probePort(dir.filePath("modem0"));
        QVERIFY(r.answered && r.voice && r.recovery.isEmpty());
        QCOMPARE(r.identity, QByteArray("LT V.92 Data+Fax Modem Version 8.30"));
        const ProbeResult stuck = probePort(dir.filePath("modem1"));
        QVERIFY(stuck.answered && stuck.voice);
        QCOMPARE(stuck.identity, QByteArray("U.S. Robotics 56K FAX USB V1.2.23"));
        QVERIFY2(stuck.recovery.english().contains("was still in a call from an earlier run"),
                 qPrintable(stuck.recovery.english()));
        QVERIFY(!probePort(dir.filePath("modem7")).answered);
        sim.write("quit\n");
        sim.waitForFinished(3000);
    }
};

QTEST_GUILESS_MAIN(tst_ModemSim)
#include "tst_ModemSim.moc"
