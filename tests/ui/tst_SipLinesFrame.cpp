// The SIP frame of the setup window: each line's account kept apart, the password only in the
// settings store (not the journal), and the store readable by its owner alone.
#include "core/Settings.h"
#include "core/Texts.h"
#include "support/FakeShell.h"
#include "support/Files.h"
#include "ui/SipLinesFrame.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>

using namespace telvox;
using namespace telvox::test;

class tst_SipLinesFrame : public QObject
{
    Q_OBJECT

private slots:
    void linesAreEditedApartAndThePasswordStaysPrivate()
    {
        ScratchDir dir;
        StringTable table;
        table.loadBuiltIn();
        Texts texts(table, 2000); // Traditional Chinese
        SettingsStore settings(dir.file("telvox.ini"), dir.file("settings.txt"));
        settings.WriteSetting("SIP", "Line1Registrar", "fritz.box");
        settings.WriteSetting("SIP", "Line1User", "620");

        SipLinesFrame frame(texts, settings);
        QCOMPARE(frame.title(), QStringLiteral("SIP 線路"));
        QVERIFY(frame.txtRegistrar()->text().isEmpty());
        frame.cboLine()->setCurrentIndex(1);
        QCOMPARE(frame.txtRegistrar()->text(), QStringLiteral("fritz.box"));
        QCOMPARE(frame.txtUser()->text(), QStringLiteral("620"));
        QCOMPARE(frame.txtPassword()->echoMode(), QLineEdit::Password);
        frame.txtPassword()->setText("s3cret-pw");
        frame.cboTransport()->setCurrentIndex(2);
        QCOMPARE(frame.spnExpires()->value(), 600); // what an empty key means
        QCOMPARE(frame.txtRingCadence()->text(), QStringLiteral("2000/4000"));
        frame.txtProxy()->setText("proxy.example.net");
        frame.spnExpires()->setValue(120);
        frame.txtRingCadence()->setText("1000/2000");
        frame.spnJitter()->setValue(100);
        frame.cboLine()->setCurrentIndex(0);
        frame.txtListen()->setText(" 127.0.0.1:5070 ");
        frame.save();

        QCOMPARE(settings.ReadSetting("SIP", "Line1Password"), QStringLiteral("s3cret-pw"));
        QCOMPARE(settings.ReadSetting("SIP", "Line1Transport"), QStringLiteral("tls"));
        for (const auto &[key, value] : {std::pair{"Line1Proxy", "proxy.example.net"}, {"Line1Expires", "120"},
                                         {"Line1RingCadence", "1000/2000"}, {"Line1JitterMs", "100"}})
            QCOMPARE(settings.ReadSetting("SIP", key), QString::fromLatin1(value));
        QCOMPARE(settings.ReadSetting("SIP", "Line0Listen"), QStringLiteral("127.0.0.1:5070"));
        QCOMPARE(settings.ReadSetting("SIP", "Line0Registrar"), QString());
        QVERIFY(!readAll(dir.file("settings.txt")).contains("s3cret-pw"));
        // The journal has what changed, and nothing of the lines left alone.
        const QByteArray journal = readAll(dir.file("settings.txt"));
        QVERIFY(journal.contains("SIP@Line0Listen@127.0.0.1:5070") && journal.contains("SIP@Line1Transport@tls"));
        // Defaults left as they were write nothing.
        QVERIFY(!journal.contains("Line1Registrar") && !journal.contains("Line3") && !journal.contains("Line0Expires"));
        QCOMPARE(QFile::permissions(settings.storeFile()) & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
                 QFileDevice::Permissions());
    }
};

QTEST_MAIN(tst_SipLinesFrame)
#include "tst_SipLinesFrame.moc"
