#include "core/Settings.h"
#include "core/VirtualEventLoop.h"
#include "platform/shell/AutostartEntry.h"
#include "support/DiskFaults.h"
#include "support/DiskFlushes.h"
#include "support/FakeShell.h"
#include "support/Unprivileged.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <csignal>
#include <functional>
#include <memory>
#include <optional>
#include <QTest>

using namespace telvox;
using namespace telvox::test;

class tst_Settings : public QObject
{
    Q_OBJECT
private slots:
    void journalAppendsExactLinesAndSkipsOnlyData()
    {
        ScratchDir dir;
        SettingsStore s(dir.file("telvox.ini"), dir.file("settings.txt"));
        s.WriteSettingJournaled("Config", "Silence", 1);
        s.WriteSettingJournaled("Data", " 0", "A2026-01-05~09-00-00~123.wav");
        s.WriteSettingJournaled("DataUnread", " 0", "x@y");
        s.WriteSettingJournaled("data", " 1", "lower-case data is journaled");
        // A second save appends again; nothing is ever truncated.
        s.WriteSettingJournaled("Config", "Silence", 1);
        QCOMPARE(readAll(dir.file("settings.txt")),
                 QByteArray("Config@Silence@1\r\nDataUnread@ 0@x@y\r\ndata@ 1@lower-case data is journaled\r\n"
                            "Config@Silence@1\r\n"));
        QCOMPARE(s.ReadSetting("Data", " 0"), QString("A2026-01-05~09-00-00~123.wav"));
    }

    void valuesComeBackAsWrittenWithKeysComparedWithoutCase()
    {
        ScratchDir dir;
        {
            SettingsStore s(dir.file("telvox.ini"), dir.file("settings.txt"));
            QCOMPARE(s.ReadSetting("Config", "SilenceLevel", "100"), QString("100"));
            s.WriteSetting("Config", "SaveFile", "/home/u/My Calls; \"x\" = y/");
            s.WriteSetting("Modem", "Line0", "电话 Modem #1");
            s.WriteSetting("Config", "PopCallID", "1");
            s.WriteSetting("DataUnread", " 7", "seven");
            s.WriteSetting("DataUnread", "7", "plain seven");
            s.WriteSetting("CONFIG", "popcallid", "0"); // same entry, not a second one
        }
        SettingsStore s(dir.file("telvox.ini"), dir.file("settings.txt"));
        QCOMPARE(s.ReadSetting("Config", "SaveFile"), QString("/home/u/My Calls; \"x\" = y/"));
        QCOMPARE(s.ReadSetting("Modem", "Line0"), QString("电话 Modem #1"));
        QVERIFY(!QFile::exists(dir.file("settings.txt"))); // the plain writer never journals
        QCOMPARE(s.ReadSetting("Config", "PopCallId"), QString("0"));
        QCOMPARE(s.ReadSetting("config", "POPCALLID"), QString("0"));
        QCOMPARE(s.ReadSetting("DataUnread", " 7"), QString("seven"));
        QCOMPARE(s.ReadSetting("DataUnread", "7"), QString("plain seven"));
        QCOMPARE(s.ReadSetting("DataUnread", "  7"), QString());
        const QByteArray ini = readAll(dir.file("telvox.ini"));
        QCOMPARE(ini.count("opCall"), qsizetype(1));

        // A new key of a section spelt otherwise joins the section as stored.
        s.WriteSetting("voicemodem", "Port1", "/dev/ttyACM1");
        s.WriteSetting("VoiceModem", "Port0", "/dev/ttyACM0");
        QCOMPARE(s.ReadSetting("VOICEMODEM", "port0"), QString("/dev/ttyACM0"));
        QCOMPARE(s.ReadSetting("VoiceModem", "Port1"), QString("/dev/ttyACM1"));
        QCOMPARE(readAll(dir.file("telvox.ini")).toLower().count("voicemodem]"), qsizetype(1));
    }

