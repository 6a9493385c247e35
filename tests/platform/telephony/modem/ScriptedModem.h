#pragma once

// A modem that answers from a table: what each command gets back, as a real chip answers it.
// Replies are delivered through the event loop (never from inside the write), and voice data
// states are followed so that the stream codes of the computer get their answers.
#include "core/VirtualEventLoop.h"
#include "support/LineEvents.h"
#include "platform/telephony/modem/DleCodec.h"
#include "platform/telephony/modem/ModemTelephony.h"
#include "platform/telephony/modem/VoiceFormat.h"

#include <QIODevice>
#include <QList>
#include <QMap>
#include <QTest>

#include <cstring>
#include <deque>
#include <functional>
#include <memory>

namespace telvox::test {

struct ChipTable
{
    QMap<QByteArray, QByteArray> replies; // command (without CR) -> reply text before the result
    QList<QByteArray> refused;            // commands answered with ERROR
    int defaultVit = 0;                   // inactivity timer (s) until AT+VIT changes it
    bool streamingAtOpen = false;         // left in voice receive by an earlier program
};

class ScriptedModem final : public QIODevice
{
public:
    ScriptedModem(EventLoop &loop, ChipTable table)
        : m_loop(loop)
        , m_table(std::move(table))
        , m_vit(m_table.defaultVit)
    {
        m_streamTimer = loop.createTimer(20, [this] { streamTick(); });
        m_lastDteAt = loop.now();
        if (m_table.streamingAtOpen) {
            m_state = 1;
            setAutoStream(true);
        }
    }

    // In voice receive, sends `streamChunk` every 20 ms by itself, as a chip does, and leaves
    // voice mode (<DLE><ETX>, back to data class) when its inactivity timer runs out.
    void setAutoStream(bool on) { m_streamTimer->setEnabled(on); }
    bool receiving() const { return m_state == 1; }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_in.size() + QIODevice::bytesAvailable(); }

    // Bytes from the modem, delivered now.
    void push(const QByteArray &bytes)
    {
        m_in += bytes;
        emit readyRead();
    }

    QList<QByteArray> commands;      // every command line received
    QByteArray streamed;             // bytes received in voice transmit state
    bool mute = false;               // answers nothing at all
    bool dropEtx = false;            // ends receive with OK only
    QByteArray noiseBeforeReply;     // sent in front of each reply
    std::function<QByteArray(const QByteArray &)> answer; // a non-empty result replaces the table
    QByteArray streamChunk = QByteArray(160, '\x55'); // 20 ms of audio, unshielded
    bool leftVoiceMode = false;      // the inactivity timer ran out
    // Voice receive ended by the modem itself (<DLE><ETX>, then OK unless `leaveWithoutOk`)
    // this long after each CONNECT, `leaveTimes` times (-1: every time); then AT+VRX is
    // refused when `refuseReceiveAfterLeaving`.
    int leaveReceiveAfterMs = 0;
    int leaveTimes = 0;
    QByteArray leavePrefix; // sent before the <DLE><ETX> (a line event)
    bool leaveWithoutOk = false;
    bool refuseReceiveAfterLeaving = false;
    int receiveLeft = 0;

