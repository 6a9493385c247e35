// The typed reader of the shared "Config" options: defaults of a new store, and what
// hand-edited or damaged values mean.
#include "core/OptionReader.h"
#include "core/Settings.h"
#include "support/FakeShell.h"

#include <QTest>

using namespace telvox;
using namespace telvox::test;

class tst_OptionReader : public QObject
{
    Q_OBJECT
private slots:
    void aNewStoreReadsTheDefaults()
    {
        ScratchDir dir;
        SettingsStore settings(dir.file("telvox.ini"), dir.file("settings.txt"));
        const OptionReader o(settings);
        QCOMPARE(o.rings(), QStringLiteral("8"));
        QVERIFY(!o.manualAnswer() && !o.popCallerId() && !o.hangUpOnFastBusy() && !o.stopOnSilence()
                && !o.minimiseOnStart());
        QCOMPARE(o.silenceLevel(), 100);
        QCOMPARE(o.silenceSeconds(), 5);
        QCOMPARE(o.outputFormat(), 0);
        QCOMPARE(o.language(), 0);
        QVERIFY(!o.recordingFolderChosen());
        for (int line = 0; line < 4; ++line)
            QVERIFY(!o.lineSelected(line));
    }

    void handEditedValues()
    {
        ScratchDir dir;
        SettingsStore settings(dir.file("telvox.ini"), dir.file("settings.txt"));
        const OptionReader o(settings);
        const auto set = [&settings](const char *key, const char *value) {
            settings.WriteSetting("Config", QLatin1String(key), QLatin1String(value));
        };
        // A ring count stored empty or as blanks is the default; anything else is passed on.
        for (const char *empty : {"", "   "}) {
            set("Rings", empty);
            QCOMPARE(o.rings(), QStringLiteral("8"));
        }
        set("Rings", "3");
        QCOMPARE(o.rings(), QStringLiteral("3"));
        set("Rings", "x");
        QCOMPARE(o.rings(), QStringLiteral("x"));

        // Flags: any number but 0 is on; 0, text and nothing are off.
        for (const auto &[value, on] : {std::pair{"1", true}, {"2", true}, {"-1", true}, {" 3x", true}, {"0", false},
                                        {"yes", false}, {"", false}, {"00", false}}) {
            for (const char *key : {"ActionMan", "PopCallId", "FBS", "Silence", "MinOnStart"})
                set(key, value);
            QCOMPARE(o.manualAnswer(), on);
            QCOMPARE(o.popCallerId(), on);
            QCOMPARE(o.hangUpOnFastBusy(), on);
            QCOMPARE(o.stopOnSilence(), on);
            QCOMPARE(o.minimiseOnStart(), on);
        }
        // The key's case is the store's business: the setup window writes "PopCallID".
        set("PopCallId", "0");
        settings.WriteSetting("Config", "PopCallID", "1");
        QVERIFY(o.popCallerId());

        // A line is opened on "1" alone, as the line manager opens it.
        set("Line2", "1");
        set("Line3", "01");
        QVERIFY(o.lineSelected(2) && !o.lineSelected(3) && !o.lineSelected(1));

        set("SilenceLevel", "250");
        set("SilenceD", "12s");
        set("WaveFileFormat", "1");
        QCOMPARE(o.silenceLevel(), 250);
        QCOMPARE(o.silenceSeconds(), 12);
        QCOMPARE(o.outputFormat(), 1);

        // A recordings folder of blanks is none: recordings go to waveFiles/ of the program folder.
        set("SaveFile", "  ");
        QVERIFY(!o.recordingFolderChosen());
        QCOMPARE(o.recordingFolder("/opt/tv"), QStringLiteral("/opt/tv/waveFiles/"));
        set("SaveFile", "calls");
        QVERIFY(o.recordingFolderChosen());
        QCOMPARE(o.recordingFolder("/opt/tv"), QStringLiteral("/opt/tv/calls/"));

        // The language chosen in the setup window is the one the texts are in.
        for (const auto &[value, language] : {std::pair{"2", 2}, {" 1 ", 1}, {"1x", 0}, {"3", 0}, {"", 0}}) {
            set("Language", value);
            QCOMPARE(o.language(), language);
        }
    }
};

QTEST_GUILESS_MAIN(tst_OptionReader)
#include "tst_OptionReader.moc"
