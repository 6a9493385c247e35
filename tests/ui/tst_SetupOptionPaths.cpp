// Hand-edited options mean the same whether the setup window reads them (the desktop program),
// its loading is skipped (a start that does not build the window) or the call system reads
// them without any window (the service, the scenario runner).
#include "platform/shell/AutostartEntry.h"
#include "support/ProgramFolder.h"
#include "telephony/TelephonyCore.h"
#include "ui/UiFakes.h"
#include "ui/frmSetup.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTest>

using namespace telvox;
using namespace telvox::test;

class tst_SetupOptionPaths : public QObject
{
    Q_OBJECT
private slots:
    void everyPathReadsTheSameValues()
    {
        for (const char *flag : {"2", "0", "x"}) {
            ProgramFolder f;
            for (const char *key : {"ActionMan", "PopCallId", "FBS", "Silence", "MinOnStart"})
                f.settings.WriteSetting("Config", QLatin1String(key), QLatin1String(flag));
            f.settings.WriteSetting("Config", "Rings", "");
            f.settings.WriteSetting("Config", "Line0", "1");
            f.settings.WriteSetting("Config", "Line1", "2"); // not "1": the line manager leaves it closed
            const bool on = QByteArray(flag) == "2";

            ScriptedModal modal;
            FakeFolders folders;
            AutostartEntry autostart{f.dir.file("autostart")};
            std::optional<PublishedSetup> published;
            frmSetup window(frmSetup::Services{f.texts, f.settings, f.prompts, modal, folders, autostart, f.dir.path(),
                                               "/opt/telvox/telvox", [] { return DeviceClassification{}; }, {}, {},
                                               [&published](const PublishedSetup &p) { published = p; }, {}});
            window.Form_Load();
            QVERIFY(published);
            const PublishedSetup hidden = readPublishedSetup(f.settings);
            const SetupOptions headless = readSetupOptions(f.settings);

            QCOMPARE(window.chkAction()->isChecked(), on);
            QCOMPARE(published->actionMan, on);
            QCOMPARE(hidden.actionMan, on);
            QCOMPARE(headless.actionMan, on);

            QCOMPARE(window.ChkPopCallId()->isChecked(), on);
            QCOMPARE(published->popCallId, on);
            QCOMPARE(hidden.popCallId, on);
            QCOMPARE(headless.popCallId, on);

            QCOMPARE(window.chkFBS()->isChecked(), on);
            QCOMPARE(headless.fastBusy, on);
            QCOMPARE(window.chkSilence()->isChecked(), on);
            QCOMPARE(published->minOnStart, on);
            QCOMPARE(hidden.minOnStart, on);

            // An empty ring count is 8 with or without the window.
            QCOMPARE(window.txtRings()->text(), QStringLiteral("8"));
            QCOMPARE(published->txtRings, QStringLiteral("8"));
            QCOMPARE(hidden.txtRings, QStringLiteral("8"));
            QCOMPARE(headless.txtRings, QStringLiteral("8"));

            QVERIFY(window.Check1(0)->isChecked());
            QVERIFY(!window.Check1(1)->isChecked());
        }
    }
};

QTEST_MAIN(tst_SetupOptionPaths)
#include "tst_SetupOptionPaths.moc"