    ~ScriptedModem() override { *m_alive = false; }

protected:
    qint64 readData(char *data, qint64 max) override
    {
        const qint64 n = std::min<qint64>(max, m_in.size());
        std::memcpy(data, m_in.constData(), static_cast<size_t>(n));
        m_in.remove(0, n);
        return n;
    }
    qint64 writeData(const char *data, qint64 len) override
    {
        if (len > 0)
            m_lastDteAt = m_loop.now();
        for (qint64 i = 0; i < len; ++i)
            take(data[i]);
        return len;
    }

private:
    void take(char c)
    {
        if (m_state != 0) {
            if (m_afterDle) {
                m_afterDle = false;
                if (c == modem::kDle) {
                    if (m_state == 2)
                        streamed += c;
                } else {
                    streamCode(c);
                }
            } else if (c == modem::kDle) {
                m_afterDle = true;
            } else if (m_state == 2) {
                streamed += c;
            }
            return;
        }
        if (m_commandDle) {
            m_commandDle = false; // a stream code after the stream: ignored
            return;
        }
        if (c == modem::kDle) {
            m_commandDle = true;
            return;
        }
        if (c != '\r') {
            m_line += c;
            return;
        }
        const QByteArray command = m_line;
        m_line.clear();
        commands << command;
        if (mute)
            return;
        reply(command);
    }
    void streamCode(char c)
    {
        if (mute)
            return;
        if (m_state == 1 && c == '!') {
            m_state = 0;
            later(dropEtx ? QByteArray("\r\nOK\r\n") : QByteArray("\x10\x03\r\nOK\r\n"));
        } else if (m_state == 2 && c == modem::kEtx) {
            m_state = 0;
            later("\r\nOK\r\n");
        }
    }
    void reply(const QByteArray &command)
    {
        QByteArray text = answer ? answer(command) : QByteArray();
        if (text.isEmpty()) {
            if (m_table.refused.contains(command) || (leftVoiceMode && command.startsWith("AT+V"))
                || (command == "AT+VRX" && refuseReceiveAfterLeaving && receiveLeft > 0)) {
                text = "\r\nERROR\r\n";
            } else if (command == "AT+VRX" || command == "AT+VTX") {
                m_state = command == "AT+VRX" ? 1 : 2;
                m_connectedAt = m_loop.now();
                text = "\r\nCONNECT\r\n";
            } else {
                if (command.startsWith("AT+VIT="))
                    m_vit = command.mid(7).toInt();
                else if (command == "AT+FCLASS=8")
                    leftVoiceMode = false;
                QByteArray body;
                for (const QByteArray &line : m_table.replies.value(command).split('\n')) {
                    if (!line.isEmpty())
                        body += "\r\n" + line + "\r\n";
                }
                text = body + "\r\nOK\r\n";
            }
        } else if (text.endsWith("CONNECT\r\n")) {
            m_state = command == "AT+VRX" ? 1 : 2;
        }
        later(noiseBeforeReply + text);
    }
    // Bytes from the modem, delivered by the event loop (never from inside the write).
    void later(const QByteArray &bytes)
    {
        m_loop.post([this, bytes, alive = m_alive] {
            if (*alive)
                push(bytes);
        });
    }

    void streamTick()
    {
        if (m_state != 1 || mute)
            return;
        if (m_vit > 0 && m_loop.now() - m_lastDteAt >= std::int64_t(m_vit) * 1000) {
            m_state = 0;
            leftVoiceMode = true;
            push(QByteArray("\x10\x03", 2));
            return;
        }
        if (leaveReceiveAfterMs > 0 && (leaveTimes < 0 || receiveLeft < leaveTimes)
            && m_loop.now() - m_connectedAt >= leaveReceiveAfterMs) {
            m_state = 0;
            ++receiveLeft;
            push(leavePrefix + (leaveWithoutOk ? QByteArray("\x10\x03") : QByteArray("\x10\x03\r\nOK\r\n")));
            return;
        }
        if (!streamChunk.isEmpty())
            push(modem::shielded(streamChunk));
    }

