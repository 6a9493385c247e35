// Anything a network sends a SIP line, mapped to a line event: whatever parses must give a
// signal and a caller that are safe to keep and show (no control characters, a number fit for
// a file name, a name cut only between UTF-8 characters).
#include "platform/telephony/sip/SipCallMapping.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <re.h>

namespace {

bool safeNumber(const QByteArray &number)
{
    for (const char c : number) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '+'
            || c == '*' || c == '#' || c == '.' || c == '-' || c == '_';
        if (!ok)
            return false;
    }
    return number.size() <= 32;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const int init = libre_init();
    (void)init;
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const telvox::sip::MappedMessage m = telvox::sip::mapRawMessage(bytes);
    if (!m.parsed && m.signal != telvox::sip::SipSignal::None)
        std::abort();
    if (!safeNumber(m.caller.number) || m.caller.name.size() > 64)
        std::abort();
    for (const char c : m.caller.name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            std::abort();
    }
    return 0;
}
