#include "core/Settings.h"
#include "core/Texts.h"
#include "records/MessageLists.h"
#include "support/FakeShell.h"
#include "support/Files.h"
#include "support/ProgramFolder.h"
#include "ui/frmBackup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFocusEvent>
#include <QListWidget>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>

using namespace telvox;
using namespace telvox::test;

namespace {

QStringList filesIn(const QString &folder) { return QDir(folder).entryList(QDir::Files, QDir::Name); }

// A recording folder with two recordings (one spelled in capitals) and a note, both lists
// filled, and an empty target folder.
struct Rig : ProgramFolder
{
    Rig()
    {
        QDir().mkpath(dir.file("rec"));
        QDir().mkpath(dir.file("target"));
        writeBytes(dir.file("rec/A2026-01-01~10-00-00.wav"), "unread");
        writeBytes(dir.file("rec/M2026-01-01~11-00-00.WAV"), "call");
        writeBytes(dir.file("rec/notes.txt"), "text");
        lists.addRecording(dir.file("rec"), "A2026-01-01~10-00-00.wav");
        lists.addRecording(dir.file("rec"), "M2026-01-01~11-00-00.WAV");
    }
    std::unique_ptr<frmBackup> open()
    {
        auto w = std::make_unique<frmBackup>(
            frmBackup::Services{texts, settings, prompts, lists, dir.file("rec") + "/"});
        w->setTargetFolder(dir.file("target"));
        return w;
    }
};

// Answers as scripted and notes, for each message, whether the progress window was showing
// over it (a window-modal progress takes the clicks a message below it would need).
class WatchingPrompts final : public UserPrompts
{
public:
    MessageResult messageBox(const QString &text, MessageIcon icon, const QString &title,
                             MessageButtons buttons) override
    {
        progressShown << (progress && progress->isVisible());
        return scripted.messageBox(text, icon, title, buttons);
    }
    ScriptedPrompts scripted;
    QProgressDialog *progress = nullptr;
    QList<bool> progressShown;
};

} // namespace

class tst_BackupWindow : public QObject
{
    Q_OBJECT
private slots:
    void startsAtTheRootAndKeepsDeleteSourceFiles()
    {
        Rig r;
        {
            frmBackup w({r.texts, r.settings, r.prompts, r.lists, r.dir.file("rec") + "/"});
            QCOMPARE(w.targetFolder(), QString("/"));
            QCOMPARE(w.Drive1()->itemText(0), QString("/"));
            QVERIFY(!w.Check1()->isChecked());
            w.Check1()->setChecked(true);
            QFocusEvent out(QEvent::FocusOut);
            QCoreApplication::sendEvent(w.Check1(), &out);
        }
        QCOMPARE(r.settings.ReadSetting("Config", "CopyMove"), QString("1"));
        QVERIFY(!QFile::exists(r.dir.file("settings.txt"))); // a plain write
        QVERIFY(r.open()->Check1()->isChecked());
    }

    void copyLeavesSourceAndListsAndCanBeUndone()
    {
        Rig r;
        auto w = r.open();
        w->OKButton()->click();
        QCOMPARE(r.prompts.shown[0].text, r.texts.LoadText(1087));
        QCOMPARE(filesIn(r.dir.file("target")), QStringList({"A2026-01-01~10-00-00.wav", "M2026-01-01~11-00-00.WAV"}));
        QCOMPARE(w->File1()->count(), 2);
        QCOMPARE(filesIn(r.dir.file("rec")).size(), 3);
        QCOMPARE(r.lists.unreadEntries().size(), 1);
        QCOMPARE(r.lists.lastTenEntries().size(), 1);
        QVERIFY(w->cmdUndo()->isEnabled());
        QCOMPARE(r.prompts.shown.size(), 2); // the result is reported
        QCOMPARE(r.prompts.shown[1].text, QString("2 files copied, 0 skipped"));
        QCOMPARE(w->cmdUndo_Click(), 2);
        QVERIFY(filesIn(r.dir.file("target")).isEmpty());
        QCOMPARE(w->File1()->count(), 0);

        r.prompts.answers = {MessageResult::Cancel}; // the confirmation cancelled: nothing at all
        w->OKButton()->click();
        QVERIFY(filesIn(r.dir.file("target")).isEmpty());
        QVERIFY(!w->cmdUndo()->isEnabled());
    }

    void moveEmptiesTheListsAndUndoBringsAllBack()
    {
        Rig r;
        auto w = r.open();
        w->Check1()->setChecked(true);
        w->OKButton()->click();
        QCOMPARE(r.prompts.shown[0].text, r.texts.LoadText(1088));
        QCOMPARE(r.prompts.shown.last().text, QString("2 files moved, 0 skipped"));
        QCOMPARE(filesIn(r.dir.file("rec")), QStringList({"notes.txt"}));
        QCOMPARE(filesIn(r.dir.file("target")).size(), 2);
        QVERIFY(r.lists.unreadEntries().isEmpty() && r.lists.lastTenEntries().isEmpty());
        QVERIFY(r.store.messages(MessageStore::List::Recent).isEmpty());
        QVERIFY(r.store.messages(MessageStore::List::Unread).isEmpty());
        QCOMPARE(w->cmdUndo_Click(), 2);
        QCOMPARE(filesIn(r.dir.file("rec")).size(), 3);
        QCOMPARE(r.lists.unreadEntries(), QStringList({"A2026-01-01~10-00-00.wav"}));
        QCOMPARE(r.store.messages(MessageStore::List::Recent).at(0).entry, QString("M2026-01-01~11-00-00.WAV"));
    }

