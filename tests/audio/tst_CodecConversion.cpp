#include "audio/AudioEngine.h"
#include "audio/CodecConversion.h"
#include "core/MainTimers.h"
#include "core/QtEventLoop.h"
#include "core/Settings.h"
#include "core/Texts.h"
#include "records/MessageLists.h"
#include "records/StatusLog.h"
#include "sim/exchange/VirtualExchange.h"
#include "support/FakeShell.h"
#include "support/Files.h"
#include "telephony/LineTable.h"

#include <QDir>
#include <QTest>

#include <cmath>

using namespace telvox;
using namespace telvox::codec;

namespace {

// A driver that only announces a name and converts nothing.
class NamedDriver final : public AcmDriver
{
public:
    explicit NamedDriver(std::u16string name)
        : m_name(std::move(name))
    {
    }
    AcmDriverDetails details() const override
    {
        AcmDriverDetails d;
        for (std::size_t i = 0; i < m_name.size() && i + 1 < d.szShortName.size(); ++i)
            d.szShortName[i] = m_name[i];
        d.fdwSupport = ACMDRIVERDETAILS_SUPPORTF_CODEC;
        return d;
    }
    MmResult supports(const WaveFormat &, const WaveFormat &) const override { return ACMERR_NOTPOSSIBLE; }
    std::unique_ptr<AcmDriverStream> openStream(const WaveFormat &, const WaveFormat &) override { return nullptr; }

private:
    std::u16string m_name;
};

std::vector<std::uint8_t> toneSecond(int second)
{
    std::vector<std::uint8_t> bytes(16000);
    for (int i = 0; i < 8000; ++i) {
        const auto s = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 300 * (second * 8000 + i) / 8000.0));
        bytes[2 * i] = static_cast<std::uint8_t>(s & 0xff);
        bytes[2 * i + 1] = static_cast<std::uint8_t>((s >> 8) & 0xff);
    }
    return bytes;
}

// A line input that records only when fed: the inline and the threaded run capture the same.
struct FedInput final : WaveDeviceProvider
{
    struct In final : WaveIn
    {
        In(FedInput &input, WaveCallback callback) : queue(std::move(callback)), owner(input) { owner.open = this; }
        ~In() override { owner.open = nullptr; }
        WaveResult addBuffer(WaveBuffer &b) override { return queue.add(b); }
        WaveResult start() override { return telvox::MMSYSERR_NOERROR; }
        WaveResult reset() override { queue.returnAll(); return telvox::MMSYSERR_NOERROR; }
        WaveResult close() override { queue.notify(WaveMessage::Close); return telvox::MMSYSERR_NOERROR; }
        WaveBufferQueue queue;
        FedInput &owner;
    };
    bool hasInput(int) const override { return true; }
    bool hasOutput(int) const override { return false; }
    WaveResult openIn(int, const PcmFormat &, WaveCallback callback, std::unique_ptr<WaveIn> &device) override
    {
        device = std::make_unique<In>(*this, std::move(callback));
        return telvox::MMSYSERR_NOERROR;
    }
    WaveResult openOut(int, const PcmFormat &, WaveCallback, std::unique_ptr<WaveOut> &) override { return telvox::MMSYSERR_BADDEVICEID; }
    void feed(int samples)
    {
        std::vector<std::int16_t> v(std::size_t(samples), 0);
        for (auto &s : v) { // a chirp with a slow swell: nothing repeats from one second to the next
            const double t = double(next++);
            s = std::int16_t(9000 * std::sin(0.0001 * t * t / 8000.0) * std::sin(t / 9000.0));
        }
        open->queue.fill(v);
    }
    In *open = nullptr;
    std::int64_t next = 0;
};

// Line 0's call captures through the audio engine on the program's own event loop, driven step
// by step: "start:NAME", "sec:N" seconds of audio, "part:N" samples into the buffer at the
// device, "hangup" (the device returns it and closes), "write" (the write timer's two ticks),
// "quit" (finishRecordingsNow), "abandon". Returns the recordings, each name then its bytes.
QStringList recordWithConversion(bool threaded, const QString &script)
{
    test::ScratchDir dir;
    QDir().mkpath(dir.file("rec"));
    QtEventLoop loop;
    StringTable table;
    table.loadBuiltIn();
    Texts texts{table, 0};
    SettingsStore settings{dir.file("telvox.ini"), dir.file("settings.txt")};
    StatusListModel statusList;
    StatusLog status{loop, dir.path(), statusList};
    MainTimers timers{loop};
    test::ScriptedPrompts prompts;
    MessageLists lists{settings};
    LineTable lines;
    VirtualExchange exchange{loop, ExchangeSetup{}};
    FedInput input;
    WaveDevices devices;
    devices.addProvider(input);
    AudioCompressionManager manager;
    manager.addDriver(makeTrueSpeechDriver());
    CodecConversion conversion{manager, prompts};
    conversion.EnumerateCodecs();
    AudioEngine engine({loop, lines, exchange, devices, conversion, lists, status, texts, prompts, timers},
                       {dir.path(), dir.file("rec") + "/", dir.file("rec") + "/", QString()}, OutputFormat::TrueSpeech);
    engine.setThreadedConversion(threaded);
    for (const QString &step : script.split(' ')) {
        const QString arg = step.section(':', 1);
        if (step.startsWith("start:")) {
            engine.StartCapture(1, arg, 0);
            lines[0].recState = 1;
        } else if (step.startsWith("sec:") || step.startsWith("part:")) {
            for (int i = 0; step.startsWith("sec:") && i < arg.toInt(); ++i) {
                input.feed(8000);
                engine.timChangeBuffer_Timer(0);
            }
            if (step.startsWith("part:"))
                input.feed(arg.toInt());
        } else if (step == "hangup") {
            lines[0].recState = 0;
            engine.waveInReset(0);
            engine.timChangeBuffer_Timer(0);
        } else if (step == "write") {
            engine.timWriteFile_Timer(0);
            engine.timWriteFile_Timer(0);
        } else if (step == "quit") {
            engine.finishRecordingsNow();
        } else if (step == "abandon") {
            engine.abandonCapture(0);
        }
    }
    QStringList out;
    for (const QString &name : QDir(dir.file("rec")).entryList(QDir::Files | QDir::Hidden))
        out << name << QString::fromLatin1(test::readAll(dir.file("rec/" + name)).toHex());
    return out;
}

} // namespace

