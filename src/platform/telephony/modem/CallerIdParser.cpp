#include "platform/telephony/modem/CallerIdParser.h"

#include "platform/telephony/TelephonyService.h"

#include <cctype>

namespace telvox::modem {

namespace {

bool isHexLine(const QByteArray &line)
{
    if (line.size() < 8 || line.size() % 2 != 0)
        return false;
    for (const char c : line) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

// "P" (private) and "O" (out of area) stand for a number or name that is not delivered.
std::uint32_t absenceFlag(const QByteArray &value)
{
    if (value == "P" || value == "p")
        return CallPartyId::Blocked;
    if (value == "O" || value == "o")
        return CallPartyId::OutOfArea;
    return 0;
}

} // namespace

bool CallerIdCollector::feedTag(const QByteArray &tag, const QByteArray &value)
{
    if (tag == "DATE") {
        m_data.date = value;
    } else if (tag == "TIME") {
        m_data.time = value;
    } else if (tag == "NMBR" || tag == "DDN_NMBR" || tag == "CALLER NUMBER") {
        if (const std::uint32_t absent = absenceFlag(value)) {
            m_data.flags |= absent;
            m_data.number.clear();
        } else {
            m_data.number = value;
        }
    } else if (tag == "NAME" || tag == "CALLER NAME") {
        if (const std::uint32_t absent = absenceFlag(value))
            m_data.flags |= absent == CallPartyId::Blocked ? CallPartyId::Blocked : 0;
        else
            m_data.name = value;
    } else if (tag == "MESG") {
        // Other MDMF parameters as hex: the reasons for an absent number or name.
        const QByteArray bytes = QByteArray::fromHex(value);
        if (bytes.size() >= 3 && (bytes[0] == 0x04 || bytes[0] == 0x08))
            m_data.flags |= absenceFlag(bytes.mid(2, 1));
    } else {
        return false;
    }
    return true;
}

bool CallerIdCollector::feedLine(const QByteArray &rawLine)
{
    const QByteArray line = rawLine.trimmed();
    if (line.isEmpty())
        return false;
    const int eq = line.indexOf('=');
    const int colon = line.indexOf(':');
    const int sep = eq >= 0 && (colon < 0 || eq < colon) ? eq : colon;
    if (sep > 0) {
        const QByteArray tag = line.left(sep).trimmed().toUpper();
        if (feedTag(tag, line.mid(sep + 1).trimmed()))
            return true;
    }
    if (isHexLine(line)) {
        if (const auto packet = decodeRawPacket(line)) {
            m_data = *packet;
            return true;
        }
    }
    return false;
}

CallerIdData CallerIdCollector::take()
{
    CallerIdData out = m_data;
    m_data = {};
    if (!out.number.isEmpty())
        out.flags |= CallPartyId::Address;
    if (!out.name.isEmpty())
        out.flags |= CallPartyId::Name;
    if (out.flags == 0)
        out.flags = CallPartyId::Unavail;
    return out;
}

std::optional<CallerIdData> decodeRawPacket(const QByteArray &hexLine)
{
    QByteArray hex = hexLine;
    // Leading channel-seizure bytes ("U" = 0x55) that the modem left in.
    while (hex.startsWith("55") && hex.size() > 8)
        hex.remove(0, 2);
    const QByteArray bytes = QByteArray::fromHex(hex);
    if (bytes.size() < 4)
        return std::nullopt;
    const auto u = [&bytes](int i) { return static_cast<std::uint8_t>(bytes[i]); };
    const int length = u(1);
    if (length + 3 > bytes.size())
        return std::nullopt;
    std::uint8_t sum = 0;
    for (int i = 0; i < length + 3; ++i)
        sum = static_cast<std::uint8_t>(sum + u(i));
    if (sum != 0)
        return std::nullopt;
    CallerIdData data;
    const QByteArray body = bytes.mid(2, length);
    if (u(0) == 0x04) { // SDMF: MMDDHHMM then the number (or O/P)
        if (body.size() < 8)
            return std::nullopt;
        data.date = body.left(4);
        data.time = body.mid(4, 4);
        const QByteArray number = body.mid(8);
        if (const std::uint32_t absent = absenceFlag(number))
            data.flags |= absent;
        else
            data.number = number;
        return data;
    }
    if (u(0) != 0x80)
        return std::nullopt;
    int i = 0;
    while (i + 2 <= body.size()) {
        const int type = static_cast<std::uint8_t>(body[i]);
        const int len = static_cast<std::uint8_t>(body[i + 1]);
        if (i + 2 + len > body.size())
            return std::nullopt;
        const QByteArray value = body.mid(i + 2, len);
        switch (type) {
        case 0x01:
            data.date = value.left(4);
            data.time = value.mid(4, 4);
            break;
        case 0x02:
            data.number = value;
            break;
        case 0x04:
            data.flags |= absenceFlag(value);
            break;
        case 0x07:
            data.name = value;
            break;
        case 0x08:
            if (absenceFlag(value) == CallPartyId::Blocked)
                data.flags |= CallPartyId::Blocked;
            break;
        default:
            break;
        }
        i += 2 + len;
    }
    return data;
}

} // namespace telvox::modem
