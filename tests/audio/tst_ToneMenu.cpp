// The caller's touch-tone commands, with digits arriving as the dispatcher delivers them.
#include "audio/ToneMenu.h"
#include "platform/media/VirtualMediaDevice.h"
#include "core/WaveHeader.h"
#include "support/AudioHarness.h"
#include "support/WaveBytes.h"

#include <QTest>

using namespace telvox;
using namespace telvox::test;

namespace {

struct Menu : Harness
{
    Menu()
    {
        menu.attach();
        lines.setTimerHandler(CallTimer::timDropCall, [this](int line) {
            call(line).dropDue();
            drops << line;
        });
        for (const char *name : {"01.wav", "02.wav", "03.wav", "04.wav"})
            copyPrompt("greeting.wav", dir.file(name));
    }
    void key(int line, QChar digit) { call(line).digitReceived(digit); } // as the dispatcher reports it
    QByteArray dtmf() const { return readAll(dir.file("dtmf.txt")); }

    VirtualMediaDevice speaker{loop};
    ToneMenu menu{{loop, lines, *engine, status, texts, speaker}, dir.path()};
    QList<int> drops;
};

} // namespace

class tst_ToneMenu : public QObject
{
    Q_OBJECT
private slots:
    void oneKeyPlaysItsAnnouncementAfterThreeIdleSeconds()
    {
        Menu m;
        m.key(0, '1');
        m.loop.advance(3100);
        QVERIFY(m.statusTexts().isEmpty());
        m.loop.advance(200); // the fourth tick, 3.2 s after the key
        QCOMPARE(m.statusTexts(), QStringList({"Line0Calling 01"}));
        QCOMPARE(m.speaker.file(), m.dir.file("01.wav"));
        QVERIFY(m.speaker.isPlaying());
        QCOMPARE(m.menu.currentPromptFile(), m.dir.file("01.wav"));
        QVERIFY(m.lines[0].digits.isEmpty());
        QVERIFY(!m.call().timer(CallTimer::timTollSaver).isEnabled());
    }

    // An announcement whose header claims 1 Hz is refused before the player sees it.
    void announcementWithAnImpossibleRateIsRefused()
    {
        Menu m;
        QVERIFY(writeBytes(m.dir.file("02.wav"), pcmWaveHeader(1, 1, 16, 64000) + QByteArray(64000, '\x01')));
        m.key(0, '2');
        m.loop.advance(3300);
        QCOMPARE(m.statusTexts(),
                 QStringList({"02.wav cannot be played (its header claims 1 samples per second, outside 4000 to 48000)",
                              "Line0Calling 02"}));
        QVERIFY(!m.speaker.isPlaying());
        QVERIFY(m.speaker.file().isEmpty());
    }

    void sequencesAreWholeCommands()
    {
        Menu m;
        m.key(0, '1');
        m.loop.advance(1500);
        m.key(0, '2');
        m.loop.advance(3300);
        QCOMPARE(m.statusTexts(), QStringList({"[ 12 ]"}));
        QVERIFY(m.speaker.file().isEmpty()); // nothing played
        m.key(0, '#');
        m.loop.advance(3300);
        m.key(0, '*');
        m.key(0, '7');
        m.loop.advance(3300);
        QCOMPARE(m.statusTexts(), QStringList({"[ 12 ]"})); // only numbers are logged
        QCOMPARE(m.dtmf(), QByteArray("12\r\n#\r\n*7\r\n"));
    }

    void doubleHashEndsTheRecordingAndHangsUp()
    {
        Menu m;
        m.startRecording(CallKind::Message, "555");
        m.loop.advance(2000);
        m.key(0, '#');
        m.loop.advance(300);
        m.key(0, '#');
        m.loop.advance(3300);
        QCOMPARE(m.lines[0].recState, 0);
        QVERIFY(m.statusTexts().contains("##End of Recording"));
        m.loop.advance(600);
        QCOMPARE(m.drops, QList<int>({0}));
        m.loop.advance(2500);
        QCOMPARE(m.recordings().size(), 1);
    }

    void linesKeepTheirOwnSequences()
    {
        Menu m;
        m.key(0, '3');
        m.loop.advance(1000);
        m.key(1, '4');
        m.loop.advance(1000);
        m.key(1, '4');
        m.loop.advance(1300); // line 0: 3.3 s after its key
        QCOMPARE(m.statusTexts(), QStringList({"Line0Calling 03"}));
        m.loop.advance(3300);
        QCOMPARE(m.statusTexts(), QStringList({"Line0Calling 03", "[ 44 ]"}));
    }

    void unwritableFolderKeepsRunning()
    {
        Menu m;
        ToneMenu broken({m.loop, m.lines, *m.engine, m.status, m.texts, m.speaker}, m.dir.file("missing/dir"));
        m.key(2, '9');
        m.key(2, '*');
        broken.HandleToneCommand(2);
        QVERIFY(!QFile::exists(m.dir.file("missing/dir/dtmf.txt")));
    }
};

QTEST_GUILESS_MAIN(tst_ToneMenu)
#include "tst_ToneMenu.moc"
