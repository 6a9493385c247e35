#include "core/Settings.h"
#include "core/Texts.h"
#include "core/VirtualEventLoop.h"
#include "platform/media/MediaControl.h"
#include "platform/media/TestWave.h"
#include "platform/media/VirtualMediaDevice.h"
#include "support/FakeShell.h"
#include "ui/UiFakes.h"
#include "ui/WavePlayer.h"
#include "ui/frmBrows.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

using namespace telvox;
using namespace telvox::test;

namespace {

QStringList names(const QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

// A recordings folder "rec" with two recordings, a note and a sub-folder; a recording in the
// program folder.
struct Rig
{
    Rig()
    {
        table.loadBuiltIn();
        QDir(dir.path()).mkpath("rec/sub");
        writeTestWave(dir.file("rec/a.wav"), 2000);
        writeTestWave(dir.file("rec/B.WAV"), 1000);
        writeBytes(dir.file("rec/notes.txt"), "x");
        writeTestWave(dir.file("home.wav"), 500);
    }
    std::unique_ptr<frmBrows> open(const QString &saveFile = {})
    {
        if (!saveFile.isEmpty())
            settings.WriteSetting("Config", "SaveFile", dir.file(saveFile));
        return std::make_unique<frmBrows>(frmBrows::Services{texts, settings, prompts, media, loop, shell, dir.path()});
    }
    ScratchDir dir;
    StringTable table;
    Texts texts{table, 0};
    SettingsStore settings{dir.file("telvox.ini"), dir.file("settings.txt")};
    ScriptedPrompts prompts;
    VirtualEventLoop loop;
    VirtualMediaDevice device{loop};
    MediaControl media{device};
    RecordingShell shell;
};

} // namespace

class tst_Browser : public QObject
{
    Q_OBJECT
private slots:
    // The browser starts in the recordings folder, else the program folder; folders, the
    // filter and the file manager work, and a desktop without one says so.
    void foldersFilterAndFileManager()
    {
        Rig r;
        auto first = r.open();
        QCOMPARE(first->windowTitle(), QString("Browse Wave File"));
        QCOMPARE(first->dirPath(), QDir::cleanPath(r.dir.path()));
        QCOMPARE(names(first->File1()), QStringList({"home.wav"}));
        auto b = r.open("rec/");
        QCOMPARE(b->dirPath(), r.dir.file("rec"));
        QCOMPARE(b->filePattern(), QString("*.wav"));
        QCOMPARE(names(b->File1()), QStringList({"a.wav", "B.WAV"}));
        QCOMPARE(names(b->Dir1()), QStringList({"..", "sub"}));
        QVERIFY(b->Drive1()->count() >= 1);
        b->setDirPath(r.dir.file("rec/sub"));
        QCOMPARE(b->File1()->count(), 0);
        emit b->Dir1()->itemActivated(b->Dir1()->item(0)); // ".." goes back up
        QCOMPARE(b->dirPath(), r.dir.file("rec"));

        b->Text1()->setText("  note ");
        b->Command2_Click();
        QCOMPARE(b->filePattern(), QString("*note*"));
        QCOMPARE(names(b->File1()), QStringList({"notes.txt"}));
        b->Text1()->clear();
        b->Command2_Click(); // "**": everything
        QCOMPARE(names(b->File1()), QStringList({"a.wav", "B.WAV", "notes.txt"}));

        QCOMPARE(b->findChild<QPushButton *>("Command1")->text(), QString("Show in File Manager"));
        b->Command1_Click();
        QCOMPARE(r.shell.explored, QStringList({r.dir.file("rec")}));
        r.shell.hasPrograms = false;
        b->Command1_Click();
        QCOMPARE(r.prompts.texts(), QStringList({r.texts.LoadText(1707)}));
    }

    void reopeningShowsTheFolderAsItIsNow()
    {
        Rig r;
        auto b = r.open("rec");
        b->show();
        b->hide();
        writeTestWave(r.dir.file("rec/C.wav"), 500); // a new message arrived meanwhile
        QFile::remove(r.dir.file("rec/a.wav"));
        QDir(r.dir.path()).mkpath("rec/newer");
        b->show();
        QCOMPARE(names(b->File1()), QStringList({"B.WAV", "C.wav"}));
        QVERIFY(names(b->Dir1()).contains("newer"));
        // A folder that cannot be read stays where it was, and says why.
        b->setDirPath(r.dir.file("no such folder"));
        QCOMPARE(b->dirPath(), r.dir.file("rec"));
        QCOMPARE(r.prompts.texts(), QStringList({r.texts.LoadText(1706).arg(r.dir.file("no such folder"))}));
        // The folder itself went away: the next opening starts in the recordings again.
        b->setDirPath(r.dir.file("rec/newer"));
        b->hide();
        QDir(r.dir.file("rec/newer")).removeRecursively();
        b->show();
        QCOMPARE(b->dirPath(), r.dir.file("rec"));
    }

    void playFromTheMenuAndDelete()
    {
        Rig r;
        auto b = r.open("rec");
        const auto select = [&b](const char *name) {
            b->File1()->setCurrentItem(b->File1()->findItems(name, Qt::MatchExactly).value(0));
        };
        b->mmuPlay_Click(); // nothing selected
        QVERIFY(!r.media.isOpen());
        select("a.wav");
        b->mmuPlay_Click();
        QCOMPARE(r.device.file(), r.dir.file("rec/a.wav"));
        QCOMPARE(b->findChild<QLabel *>("lblFileSize")->text(), QString("2s  [31 KBytes]"));
        QVERIFY(!b->findChild<QPushButton *>("cmdPlay")->isEnabled());
        r.loop.advance(2500); // played to the end
        QVERIFY(b->player().isIdle());
        select("B.WAV");
        b->mmuDelete_Click();
        QVERIFY(!QFile::exists(r.dir.file("rec/B.WAV")));
        QCOMPARE(names(b->File1()), QStringList({"a.wav"}));
        b->File1()->setCurrentItem(nullptr);
        b->mmuDelete_Click(); // nothing selected: nothing deleted
        QVERIFY(QFile::exists(r.dir.file("rec/a.wav")));
    }
};

QTEST_MAIN(tst_Browser)
#include "tst_Browser.moc"
