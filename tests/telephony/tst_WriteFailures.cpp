// A caller-ID file that cannot be written: said once, with the system's reason, and the
// caller still reaches the call records; said again only after it worked in between.
#include "records/CallRecords.h"
#include "support/CallRig.h"

#include <QDir>
#include <QTest>

using namespace telvox;
using namespace telvox::test;

class tst_WriteFailures : public QObject
{
    Q_OBJECT
private slots:
    void callerIdFileFailureIsToldOnceAndTheCallerKept()
    {
        CallRig r;
        QStringList alarms;
        r.system.statusLog().setAlarmHandler([&](const QString &text) { alarms << text; });
        const QString file = r.dir.file("callerid.txt");
        QVERIFY(QDir().mkpath(file)); // a folder where the file should be
        const auto call = [&](const QByteArray &number) {
            QVERIFY(r.exchange->placeIncomingCall(0, caller(number, 1)));
            QVERIFY(r.until(0, int(RecState::Recording)));
            QVERIFY(r.exchange->hangUpFarEnd(0, FarEndHangUp::WithDisconnect));
            QVERIFY(r.loop.advanceUntil([&] { return r.lineIsClean(0); }, 60000));
        };
        call("5551001");
        call("5551002");
        const QString told = file + " cannot be written (Is a directory); caller IDs still reach the lists";
        QCOMPARE(r.statusTexts().count(told), 1);
        QCOMPARE(alarms, QStringList{told});
        const QStringList received = readCallRecords(r.system.messageStore(), "Received");
        QVERIFY2(received.contains("5551001") && received.contains("5551002"), qPrintable(received.join(' ')));

        QVERIFY(QDir(file).removeRecursively());
        call("5551003");
        QVERIFY(r.statusTexts().contains(file + " can be written again"));
        QCOMPARE(r.fileBytes("callerid.txt"), QByteArray("5551003\r\n"));
        QVERIFY(QFile::remove(file) && QDir().mkpath(file));
        call("5551004");
        QCOMPARE(r.statusTexts().count(told), 2); // a new failure is told again
    }
};

QTEST_GUILESS_MAIN(tst_WriteFailures)
#include "tst_WriteFailures.moc"
