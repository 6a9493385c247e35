#include "platform/telephony/TelephonyService.h"

namespace telvox {

QString lineResultHex(std::int32_t result)
{
    return QString::number(static_cast<std::uint32_t>(result), 16).toUpper();
}

} // namespace telvox
