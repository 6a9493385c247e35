#include "platform/telephony/modem/CallerIdParser.h"

#include "platform/telephony/TelephonyService.h"

#include <QPair>
#include <QRegularExpression>

#include <algorithm>
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

// "P" (private) and "O" (out of area) stand for a number or name that is not delivered;
// some exchanges give "A" (anonymous) for a withheld number.
std::uint32_t absenceFlag(const QByteArray &value)
{
    if (value.size() != 1)
        return 0;
    switch (value[0]) {
    case 'P':
    case 'p':
    case 'A':
    case 'a':
        return CallPartyId::Blocked;
    case 'O':
    case 'o':
        return CallPartyId::OutOfArea;
    default:
        return 0;
    }
}

bool isNumberTag(const QByteArray &tag)
{
    return tag == "NMBR" || tag == "NBR" || tag == "DDN_NMBR" || tag == "DDN" || tag == "CALLER NUMBER";
}

QByteArray unquoted(QByteArray value)
{
    value = value.trimmed();
    if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
        value = value.mid(1, value.size() - 2);
    return value;
}

// The tags of a formatted report line with the value each one carries: "NAME=ANNA NMBR=555"
// gives two. Empty when the line does not begin with a caller-ID tag.
QList<QPair<QByteArray, QByteArray>> splitTags(const QByteArray &line)
{
    static const QRegularExpression tag(
        QStringLiteral("(?:^|[\\s;,])(CALLER NUMBER|CALLER NAME|DDN_NMBR|NMBR|NBR|DDN|NAME|DATE|TIME|MESG)\\s*[=:]\\s*"),
        QRegularExpression::CaseInsensitiveOption);
    const QString text = QString::fromLatin1(line);
    QList<QPair<QByteArray, QByteArray>> out;
    auto it = tag.globalMatch(text);
    int valueStart = -1;
    QByteArray name;
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        if (valueStart < 0 && m.capturedStart(1) != 0)
            return {};
        if (valueStart >= 0)
            out.append({name, line.mid(valueStart, m.capturedStart(0) - valueStart)});
        name = m.captured(1).toUpper().toLatin1();
        valueStart = static_cast<int>(m.capturedEnd(0));
    }
    if (valueStart >= 0)
        out.append({name, line.mid(valueStart)});
    return out;
}

} // namespace

void CallerIdData::finish()
{
    flags = 0;
    if (!number.isEmpty())
        flags |= CallPartyId::Address;
    else
        flags |= numberAbsent;
    if (!name.isEmpty())
        flags |= CallPartyId::Name;
    else
        flags |= nameAbsent;
    if (flags == 0)
        flags = CallPartyId::Unavail;
}

void mergeCallerId(CallerIdData &into, const CallerIdData &later)
{
    if (!later.date.isEmpty())
        into.date = later.date;
    if (!later.time.isEmpty())
        into.time = later.time;
    if (!later.number.isEmpty())
        into.number = later.number;
    if (!later.name.isEmpty())
        into.name = later.name;
    into.numberAbsent |= later.numberAbsent;
    into.nameAbsent |= later.nameAbsent;
    into.finish();
}

bool CallerIdCollector::takeTag(const QByteArray &tag, const QByteArray &rawValue)
{
    const QByteArray value = unquoted(rawValue);
    if (tag == "DATE") {
        m_data.date = value;
    } else if (tag == "TIME") {
        m_data.time = value;
    } else if (isNumberTag(tag)) {
        if (const std::uint32_t absent = absenceFlag(value))
            m_data.numberAbsent |= absent; // a number already given is kept
        else if (!value.isEmpty())
            m_data.number = value;
    } else if (tag == "NAME" || tag == "CALLER NAME") {
        if (const std::uint32_t absent = absenceFlag(value))
            m_data.nameAbsent |= absent == CallPartyId::Blocked ? CallPartyId::Blocked : 0;
        else if (!value.isEmpty())
            m_data.name = value;
    } else if (tag == "MESG") {
        // An MDMF parameter the modem did not format, as hex: type, length, data (and a
        // checksum): the reasons for an absent number or name, or a number in a parameter the
        // firmware has no tag for (03, the dialable directory number).
        const QByteArray bytes = QByteArray::fromHex(value);
        if (bytes.size() >= 3) {
            const int length = std::min<int>(static_cast<std::uint8_t>(bytes[1]), static_cast<int>(bytes.size()) - 2);
            const QByteArray data = bytes.mid(2, length);
            switch (bytes[0]) {
            case 0x02:
            case 0x03:
                if (m_data.number.isEmpty() && !data.isEmpty()
                    && std::all_of(data.begin(), data.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || c == '+'; }))
                    m_data.number = data;
                break;
            case 0x04:
                m_data.numberAbsent |= absenceFlag(data.left(1));
                break;
            case 0x07:
                if (m_data.name.isEmpty())
                    m_data.name = data;
                break;
            case 0x08:
                if (absenceFlag(data.left(1)) == CallPartyId::Blocked)
                    m_data.nameAbsent |= CallPartyId::Blocked;
                break;
            default:
                break;
            }
        }
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
    const auto tags = splitTags(line);
    if (!tags.isEmpty()) {
        bool taken = false;
        for (const auto &[tag, value] : tags)
            taken = takeTag(tag, value.trimmed()) || taken;
        return taken;
    }
    if (isHexLine(line)) {
        if (const auto packet = decodeRawPacket(line)) {
            mergeCallerId(m_data, *packet);
            return true;
        }
    }
    return false;
}

CallerIdData CallerIdCollector::take()
{
    CallerIdData out = m_data;
    m_data = {};
    out.finish();
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
    if (length + 2 > bytes.size())
        return std::nullopt;
    // The checksum byte is verified where it is present; some firmware leaves it out of the
    // unformatted report (it does not check the packet itself either).
    if (length + 3 <= bytes.size()) {
        std::uint8_t sum = 0;
        for (int i = 0; i < length + 3; ++i)
            sum = static_cast<std::uint8_t>(sum + u(i));
        if (sum != 0)
            return std::nullopt;
    }
    CallerIdData data;
    const QByteArray body = bytes.mid(2, length);
    if (u(0) == 0x04) { // SDMF: MMDDHHMM then the number (or O/P)
        if (body.size() < 8)
            return std::nullopt;
        data.date = body.left(4);
        data.time = body.mid(4, 4);
        const QByteArray number = body.mid(8);
        if (const std::uint32_t absent = absenceFlag(number))
            data.numberAbsent |= absent;
        else
            data.number = number;
        data.finish();
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
        case 0x03: // dialable directory number: the number where no 02 came
            if (data.number.isEmpty())
                data.number = value;
            break;
        case 0x04:
            data.numberAbsent |= absenceFlag(value);
            break;
        case 0x07:
            data.name = value;
            break;
        case 0x08:
            if (absenceFlag(value) == CallPartyId::Blocked)
                data.nameAbsent |= CallPartyId::Blocked;
            break;
        default:
            break;
        }
        i += 2 + len;
    }
    data.finish();
    return data;
}

} // namespace telvox::modem