class tst_CodecConversion : public QObject
{
    Q_OBJECT
private slots:
    void findsTheFirstTrueSpeechDriverInItsShortName()
    {
        AudioCompressionManager manager;
        manager.addDriver(std::make_unique<NamedDriver>(u"MS-ADPCM"));
        manager.addDriver(std::make_unique<NamedDriver>(u"Sixteen chars xxTrueSpeech")); // only after char 16
        const HAcmDriverId disabled = manager.addDriver(std::make_unique<NamedDriver>(u"my truespeech"), false);
        manager.addDriver(makeTrueSpeechDriver());
        test::ScriptedPrompts prompts;
        CodecConversion conversion(manager, prompts);
        conversion.EnumerateCodecs();
        QCOMPARE(conversion.trueSpeechDriverId(), disabled); // disabled drivers are listed too
        QVERIFY(prompts.shown.isEmpty());
    }

    void convertsOneSecondBuffersWithoutGaps()
    {
        AudioCompressionManager manager;
        manager.addDriver(makeTrueSpeechDriver());
        test::ScriptedPrompts prompts;
        CodecConversion conversion(manager, prompts);
        conversion.EnumerateCodecs();
        for (int i = 0; i < 3; ++i) // reopening a slot closes its old conversion silently
            conversion.OpenConversion(2);
        QVERIFY(prompts.shown.isEmpty());
        QVERIFY(conversion.isOpen(2));
        std::size_t total = 0;
        for (int second = 0; second < 3; ++second) {
            const auto pcm = toneSecond(second);
            QVERIFY(conversion.ConvertBuffer(2, pcm));
            QVERIFY(conversion.conversionOk());
            const auto out = conversion.convertedOutput(2);
            QVERIFY(out.size() % 32 == 0 && out.size() >= 32 * 33 && out.size() <= 32 * 34);
            total += out.size();
            conversion.releaseOutput(2);
            QVERIFY(conversion.convertedOutput(2).empty());
        }
        QVERIFY(total >= 32 * 99); // 24000 samples make 100 frames; a frame's worth may wait
        QVERIFY(!conversion.ConvertBuffer(2, {})); // an empty buffer is never converted
        QVERIFY(!conversion.conversionOk());
        conversion.CloseConversion(2);
        conversion.CloseConversion(2); // closing twice raises nothing
        QVERIFY(!conversion.isOpen(2));
        QVERIFY(prompts.shown.isEmpty());
    }

    // Conversion on the worker thread makes the same bytes as inline, also when the recording
    // ends while its last buffers are still being converted: every end waits for them.
    void theWorkerThreadRecordsWhatInlineConversionDoes_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("files");
        QTest::newRow("hang-up") << "start:A sec:9 part:3000 hangup write" << 1;
        QTest::newRow("quit during the call") << "start:A sec:9 part:2500 quit" << 1;
        QTest::newRow("abandoned, then the next call") << "start:A sec:5 abandon start:B sec:9 part:100 hangup write" << 1;
        QTest::newRow("next call before the write") << "start:A sec:9 part:3000 hangup start:B sec:9 hangup write" << 2;
    }
    void theWorkerThreadRecordsWhatInlineConversionDoes()
    {
        QFETCH(QString, script);
        QFETCH(int, files);
        const QStringList inlined = recordWithConversion(false, script);
        QCOMPARE(inlined.size(), 2 * files);
        for (int i = 1; i < inlined.size(); i += 2) // 90 bytes of header, then 32-byte frames
            QVERIFY((inlined[i].size() / 2 - 90) % 32 == 0 && inlined[i].size() / 2 > 90 + 240 * 32);
        QCOMPARE(recordWithConversion(true, script), inlined);
    }

    void errorsShowPrefixAndUpperCaseHex()
    {
        AudioCompressionManager manager;
        manager.addDriver(std::make_unique<NamedDriver>(u"MS-ADPCM"));
        test::ScriptedPrompts prompts;
        CodecConversion conversion(manager, prompts);
        conversion.EnumerateCodecs();
        QCOMPARE(conversion.trueSpeechDriverId(), HAcmDriverId{});
        conversion.OpenConversion(0);
        QCOMPARE(prompts.shown.size(), 2);
        QVERIFY(prompts.shown[0].text.startsWith("TrueSpeech Driver Open  Error: "));
        QCOMPARE(prompts.shown[0].icon, MessageIcon::Critical);
        QCOMPARE(prompts.shown[0].title, QString("Telvox"));
        QCOMPARE(prompts.shown[1].text, QString("Stream Open Error: 200")); // ACMERR_NOTPOSSIBLE = 512
        // Nothing opened, so closing raises nothing; every buffer is dropped.
        QVERIFY(!conversion.ConvertBuffer(0, toneSecond(0)));
        conversion.CloseConversion(0);
        QCOMPARE(prompts.shown.size(), 2);
    }
};

QTEST_GUILESS_MAIN(tst_CodecConversion)
#include "tst_CodecConversion.moc"
