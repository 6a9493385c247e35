#include "core/VirtualEventLoop.h"
#include "platform/media/MediaControl.h"
#include "platform/media/SoundRecorder.h"
#include "platform/media/VirtualMediaDevice.h"
#include "platform/media/WaveFileInfo.h"
#include "platform/media/TestWave.h"
#include "support/FakeShell.h"
#include "support/WaveBytes.h"

#include <QTest>

using namespace telvox;
using namespace telvox::test;

namespace {

struct Rig
{
    VirtualEventLoop loop;
    VirtualMediaDevice device{loop};
    MediaControl mci{device};
    ScratchDir dir;

    QString send(const QString &command)
    {
        const MediaReply r = mci.sendString(command);
        return r.ok() ? r.text : QStringLiteral("ERR:") + toString(r.error);
    }
};

} // namespace

class tst_MediaControl : public QObject
{
    Q_OBJECT
private slots:
    void playSeekAndEndOfFile()
    {
        Rig r;
        const QString file = r.dir.file("My Message.wav");
        QVERIFY(writeTestWave(file, 2500));
        QCOMPARE(r.send("open \"" + file + "\" type waveaudio alias MyMedia"), QString());
        QCOMPARE(r.device.file(), file);
        QCOMPARE(r.send("status MyMedia length"), QString("2500"));
        QCOMPARE(r.send("status MyMedia mode"), QString("stopped"));
        QCOMPARE(r.send("play MyMedia"), QString());
        QCOMPARE(r.send("status MyMedia mode"), QString("playing"));
        r.loop.advance(1000);
        QCOMPARE(r.send("status MyMedia position"), QString("1000"));
        // (Pause holds the position and says "paused": tst_MainWindow::playerStateMachine.)

        // Seeking leaves the device stopped at the new place; play goes on from there.
        QCOMPARE(r.send("seek MyMedia to  300"), QString());
        QCOMPARE(r.send("status MyMedia mode"), QString("stopped"));
        QCOMPARE(r.send("status MyMedia position"), QString("300"));
        r.send("play MyMedia");
        r.loop.advance(5000);
        QCOMPARE(r.send("status MyMedia mode"), QString("stopped"));
        QCOMPARE(r.send("status MyMedia position"), QString("2500"));
        // Pausing a device that has already stopped does not make it "paused".
        r.send("pause MyMedia");
        QCOMPARE(r.send("status MyMedia mode"), QString("stopped"));

        QCOMPARE(r.send("close MyMedia"), QString());
        QCOMPARE(r.send("status MyMedia mode"), QString("ERR:alias not open"));
        QCOMPARE(r.device.file(), QString());
    }

