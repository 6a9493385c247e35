#include "core/VirtualEventLoop.h"
#include "platform/wave/PacedWaveDevices.h"

#include <QTest>

#include <cstring>

using namespace telvox;

namespace {

// Paced devices in virtual time: input 16 counts (sample n has the value n mod 32768), input 20
// too (holding 200 ms), output 32 keeps what it hears; the callbacks are counted.
struct Rig
{
    Rig()
    {
        paced.addInput(16, [this](std::span<std::int16_t> out) {
            for (auto &s : out)
                s = static_cast<std::int16_t>(counted++ % 32768);
        });
        paced.addInput(20, [this](std::span<std::int16_t> out) { // like 16, holding 200 ms
            for (auto &s : out)
                s = static_cast<std::int16_t>(countedHeld++ % 32768);
        }, 200);
        paced.addOutput(32, [this](std::span<const std::int16_t> s) { heard.insert(heard.end(), s.begin(), s.end()); });
        devices.addProvider(paced);
    }
    WaveCallback callback()
    {
        return [this](WaveMessage m) { ++(m == WaveMessage::Done ? done : m == WaveMessage::Close ? closed : opened); };
    }

    VirtualEventLoop loop;
    PacedWaveDevices paced{loop};
    WaveDevices devices;
    std::int64_t counted = 0, countedHeld = 0;
    std::vector<std::int16_t> heard;
    int done = 0, closed = 0, opened = 0;
};

} // namespace

class tst_WaveDevices : public QObject
{
    Q_OBJECT
private slots:
    // A buffer not queued in time loses the samples of that gap, as on a real device: the next
    // one continues with the line's clock. A device that holds 200 ms (as a driver does) loses
    // only what is older than that. (Order, pace and the close that ends a recording are
    // judged on whole recordings: tst_RecordingFaults, tst_CallEnds, tst_AudioEngine.)
    void captureGapIsLost_data()
    {
        QTest::addColumn<int>("device");
        QTest::addColumn<int>("firstAfterGap");
        QTest::newRow("nothing held") << 16 << 12000;
        QTest::newRow("200 ms held") << 20 << 12000 - 1600;
    }
    void captureGapIsLost()
    {
        QFETCH(int, device);
        QFETCH(int, firstAfterGap);
        Rig r;
        std::unique_ptr<WaveIn> in;
        QCOMPARE(r.devices.waveInOpen(device, PcmFormat{}, r.callback(), in), MMSYSERR_NOERROR);
        WaveBuffer b0, b1;
        b0.data.assign(16000, 0);
        b1.data.assign(16000, 0);
        QCOMPARE(in->addBuffer(b0), WAVERR_UNPREPARED);
        in->prepareHeader(b0);
        in->prepareHeader(b1);
        in->addBuffer(b0);
        QCOMPARE(in->start(), MMSYSERR_NOERROR);
        r.loop.advance(1500); // b0 is full after a second; the next half second finds no buffer
        QVERIFY(b0.done && !b0.queued);
        QCOMPARE(in->addBuffer(b1), MMSYSERR_NOERROR);
        r.loop.advance(500);
        QCOMPARE(in->reset(), MMSYSERR_NOERROR);
        QCOMPARE(r.done, 2);
        QCOMPARE(b1.bytesRecorded, 8000u + 2u * std::uint32_t(12000 - firstAfterGap));
        std::int16_t first = 0;
        std::memcpy(&first, b1.data.data(), 2);
        QCOMPARE(first, std::int16_t(firstAfterGap)); // sample n has the value n
    }

    void deviceRules()
    {
        Rig r;
        std::unique_ptr<WaveIn> in, second;
        std::unique_ptr<WaveOut> out;
        PcmFormat stereo;
        stereo.channels = 2;
        QCOMPARE(r.devices.waveInOpen(16, stereo, {}, in), WAVERR_BADFORMAT);
        QCOMPARE(r.devices.waveInOpen(17, PcmFormat{}, {}, in), MMSYSERR_BADDEVICEID);
        QCOMPARE(r.devices.waveInOpen(-1, PcmFormat{}, {}, in), MMSYSERR_NODRIVER); // no sound card here
        QCOMPARE(r.devices.waveOutOpen(16, PcmFormat{}, {}, out), MMSYSERR_BADDEVICEID);
        QCOMPARE(r.devices.waveInOpen(16, PcmFormat{}, {}, in), MMSYSERR_NOERROR);
        QCOMPARE(r.devices.waveInOpen(16, PcmFormat{}, {}, second), MMSYSERR_ALLOCATED);

        WaveBuffer b;
        b.data.assign(16000, 0);
        in->prepareHeader(b);
        in->addBuffer(b);
        QCOMPARE(in->unprepareHeader(b), WAVERR_STILLPLAYING);
        QCOMPARE(in->close(), WAVERR_STILLPLAYING); // a queued buffer must come back first
        in->reset();
        QCOMPARE(b.bytesRecorded, 0u); // never started: an empty buffer comes back
        QCOMPARE(in->close(), MMSYSERR_NOERROR);
        QCOMPARE(in->close(), MMSYSERR_INVALHANDLE);
        in.reset();
        QCOMPARE(r.devices.waveInOpen(16, PcmFormat{}, {}, second), MMSYSERR_NOERROR); // free again
    }

    // Reset stops a prompt early and returns its buffer. (That a prompt plays whole and at the
    // line's pace is judged by tst_AudioEngine's greeting and prompt tests.)
    void playbackResetReturnsTheBuffer()
    {
        Rig r;
        std::unique_ptr<WaveOut> out;
        QCOMPARE(r.devices.waveOutOpen(32, PcmFormat{}, r.callback(), out), MMSYSERR_NOERROR);
        WaveBuffer prompt;
        prompt.data.assign(2 * 18400, 1); // 2.3 seconds
        out->prepareHeader(prompt);
        QCOMPARE(out->write(prompt), MMSYSERR_NOERROR);
        r.loop.advance(500);
        QCOMPARE(r.done, 0);
        out->reset();
        QCOMPARE(r.done, 1);
        QVERIFY(r.heard.size() >= 3900 && r.heard.size() <= 4200);
        r.loop.advance(3000);
        QVERIFY(r.heard.size() <= 4200);
        QCOMPARE(out->close(), MMSYSERR_NOERROR);
    }
};

QTEST_GUILESS_MAIN(tst_WaveDevices)
#include "tst_WaveDevices.moc"
