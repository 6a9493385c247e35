#include "platform/wave/QtAudioDevices.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QAudioSource>
#include <QMediaDevices>
#include <QTimer>

#include <deque>
#include <optional>

namespace telvox {

namespace {

QAudioFormat toQt(const PcmFormat &f)
{
    QAudioFormat q;
    q.setSampleRate(static_cast<int>(f.samplesPerSec));
    q.setChannelCount(f.channels);
    q.setSampleFormat(f.bitsPerSample == 8 ? QAudioFormat::UInt8 : QAudioFormat::Int16);
    return q;
}

bool supported(const PcmFormat &f)
{
    return f.formatTag == 1 && f.channels >= 1 && f.channels <= 2 && f.samplesPerSec >= 4000
        && f.samplesPerSec <= 48000 && (f.bitsPerSample == 8 || f.bitsPerSample == 16);
}

std::optional<QAudioDevice> pick(const QList<QAudioDevice> &all, const QAudioDevice &fallback, int id)
{
    if (id == -1)
        return fallback.isNull() ? std::nullopt : std::optional<QAudioDevice>(fallback);
    if (id < 0 || id >= all.size())
        return std::nullopt;
    return all.at(id);
}

class QtIn final : public WaveIn
{
public:
    QtIn(const QAudioDevice &device, const PcmFormat &format, WaveCallback callback)
        : m_source(device, toQt(format))
        , m_queue(std::move(callback))
    {
    }
    ~QtIn() override { m_source.stop(); }

    WaveResult addBuffer(WaveBuffer &b) override { return m_queue.add(b); }
    WaveResult start() override
    {
        if (m_io)
            return MMSYSERR_NOERROR;
        m_io = m_source.start();
        if (!m_io)
            return MMSYSERR_ERROR;
        QObject::connect(m_io, &QIODevice::readyRead, [this] { drain(); });
        return MMSYSERR_NOERROR;
    }
    WaveResult reset() override
    {
        drain();
        m_source.stop();
        m_io = nullptr;
        m_queue.returnAll();
        return MMSYSERR_NOERROR;
    }
    WaveResult close() override
    {
        if (!m_queue.empty())
            return WAVERR_STILLPLAYING;
        m_source.stop();
        m_io = nullptr;
        m_queue.notify(WaveMessage::Close);
        return MMSYSERR_NOERROR;
    }

private:
    void drain()
    {
        while (m_io && !m_queue.empty()) {
            WaveBuffer &b = m_queue.head();
            const qint64 got = m_io->read(b.data.data() + b.bytesRecorded, qint64(b.data.size()) - b.bytesRecorded);
            if (got <= 0)
                break;
            b.bytesRecorded += static_cast<std::uint32_t>(got);
            if (b.bytesRecorded >= b.data.size())
                m_queue.returnHead();
        }
    }

    QAudioSource m_source;
    QIODevice *m_io = nullptr;
    WaveBufferQueue m_queue;
};

class QtOut final : public WaveOut
{
public:
    QtOut(const QAudioDevice &device, const PcmFormat &format, WaveCallback callback)
        : m_sink(device, toQt(format))
        , m_bytesPerSecond(format.bytesPerSecond())
        , m_queue(std::move(callback))
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { pump(); });
    }
    ~QtOut() override { m_sink.stop(); }

    WaveResult write(WaveBuffer &b) override
    {
        if (const WaveResult r = m_queue.add(b); r != MMSYSERR_NOERROR)
            return r;
        m_endsAt.push_back(0);
        if (!m_io) {
            m_io = m_sink.start();
            if (!m_io)
                return MMSYSERR_ERROR;
        }
        m_timer.start();
        pump();
        return MMSYSERR_NOERROR;
    }
    WaveResult reset() override
    {
        m_timer.stop();
        m_sink.stop();
        m_io = nullptr;
        m_written = 0;
        m_fed = 0; // the next buffer starts from its first byte
        m_endsAt.clear();
        m_queue.returnAll();
        return MMSYSERR_NOERROR;
    }
    WaveResult close() override
    {
        if (!m_queue.empty())
            return WAVERR_STILLPLAYING;
        m_timer.stop();
        m_sink.stop();
        m_io = nullptr;
        m_queue.notify(WaveMessage::Close);
        return MMSYSERR_NOERROR;
    }

private:
    // Feeds the sink as far as it has room; a buffer comes back once the sink has played it.
    void pump()
    {
        if (!m_io)
            return;
        for (std::size_t i = 0; i < m_endsAt.size(); ++i) {
            if (m_endsAt[i] > 0)
                continue;
            WaveBuffer &b = m_queue.at(i);
            const qint64 offset = m_fed;
            const qint64 free = m_sink.bytesFree();
            if (free <= 0)
                break;
            const qint64 n = std::min<qint64>(free, qint64(b.data.size()) - offset);
            const qint64 put = m_io->write(b.data.data() + offset, n);
            if (put <= 0)
                break;
            m_fed += put;
            m_written += put;
            if (m_fed < qint64(b.data.size()))
                break;
            m_fed = 0;
            m_endsAt[i] = m_written;
        }
        const qint64 played = m_sink.processedUSecs() * m_bytesPerSecond / 1000000;
        while (!m_endsAt.empty() && m_endsAt.front() > 0 && played >= m_endsAt.front()) {
            m_endsAt.pop_front();
            m_queue.returnHead();
        }
        if (m_queue.empty())
            m_timer.stop();
    }

    QAudioSink m_sink;
    QIODevice *m_io = nullptr;
    QTimer m_timer;
    qint64 m_bytesPerSecond;
    qint64 m_fed = 0;     // bytes of the current buffer already written
    qint64 m_written = 0; // bytes written since start
    WaveBufferQueue m_queue;
    // Per queued buffer: the total bytes written when its last byte went to the sink (0: not yet).
    std::deque<qint64> m_endsAt;
};

} // namespace

bool QtAudioDevices::hasInput(int deviceId) const
{
    return deviceId >= 0 && deviceId < kMaxDevices && deviceId < QMediaDevices::audioInputs().size();
}

bool QtAudioDevices::hasOutput(int deviceId) const
{
    return deviceId >= 0 && deviceId < kMaxDevices && deviceId < QMediaDevices::audioOutputs().size();
}

WaveResult QtAudioDevices::openIn(int deviceId, const PcmFormat &format, WaveCallback callback,
                                  std::unique_ptr<WaveIn> &device)
{
    const auto qtDevice = pick(QMediaDevices::audioInputs(), QMediaDevices::defaultAudioInput(), deviceId);
    if (!qtDevice)
        return deviceId == -1 ? MMSYSERR_NODRIVER : MMSYSERR_BADDEVICEID;
    if (!supported(format))
        return WAVERR_BADFORMAT;
    device = std::make_unique<QtIn>(*qtDevice, format, callback);
    if (callback)
        callback(WaveMessage::Open);
    return MMSYSERR_NOERROR;
}

WaveResult QtAudioDevices::openOut(int deviceId, const PcmFormat &format, WaveCallback callback,
                                   std::unique_ptr<WaveOut> &device)
{
    const auto qtDevice = pick(QMediaDevices::audioOutputs(), QMediaDevices::defaultAudioOutput(), deviceId);
    if (!qtDevice)
        return deviceId == -1 ? MMSYSERR_NODRIVER : MMSYSERR_BADDEVICEID;
    if (!supported(format))
        return WAVERR_BADFORMAT;
    device = std::make_unique<QtOut>(*qtDevice, format, callback);
    if (callback)
        callback(WaveMessage::Open);
    return MMSYSERR_NOERROR;
}

} // namespace telvox