    // Each existing target is asked about; undo removes only the files the backup created:
    // a target it overwrote stays, so the user never loses the file under that name.
    void existingTargetsAreAskedAboutAndUndoKeepsThem()
    {
        Rig r;
        writeBytes(r.dir.file("rec/O2026-01-01~12-00-00.wav"), "dialled");
        writeBytes(r.dir.file("target/A2026-01-01~10-00-00.wav"), "older copy");
        writeBytes(r.dir.file("target/M2026-01-01~11-00-00.WAV"), "older call");
        auto w = r.open();
        r.prompts.answers = {MessageResult::Ok, MessageResult::No, MessageResult::Yes};
        w->OKButton()->click();
        QCOMPARE(r.prompts.shown.size(), 4);
        QCOMPARE(r.prompts.shown[1].text, "\"A2026-01-01~10-00-00.wav\"" + r.texts.LoadText(1506));
        QCOMPARE(r.prompts.shown[1].buttons, MessageButtons::YesNoCancel);
        QCOMPARE(r.prompts.shown[3].text, QString("2 files copied, 1 skipped"));
        QCOMPARE(readAll(r.dir.file("target/A2026-01-01~10-00-00.wav")), QByteArray("older copy"));
        QCOMPARE(readAll(r.dir.file("target/M2026-01-01~11-00-00.WAV")), QByteArray("call"));
        QCOMPARE(readAll(r.dir.file("target/O2026-01-01~12-00-00.wav")), QByteArray("dialled"));
        QCOMPARE(w->cmdUndo_Click(), 1);
        QCOMPARE(filesIn(r.dir.file("target")), QStringList({"A2026-01-01~10-00-00.wav", "M2026-01-01~11-00-00.WAV"}));
        QCOMPARE(readAll(r.dir.file("target/A2026-01-01~10-00-00.wav")), QByteArray("older copy"));
        QCOMPARE(readAll(r.dir.file("target/M2026-01-01~11-00-00.WAV")), QByteArray("call"));
        QCOMPARE(filesIn(r.dir.file("rec")).size(), 4); // a copy never touches the sources
    }

    // Backing up twice to one folder asks about the file already there, with the progress out
    // of the way; the prompts of a recording folder that is the program folder stay where the
    // calls need them, moved or not; one file is "1 file".
    void secondBackupAsksAnswerablyAndLeavesThePrompts()
    {
        Rig r;
        QFile::remove(r.dir.file("rec/M2026-01-01~11-00-00.WAV"));
        for (const char *prompt : {"greeting.wav", "Legal.WAV", "blocked.wav", "01.wav"})
            writeBytes(r.dir.file("rec/") + prompt, "prompt");
        WatchingPrompts prompts;
        frmBackup w({r.texts, r.settings, prompts, r.lists, r.dir.file("rec") + "/"});
        w.setTargetFolder(r.dir.file("target"));
        w.show();
        prompts.progress = w.progress();
        w.OKButton()->click();
        QCOMPARE(prompts.scripted.shown.last().text, QString("1 file copied, 0 skipped"));
        QCOMPARE(filesIn(r.dir.file("target")), QStringList({"A2026-01-01~10-00-00.wav"}));

        // The second time (another recording first, so the progress is showing by the time
        // of the question) the sources are moved.
        writeBytes(r.dir.file("rec/A2025-12-31~09-00-00.wav"), "older");
        w.Check1()->setChecked(true);
        prompts.scripted.answers = {MessageResult::Ok, MessageResult::Yes};
        w.OKButton()->click();
        QCOMPARE(prompts.scripted.shown.size(), 5);
        QCOMPARE(prompts.scripted.shown[3].buttons, MessageButtons::YesNoCancel);
        QCOMPARE(prompts.progressShown[3], false); // the question is on top, answerable
        QCOMPARE(prompts.scripted.shown[4].text, QString("2 files moved, 0 skipped"));
        QCOMPARE(filesIn(r.dir.file("rec")), QStringList({"01.wav", "Legal.WAV", "blocked.wav", "greeting.wav", "notes.txt"}));
        QCOMPARE(filesIn(r.dir.file("target")), QStringList({"A2025-12-31~09-00-00.wav", "A2026-01-01~10-00-00.wav"}));
    }

    void anEmptyOrUnreadableFolderHasNothingToBackUp()
    {
        for (const bool missing : {false, true}) {
            Rig r;
            QFile::remove(r.dir.file("rec/A2026-01-01~10-00-00.wav"));
            QFile::remove(r.dir.file("rec/M2026-01-01~11-00-00.WAV"));
            if (missing)
                QDir(r.dir.file("rec")).removeRecursively();
            auto w = r.open();
            w->OKButton()->click();
            QCOMPARE(r.prompts.texts(), QStringList({r.texts.LoadText(1703).arg(r.dir.file("rec") + "/")}));
            QVERIFY(!w->progress()->isVisible() && !w->cmdUndo()->isEnabled());
        }
    }

    void progressWindowCancelsTheRest()
    {
        Rig r;
        for (int i = 0; i < 4; ++i)
            writeBytes(r.dir.file(QString("rec/O2026-02-0%1~09-00-00.wav").arg(i + 1)), "dialled");
        auto w = r.open();
        // Cancel is pressed while the third file is announced.
        QProgressDialog *p = w->progress();
        QObject::connect(p->findChild<QProgressBar *>(), &QProgressBar::valueChanged, p, [p](int v) {
            if (v == 2)
                p->cancel();
        });
        w->OKButton()->click();
        QCOMPARE(filesIn(r.dir.file("target")).size(), 2);
        QVERIFY(w->cmdUndo()->isEnabled());
        QCOMPARE(w->cmdUndo_Click(), 2);
        QVERIFY(filesIn(r.dir.file("target")).isEmpty());
    }
};

QTEST_MAIN(tst_BackupWindow)
#include "tst_BackupWindow.moc"
