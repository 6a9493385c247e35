#include "core/Settings.h"
#include "core/Texts.h"
#include "platform/shell/MailClient.h"
#include "records/MessageLists.h"
#include "records/RecordingActions.h"
#include "support/FakeShell.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace telvox;
using namespace telvox::test;

namespace {

// A stand-in for xdg-email that writes its arguments, one per line, and exits with a code.
QString fakeMailProgram(const ScratchDir &dir, int exitCode)
{
    const QString script = dir.file("fake-xdg-email");
    const QByteArray text = QString("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"%1\"\nexit %2\n")
                                .arg(dir.file("mail-args"))
                                .arg(exitCode)
                                .toUtf8();
    if (!writeBytes(script, text))
        QTest::qFail("the fake mail program cannot be written", __FILE__, __LINE__);
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return script;
}

struct Fixture
{
    Fixture()
    {
        table.loadBuiltIn();
        QDir().mkpath(dir.file("rec"));
        QDir().mkpath(dir.file("target"));
        for (const char *name : {"A2026-01-01~09-00-00~555.wav", "M2026-01-01~10-00-00.wav", "notes.txt", "O1.WAV"})
            QVERIFY(writeBytes(dir.file(QString("rec/") + name), QByteArray(name)));
        lists.addRecording(dir.file("rec"), "A2026-01-01~09-00-00~555.wav");
        lists.addRecording(dir.file("rec"), "M2026-01-01~10-00-00.wav");
    }
    QStringList targetFiles() const { return QDir(dir.file("target")).entryList(QDir::Files, QDir::Name); }
    std::optional<FileTransfer::Result> backup(bool move, FileTransfer::Conflict onConflict = FileTransfer::Conflict::Skip)
    {
        return BackupRecordings(dir.file("rec"), dir.file("target"), move, lists, texts, prompts, transfer,
                                [this](int, int, const QString &) { return ++progressCalls < cancelAfter; },
                                [this, onConflict](const QString &t) {
                                    conflicts << QFileInfo(t).fileName();
                                    return onConflict;
                                });
    }

    ScratchDir dir;
    StringTable table;
    Texts texts{table, 0};
    SettingsStore settings{dir.file("telvox.ini"), dir.file("settings.txt")};
    MessageLists lists{settings};
    ScriptedPrompts prompts;
    FileTransfer transfer;
    int progressCalls = 0;
    int cancelAfter = 1000;
    QStringList conflicts;
};

} // namespace

class tst_RecordingActions : public QObject
{
    Q_OBJECT
private slots:
    // The recording handed to the mail program, and each way that can fail explained.
    void mailHandsTheRecordingToTheMailProgram()
    {
        ScratchDir dir;
        QVERIFY(writeBytes(dir.file("M1.wav"), "RIFF"));
        ScriptedPrompts prompts;
        XdgEmailClient mail(fakeMailProgram(dir, 0));
        QCOMPARE(MailRecording(mail, prompts, dir.path(), "M1.wav"), std::optional<int>(0));
        QVERIFY(prompts.shown.isEmpty());
        QCOMPARE(readAll(dir.file("mail-args")),
                 QString("--subject\nM1.wav\n--attach\n%1\n").arg(dir.file("M1.wav")).toUtf8());

        XdgEmailClient cancelled(fakeMailProgram(dir, 1));
        QCOMPARE(MailRecording(cancelled, prompts, dir.path(), "M1.wav"), std::optional<int>(1));
        QCOMPARE(prompts.shown.size(), 1);
        QCOMPARE(prompts.shown[0].title, QString("Send Mail"));
        QCOMPARE(prompts.shown[0].icon, MessageIcon::Critical);
        QCOMPARE(prompts.shown[0].text,
                 QString("Error sending message. Message has not been sent.\r\rMAPISendMessage returned with error 1"));
        XdgEmailClient missingProgram(dir.file("no-such-program"));
        QCOMPARE(MailRecording(missingProgram, prompts, dir.path(), "M1.wav"), std::optional<int>(3));
        QFile::remove(dir.file("mail-args"));
        QCOMPARE(MailRecording(mail, prompts, dir.path(), "gone.wav"), std::nullopt);
        QCOMPARE(prompts.shown.last().text, QString("File Not Found ('gone.wav')"));
        QCOMPARE(prompts.shown.last().title, QString("Mail To..."));
        QVERIFY(!QFile::exists(dir.file("mail-args"))); // nothing was handed over
    }

    // Copy leaves the recordings and the lists; move empties both. Undo takes back the copies only.
    void copyOrMoveThenUndo()
    {
        for (const bool move : {false, true}) {
            Fixture f;
            const auto result = f.backup(move);
            QVERIFY(result);
            QCOMPARE(f.prompts.shown[0].text,
                     move ? QString("Confirm Copy And Delete Source Files?") : QString("Confirm Copy ？"));
            QCOMPARE(f.prompts.shown[0].buttons, MessageButtons::OkCancel);
            QCOMPARE(f.targetFiles(), QStringList({"A2026-01-01~09-00-00~555.wav", "M2026-01-01~10-00-00.wav", "O1.WAV"}));
            QCOMPARE(QDir(f.dir.file("rec")).entryList(QDir::Files).size(), move ? 1 : 4);
            QCOMPARE(f.lists.unreadEntries().size() + f.lists.lastTenEntries().size(), move ? 0 : 2);
            for (int i = 0; i < 50 && move; ++i) {
                QCOMPARE(f.settings.ReadSetting("Data", QString(" %1").arg(i), "x"), QString());
                QCOMPARE(f.settings.ReadSetting("DataUnread", QString(" %1").arg(i), "x"), QString());
            }
            QCOMPARE(f.transfer.undo(*result), 3);
            QVERIFY(f.targetFiles().isEmpty());
            QCOMPARE(QDir(f.dir.file("rec")).entryList(QDir::Files).size(), 4);
        }
    }

    void existingTargetsAreNeverOverwrittenSilently()
    {
        Fixture f;
        QVERIFY(writeBytes(f.dir.file("target/M2026-01-01~10-00-00.wav"), "older backup"));
        auto result = f.backup(false, FileTransfer::Conflict::Skip);
        QCOMPARE(f.conflicts, QStringList({"M2026-01-01~10-00-00.wav"}));
        QCOMPARE(readAll(f.dir.file("target/M2026-01-01~10-00-00.wav")), QByteArray("older backup"));
        QCOMPARE(result->done.size(), 2);

        f.conflicts.clear();
        result = f.backup(false, FileTransfer::Conflict::Overwrite);
        QCOMPARE(readAll(f.dir.file("target/M2026-01-01~10-00-00.wav")), QByteArray("M2026-01-01~10-00-00.wav"));
        QCOMPARE(result->overwritten.size(), 3);
    }

    void cancellingStopsTheBackup()
    {
        Fixture f;
        f.prompts.answers.push_back(MessageResult::Cancel);
        QVERIFY(!f.backup(true));
        QCOMPARE(f.lists.unreadEntries().size(), 1); // nothing changed
        QVERIFY(f.targetFiles().isEmpty());

        f.cancelAfter = 2; // the progress window's Cancel after the first file
        const auto result = f.backup(false);
        QVERIFY(result->cancelled);
        QCOMPARE(result->done.size(), 1);
        QCOMPARE(f.targetFiles().size(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_RecordingActions)
#include "tst_RecordingActions.moc"
