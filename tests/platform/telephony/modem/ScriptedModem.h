#pragma once

// A modem that answers from a table: what each command gets back, as a real chip answers it.
// Replies are delivered through the event loop (never from inside the write), and voice data
// states are followed so that the stream codes of the computer get their answers.
#include "core/EventLoop.h"
#include "platform/telephony/modem/DleCodec.h"

#include <QIODevice>
#include <QList>
#include <QMap>

#include <cstring>
#include <functional>
#include <memory>

namespace telvox::test {

struct ChipTable
{
    QString name;
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
    qint64 streamedOut = 0;          // bytes of audio sent by the automatic stream
    bool leftVoiceMode = false;      // the inactivity timer ran out

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
            if (m_table.refused.contains(command) || (leftVoiceMode && command.startsWith("AT+V"))) {
                text = "\r\nERROR\r\n";
            } else if (command == "AT+VRX" || command == "AT+VTX") {
                m_state = command == "AT+VRX" ? 1 : 2;
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
        push(modem::shielded(streamChunk));
        streamedOut += streamChunk.size();
    }

    EventLoop &m_loop;
    ChipTable m_table;
    int m_vit = 0;
    std::int64_t m_lastDteAt = 0;
    bool m_commandDle = false;
    std::unique_ptr<Timer> m_streamTimer;
    QByteArray m_in;
    QByteArray m_line;
    int m_state = 0; // 0 commands, 1 receive, 2 transmit
    bool m_afterDle = false;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

// What the chips of the reference answer.
inline ChipTable conexantChip()
{
    ChipTable t;
    t.name = QStringLiteral("conexant");
    t.replies = {{"ATI0", "56000"},
                 {"ATI3", "CX93001-EIS_V0.2013-V92"},
                 {"AT+GMI", "+GMI: CONEXANT"},
                 {"AT+FCLASS=?", "0,1,1.0,2,8"},
                 {"AT+VSM=?", "0,\"SIGNED PCM\",8,0,8000,0,0\n1,\"UNSIGNED PCM\",8,0,8000,0,0\n"
                              "129,\"IMA ADPCM\",4,0,8000,0,0\n130,\"UNSIGNED PCM\",8,0,8000,0,0\n"
                              "131,\"Mu-Law\",8,0,8000,0,0\n132,\"A-Law\",8,0,8000,0,0\n"
                              "133,\"14 bit PCM\",14,0,8000,0,0"}};
    t.refused = {"AT+IFC=2,2"};
    return t;
}

inline ChipTable usrChip()
{
    ChipTable t;
    t.name = QStringLiteral("usr");
    t.replies = {{"ATI0", "5601"},
                 {"ATI3", "U.S. Robotics 56K FAX USB V1.2.23"},
                 {"AT+GMI", "U.S. Robotics"},
                 {"AT+FCLASS=?", "(0,1,2,8)"},
                 {"AT+VSM=?", "+VSM: 128,\"8-BIT LINEAR\",8,0,(7200,8000,11025),(0),(0)\n"
                              "+VSM: 129,\"16-BIT LINEAR\",16,0,(7200,8000,11025),(0),(0)\n"
                              "+VSM: 130,\"8-BIT ALAW\",8,0,(8000),(0),(0)\n"
                              "+VSM: 131,\"8-BIT ULAW\",8,0,(8000),(0),(0)\n"
                              "+VSM: 132,\"IMA ADPCM\",4,0,(7200,8000,11025),(0),(0)"}};
    t.refused = {"AT-STE=3"};
    return t;
}

inline ChipTable agereChip()
{
    ChipTable t;
    t.name = QStringLiteral("agere");
    t.replies = {{"ATI0", "56000"},
                 {"ATI3", "LT V.92 Data+Fax Modem Version 8.30"},
                 {"AT+GMI", "Agere Systems"},
                 {"AT+FCLASS=?", "0,1,2,8"},
                 {"AT+VSM=?", "128,\"8-BIT LINEAR\",8,0,(7200,8000,11025),(0),(0)\n"
                              "129,\"16-BIT LINEAR\",16,0,(7200,8000,11025),(0),(0)\n"
                              "130,\"8-BIT ALAW\",8,0,(8000),(0),(0)\n131,\"8-BIT ULAW\",8,0,(8000),(0),(0)"}};
    return t;
}

// An older Rockwell-style chip: only the "#" caller-ID command, and an inactivity timer of a
// minute that it will not switch off.
inline ChipTable rockwellChip()
{
    ChipTable t;
    t.name = QStringLiteral("rockwell");
    t.replies = {{"ATI0", "56000"},
                 {"ATI3", "RCV56DPF-PLL L8571A Rev 47.23/34.00"},
                 {"AT+FCLASS=?", "0,1,2,8"},
                 {"AT+VSM=?", "1,\"UNSIGNED PCM\",8,0,8000,0,0\n4,\"G.711U\",8,0,8000,0,0"}};
    t.refused = {"AT+VCID=1", "AT+VIT=0", "AT+GMI"};
    t.defaultVit = 60;
    return t;
}

inline ChipTable dataOnlyModem()
{
    ChipTable t;
    t.name = QStringLiteral("data");
    t.replies = {{"ATI0", "28800"}, {"ATI3", "Generic 33600 Data/Fax"}, {"AT+FCLASS=?", "0,1,2"}};
    t.refused = {"AT+GMI"};
    return t;
}

} // namespace telvox::test
