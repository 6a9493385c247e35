// The stop-recording triggers on real analyser results: silence, the fast busy tone of the
// exchange after the caller hung up, and the answer of a dialled call after its ring-back.
#include "ToneQuality.h"
#include "audio/StopTriggers.h"
#include "sim/audio/SpeechLikeSource.h"
#include "sim/tones/ToneSource.h"
#include "platform/tonsig/Fbs.h"
#include "support/AudioHarness.h"

#include <QTest>

#include <random>

using namespace telvox;
using namespace telvox::test;

namespace {

struct Triggered : Harness
{
    explicit Triggered(StopTriggerOptions options)
        : triggers({lines, *engine, status, [] { return false; }}, options)
    {
        triggers.attach();
        lines.setTimerHandler(CallTimer::timDropCall, [this](int slot) {
            call(slot).dropDue();
            drops << slot;
        });
    }
    // The far end: `first` for `seconds`, then `then`.
    void farEnd(std::shared_ptr<sim::SampleSource> first, double seconds, std::shared_ptr<sim::SampleSource> then)
    {
        const auto switchAt = static_cast<std::int64_t>(seconds * 8000);
        speak = [this, first, then, switchAt](std::span<std::int16_t> out) {
            for (auto &s : out) {
                std::int16_t v = 0;
                (spoken < switchAt ? first : then)->read(std::span<std::int16_t>(&v, 1));
                s = v;
                ++spoken;
            }
        };
    }
    StopTriggers triggers;
    QList<int> drops;
};

std::shared_ptr<sim::SampleSource> silence()
{
    struct Silence : sim::SampleSource
    {
        void read(std::span<std::int16_t> out) override { std::fill(out.begin(), out.end(), 0); }
    };
    return std::make_shared<Silence>();
}

std::shared_ptr<sim::SampleSource> speech()
{
    return std::make_shared<sim::SpeechLikeSource>(3, sim::SpeechLikeSource::Voice::Low, -20.0);
}

std::shared_ptr<sim::SampleSource> tone(const char *country, sim::ToneKind kind)
{
    const sim::TonePlan *plan = sim::TonePlans::builtIn().find(country, kind);
    return std::make_shared<sim::ToneSource>(*plan, sim::ToneLevel::dbm0(-13));
}

// The busy counts (countA, countB) of a buffer.
std::pair<int, int> counts(std::span<const std::int16_t> buffer)
{
    std::int32_t a = 0, b = 0;
    tonsig::LevelProfile profile{};
    tonsig::Fbs(buffer, a, b, 100, tonsig::kFbsDefault, profile);
    return {a, b};
}

} // namespace

class tst_StopTriggers : public QObject
{
    Q_OBJECT
private slots:
    // Each trigger on a far end that talks, then falls silent or plays the reorder tone (every
    // country's busy and reorder tones are in the quality subset below and in tst_Fbs): the
    // recording runs on through the talk, stops with the sixth silent second or the third busy
    // buffer, keeps what it recorded, and the call is dropped half a second later; a trigger
    // switched off never stops it.
    void triggerEndsTheRecording_data()
    {
        QTest::addColumn<bool>("silenceOn");
        QTest::addColumn<bool>("busyOn");
        QTest::addColumn<bool>("reorderTone"); // else silence after the talk
        QTest::addColumn<int>("talkMs");
        QTest::addColumn<int>("runningMs"); // still recording then
        QTest::addColumn<int>("stopMs");    // stopped by then; 0: never
        QTest::addColumn<QString>("text");
        QTest::newRow("silence") << true << false << false << 4000 << 9500 << 10500 << "监测到静音，录音停止";
        QTest::newRow("silence, off") << false << true << false << 0 << 20000 << 0 << "";
        QTest::newRow("reorder tone") << false << true << true << 5000 << 5500 << 10500 << "监测到忙音，录音停止";
        QTest::newRow("reorder tone, off") << true << false << true << 5000 << 20000 << 0 << "";
    }
    void triggerEndsTheRecording()
    {
        QFETCH(bool, silenceOn);
        QFETCH(bool, busyOn);
        QFETCH(bool, reorderTone);
        QFETCH(int, talkMs);
        QFETCH(int, runningMs);
        QFETCH(int, stopMs);
        QFETCH(QString, text);
        StopTriggerOptions options;
        options.silence = silenceOn;
        options.fastBusy = busyOn;
        Triggered h(options);
        h.farEnd(speech(), talkMs / 1000.0, reorderTone ? tone("United States/Canada", sim::ToneKind::Congestion) : silence());
        h.startRecording(CallKind::Message, "123");
        h.loop.advance(runningMs);
        QCOMPARE(h.lines[0].recState, 1); // talk never looks like silence or a busy tone
        h.loop.advance(std::max(stopMs - runningMs, 0));
        QCOMPARE(h.lines[0].recState, stopMs ? 0 : 1);
        QCOMPARE(h.statusTexts().contains(text), stopMs != 0);
        QVERIFY(silenceOn || h.triggers.silenceRun(0) == 0); // switched off, silence is not even counted
        h.loop.advance(600);
        QCOMPARE(h.drops, stopMs ? QList<int>({0}) : QList<int>());
        h.loop.advance(3000);
        QCOMPARE(h.recordings().size(), stopMs ? 1 : 0); // what was recorded is kept
    }

