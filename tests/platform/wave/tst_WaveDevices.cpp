#include "core/VirtualEventLoop.h"
#include "platform/wave/PacedWaveDevices.h"

#include <QTest>

#include <cstring>
#include <numeric>

using namespace telvox;

namespace {

// A source that counts: sample n has the value n (mod 32768).
struct CountingSource
{
    std::int64_t next = 0;
    void operator()(std::span<std::int16_t> out)
    {
        for (auto &s : out)
            s = static_cast<std::int16_t>(next++ % 32768);
    }
};

std::int16_t sampleAt(const WaveBuffer &b, std::size_t i)
{
    std::int16_t s;
    std::memcpy(&s, b.data.data() + 2 * i, 2);
    return s;
}

struct Flags
{
    int done = 0;
    int closed = 0;
    int opened = 0;
    WaveCallback callback()
    {
        return [this](WaveMessage m) {
            if (m == WaveMessage::Done)
                ++done;
            else if (m == WaveMessage::Close)
                ++closed;
            else
                ++opened;
        };
    }
};

} // namespace

class tst_WaveDevices : public QObject
{
    Q_OBJECT
private slots:
    void captureReturnsOneSecondBuffersInOrder()
    {
        VirtualEventLoop loop;
        PacedWaveDevices paced(loop);
        CountingSource source;
        paced.addInput(16, [&](std::span<std::int16_t> s) { source(s); });
        WaveDevices devices;
        devices.addProvider(paced);

        Flags flags;
        std::unique_ptr<WaveIn> in;
        QCOMPARE(devices.waveInOpen(16, PcmFormat{}, flags.callback(), in), MMSYSERR_NOERROR);
        QCOMPARE(flags.opened, 1);
        WaveBuffer b0, b1;
        b0.data.assign(16000, 0);
        b1.data.assign(16000, 0);
        QCOMPARE(in->addBuffer(b0), WAVERR_UNPREPARED);
        QCOMPARE(in->prepareHeader(b0), MMSYSERR_NOERROR);
        QCOMPARE(in->prepareHeader(b1), MMSYSERR_NOERROR);
        QCOMPARE(in->addBuffer(b0), MMSYSERR_NOERROR);
        QCOMPARE(in->start(), MMSYSERR_NOERROR);
        loop.advance(999);
        QCOMPARE(flags.done, 0);
        loop.advance(21);
        QCOMPARE(flags.done, 1);
        QVERIFY(b0.done && !b0.queued);
        QCOMPARE(b0.bytesRecorded, 16000u);
        QCOMPARE(sampleAt(b0, 0), std::int16_t(0));
        QCOMPARE(sampleAt(b0, 7999), std::int16_t(7999));

        // The other buffer was not queued in time: the samples of that gap are lost, as on a
        // real device; the next buffer continues with the line's clock.
        QCOMPARE(in->addBuffer(b1), MMSYSERR_NOERROR);
        loop.advance(480); // half a second, then stop
        QCOMPARE(in->reset(), MMSYSERR_NOERROR);
        QCOMPARE(flags.done, 2);
        QCOMPARE(b1.bytesRecorded, 2u * (8 * 1500 - 8160));
        QCOMPARE(sampleAt(b1, 0), std::int16_t(8160));
        QCOMPARE(in->unprepareHeader(b0), MMSYSERR_NOERROR);
        QCOMPARE(in->close(), MMSYSERR_NOERROR);
        QCOMPARE(flags.closed, 1);
    }

    void deviceRules()
    {
        VirtualEventLoop loop;
        PacedWaveDevices paced(loop);
        paced.addInput(16, [](std::span<std::int16_t> s) { std::fill(s.begin(), s.end(), 0); });
        paced.addOutput(32, [](std::span<const std::int16_t>) {});
        WaveDevices devices;
        devices.addProvider(paced);
        std::unique_ptr<WaveIn> in, second;
        std::unique_ptr<WaveOut> out;
        PcmFormat stereo;
        stereo.channels = 2;
        QCOMPARE(devices.waveInOpen(16, stereo, {}, in), WAVERR_BADFORMAT);
        QCOMPARE(devices.waveInOpen(17, PcmFormat{}, {}, in), MMSYSERR_BADDEVICEID);
        QCOMPARE(devices.waveInOpen(-1, PcmFormat{}, {}, in), MMSYSERR_NODRIVER); // no sound card here
        QCOMPARE(devices.waveOutOpen(16, PcmFormat{}, {}, out), MMSYSERR_BADDEVICEID);
        QCOMPARE(devices.waveInOpen(16, PcmFormat{}, {}, in), MMSYSERR_NOERROR);
        QCOMPARE(devices.waveInOpen(16, PcmFormat{}, {}, second), MMSYSERR_ALLOCATED);

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
        QCOMPARE(devices.waveInOpen(16, PcmFormat{}, {}, second), MMSYSERR_NOERROR); // free again
    }

    void playbackIsPacedAndComplete()
    {
        VirtualEventLoop loop;
        PacedWaveDevices paced(loop);
        std::vector<std::int16_t> heard;
        paced.addOutput(32, [&](std::span<const std::int16_t> s) { heard.insert(heard.end(), s.begin(), s.end()); });
        WaveDevices devices;
        devices.addProvider(paced);
        Flags flags;
        std::unique_ptr<WaveOut> out;
        QCOMPARE(devices.waveOutOpen(32, PcmFormat{}, flags.callback(), out), MMSYSERR_NOERROR);
        // A 2.3-second prompt.
        WaveBuffer prompt;
        std::vector<std::int16_t> samples(18400);
        std::iota(samples.begin(), samples.end(), std::int16_t(1));
        prompt.data.resize(samples.size() * 2);
        std::memcpy(prompt.data.data(), samples.data(), prompt.data.size());
        out->prepareHeader(prompt);
        QCOMPARE(out->write(prompt), MMSYSERR_NOERROR);
        loop.advance(2280);
        QCOMPARE(flags.done, 0);
        QVERIFY(heard.size() < samples.size());
        loop.advance(40);
        QCOMPARE(flags.done, 1);
        QCOMPARE(heard, samples);
        QCOMPARE(out->close(), MMSYSERR_NOERROR);

        // Reset stops a prompt early and returns its buffer.
        std::unique_ptr<WaveOut> again;
        QCOMPARE(devices.waveOutOpen(32, PcmFormat{}, flags.callback(), again), MMSYSERR_NOERROR);
        heard.clear();
        again->prepareHeader(prompt);
        again->write(prompt);
        loop.advance(500);
        again->reset();
        QCOMPARE(flags.done, 2);
        QVERIFY(heard.size() >= 3900 && heard.size() <= 4200);
        loop.advance(3000);
        QVERIFY(heard.size() <= 4200);
    }
};

QTEST_GUILESS_MAIN(tst_WaveDevices)
#include "tst_WaveDevices.moc"
