#pragma once

// The voice-modem backend on one scripted modem (ScriptedModem.h) in virtual time, with an
// application on top that records every line event.
#include "ScriptedModem.h"

#include "core/VirtualEventLoop.h"
#include "platform/telephony/modem/ModemTelephony.h"
#include "platform/telephony/modem/VoiceFormat.h"

#include <QTest>

#include <deque>

namespace telvox::test {

struct Event
{
    std::int64_t at;
    std::uint32_t device, message, p1, p2, p3;
};

inline ChipTable chipByName(const QString &name)
{
    if (name == QLatin1String("usr"))
        return usrChip();
    if (name == QLatin1String("agere"))
        return agereChip();
    if (name == QLatin1String("rockwell"))
        return rockwellChip();
    return conexantChip();
}

inline QByteArray samplesAsBytes(modem::VoiceEncoding encoding, const std::vector<std::int16_t> &samples)
{
    QByteArray raw;
    modem::encodeSamples(encoding, samples, raw);
    return raw;
}

struct Rig
{
    explicit Rig(ChipTable chip, modem::LineOptions options = {})
    {
        modem::ModemPort entry;
        entry.portName = QStringLiteral("/dev/ttyACM0");
        entry.options = std::move(options);
        entry.opener = [this, chip](modem::PortOpenError &) -> std::unique_ptr<QIODevice> {
            auto m = std::make_unique<ScriptedModem>(loop, chip);
            m->open(QIODevice::ReadWrite);
            modem = m.get();
            ++opens;
            return m;
        };
        std::vector<modem::ModemPort> portList;
        portList.push_back(std::move(entry));
        service = std::make_unique<modem::ModemTelephony>(loop, std::move(portList));
        service->setStatusHandler([this](const modem::ModemNotice &n) { statuses << n.english(); });
        service->start();
        loop.advanceUntil([this] { return service->line(0).ready(); }, 5000);
        std::uint32_t count = 0;
        service->lineInitialize(
            app,
            [this](std::uint32_t d, std::uint32_t m, std::uintptr_t, std::uint32_t a, std::uint32_t b, std::uint32_t c) {
                events.push_back({loop.now(), d, m, a, b, c});
            },
            QStringLiteral("test"), count);
        service->lineOpen(app, 0, line, 0x20002, 0, 0, 6, MediaMode::InteractiveVoice);
        service->lineSetStatusMessages(line, kLineDevStateRinging, 0);
    }

    modem::ModemLine &modemLine() { return service->line(0); }
    std::vector<Event> take(std::uint32_t message) const
    {
        std::vector<Event> out;
        for (const Event &e : events) {
            if (e.message == message)
                out.push_back(e);
        }
        return out;
    }
    int count(std::uint32_t message, std::uint32_t p1) const
    {
        int n = 0;
        for (const Event &e : take(message))
            n += e.p1 == p1;
        return n;
    }
    bool hasCallState(std::uint32_t state) const { return count(LINE_CALLSTATE, state) > 0; }
    std::uint32_t lastCallState() const { return take(LINE_CALLSTATE).back().p1; }
    QString digits() const
    {
        QString out;
        for (const Event &e : take(LINE_MONITORDIGITS))
            out += QChar(char(e.p1));
        return out;
    }
    void settle(std::int64_t ms = 50) { loop.advance(ms); }
    // Commands sent since `from`.
    QList<QByteArray> commandsSince(qsizetype from) const { return modem->commands.mid(from); }

    // An incoming call rung once and answered; returns the call handle.
    HCall answeredCall()
    {
        modem->push("\r\nRING\r\n");
        settle();
        const HCall call = modemLine().hCall();
        service->lineAnswer(call);
        loop.advanceUntil([this] { return hasCallState(LineCallState::Connected); }, 3000);
        return call;
    }
    void dropCall(HCall call)
    {
        service->lineDrop(call);
        settle(300);
        service->lineDeallocateCall(call);
    }

    // The line's audio recorded into `buffers` buffers of `bytes` each (none: the capture
    // runs without buffers, as when only the modem's state matters).
    void record(int buffers = 0, int bytes = 16000)
    {
        service->openIn(modem::ModemTelephony::kWaveDeviceBase, PcmFormat{}, {}, in);
        for (int i = 0; i < buffers; ++i) {
            WaveBuffer &b = recorded.emplace_back();
            b.data.resize(std::size_t(bytes));
            in->prepareHeader(b);
            in->addBuffer(b);
        }
        in->start();
        settle();
    }

    VirtualEventLoop loop;
    ScriptedModem *modem = nullptr;
    int opens = 0;
    std::unique_ptr<modem::ModemTelephony> service;
    std::vector<Event> events;
    QStringList statuses;
    HLineApp app = 0;
    HLine line = 0;
    std::deque<WaveBuffer> recorded;
    std::unique_ptr<WaveIn> in;
};

} // namespace telvox::test
