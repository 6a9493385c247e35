#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace telvox::sip {

// The hosts a line takes calls from: single addresses and networks, IPv4 and IPv6
// ("127.0.0.0/8, ::1, 192.168.178.0/24, 2001:db8::/32").
class PeerFilter
{
public:
    // Loopback only: 127.0.0.0/8 and ::1.
    static PeerFilter loopbackOnly();
    // Parses a list separated by commas, semicolons or blanks; nullopt (and the entry that is
    // not an address or a network in `bad`) for a list with a mistake, so that a typing error
    // never opens a line wider than meant.
    static std::optional<PeerFilter> parse(const QString &list, QString *bad = nullptr);

    // Whether `address` ("192.0.2.7", "::1", "::ffff:127.0.0.1") lies in one of the entries.
    bool allows(const QByteArray &address) const;
    bool empty() const { return m_entries.empty(); }

private:
    struct Entry
    {
        bool v6 = false;
        std::array<std::uint8_t, 16> bytes{};
        int prefix = 0; // bits that must match
    };
    std::vector<Entry> m_entries;
};

} // namespace telvox::sip
