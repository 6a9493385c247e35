#include "app/LineBackendList.h"

#include "platform/telephony/modem/ModemBackend.h"
#include "platform/telephony/sip/SipBackend.h"
#include "sim/exchange/VirtualExchangeBackend.h"

namespace telvox {

void registerLineBackends(LineBackendRegistry &registry)
{
    sip::registerSipBackend(registry);
    modem::registerModemBackend(registry);
    registerVirtualExchangeBackend(registry);
}

} // namespace telvox
