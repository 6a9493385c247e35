#pragma once

#include <QByteArray>

#include <cstdint>
#include <optional>

namespace telvox::modem {

// Caller-ID data of one call as the modem reported it.
struct CallerIdData
{
    QByteArray date;   // MMDD
    QByteArray time;   // HHMM
    QByteArray number; // digits; empty when withheld or unavailable
    QByteArray name;
    std::uint32_t flags = 0; // CallPartyId bits
    bool empty() const { return date.isEmpty() && time.isEmpty() && number.isEmpty() && name.isEmpty() && flags == 0; }
};

// Collects the caller-ID report of a call from the text lines of the modem: the formatted
// tags of +VCID=1 / #CID=1 (DATE, TIME, NMBR, NAME, MESG, DDN_NMBR, with or without blanks
// around "="), the hexadecimal packets of +VCID=2 (SDMF and MDMF, checksum verified) and the
// text inside a <DLE>X ... <DLE>. packet.
class CallerIdCollector
{
public:
    // Returns whether the line was caller-ID data (and was taken).
    bool feedLine(const QByteArray &line);
    bool hasData() const { return !m_data.empty(); }
    // The data collected so far, with the flags completed; the collector starts afresh.
    CallerIdData take();
    void clear() { m_data = {}; }

private:
    bool feedTag(const QByteArray &tag, const QByteArray &value);
    CallerIdData m_data;
};

// Decodes one +VCID=2 line; nothing when it is not a valid SDMF or MDMF packet.
std::optional<CallerIdData> decodeRawPacket(const QByteArray &hexLine);

} // namespace telvox::modem
