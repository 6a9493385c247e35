#include "audio/PromptRecording.h"
#include "platform/media/MediaControl.h"
#include "platform/media/SoundRecorder.h"
#include "platform/media/VirtualMediaDevice.h"
#include "platform/media/WaveFileInfo.h"
#include "support/AudioHarness.h"
#include "ui/frmGreeting.h"

#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace telvox;
using namespace telvox::test;

namespace {

// The capture recorder on a harness whose default input is a paced test microphone.
struct Rig
{
    explicit Rig(bool microphone = true)
    {
        if (microphone) {
            h.paced.addInput(-1, [](std::span<std::int16_t> out) {
                for (auto &s : out)
                    s = 1234;
            });
            h.devices.addProvider(h.paced, true);
        }
    }
    frmGreeting::Services services(ProgramCall desktop = {})
    {
        return {*h.engine, h.lines,  h.timers, h.loop, media, h.prompts, h.texts, h.dir.path(), desktop,
                [this](const ProgramCall &call) {
                    launched << call.program;
                    return true;
                }};
    }
    Harness h;
    VirtualMediaDevice device{h.loop};
    MediaControl media{device};
    QStringList launched;
};

} // namespace

class tst_PromptRecorders : public QObject
{
    Q_OBJECT
private slots:
    void promptFileSizesAndBlocks_data()
    {
        QTest::addColumn<int>("working");
        QTest::addColumn<bool>("written");
        QTest::addColumn<QList<qint64>>("blocks");
        QTest::newRow("4955 bytes: too short") << 4955 << false << QList<qint64>{};
        QTest::newRow("4956 bytes") << 4956 << true << QList<qint64>{4956};
        QTest::newRow("5119 bytes: one short read") << 5119 << true << QList<qint64>{5119};
        QTest::newRow("10240 bytes: two blocks") << 10240 << true << QList<qint64>{5120, 5120};
        QTest::newRow("12000 bytes") << 12000 << true << QList<qint64>{5120, 5120, 1760};
    }
    void promptFileSizesAndBlocks()
    {
        QFETCH(int, working);
        QFETCH(bool, written);
        QFETCH(QList<qint64>, blocks);
        ScratchDir dir;
        QByteArray samples(working, '\0');
        for (int i = 0; i < working; ++i)
            samples[i] = char(i * 7);
        QVERIFY(writeBytes(dir.file("tvxt3"), samples));
        const QByteArray old(30000, 'o'); // an older, longer prompt
        QVERIFY(writeBytes(dir.file("Greeting.wav"), old));
        const PromptWrite result = writePromptRecording(dir.file("tvxt3"), dir.file("Greeting.wav"));
        QCOMPARE(result.written, written);
        QCOMPARE(result.blocks, blocks);
        const QByteArray file = readAll(dir.file("Greeting.wav"));
        if (!written) {
            QCOMPARE(file, old);
            return;
        }
        QCOMPARE(file.size(), working + 44);
        QCOMPARE(file.left(44), waveHeader(OutputFormat::Pcm, std::uint32_t(working)));
        QCOMPARE(file.mid(44), samples);
    }

