// A backend's settings page in the setup window, on the SIP lines' page: each line's account
// kept apart, defaults shown and not written, the password only in the settings store (not the
// journal), and the store readable by its owner alone.
#include "core/Settings.h"
#include "core/Texts.h"
#include "platform/telephony/sip/SipSettingsPage.h"
#include "support/FakeShell.h"
#include "support/Files.h"
#include "ui/LineSettingsFrame.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>

using namespace telvox;
using namespace telvox::test;

class tst_LineSettingsFrame : public QObject
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
        settings.WriteSetting("SIP", "Line2Transport", "TCP");

        LineSettingsFrame frame(sip::sipSettingsPage(), texts, settings);
        const auto edit = [&frame](const char *key) { return qobject_cast<QLineEdit *>(frame.field(key)); };
        const auto spin = [&frame](const char *key) { return qobject_cast<QSpinBox *>(frame.field(key)); };
        auto *transport = qobject_cast<QComboBox *>(frame.field("Transport"));
        QVERIFY(edit("Registrar") && edit("User") && edit("Password") && edit("Listen") && edit("Proxy")
                && edit("RingCadence") && spin("Expires") && spin("JitterMs") && transport);
        QCOMPARE(frame.title(), QStringLiteral("SIP 線路"));
        QCOMPARE(frame.cboLine()->accessibleName(), texts.LoadText(1442));
        QVERIFY(edit("Registrar")->text().isEmpty());
        frame.cboLine()->setCurrentIndex(1);
        QCOMPARE(edit("Registrar")->text(), QStringLiteral("fritz.box"));
        QCOMPARE(edit("User")->text(), QStringLiteral("620"));
        QCOMPARE(edit("Password")->echoMode(), QLineEdit::Password);
        edit("Password")->setText(" s3cret-pw");
        transport->setCurrentIndex(2);
        QCOMPARE(spin("Expires")->value(), 600); // what an empty key means
        QCOMPARE(spin("Expires")->minimum(), 60);
        QCOMPARE(spin("JitterMs")->maximum(), 500);
        QCOMPARE(edit("RingCadence")->text(), QStringLiteral("2000/4000"));
        // The cadence takes digits and slashes only.
        QString typed = QStringLiteral("1000/x");
        int at = 0;
        QCOMPARE(edit("RingCadence")->validator()->validate(typed, at), QValidator::Invalid);
        edit("Proxy")->setText("proxy.example.net");
        spin("Expires")->setValue(120);
        edit("RingCadence")->setText("1000/2000");
        spin("JitterMs")->setValue(100);
        frame.cboLine()->setCurrentIndex(2);
        QCOMPARE(transport->currentText(), QStringLiteral("tcp")); // stored in capitals
        frame.cboLine()->setCurrentIndex(0);
        edit("Listen")->setText(" 127.0.0.1:5070 ");
        frame.save();

        QCOMPARE(settings.ReadSetting("SIP", "Line1Password"), QStringLiteral(" s3cret-pw")); // as typed
        QCOMPARE(settings.ReadSetting("SIP", "Line1Transport"), QStringLiteral("tls"));
        for (const auto &[key, value] : {std::pair{"Line1Proxy", "proxy.example.net"}, {"Line1Expires", "120"},
                                         {"Line1RingCadence", "1000/2000"}, {"Line1JitterMs", "100"}})
            QCOMPARE(settings.ReadSetting("SIP", key), QString::fromLatin1(value));
        QCOMPARE(settings.ReadSetting("SIP", "Line0Listen"), QStringLiteral("127.0.0.1:5070"));
        QCOMPARE(settings.ReadSetting("SIP", "Line0Registrar"), QString());
        QCOMPARE(settings.ReadSetting("SIP", "Line0Transport"), QString()); // udp, the default
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

QTEST_MAIN(tst_LineSettingsFrame)
#include "tst_LineSettingsFrame.moc"
