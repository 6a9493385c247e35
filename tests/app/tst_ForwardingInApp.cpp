// Mail forwarding and call blocking as the composition root wires them into the program.

#include "sim/exchange/VirtualExchange.h"
#include "sim/exchange/VirtualExchangeBackend.h"
#include "app/CallSystem.h"
#include "records/MailForward.h"
#include "records/MessageStore.h"
#include "records/MessageLists.h"
#include "records/StatusLog.h"
#include "support/FakeShell.h"
#include "support/Files.h"
#include "support/StatusTexts.h"
#include "ui/AppRig.h"
#include "ui/frmBlockList.h"
#include "ui/frmDialRecords.h"
#include "ui/frmMain.h"
#include "ui/frmPopCallID.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

using namespace telvox;
using namespace telvox::test;

class tst_ForwardingInApp : public QObject
{
    Q_OBJECT
private slots:
    void blockThisCallerFromTheStatusListThenTheCallIsBlocked()
    {
        ScratchDir home;
        // Mail to a port where nobody listens: the mail stays queued. (The options are there
        // before the program reads them, as for a later start.)
        QVERIFY(writeBytes(home.file("telvox.ini"), "[Config]\nLanguage=0\nRings=4\nPopCallID=1\nSaveFile=" + home.path().toUtf8()
                           + "/waveFiles/\n[Forward]\nEnabled=1\nTo=me@example.org\nHost=127.0.0.1\nPort=1\n"
                             "[Blocking]\nNotice=1\n"));
        AppRig rig(home.path());
        auto [loop, modal, app] = std::tie(rig.loop, rig.modal, rig.app); // references
        QCOMPARE(app.Main(), TelvoxApplication::StartResult::Running);
        loop.advance(3000); // the splash window
        QVERIFY(app.isLoaded());

        // "Block this caller" on a caller-ID line of the status list.
        app.statusLog().AddStatus(QStringLiteral("CallerID:5551234"));
        QListView *status = app.mainWindow()->lstStatus();
        status->setCurrentIndex(status->model()->index(status->model()->rowCount() - 1, 0));
        auto *block = app.mainWindow()->findChild<QAction *>("mmuBlockCaller");
        QVERIFY(block && block->text() == QStringLiteral("Block this caller"));
        modal.answer = [](QDialog &dialog) {
            auto *editor = qobject_cast<frmBlockList *>(&dialog);
            QCOMPARE(editor->txtEntry()->text(), QStringLiteral("5551234"));
            editor->txtLabel()->setText("robot");
            editor->cmdBlockAdd_Click();
            editor->cmdSave_Click();
        };
        block->trigger();
        QCOMPARE(modal.shown, QStringList{"frmBlockList"});
        QCOMPARE(readAll(home.file("BlockList.txt")), QByteArray("5551234\trobot\n"));

        // The next call from that number is blocked at once, without a ring count: answered,
        // it hears the built-in refusal prompt (2.8 s), and is hung up; nothing is recorded.
        VirtualExchange &exchange = *virtualExchangeOf(&app.system().lineBackend());
        IncomingCall call;
        call.number = "5551234";
        QVERIFY(exchange.placeIncomingCall(0, std::move(call)));
        loop.advance(30000);
        const QStringList texts = statusTexts(app.statusList());
        QVERIFY2(texts.contains("Blocked: 5551234 (robot)"), qPrintable(texts.join('\n')));
        QCOMPARE(texts.count("CallerID:5551234"), 1); // only the line added above
        const std::uint64_t heard = exchange.heardSampleCount(0);
        QVERIFY2(heard >= 2700 * 8 && heard < 3200 * 8, qPrintable(QString::number(heard)));
        QCOMPARE(exchange.view(0).hCall, HCall(0));
        QVERIFY(QDir(home.file("waveFiles")).entryList(QDir::Files).isEmpty());

        // The caller pop-up's "Block" button offers the ringing caller's number to the editor.
        IncomingCall other;
        other.number = "5557777";
        other.maxRings = 2;
        QVERIFY(exchange.placeIncomingCall(0, std::move(other)));
        loop.advance(3000);
        frmPopCallID *popup = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets())
            popup = popup ? popup : qobject_cast<frmPopCallID *>(w);
        QVERIFY(popup);
        QPushButton *blockButton = popup->cmdBlock(0);
        QVERIFY(blockButton->isVisible() && blockButton->text() == QStringLiteral("Block"));
        modal.answer = [](QDialog &dialog) {
            QCOMPARE(qobject_cast<frmBlockList *>(&dialog)->txtEntry()->text(), QStringLiteral("5557777"));
        };
        QTest::mouseClick(blockButton, Qt::LeftButton);
        QCOMPARE(modal.shown.last(), QStringLiteral("frmBlockList"));
        loop.advance(20000);

        // The call records window, opened from the dialler, lists the blocked call.
        modal.answer = [](QDialog &dialog) {
            if (auto *records = qobject_cast<frmDialRecords *>(&dialog)) {
                QCOMPARE(records->lstBlocked()->topLevelItemCount(), 1);
                QCOMPARE(records->lstBlocked()->topLevelItem(0)->text(1), QStringLiteral("5551234"));
                QCOMPARE(records->lstBlocked()->topLevelItem(0)->text(2), QStringLiteral("robot"));
                QCOMPARE(records->parentWidget()->objectName(), QStringLiteral("frmDialOut"));
            } else {
                dialog.findChild<QPushButton *>("cmdRecords")->click();
            }
        };
        app.showDialOut();
        QCOMPARE(modal.shown.mid(modal.shown.size() - 2), (QStringList{"frmDialOut", "frmDialRecords"}));

        // A new message that enters the lists is queued for mail at once.
        QDir().mkpath(home.file("waveFiles"));
        QVERIFY(QFile::copy(qEnvironmentVariable("TELVOX_SOURCE_DIR") + "/tests/data/speech_en_female_8k.wav",
                            home.file("waveFiles/A2026-12-06~10-00-00~5550000.wav")));
        QVERIFY(app.messageLists().addRecording(home.file("waveFiles"), "A2026-12-06~10-00-00~5550000.wav", false, 0));
        const QList<MailJobState> jobs = app.system().messageStore().mailJobs();
        QCOMPARE(jobs.size(), 1);
        QVERIFY(jobs[0].job.contains("Message from 5550000, 2026-12-06 10:00"));
        app.shutdown();
    }
};

QTEST_MAIN(tst_ForwardingInApp)
#include "tst_ForwardingInApp.moc"
