// The sound card's player, recorder and wave devices come from the sound module, loaded on
// first use; without it the program has no sound, and says why, instead of failing.
#include "platform/media/ModuleMedia.h"
#include "platform/wave/ModuleSoundCard.h"

#include <QTest>

using namespace telvox;

class tst_SoundModule : public QObject
{
    Q_OBJECT
private slots:
    void withoutTheModuleThereIsNoSound()
    {
        qputenv("TELVOX_MEDIA_MODULE", "/nonexistent/telvox-media.so");
        ModuleMediaDevice player;
        QVERIFY(!player.open(QString(TELVOX_SOURCE_DIR) + "/resources/prompts/greeting.wav"));
        QVERIFY2(player.lastError().contains("/nonexistent/telvox-media.so"), qPrintable(player.lastError()));
        QVERIFY(!player.isPlaying() && player.lengthMs() == 0);
        ModuleSoundRecorder recorder;
        QVERIFY(!recorder.start(RecordFormat{}) && !recorder.isRecording());
        ModuleSoundCard card;
        QVERIFY(!card.hasOutput(-1) && !card.hasInput(-1));
        std::unique_ptr<WaveOut> out;
        QCOMPARE(card.openOut(-1, PcmFormat{}, {}, out), WaveResult(MMSYSERR_NODRIVER));
        QVERIFY(!out);
    }

    // The module's player reads a wave file's length from its header at once.
    void theModulesPlayerOpensAWaveFile()
    {
        qputenv("TELVOX_MEDIA_MODULE", TELVOX_MEDIA_MODULE_FILE);
        ModuleMediaDevice player;
        QVERIFY2(player.open(QString(TELVOX_SOURCE_DIR) + "/resources/prompts/greeting.wav"),
                 qPrintable(player.lastError()));
        QVERIFY2(player.lengthMs() > 2000 && player.lengthMs() < 2400, qPrintable(QString::number(player.lengthMs())));
    }
};

QTEST_GUILESS_MAIN(tst_SoundModule)
#include "tst_SoundModule.moc"
