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
    std::uint32_t flags = 0;       // CallPartyId bits, complete once finish() has run
    std::uint32_t numberAbsent = 0; // Blocked or OutOfArea: why no number came (P, O, A)
    std::uint32_t nameAbsent = 0;   // Blocked when the name was withheld
    bool empty() const
    {
        return date.isEmpty() && time.isEmpty() && number.isEmpty() && name.isEmpty() && numberAbsent == 0
            && nameAbsent == 0;
    }
    // Sets `flags` from what is known: a delivered number wins over any reason for its absence
    // (some exchanges send the number, then a masked copy of it).
    void finish();
};

// Adds a later report of the same call to what is known: each field that the later report
// carries replaces the earlier one, fields it lacks are kept, and a number is never replaced
// by a reason for its absence.
void mergeCallerId(CallerIdData &into, const CallerIdData &later);

// Collects the caller-ID report of a call from the text lines of the modem: the formatted
// tags of +VCID=1 / #CID=1 (DATE, TIME, NMBR, NBR, DDN_NMBR, DDN, CALLER NUMBER, NAME,
// CALLER NAME, MESG, with or without blanks around "=" or ":", one or several on a line), the
// hexadecimal packets of +VCID=2 (SDMF and MDMF, checksum verified) and the text inside a
// <DLE>X ... <DLE>. packet. Reports that arrive in pieces are merged.
class CallerIdCollector
{
public:
    // Returns whether the line was caller-ID data (and was taken).
    bool feedLine(const QByteArray &line);
    bool hasData() const { return !m_data.empty(); }
    // The data collected so far, with the flags completed; the collector starts afresh.
    CallerIdData take();
    void clear() { m_data = {}; }

    // One tag and its value ("NMBR", "5551234"); false for a tag that is not caller ID.
    bool feedTag(const QByteArray &tag, const QByteArray &value) { return takeTag(tag.trimmed().toUpper(), value.trimmed()); }

private:
    bool takeTag(const QByteArray &tag, const QByteArray &value);
    CallerIdData m_data;
};

// Decodes one +VCID=2 line; nothing when it is not a valid SDMF or MDMF packet.
std::optional<CallerIdData> decodeRawPacket(const QByteArray &hexLine);

} // namespace telvox::modem
