// Mail forwarding and call blocking as the composition root wires them into the program.

#include "app/TelvoxApplication.h"
#include "core/Settings.h"
#include "core/VirtualEventLoop.h"
#include "sim/exchange/VirtualExchange.h"
#include "records/MailForward.h"
#include "records/MessageLists.h"
#include "records/StatusLog.h"
#include "support/FakeShell.h"
#include "support/Files.h"
#include "support/StatusTexts.h"
#include "ui/UiFakes.h"
#include "ui/frmBlockList.h"
#include "ui/frmMain.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>

using namespace telvox;
using namespace telvox::test;

class tst_ForwardingInApp : public QObject
{
    Q_OBJECT
private slots:
    void blockThisCallerFromTheStatusListThenTheCallIsBlocked()
    {
        ScratchDir home;
        VirtualEventLoop loop;
        ScriptedPrompts prompts;
        RecordingPrinter printer;
        ScriptedModal modal;
        TelvoxApplication::Options options;
        options.modal = &modal;
        TelvoxApplication app(AppPaths::underHome(home.path(), "telvox"), loop, prompts, printer, options);
        app.setEndProcessHandler([](int) {});
        {
            SettingsStore s(home.file("telvox.ini"), home.file("settings.txt"));
            s.WriteSetting("Config", "Language", "0");
            s.WriteSetting("Config", "Rings", "4");
            s.WriteSetting("Config", "SaveFile", home.path() + "/waveFiles/");
            s.WriteSetting("Forward", "Enabled", "1");
            s.WriteSetting("Forward", "To", "me@example.org");
            s.WriteSetting("Forward", "Host", "127.0.0.1");
            s.WriteSetting("Forward", "Port", "1"); // nobody there: the mail stays queued
        }
        QCOMPARE(app.Main(), TelvoxApplication::StartResult::Running);
        loop.advance(3000); // the splash window
        QVERIFY(app.isLoaded());

        // "Block this caller" on a caller-ID line of the status list.
        app.statusLog().AddStatus(QStringLiteral("CallerID:5551234"));
        QListView *status = app.mainWindow()->lstStatus();
        status->setCurrentIndex(status->model()->index(status->model()->rowCount() - 1, 0));
        auto *block = app.mainWindow()->findChild<QAction *>("mmuBlockCaller");
        QVERIFY(block);
        QCOMPARE(block->text(), QStringLiteral("Block this caller"));
        modal.answer = [](QDialog &dialog) {
            auto *editor = qobject_cast<frmBlockList *>(&dialog);
            QVERIFY(editor);
            QCOMPARE(editor->txtEntry()->text(), QStringLiteral("5551234"));
            editor->txtLabel()->setText("robot");
            editor->cmdBlockAdd_Click();
            editor->cmdSave_Click();
        };
        block->trigger();
        QCOMPARE(modal.shown, QStringList{"frmBlockList"});
        QCOMPARE(readAll(home.file("BlockList.txt")), QByteArray("5551234\trobot\n"));

        // The next call from that number is blocked at once, without a ring count.
        IncomingCall call;
        call.number = "5551234";
        QVERIFY(app.exchange().placeIncomingCall(0, std::move(call)));
        loop.advance(30000);
        const QStringList texts = statusTexts(app.statusList());
        QVERIFY2(texts.contains("Blocked: 5551234 (robot)"), qPrintable(texts.join('\n')));
        QCOMPARE(texts.count("CallerID:5551234"), 1); // only the line added above

        // A new message that enters the lists is queued for mail at once.
        QVERIFY(app.mailForwarder());
        QDir().mkpath(home.file("waveFiles"));
        QVERIFY(QFile::copy(qEnvironmentVariable("TELVOX_SOURCE_DIR") + "/tests/data/speech_en_female_8k.wav",
                            home.file("waveFiles/A2026-12-06~10-00-00~5550000.wav")));
        QVERIFY(app.messageLists().addRecording(home.file("waveFiles"), "A2026-12-06~10-00-00~5550000.wav", false, 0));
        QCOMPARE(app.mailForwarder()->queuedCount(), 1);
        const QStringList jobs = QDir(home.file("MailQueue")).entryList({"*.job"}, QDir::Files);
        QCOMPARE(jobs.size(), 1);
        QVERIFY(readAll(home.file("MailQueue/" + jobs[0])).contains("Message from 5550000, 2026-12-06 10:00"));
        app.shutdown();
    }
};

QTEST_MAIN(tst_ForwardingInApp)
#include "tst_ForwardingInApp.moc"