    // The legal notice is captured under the capture name "Greeting.wav" and written one
    // tick of Timer1 after Stop, into the program folder's existing "legal.wav".
    void captureRecorderWritesTheLegalNotice()
    {
        Rig r;
        QVERIFY(writeBytes(r.h.dir.file("LEGAL.WAV"), "old"));
        frmGreeting w(r.services(), "legal.wav");
        QCOMPARE(w.targetPath(), r.h.dir.file("LEGAL.WAV"));
        QVERIFY(w.Label2()->text().endsWith("LEGAL.WAV"));
        QVERIFY(!w.Command1()->isEnabled());
        QCOMPARE(w.Command1()->toolTip(), r.h.texts.LoadText(1502));

        w.cmdRecord()->click();
        QVERIFY(!w.cmdRecord()->isEnabled() && !w.cmdPlay()->isEnabled());
        QCOMPARE(r.h.engine->captureName(3), QString("Greeting.wav"));
        QVERIFY(!r.h.timers.timWriteFile[3].isEnabled());
        r.h.loop.advance(2500);
        w.cmdStop()->click();
        QVERIFY(w.cmdRecord()->isEnabled() && w.cmdPlay()->isEnabled());
        r.h.loop.advance(999);
        QCOMPARE(readAll(w.targetPath()), QByteArray("old"));
        r.h.loop.advance(1);
        QVERIFY(!w.Timer1().isEnabled());
        const QByteArray file = readAll(w.targetPath());
        const QByteArray working = readAll(r.h.engine->workingFile(3));
        QVERIFY(working.size() >= 2 * 16000);
        QCOMPARE(file, waveHeader(OutputFormat::Pcm, std::uint32_t(working.size())) + working);
        QCOMPARE(std::int16_t(quint8(file[44]) | quint8(file[45]) << 8), std::int16_t(1234));

        w.cmdPlay()->click();
        QVERIFY(w.isPlaying() && !w.cmdRecord()->isEnabled());
        QCOMPARE(r.device.file(), w.targetPath());
        w.cmdStop()->click();
        QVERIFY(!r.media.isOpen());
    }

    void absentMicrophoneAndMissingFileAreReported()
    {
        Rig r(false);
        frmGreeting w(r.services({"/usr/bin/gnome-sound-recorder", {}}), "Greeting.wav");
        w.cmdRecord()->click();
        QCOMPARE(r.h.prompts.shown.size(), 1);
        QCOMPARE(r.h.prompts.shown[0].text, r.h.texts.LoadText(1504));
        QVERIFY(w.cmdRecord()->isEnabled() && w.cmdPlay()->isEnabled());
        QCOMPARE(r.h.lines[3].recState, 0);
        w.cmdPlay()->click();
        QCOMPARE(r.h.prompts.shown[1].text, r.h.texts.LoadText(1002));
        QCOMPARE(r.h.prompts.shown[1].title, r.h.texts.LoadText(1003));
        QVERIFY(!w.isPlaying());

        QVERIFY(w.Command1()->isEnabled());
        w.Command1()->click();
        QCOMPARE(r.launched, QStringList({"/usr/bin/gnome-sound-recorder"}));
        const auto found = [](const QString &name) { return name == "audacity" ? "/usr/bin/" + name : QString(); };
        QCOMPARE(soundRecorderCommand(found).program, QString("/usr/bin/audacity"));
        QVERIFY(soundRecorderCommand([](const QString &) { return QString(); }).program.isEmpty());
    }

    void mediaRecorderSavesElevenKilohertzPrompts()
    {
        VirtualEventLoop loop;
        VirtualMediaDevice device{loop};
        MediaControl media{device};
        VirtualSoundRecorder recorder{loop};
        media.setRecorder(&recorder);
        ScratchDir dir;
        StringTable table;
        table.loadBuiltIn();
        Texts texts{table, 0};
        ScriptedPrompts prompts;
        frmGreeting1 w({media, prompts, texts, dir.path()}, "03.wav");
        w.cmdRecord()->click();
        QVERIFY(w.isRecording() && !w.cmdPlay()->isEnabled());
        loop.advance(2000);
        w.cmdStop()->click();
        const WaveFileInfo info = readWaveFileInfo(dir.file("03.wav"));
        QVERIFY(info.valid);
        QCOMPARE(info.samplesPerSec, quint32(11025));
        QCOMPARE(info.channels, quint16(1));
        QCOMPARE(info.bitsPerSample, quint16(16));
        QCOMPARE(info.lengthMs(), qint64(2000));
        w.cmdPlay()->click();
        QCOMPARE(device.file(), dir.file("03.wav"));
        QVERIFY(!w.cmdRecord()->isEnabled());
        w.cmdStop()->click();

        recorder.setInputPresent(false);
        w.cmdRecord()->click();
        QVERIFY(!w.isRecording() && w.cmdRecord()->isEnabled());
        QCOMPARE(prompts.shown.last().text, texts.LoadText(1504));
        QCOMPARE(readWaveFileInfo(dir.file("03.wav")).lengthMs(), qint64(2000)); // kept
    }
};

QTEST_MAIN(tst_PromptRecorders)
#include "tst_PromptRecorders.moc"
