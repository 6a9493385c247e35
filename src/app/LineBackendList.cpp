#include "app/LineBackendList.h"

#include "sim/exchange/VirtualExchangeBackend.h"
#include "ui/frmVirtualExchange.h"

namespace telvox {

void registerLineBackends(LineBackendRegistry &registry)
{
    registerListedLineBackends(registry);
    registerVirtualExchangeBackend(registry);
}

std::unique_ptr<QWidget> lineControlsWindow(LineBackend &backend, const Texts &texts)
{
    if (VirtualExchange *exchange = virtualExchangeOf(&backend))
        return std::make_unique<frmVirtualExchange>(*exchange, texts);
    return nullptr;
}

} // namespace telvox
