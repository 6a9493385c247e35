#include "platform/telephony/sip/SipPeers.h"

#include <QRegularExpression>
#include <QStringList>

#include <arpa/inet.h>

#include <cstring>

namespace telvox::sip {

namespace {

// An address as 16 bytes; an IPv4 address (or an IPv4-mapped IPv6 one) in the first four.
bool parseAddress(const QByteArray &text, bool &v6, std::array<std::uint8_t, 16> &bytes)
{
    bytes.fill(0);
    in_addr v4{};
    if (inet_pton(AF_INET, text.constData(), &v4) == 1) {
        v6 = false;
        std::memcpy(bytes.data(), &v4, 4);
        return true;
    }
    in6_addr a6{};
    if (inet_pton(AF_INET6, text.constData(), &a6) != 1)
        return false;
    static const std::uint8_t mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (std::memcmp(&a6, mapped, 12) == 0) {
        v6 = false;
        std::memcpy(bytes.data(), reinterpret_cast<const std::uint8_t *>(&a6) + 12, 4);
        return true;
    }
    v6 = true;
    std::memcpy(bytes.data(), &a6, 16);
    return true;
}

} // namespace

PeerFilter PeerFilter::loopbackOnly() { return *parse(QStringLiteral("127.0.0.0/8 ::1")); }

std::optional<PeerFilter> PeerFilter::parse(const QString &list, QString *bad)
{
    PeerFilter filter;
    static const QRegularExpression separators(QStringLiteral("[\\s,;]+"));
    for (const QString &item : list.split(separators, Qt::SkipEmptyParts)) {
        Entry e;
        const QString address = item.section(QLatin1Char('/'), 0, 0);
        const QString prefix = item.contains(QLatin1Char('/')) ? item.section(QLatin1Char('/'), 1) : QString();
        bool ok = parseAddress(address.toLatin1(), e.v6, e.bytes);
        const int maxBits = e.v6 ? 128 : 32;
        e.prefix = maxBits;
        if (ok && !prefix.isNull())
            e.prefix = prefix.toInt(&ok);
        if (!ok || e.prefix < 0 || e.prefix > maxBits) {
            if (bad)
                *bad = item;
            return std::nullopt;
        }
        filter.m_entries.push_back(e);
    }
    return filter;
}

bool PeerFilter::allows(const QByteArray &address) const
{
    bool v6 = false;
    std::array<std::uint8_t, 16> bytes{};
    if (!parseAddress(address, v6, bytes))
        return false;
    for (const Entry &e : m_entries) {
        if (e.v6 != v6)
            continue;
        const int whole = e.prefix / 8, rest = e.prefix % 8;
        if (std::memcmp(e.bytes.data(), bytes.data(), static_cast<std::size_t>(whole)) != 0)
            continue;
        const auto mask = static_cast<std::uint8_t>(0xFF00 >> rest);
        if (rest == 0 || ((e.bytes[static_cast<std::size_t>(whole)] ^ bytes[static_cast<std::size_t>(whole)]) & mask) == 0)
            return true;
    }
    return false;
}

} // namespace telvox::sip