    // The file is rewritten once per batch, never for a value it holds, and a later write waits
    // for the next rewrite or for its minute (each rewrite gives the file a new inode).
    void writesReachTheFileOnlyWhenNeeded()
    {
        ScratchDir dir;
        VirtualEventLoop loop;
        const auto inode = [&] {
            struct stat st = {};
            return ::stat(qPrintable(dir.file("telvox.ini")), &st) == 0 ? st.st_ino : ino_t(0);
        };
        const auto onDisk = [&](const char *section, const char *key) {
            return SettingsStore(dir.file("telvox.ini"), dir.file("x.txt")).ReadSetting(section, key);
        };
        auto s = std::make_unique<SettingsStore>(dir.file("telvox.ini"), dir.file("settings.txt"));
        {
            SettingsStore::Batch batch(*s);
            s->WriteSetting("Data", " 0", "M0.wav");
            s->WriteSetting("Data", " 1", "M1.wav");
            QCOMPARE(s->ReadSetting("data", " 1"), QString("M1.wav")); // readable at once
            QCOMPARE(inode(), ino_t(0));
        }
        QCOMPARE(onDisk("Data", " 1"), QString("M1.wav"));
        const auto written = inode();
        s->WriteSetting("DATA", " 0", "M0.wav");
        s->WriteSettingLater(loop, "Line0", "Calls", "51");
        QCOMPARE(s->ReadSetting("line0", "CALLS"), QString("51"));
        loop.advance(SettingsStore::kDeferMs - 1);
        QCOMPARE(inode(), written);
        loop.advance(1);
        QCOMPARE(onDisk("Line0", "Calls"), QString("51"));
        s->WriteSettingLater(loop, "Line0", "Param1", "6400");
        // A journaled value that may wait: its journal line at once, the file with the next write.
        s->WriteSettingJournaledLater(loop, "Config", "Language", "2");
        QVERIFY(readAll(dir.file("settings.txt")).endsWith("Config@Language@2\r\n"));
        QCOMPARE(onDisk("Config", "Language"), QString());
        s->WriteSetting("Config", "Rings", "4"); // takes the waiting values along
        QCOMPARE(onDisk("Line0", "Param1"), QString("6400"));
        QCOMPARE(onDisk("Config", "Language"), QString("2"));
        s->WriteSettingLater(loop, "Line0", "Calls", "52");
        s.reset(); // closing writes what waits
        QCOMPARE(onDisk("Line0", "Calls"), QString("52"));
    }

    // A save of values that every start works out again does not wait for the disk when it
    // creates the file (a power cut loses nothing a start does not write again); a save that
    // replaces the file, or holds a plain write, flushes the file and its folder.
    void onlyADerivedSaveThatCreatesTheFileSkipsTheFlushes()
    {
        using telvox::test::diskFlushes;
        ScratchDir dir;
        VirtualEventLoop loop;
        const auto flushesOf = [&](const std::function<void()> &save) {
            const int before = diskFlushes();
            save();
            return diskFlushes() - before;
        };
        const QString ini = dir.file("telvox.ini");
        const auto derivedSave = [](SettingsStore &s, const char *key, const char *value) {
            SettingsStore::Batch batch(s, SettingsStore::Kind::Derived);
            s.WriteSetting("Config", key, value);
        };
        auto s = std::make_unique<SettingsStore>(ini, dir.file("settings.txt"));
        s->WriteSettingLater(loop, "Config", "TvxPath", "/p"); // a value a crash may lose
        QCOMPARE(flushesOf([&] { derivedSave(*s, "Line0", "1"); }), 0);
        QCOMPARE(SettingsStore(ini, dir.file("x.txt")).ReadSetting("Config", "TvxPath"), QString("/p"));
        QCOMPARE(flushesOf([&] { derivedSave(*s, "Line0", "0"); }), 2); // replaces the file
        s.reset();

        // A plain write creates the file durably, alone or in a plain batch.
        QVERIFY(QFile::remove(ini));
        s = std::make_unique<SettingsStore>(ini, dir.file("settings.txt"));
        QCOMPARE(flushesOf([&] { s->WriteSetting("Config", "Rings", "4"); }), 2);
        QVERIFY(QFile::remove(ini));
        s = std::make_unique<SettingsStore>(ini, dir.file("settings.txt"));
        QCOMPARE(flushesOf([&] {
                     SettingsStore::Batch batch(*s);
                     s->WriteSetting("Config", "Rings", "5");
                 }),
                 2);
    }