    void commandSyntax_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("reply");
        QTest::newRow("verbs ignore case") << "STATUS mymedia LENGTH" << "1000";
        QTest::newRow("extra blanks") << "  status   MyMedia    mode " << "stopped";
        QTest::newRow("other alias") << "play Other" << "ERR:alias not open";
        QTest::newRow("seek to end") << "seek MyMedia to end" << "";
        QTest::newRow("second alias") << "open a.wav alias Other" << "ERR:alias already in use";
        QTest::newRow("open without alias") << "open a.wav" << "ERR:alias already in use"; // named by its path
    }
    void commandSyntax()
    {
        QFETCH(QString, command);
        QFETCH(QString, reply);
        Rig r;
        const QString file = r.dir.file("a.wav");
        QVERIFY(writeTestWave(file, 1000));
        QCOMPARE(r.send("open " + file + " alias MyMedia type waveaudio"), QString());
        QCOMPARE(r.send(command), reply);
    }

    void filesThatCannotBeOpened()
    {
        Rig r;
        QVERIFY(writeBytes(r.dir.file("text.wav"), "this is not a wave file at all"));
        QVERIFY(writeBytes(r.dir.file("empty.wav"), QByteArray()));
        QVERIFY(writeTestWave(r.dir.file("ok.wav"), 500));
        QCOMPARE(r.send("open " + r.dir.file("gone.wav") + " alias MyMedia"), QString("ERR:cannot open the file"));
        QCOMPARE(r.send("open " + r.dir.file("text.wav") + " alias MyMedia"), QString("ERR:cannot open the file"));
        QCOMPARE(r.send("open " + r.dir.file("empty.wav") + " alias MyMedia"), QString("ERR:cannot open the file"));
        QVERIFY(!r.mci.isOpen());
        // A failed open leaves the alias free for the next file.
        QCOMPARE(r.send("open " + r.dir.file("ok.wav") + " alias MyMedia"), QString());
        QCOMPARE(r.send("status MyMedia length"), QString("500"));
    }

    // The prompt recorder's command sequence, saved beside a playback that keeps its own alias;
    // a path with blanks is played under its own name. (The saved format, 11025 Hz 16-bit mono
    // for two seconds: tst_SetupDialog::mediaRecorderSavesElevenKilohertzPrompts.)
    void recordingAliasBesidePlayback()
    {
        Rig r;
        VirtualSoundRecorder recorder(r.loop);
        r.mci.setRecorder(&recorder);
        QVERIFY(writeTestWave(r.dir.file("a.wav"), 1000));
        QCOMPARE(r.send("open " + r.dir.file("a.wav") + " alias MyMedia"), QString());
        QCOMPARE(r.send("Open New type WaveAudio alias wave"), QString());
        QCOMPARE(r.send("open new type waveaudio alias other"), QString("ERR:alias already in use"));
        QCOMPARE(r.send("set wave samplespersec 11025"), QString());
        QCOMPARE(r.send("set wave channels 1"), QString());
        QCOMPARE(r.send("set wave bitspersample x"), QString("ERR:bad integer"));
        QCOMPARE(r.send("set wave bitspersample 16"), QString());
        QCOMPARE(r.send("record wave"), QString());
        QCOMPARE(r.send("status wave mode"), QString("recording"));
        r.loop.advance(2000);
        QCOMPARE(r.send("stop wave"), QString());
        const QString target = r.dir.file("two words.wav");
        QCOMPARE(r.send("save wave " + target), QString());
        QCOMPARE(r.send("close wave"), QString());
        QCOMPARE(r.send("status MyMedia length"), QString("1000")); // the playback is untouched
        QVERIFY(readWaveFileInfo(target).valid);

        QCOMPARE(r.send("close MyMedia"), QString());
        QCOMPARE(r.send("Open " + target), QString());
        QCOMPARE(r.send("Play " + target), QString());
        QCOMPARE(r.send("Close " + target), QString());
        QVERIFY(!r.mci.isOpen());
    }

    void recordingWithoutInputOrRecorder()
    {
        Rig r;
        QCOMPARE(r.send("open new type waveaudio alias wave"), QString("ERR:cannot open the file"));
        VirtualSoundRecorder recorder(r.loop);
        recorder.setInputPresent(false);
        r.mci.setRecorder(&recorder);
        QCOMPARE(r.send("open new type waveaudio alias wave"), QString());
        QCOMPARE(r.send("record wave"), QString("ERR:no sound input to record from"));
        QCOMPARE(r.send("save wave " + r.dir.file("none") + "/x.wav"), QString("ERR:cannot write the file"));
        QCOMPARE(r.send("close wave"), QString());
        QCOMPARE(r.send("record wave"), QString("ERR:unrecognised command")); // the alias is gone
    }

    void waveHeaders()
    {
        ScratchDir dir;
        // A LIST chunk of odd size (padded) before the data; TrueSpeech's 1067 bytes a second.
        const QByteArray fmt = QByteArray::fromHex("2200" "0100" "401f0000" "2b040000" "2000" "0100" "0000");
        const QByteArray ts = riff(chunk("fmt ", fmt) + chunk("LIST", "abc") + chunk("data", QByteArray(1067 * 3, '\x11')));
        QVERIFY(writeBytes(dir.file("ts.wav"), ts));
        WaveFileInfo info = readWaveFileInfo(dir.file("ts.wav"));
        QVERIFY(info.valid);
        QCOMPARE(info.formatTag, quint16(0x22));
        QCOMPARE(info.avgBytesPerSec, quint32(1067));
        QCOMPARE(info.lengthMs(), qint64(3000));

        // A recording cut short counts the audio that is there.
        QVERIFY(writeBytes(dir.file("cut.wav"), ts.left(ts.size() - 1067)));
        QCOMPARE(readWaveFileInfo(dir.file("cut.wav")).lengthMs(), qint64(2000));
        // Without a format chunk before the data there is nothing to play.
        QVERIFY(writeBytes(dir.file("nofmt.wav"), riff(chunk("data", {}))));
        QVERIFY(!readWaveFileInfo(dir.file("nofmt.wav")).valid);
    }
};

QTEST_GUILESS_MAIN(tst_MediaControl)
#include "tst_MediaControl.moc"