    // Generated buffers straight into the triggers, around each limit of the busy stop: the
    // stop comes with the third buffer in a row whose two-buffer count ratio is near 1, not
    // with the second; a ratio just above 0.85 is near, one just below is not. Busy seconds
    // (every frame explained) alternate with short silent buffers of `silentFrames` frames, so
    // that every pair of buffers has the ratio 49 / (49 + silentFrames).
    void busyStopLimits_data()
    {
        QTest::addColumn<int>("silentFrames");
        QTest::addColumn<int>("stopAt"); // 1-based buffer of the stop, 0: none in six buffers
        QTest::newRow("ratio 1") << 0 << 3;
        QTest::newRow("ratio 0.860") << 8 << 3;
        QTest::newRow("ratio 0.845") << 9 << 0;
    }
    void busyStopLimits()
    {
        QFETCH(int, silentFrames);
        QFETCH(int, stopAt);
        StopTriggerOptions options;
        options.fastBusy = true;
        Triggered h(options);
        h.startRecording(CallKind::Message);
        std::vector<std::int16_t> busy(8000);
        tone("United States/Canada", sim::ToneKind::Busy)->read(busy);
        const std::vector<std::int16_t> quiet(std::size_t(320 + (silentFrames - 1) * 160), 0);
        QCOMPARE(counts(busy), std::make_pair(49, 49));
        if (silentFrames > 0)
            QCOMPARE(counts(quiet), std::make_pair(0, silentFrames));
        for (int n = 1; n <= 6; ++n) {
            const bool tonePart = silentFrames == 0 || n % 2 == 1;
            h.triggers.analyse(0, tonePart ? std::span<const std::int16_t>(busy) : std::span<const std::int16_t>(quiet));
            QCOMPARE(h.lines[0].recState, stopAt != 0 && n >= stopAt ? 0 : 1);
            if (h.lines[0].recState == 0)
                break;
        }
        QCOMPARE(h.statusTexts().contains("监测到忙音，录音停止"), stopAt != 0);
    }

    // A fixed part of the quality sets (see bench/tonsig): dialled calls that ring back, then
    // talk or only say "hello?"; dialled calls to a busy number and conversations that end in
    // the busy or reorder tone; a minute of talk; all over noisy lines. Every target holds.
    void qualityOnAFixedSubsetOfTheGeneratedCalls()
    {
        std::string error;
        const auto speech = quality::SpeechSet::load(TELVOX_SPEECH_SET_DIR, &error);
        QVERIFY2(speech, error.c_str());
        quality::Options options;
        options.countries = {"United States/Canada", "United Kingdom", "China", "Japan", "Australia", "India", "Germany"};
        options.conditions = {"noise 10 dB", "jitter, offset, G.711, noise 10 dB", "weaker bursts, noise 15 dB"};
        options.trials = 1;
        options.speechSeconds = 60;
        const quality::Report report = quality::run(*speech, options);
        QCOMPARE(report.total.ringCalls, 14);
        QCOMPARE(report.total.busyCalls, 2 * 2 * 2 * 7 + 2);
        QVERIFY(report.total.talkSeconds >= 60);
        std::string missed;
        for (const std::string &m : report.missedTargets())
            missed += m + "; ";
        QVERIFY2(missed.empty(), missed.c_str());
    }
};

QTEST_GUILESS_MAIN(tst_StopTriggers)
#include "tst_StopTriggers.moc"