    // An options file that cannot be used is put aside, never emptied, and the last good copy
    // (the file as it was before its last rewrite) takes its place; each case is told once.
    void unusableFileIsKeptAsideAndTheLastGoodCopyRestored_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<int>("cause");
        QTest::newRow("damaged") << "damaged" << int(SettingsStore::FileEvent::Cause::Damaged);
        QTest::newRow("empty") << "empty" << int(SettingsStore::FileEvent::Cause::Empty);
        QTest::newRow("junk holding no option") << "junk" << int(SettingsStore::FileEvent::Cause::Damaged);
        QTest::newRow("a folder in its place") << "folder" << int(SettingsStore::FileEvent::Cause::System);
        QTest::newRow("unreadable") << "unreadable" << int(SettingsStore::FileEvent::Cause::System);
    }
    void unusableFileIsKeptAsideAndTheLastGoodCopyRestored()
    {
        QFETCH(QString, damage);
        QFETCH(int, cause);
        ScratchDir dir;
        const QString ini = dir.file("telvox.ini");
        {
            SettingsStore s(ini, dir.file("settings.txt"));
            s.WriteSetting("Config", "Language", "2");
            s.WriteSetting("Config", "Rings", "5"); // the copy holds the file before this save
        }
        const QByteArray damaged("\x00\xff[Config\nLanguage=\n=\n[[[\n\x01\x02garbage", 36);
        if (damage == "damaged")
            QVERIFY(writeBytes(ini, damaged));
        else if (damage == "empty")
            QVERIFY(writeBytes(ini, {}));
        else if (damage == "junk")
            QVERIFY(writeBytes(ini, QByteArray("\x00\xff[[garbage\n\x01", 13)));
        else if (damage == "unreadable")
            QVERIFY(QFile::setPermissions(ini, {}));
        else
            QVERIFY(QFile::remove(ini) && QDir().mkpath(ini));

        std::optional<Unprivileged> ordinary;
        if (damage == "unreadable") {
            ordinary.emplace();
            if (!ordinary->effective())
                QSKIP("permissions do not apply to this account");
        }
        SettingsStore s(ini, dir.file("settings.txt"));
        std::vector<SettingsStore::FileEvent> events;
        s.setFileEventHandler([&](const SettingsStore::FileEvent &e) { events.push_back(e); });
        QCOMPARE(int(events.size()), 1); // told when the handler comes, though it happened before
        QCOMPARE(events[0].kind, SettingsStore::FileEvent::Kind::Restored);
        QCOMPARE(int(events[0].cause), cause);
        QCOMPARE(s.ReadSetting("Config", "Language"), QString("2"));
        QVERIFY(events[0].keptAs.startsWith(ini + ".damaged-"));
        if (damage == "damaged")
            QCOMPARE(readAll(events[0].keptAs), damaged);
        else
            QVERIFY(QFileInfo::exists(events[0].keptAs));
        if (damage == "folder")
            QVERIFY(events[0].reason.contains("directory"));
        if (damage == "unreadable")
            QVERIFY2(events[0].reason.contains("ermission"), qPrintable(events[0].reason));
        s.WriteSetting("Config", "Rings", "6");
        QCOMPARE(SettingsStore(ini, dir.file("x.txt")).ReadSetting("Config", "Rings"), QString("6"));

        // Damaged again with no good copy left: defaults, said as such, the file kept aside.
        QVERIFY(QFile::remove(ini + ".bak"));
        QVERIFY(writeBytes(ini, damaged));
        SettingsStore bare(ini, dir.file("settings.txt"));
        events.clear();
        bare.setFileEventHandler([&](const SettingsStore::FileEvent &e) { events.push_back(e); });
        QCOMPARE(int(events.size()), 1);
        QCOMPARE(events[0].kind, SettingsStore::FileEvent::Kind::Unrecoverable);
        QCOMPARE(readAll(events[0].keptAs), damaged);
        QCOMPARE(bare.ReadSetting("Config", "Language", "none"), QString("none"));
    }

    // A full disk: the save fails, the file on disk keeps the options saved before, the user
    // is told once; the values are saved with the next write once there is room, and that too
    // is told.
    void fullDiskLeavesTheFileAndIsToldOnce()
    {
        if (::geteuid() != 0)
            QSKIP("mounting a small file system needs root");
        ScratchDir dir;
        QVERIFY(QDir().mkpath(dir.file("disk")));
        SmallFileSystem disk(dir.file("disk"), "size=96k");
        QVERIFY(disk.mounted());
        const QString ini = dir.file("disk/telvox.ini");
        SettingsStore s(ini, dir.file("disk/settings.txt"));
        std::vector<SettingsStore::FileEvent> events;
        s.setFileEventHandler([&](const SettingsStore::FileEvent &e) { events.push_back(e); });
        s.WriteSetting("Config", "Language", "1");
        const QByteArray before = readAll(ini);
        QVERIFY(before.contains("Language=1"));
        QVERIFY(writeBytes(dir.file("disk/filler"), QByteArray(90 * 1024, 'x')) || true);
        {
            SettingsStore::Batch batch(s);
            for (int i = 0; i < 40; ++i)
                s.WriteSetting("Config", QString("Key%1").arg(i), QString(100, QChar('v')));
        }
        s.WriteSetting("Config", "Rings", "3");
        QCOMPARE(readAll(ini), before);
        QCOMPARE(int(events.size()), 1);
        QCOMPARE(events[0].kind, SettingsStore::FileEvent::Kind::SaveFailed);
        QVERIFY2(events[0].reason.contains("space"), qPrintable(events[0].reason));
        QCOMPARE(s.ReadSetting("Config", "Key39"), QString(100, QChar('v'))); // still there to read

        QVERIFY(QFile::remove(dir.file("disk/filler")));
        s.WriteSetting("Config", "Rings", "4");
        QCOMPARE(int(events.size()), 2);
        QCOMPARE(events[1].kind, SettingsStore::FileEvent::Kind::SavedAgain);
        SettingsStore reread(ini, dir.file("disk/x.txt"));
        QCOMPARE(reread.ReadSetting("Config", "Key39"), QString(100, QChar('v')));
        QCOMPARE(reread.ReadSetting("Config", "Rings"), QString("4"));
    }

    // The disk fills while the file is saved, with room left for none, one or a few pages of
    // it: the file keeps every byte it had (never empty, never cut short at a page), the user
    // is told once with the system's reason, and the values go with the next save once there
    // is room.
    void fullDiskMidSaveKeepsTheWholeFile_data()
    {
        QTest::addColumn<int>("pagesFree");
        QTest::newRow("no room") << 0;
        QTest::newRow("one page") << 1;
        QTest::newRow("two pages") << 2;
        QTest::newRow("three pages") << 3;
        QTest::newRow("five pages") << 5;
    }
    void fullDiskMidSaveKeepsTheWholeFile()
    {
        QFETCH(int, pagesFree);
        if (::geteuid() != 0)
            QSKIP("mounting a small file system needs root");
        ScratchDir dir;
        QVERIFY(QDir().mkpath(dir.file("disk")));
        SmallFileSystem disk(dir.file("disk"), "size=256k");
        QVERIFY(disk.mounted());
        const QString ini = dir.file("disk/telvox.ini");
        SettingsStore s(ini, dir.file("disk/settings.txt"));
        std::vector<SettingsStore::FileEvent> events;
        s.setFileEventHandler([&](const SettingsStore::FileEvent &e) { events.push_back(e); });
        {
            SettingsStore::Batch batch(s);
            for (int i = 0; i < 60; ++i)
                s.WriteSetting("Config", QString("Key%1").arg(i), QString(90, QChar('a' + i % 26)));
        }
        const QByteArray before = readAll(ini);
        QVERIFY(before.size() > 5000);
        // The new file needs six pages; the old one keeps its own (its last good copy holds them).
        struct statvfs fs = {};
        QVERIFY(::statvfs(qPrintable(dir.file("disk")), &fs) == 0);
        const qint64 page = qint64(fs.f_frsize);
        QVERIFY(writeBytes(dir.file("disk/filler"), QByteArray((qint64(fs.f_bavail) - pagesFree) * page, 'x')));
        {
            SettingsStore::Batch batch(s);
            for (int i = 0; i < 60; ++i)
                s.WriteSetting("Config", QString("Key%1").arg(i), QString(380, QChar('A' + i % 26)));
        }
        s.WriteSetting("Config", "Rings", "3");
        QCOMPARE(readAll(ini), before);
        QVERIFY(SettingsStore(ini, dir.file("disk/x.txt")).ReadSetting("Config", "Key59") == QString(90, QChar('h')));
        QCOMPARE(int(events.size()), 1);
        QCOMPARE(events[0].kind, SettingsStore::FileEvent::Kind::SaveFailed);
        QVERIFY2(events[0].reason.contains("space"), qPrintable(events[0].reason));
        QCOMPARE(s.ReadSetting("Config", "Key59"), QString(380, QChar('H')));
        QCOMPARE(QDir(dir.file("disk")).entryList(QDir::Files).filter("telvox.ini.").join(' '), QString("telvox.ini.bak"));

        QVERIFY(QFile::remove(dir.file("disk/filler")));
        s.WriteSetting("Config", "Rings", "4");
        QCOMPARE(int(events.size()), 2);
        QCOMPARE(events[1].kind, SettingsStore::FileEvent::Kind::SavedAgain);
        SettingsStore reread(ini, dir.file("disk/x.txt"));
        QCOMPARE(reread.ReadSetting("Config", "Key59"), QString(380, QChar('H')));
        QCOMPARE(reread.ReadSetting("Config", "Rings"), QString("4"));
    }

    // Whatever a key or a value holds, QSettings reads the file back to the same strings, and
    // what a hand-edited file holds beyond strings (a list, bytes) survives a save.
    void everyValueReadsBackAsWritten()
    {
        ScratchDir dir;
        const QString ini = dir.file("telvox.ini");
        QVERIFY(writeBytes(ini, "[Hand]\nList=a, \"b,c\", d\nBytes=@ByteArray(x\\0y)\nRoot=1\n[General]\nTop=level\n"));
        QString control;
        for (char16_t c = 0; c < 0x20; ++c)
            control += QChar(c) + QString("f");
        const QList<QPair<QString, QString>> cases = {
            {" 0", "M2026-01-05~09-00-00~123.wav"},
            {"a=b;c", " leading and trailing "},
            {"[x]", "\"quoted\" \\ back\\slash"},
            {"comma", "a,b; c=d"},
            {"at", "@ByteArray(not bytes)"},
            {"at2", "@@two"},
            {"empty", ""},
            {"tab", "\tx\t"},
            {"lines", "one\ntwo\r\nthree"},
            {"control", control},
            {"键", "电话 Modem #1 😀 é"},
            {"path/inside", "/home/u/My Calls/"},
            {"hex", QString(QChar(1)) + "abc" + QChar(0x7F) + "9"},
        };
        {
            SettingsStore s(ini, dir.file("settings.txt"));
            SettingsStore::Batch batch(s);
            for (const auto &[key, value] : cases) {
                s.WriteSetting("Odd Section", key, value);
                s.WriteSetting("general", key, value);
            }
            s.WriteSetting("Config", "Language", "1");
        }
        const QSettings plain(ini, QSettings::IniFormat);
        QCOMPARE(plain.status(), QSettings::NoError);
        for (const auto &[key, value] : cases) {
            QCOMPARE(plain.value("Odd Section/" + key).toString(), value);
            QCOMPARE(plain.value("general/" + key).toString(), value);
        }
        QCOMPARE(plain.value("Hand/List").toStringList(), QStringList({"a", "b,c", "d"}));
        QCOMPARE(plain.value("Hand/Bytes").toByteArray(), QByteArray("x\0y", 3));
        QCOMPARE(plain.value("Top").toString(), QString("level"));
        QCOMPARE(plain.value("Hand/Root").toString(), QString("1"));
        QVERIFY(readAll(ini).contains("Language=1\n")); // plain values stay plain for the user
    }

    // Two processes share the file: each save reads in what the other saved, and a value
    // changed to one of the same length at once is read as the new one.
    void savesOfTwoStoresMeetInTheFile()
    {
        ScratchDir dir;
        const QString ini = dir.file("telvox.ini");
        SettingsStore a(ini, dir.file("settings.txt"));
        SettingsStore b(ini, dir.file("settings.txt"));
        a.WriteSetting("Config", "Rings", "5");
        b.WriteSetting("Web", "PasswordHash", "hash");
        a.WriteSetting("Config", "Language", "2");
        SettingsStore both(ini, dir.file("x.txt"));
        QCOMPARE(both.ReadSetting("Config", "Rings"), QString("5"));
        QCOMPARE(both.ReadSetting("Web", "PasswordHash"), QString("hash"));
        for (int i = 10; i < 60; ++i) {
            a.WriteSetting("Config", "Rings", QString::number(i));
            QCOMPARE(SettingsStore(ini, dir.file("x.txt")).ReadSetting("Config", "Rings"), QString::number(i));
        }
    }

    // Two damaged files found in the same second are both kept, each under its own name.
    void damagedFilesOfOneSecondAreAllKept()
    {
        ScratchDir dir;
        const QString ini = dir.file("telvox.ini");
        {
            SettingsStore s(ini, dir.file("settings.txt"));
            s.WriteSetting("Config", "Language", "2");
            s.WriteSetting("Config", "Rings", "5"); // the copy holds the file before this save
        }
        while (QTime::currentTime().msec() > 600)
            QTest::qWait(20);
        QStringList kept;
        for (const QByteArray &damage : {QByteArray("[[[first\x01", 10), QByteArray("[[[second\x02", 11)}) {
            QVERIFY(writeBytes(ini, damage));
            SettingsStore s(ini, dir.file("settings.txt"));
            s.setFileEventHandler([&](const SettingsStore::FileEvent &e) { kept << e.keptAs; });
            QCOMPARE(s.ReadSetting("Config", "Language"), QString("2"));
        }
        QCOMPARE(kept.size(), 2);
        QVERIFY(kept[0] != kept[1]);
        QCOMPARE(readAll(kept[0]), QByteArray("[[[first\x01", 10));
        QCOMPARE(readAll(kept[1]), QByteArray("[[[second\x02", 11));
    }

    // A file that a save on a full disk left empty never becomes the last good copy: the
    // copy still holds the options after the next save.
    void anEmptiedFileIsNeverKeptAsTheGoodCopy()
    {
        ScratchDir dir;
        const QString ini = dir.file("telvox.ini");
        SettingsStore s(ini, dir.file("settings.txt"));
        s.WriteSetting("Config", "Language", "1");
        s.WriteSetting("Config", "Rings", "2");
        QVERIFY(writeBytes(ini + ".new", {}) && ::rename(qPrintable(ini + ".new"), qPrintable(ini)) == 0);
        s.WriteSetting("Config", "Rings", "3");
        QVERIFY(readAll(s.backupFile()).contains("Language=1"));
    }

    void corruptOrUnwritableFilesNeverFail()
    {
        ScratchDir dir;
        QVERIFY(writeBytes(dir.file("telvox.ini"), QByteArray("\x00\xff[Config\nLanguage=\n=\n[[[\n\x01\x02garbage", 36)));
        SettingsStore s(dir.file("telvox.ini"), dir.file("no-such-folder/settings.txt"));
        QCOMPARE(s.ReadSetting("Config", "Rings", "8"), QString("8"));
        s.WriteSettingJournaled("Config", "Rings", "4"); // journal folder missing: store still updated
        QCOMPARE(s.ReadSetting("Config", "Rings", "8"), QString("4"));
    }

    // A writer killed at random moments never leaves a store that fails to load: every value
    // read back is one that was written completely.
    void killedWriterLeavesALoadableStore()
    {
        ScratchDir dir;
        for (int round = 0; round < 5; ++round) {
            QProcess writer;
            writer.start(QCoreApplication::applicationFilePath(), {"--write-forever", dir.path()});
            QVERIFY(writer.waitForStarted());
            QTest::qWait(40 + 37 * round);
            ::kill(static_cast<pid_t>(writer.processId()), SIGKILL);
            QVERIFY(writer.waitForFinished());
            SettingsStore s(dir.file("telvox.ini"), dir.file("settings.txt"));
            const QString counter = s.ReadSetting("Config", "Counter", "none");
            const QString mirror = s.ReadSetting("Config", "Mirror", "none");
            QVERIFY2(counter == "none" || counter.toInt() > 0, qPrintable(counter));
            QVERIFY2(mirror == "none" || mirror.startsWith("value-"), qPrintable(mirror));
        }
    }

    void lenientNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << "6500" << 6500;
        QTest::newRow("blank and sign") << "  -12" << -12;
        QTest::newRow("trailing text") << "12ab" << 12;
        QTest::newRow("not a number") << "x" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("huge") << "99999999999" << 2147483647;
    }
    void lenientNumbers()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(parseLenientInt(text), value);
    }

    void ringGapsAreClampedAndWrittenBack()
    {
        ScratchDir dir;
        SettingsStore s(dir.file("telvox.ini"), dir.file("settings.txt"));
        s.WriteSetting("Line1", "Param3", "20000");
        s.WriteSetting("Line2", "Param1", "0");
        s.WriteSetting("Line3", "Param6", "13000");
        const RingGapTable t = loadRingGaps(s);
        QCOMPARE(t[1][3], 13000);
        QCOMPARE(s.ReadSetting("Line1", "Param3"), QString("13000"));
        QCOMPARE(t[2][1], 0);
        QCOMPARE(t[3][6], 13000);
        QCOMPARE(t[0][1], 6500);
        QCOMPARE(s.ReadSetting("Line0", "Param1"), QString()); // defaults are not written
        QVERIFY(!QFile::exists(dir.file("settings.txt")));
    }

    void changedModemResetsOnlyItsLine()
    {
        ScratchDir dir;
        SettingsStore s(dir.file("telvox.ini"), dir.file("settings.txt"));
        for (int n = 0; n < 4; ++n) {
            s.WriteSetting("Modem", QString("Line%1").arg(n), QString("Modem %1").arg(n));
            s.WriteSetting(QString("Line%1").arg(n), "Param1", "9000");
            s.WriteSetting(QString("Line%1").arg(n), "Calls", "120");
        }
        RingGapTable gaps = loadRingGaps(s);
        const unsigned changed = checkModemChanges(s, {"Modem 0", "Modem 1", "New modem", "Modem 3"}, gaps);
        QCOMPARE(changed, 1u << 2);
        QCOMPARE(s.ReadSetting("Line2", "Param1"), QString("6500"));
        QCOMPARE(s.ReadSetting("Line2", "Calls"), QString("50"));
        QCOMPARE(gaps[2][1], 6500);
        QCOMPARE(s.ReadSetting("Modem", "Line2"), QString("New modem"));
        QCOMPARE(s.ReadSetting("Line1", "Param1"), QString("9000"));
        QCOMPARE(s.ReadSetting("Line1", "Calls"), QString("120"));
        QCOMPARE(gaps[1][1], 9000);
        QCOMPARE(readAll(dir.file("settings.txt")), QByteArray("Modem@Line2@New modem\r\n"));
    }

    void autostartEntryStartsTelvoxOrNothing()
    {
        ScratchDir dir;
        AutostartEntry entry(dir.file("autostart"));
        QVERIFY(!entry.exists());
        QVERIFY(SetStartWithWindows(entry, 1, "/opt/Tel vox/telvox"));
        QCOMPARE(entry.program(), QString("/opt/Tel vox/telvox"));
        QVERIFY(readAll(entry.filePath()).contains("Exec=\"/opt/Tel vox/telvox\""));
        QVERIFY(SetStartWithWindows(entry, 2, "/opt/Tel vox/telvox"));
        QVERIFY(entry.exists()); // the entry remains...
        QCOMPARE(entry.program(), QString()); // ...but starts nothing
        QVERIFY(readAll(entry.filePath()).contains("Hidden=true"));
    }
};

// "--write-forever DIR": the child process of killedWriterLeavesALoadableStore.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--write-forever") {
        SettingsStore s(QString::fromLocal8Bit(argv[2]) + "/telvox.ini", QString::fromLocal8Bit(argv[2]) + "/settings.txt");
        for (int i = 1;; ++i) {
            s.WriteSetting("Config", "Counter", QString::number(i));
            s.WriteSettingJournaled("Config", "Mirror", "value-" + QString(i % 200, QChar('x')));
        }
    }
    tst_Settings test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_Settings.moc"
