#include "sim/exchange/VirtualExchangeBackend.h"

#include "platform/telephony/LineBackends.h"
#include "sim/exchange/VirtualExchange.h"

namespace telvox {

namespace {

class ExchangeBackend final : public LineBackend
{
public:
    explicit ExchangeBackend(EventLoop &loop)
        : exchange(loop, ExchangeSetup{})
    {
    }
    TelephonyService &service() override { return exchange; }
    WaveDeviceProvider &waveDevices() override { return exchange; }
    int linesRecordingAtOnce() const override { return 4; }

    VirtualExchange exchange;
};

} // namespace

void registerVirtualExchangeBackend(LineBackendRegistry &registry)
{
    LineBackendFactory factory;
    factory.name = QStringLiteral("virtual");
    factory.labelText = 1507; // "Virtual exchange"
    factory.probe = [](const LineBackendContext &) { return true; };
    factory.create = [](const LineBackendContext &context, QStringList &) -> std::unique_ptr<LineBackend> {
        return std::make_unique<ExchangeBackend>(context.loop);
    };
    registry.add(std::move(factory));
}

VirtualExchange *virtualExchangeOf(LineBackend *backend)
{
    auto *exchange = dynamic_cast<ExchangeBackend *>(backend);
    return exchange ? &exchange->exchange : nullptr;
}

} // namespace telvox
