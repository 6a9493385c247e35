// The setup frame for mail forwarding and the block-list editor.

#include "records/CallBlockList.h"
#include "records/MailForward.h"
#include "support/FakeShell.h"
#include "support/Files.h"
#include "support/ProgramFolder.h"
#include "support/SmtpSink.h"
#include "ui/ForwardSetupFrame.h"
#include "ui/frmBlockList.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace telvox;
using namespace telvox::test;

class tst_ForwardAndBlockWindows : public QObject
{
    Q_OBJECT
private slots:
    void setupFrameLoadsSavesAndKeepsThePasswordOwnerOnly()
    {
        ProgramFolder r;
        r.settings.WriteSetting("Forward", "Enabled", "1");
        r.settings.WriteSetting("Forward", "To", "me@example.org; you@example.org");
        r.settings.WriteSetting("Forward", "Host", "smtp.example.org");
        r.settings.WriteSetting("Forward", "Kinds", "AO");
        r.settings.WriteSetting("Forward", "CaFile", "/etc/my-ca.pem");
        ForwardSetupFrame frame(r.texts, r.settings, r.dir.path());
        frame.load();
        QVERIFY(frame.isChecked());
        QCOMPARE(frame.txtMailTo()->text(), QStringLiteral("me@example.org, you@example.org"));
        QCOMPARE(frame.txtSmtpPort()->text(), QStringLiteral("587"));
        QVERIFY(!frame.chkForwardM()->isChecked());
        QVERIFY(frame.chkForwardO()->isChecked());

        // Choosing TLS moves a usual port along; a port of the user's own stays.
        frame.cboSecurity()->setCurrentIndex(1);
        QCOMPARE(frame.txtSmtpPort()->text(), QStringLiteral("465"));
        frame.txtSmtpPort()->setText("2465");
        frame.cboSecurity()->setCurrentIndex(0);
        QCOMPARE(frame.txtSmtpPort()->text(), QStringLiteral("2465"));

        frame.txtSmtpUser()->setText("alice");
        frame.txtSmtpPassword()->setText("secret words");
        frame.chkForwardM()->setChecked(true);
        frame.chkAttachWav()->setChecked(true);
        QVERIFY(frame.save());
        const ForwardOptions o = readForwardOptions(r.settings, r.dir.path());
        QCOMPARE(o.kinds, QStringLiteral("AMO"));
        QCOMPARE(o.port, 2465);
        QCOMPARE(o.user, QStringLiteral("alice"));
        QCOMPARE(o.password, QStringLiteral("secret words"));
        QCOMPARE(o.caFile, QStringLiteral("/etc/my-ca.pem")); // not shown, kept
        QVERIFY(o.attachWav);
        QCOMPARE(QFile::permissions(r.dir.file(forwardPasswordFileName())) & (QFile::ReadGroup | QFile::ReadOther),
                 QFile::Permissions());
        QVERIFY(!readAll(r.dir.file("telvox.ini")).contains("secret"));
        QVERIFY(!readAll(r.dir.file("settings.txt")).contains("secret"));
        QVERIFY(frame.txtSmtpPassword()->echoMode() == QLineEdit::Password);
    }

    void sendTestMailReportsWhatHappened()
    {
        ProgramFolder r;
        SmtpSink sink(r.dir.file("server"));
        QVERIFY(sink.start());
        ForwardSetupFrame frame(r.texts, r.settings, r.dir.path());
        frame.load();
        frame.setChecked(true);
        frame.txtMailTo()->setText("me@example.org");
        frame.txtSmtpHost()->setText("127.0.0.1");
        frame.cboSecurity()->setCurrentIndex(2); // none
        frame.txtSmtpPort()->setText(QString::number(sink.port()));
        QSignalSpy finished(&frame, &ForwardSetupFrame::testMailFinished);
        frame.cmdTestMail()->click();
        QCOMPARE(frame.lblTestMail()->text(), QStringLiteral("Sending test mail..."));
        QVERIFY(!frame.cmdTestMail()->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
        QCOMPARE(finished.at(0).at(0).toBool(), true);
        QCOMPARE(frame.lblTestMail()->text(), QStringLiteral("Test mail sent."));
        QTRY_COMPARE(sink.received(), 1);
        QCOMPARE(sink.message(1).value("subject").toString(), QStringLiteral("Telvox test mail"));

        sink.stop(); // nobody answers now
        frame.cmdTestMail()->click();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 60000);
        QVERIFY2(frame.lblTestMail()->text().startsWith(QStringLiteral("Test mail failed: ")),
                 qPrintable(frame.lblTestMail()->text()));
        QVERIFY(frame.cmdTestMail()->isEnabled());
    }

    void blockListEditorEditsBothListsAndAppliesAtOnce()
    {
        ProgramFolder r;
        QVERIFY(writeBytes(r.dir.file(CallBlockList::blockFileName()), "# my list\n0900*\tpremium\n5550199\n"));
        QVERIFY(appendBlockedCall(r.store, {QDateTime::currentDateTime(), "5550100", ""}));
        QVERIFY(appendBlockedCall(r.store, {QDateTime::currentDateTime(), "withheld", ""}));
        CallBlockList lists(r.dir.path());
        frmBlockList editor(frmBlockList::Services{r.texts, r.settings, lists, r.store});
        QCOMPARE(editor.lstBlocked()->count(), 2);
        QCOMPARE(editor.lstBlocked()->item(0)->text(), QStringLiteral("0900*    premium"));
        QCOMPARE(editor.lstRecent()->item(0)->text(), QStringLiteral("withheld")); // newest first

        editor.offerNumber(" 5551234 ");
        editor.txtLabel()->setText("survey robot");
        editor.cmdBlockAdd_Click();
        QVERIFY(editor.txtEntry()->text().isEmpty());
        editor.lstBlocked()->setCurrentRow(1); // 5550199 goes
        QTest::mouseClick(editor.findChild<QPushButton *>("cmdBlockRemove"), Qt::LeftButton);
        editor.lstRecent()->setCurrentRow(1); // a recently blocked caller is let through from now on
        QCOMPARE(editor.txtEntry()->text(), QStringLiteral("5550100"));
        editor.cmdAllowAdd_Click();
        editor.chkBlockWithheld()->setChecked(true);
        editor.cmdSave_Click();

        QCOMPARE(readAll(r.dir.file(CallBlockList::blockFileName())),
                 QByteArray("# my list\n0900*\tpremium\n5551234\tsurvey robot\n"));
        QCOMPARE(readAll(r.dir.file(CallBlockList::allowFileName())), QByteArray("5550100\n"));
        QCOMPARE(r.settings.ReadSetting("Blocking", "Withheld"), QStringLiteral("1"));
        QCOMPARE(lists.check(CallerKind::Number, "5551234", false).label, QStringLiteral("survey robot"));
        QVERIFY(!lists.check(CallerKind::Number, "5550199", false).blocked);
        QVERIFY(lists.check(CallerKind::Withheld, QString(), false).blocked);
    }
};

QTEST_MAIN(tst_ForwardAndBlockWindows)
#include "tst_ForwardAndBlockWindows.moc"
