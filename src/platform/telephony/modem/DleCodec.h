#pragma once

#include <QByteArray>

#include <cstdint>
#include <functional>

namespace telvox::modem {

inline constexpr char kDle = 0x10;
inline constexpr char kEtx = 0x03;
inline constexpr char kSub = 0x1A;
inline constexpr char kCan = 0x18;

// Splits the byte stream that arrives from the modem into plain bytes and shielded codes.
// <DLE><DLE> is one 0x10 byte, <DLE><SUB> two of them; every other <DLE><x> is the event `x`
// (<DLE><ETX> included). The decoder keeps its state between feeds, so an escape split across
// two reads is decoded as if it had arrived in one piece. It never interprets the plain bytes:
// audio passes through untouched whatever it contains.
class DleDecoder
{
public:
    // Plain bytes, in runs as long as possible; the pointer is valid during the call only.
    using DataHandler = std::function<void(const char *data, qsizetype size)>;
    // A shielded code other than the two data codes.
    using EventHandler = std::function<void(char code)>;

    void setHandlers(DataHandler data, EventHandler event)
    {
        m_data = std::move(data);
        m_event = std::move(event);
    }
    // Decodes `bytes`, calling the handlers in stream order. A handler may call reset().
    void feed(const char *bytes, qsizetype size);
    void feed(const QByteArray &bytes) { feed(bytes.constData(), bytes.size()); }
    // Forgets a pending <DLE> (after a resynchronisation).
    void reset() { m_afterDle = false; }
    bool pendingDle() const { return m_afterDle; }

private:
    DataHandler m_data;
    EventHandler m_event;
    bool m_afterDle = false;
};

// Audio for the modem with every 0x10 doubled, appended to `out`.
void appendShielded(QByteArray &out, const char *data, qsizetype size);
QByteArray shielded(const QByteArray &data);

// The codes the computer sends inside a voice data stream.
inline QByteArray dleCode(char code) { return QByteArray{1, kDle} + code; }

} // namespace telvox::modem
