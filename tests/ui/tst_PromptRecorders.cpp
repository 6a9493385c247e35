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
            h.paced.addInput(-1, [](std::span<std::int16_t> out) { std::fill(out.begin(), out.end(), 1234); });
            h.devices.addProvider(h.paced, true);
        }
    }
    frmGreeting::Services services(ProgramCall desktop = {})
    {
        return {*h.engine, h.lines, h.timers, h.loop, media, h.prompts, h.texts, h.dir.path(), desktop,
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
    // A prompt shorter than 4956 bytes is not written; longer ones are copied in 5120-byte
    // blocks behind a wave header, replacing an older, longer prompt.
    void promptFileSizesAndBlocks()
    {
        const QList<std::pair<int, QList<qint64>>> rows{
            {4955, {}}, {4956, {4956}}, {5119, {5119}}, {10240, {5120, 5120}}, {12000, {5120, 5120, 1760}}};
        for (const auto &[working, blocks] : rows) {
            ScratchDir dir;
            QByteArray samples(working, '\0');
            for (int i = 0; i < working; ++i)
                samples[i] = char(i * 7);
            const QByteArray old(30000, 'o');
            QVERIFY(writeBytes(dir.file("tvxt3"), samples) && writeBytes(dir.file("Greeting.wav"), old));
            const PromptWrite result = writePromptRecording(dir.file("tvxt3"), dir.file("Greeting.wav"));
            QCOMPARE(result.written, !blocks.isEmpty());
            QCOMPARE(result.blocks, blocks);
            QCOMPARE(readAll(dir.file("Greeting.wav")),
                     blocks.isEmpty() ? old : waveHeader(OutputFormat::Pcm, std::uint32_t(working)) + samples);
        }
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

    // No microphone and no file are said; the desktop's recorder is the one found.
    void absentMicrophoneAndMissingFileAreReported()
    {
        Rig r(false);
        frmGreeting w(r.services({"/usr/bin/gnome-sound-recorder", {}}), "Greeting.wav");
        w.cmdRecord()->click();
        QVERIFY(w.cmdRecord()->isEnabled() && w.cmdPlay()->isEnabled());
        QCOMPARE(r.h.lines[3].recState, 0);
        w.cmdPlay()->click();
        QCOMPARE(r.h.prompts.texts(), QStringList({r.h.texts.LoadText(1504), r.h.texts.LoadText(1002)}));
        QCOMPARE(r.h.prompts.shown[1].title, r.h.texts.LoadText(1003));
        QVERIFY(!w.isPlaying());
        w.Command1()->click();
        QCOMPARE(r.launched, QStringList({"/usr/bin/gnome-sound-recorder"}));
        const auto found = [](const QString &name) { return name == "audacity" ? "/usr/bin/" + name : QString(); };
        QCOMPARE(soundRecorderCommand(found).program, QString("/usr/bin/audacity"));
        QVERIFY(soundRecorderCommand([](const QString &) { return QString(); }).program.isEmpty());
    }

    void mediaRecorderSavesElevenKilohertzPrompts()
    {
        Rig r(false);
        VirtualSoundRecorder recorder{r.h.loop};
        r.media.setRecorder(&recorder);
        frmGreeting1 w({r.media, r.h.prompts, r.h.texts, r.h.dir.path()}, "03.wav");
        w.cmdRecord()->click();
        QVERIFY(w.isRecording() && !w.cmdPlay()->isEnabled());
        r.h.loop.advance(2000);
        w.cmdStop()->click();
        const WaveFileInfo info = readWaveFileInfo(r.h.dir.file("03.wav"));
        QVERIFY(info.valid);
        QCOMPARE(QList<qint64>({info.samplesPerSec, info.channels, info.bitsPerSample, info.lengthMs()}),
                 QList<qint64>({11025, 1, 16, 2000}));
        w.cmdPlay()->click();
        QCOMPARE(r.device.file(), r.h.dir.file("03.wav"));
        QVERIFY(!w.cmdRecord()->isEnabled());
        w.cmdStop()->click();
        recorder.setInputPresent(false);
        w.cmdRecord()->click();
        QVERIFY(!w.isRecording() && w.cmdRecord()->isEnabled());
        QCOMPARE(r.h.prompts.shown.last().text, r.h.texts.LoadText(1504));
        QCOMPARE(readWaveFileInfo(r.h.dir.file("03.wav")).lengthMs(), qint64(2000)); // kept
    }
};

QTEST_MAIN(tst_PromptRecorders)
#include "tst_PromptRecorders.moc"
