#include "platform/shell/MailClient.h"
#include "records/RecordingActions.h"
#include "support/FakeShell.h"
#include "support/Files.h"

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

} // namespace

// (Backing up recordings is tested through its window: tests/ui/tst_BackupWindow.)
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
};

QTEST_GUILESS_MAIN(tst_RecordingActions)
#include "tst_RecordingActions.moc"