    EventLoop &m_loop;
    ChipTable m_table;
    int m_vit = 0;
    std::int64_t m_lastDteAt = 0;
    std::int64_t m_connectedAt = 0;
    bool m_commandDle = false;
    std::unique_ptr<Timer> m_streamTimer;
    QByteArray m_in;
    QByteArray m_line;
    int m_state = 0; // 0 commands, 1 receive, 2 transmit
    bool m_afterDle = false;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

// What the chips of the reference answer.
inline ChipTable chip(QMap<QByteArray, QByteArray> replies, QList<QByteArray> refused = {}, int defaultVit = 0)
{
    return ChipTable{std::move(replies), std::move(refused), defaultVit};
}

inline ChipTable conexantChip()
{
    return chip({{"ATI0", "56000"}, {"ATI3", "CX93001-EIS_V0.2013-V92"}, {"AT+GMI", "+GMI: CONEXANT"},
                 {"AT+FCLASS=?", "0,1,1.0,2,8"},
                 {"AT+VSM=?", "0,\"SIGNED PCM\",8,0,8000,0,0\n1,\"UNSIGNED PCM\",8,0,8000,0,0\n"
                              "129,\"IMA ADPCM\",4,0,8000,0,0\n130,\"UNSIGNED PCM\",8,0,8000,0,0\n"
                              "131,\"Mu-Law\",8,0,8000,0,0\n132,\"A-Law\",8,0,8000,0,0\n133,\"14 bit PCM\",14,0,8000,0,0"}},
                {"AT+IFC=2,2"});
}

inline ChipTable usrChip()
{
    return chip({{"ATI0", "5601"}, {"ATI3", "U.S. Robotics 56K FAX USB V1.2.23"}, {"AT+GMI", "U.S. Robotics"},
                 {"AT+FCLASS=?", "(0,1,2,8)"},
                 {"AT+VSM=?", "+VSM: 128,\"8-BIT LINEAR\",8,0,(7200,8000,11025),(0),(0)\n"
                              "+VSM: 129,\"16-BIT LINEAR\",16,0,(7200,8000,11025),(0),(0)\n"
                              "+VSM: 130,\"8-BIT ALAW\",8,0,(8000),(0),(0)\n+VSM: 131,\"8-BIT ULAW\",8,0,(8000),(0),(0)\n"
                              "+VSM: 132,\"IMA ADPCM\",4,0,(7200,8000,11025),(0),(0)"}},
                {"AT-STE=3"});
}

inline ChipTable agereChip()
{
    return chip({{"ATI0", "56000"}, {"ATI3", "LT V.92 Data+Fax Modem Version 8.30"}, {"AT+GMI", "Agere Systems"},
                 {"AT+FCLASS=?", "0,1,2,8"},
                 {"AT+VSM=?", "128,\"8-BIT LINEAR\",8,0,(7200,8000,11025),(0),(0)\n"
                              "129,\"16-BIT LINEAR\",16,0,(7200,8000,11025),(0),(0)\n"
                              "130,\"8-BIT ALAW\",8,0,(8000),(0),(0)\n131,\"8-BIT ULAW\",8,0,(8000),(0),(0)"}});
}

// An older Rockwell-style chip: only the "#" caller-ID command, and an inactivity timer of a
// minute that it will not switch off.
inline ChipTable rockwellChip()
{
    return chip({{"ATI0", "56000"}, {"ATI3", "RCV56DPF-PLL L8571A Rev 47.23/34.00"}, {"AT+FCLASS=?", "0,1,2,8"},
                 {"AT+VSM=?", "1,\"UNSIGNED PCM\",8,0,8000,0,0\n4,\"G.711U\",8,0,8000,0,0"}},
                {"AT+VCID=1", "AT+VIT=0", "AT+GMI"}, 60);
}

inline ChipTable dataOnlyModem()
{
    return chip({{"ATI0", "28800"}, {"ATI3", "Generic 33600 Data/Fax"}, {"AT+FCLASS=?", "0,1,2"}}, {"AT+GMI"});
}

inline QByteArray samplesAsBytes(modem::VoiceEncoding encoding, const std::vector<std::int16_t> &samples)
{
    QByteArray raw;
    modem::encodeSamples(encoding, samples, raw);
    return raw;
}

// The voice-modem backend on one scripted modem in virtual time, with an application on top
// that records every line event.
struct Rig : LineEvents
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
        openLine(*service, loop);
    }

    modem::ModemLine &modemLine() { return service->line(0); }
    bool hasCallState(std::uint32_t state) const { return count(LINE_CALLSTATE, state) > 0; }
    std::uint32_t lastCallState() const { return take(LINE_CALLSTATE).back().p1; }
    QString digits() const
    {
        QString out;
        for (const LineEvent &e : take(LINE_MONITORDIGITS))
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
    QStringList statuses;
    std::deque<WaveBuffer> recorded;
    std::unique_ptr<WaveIn> in;
};

} // namespace telvox::test

Q_DECLARE_METATYPE(telvox::test::ChipTable)
