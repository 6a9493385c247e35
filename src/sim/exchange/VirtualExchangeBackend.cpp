#include "sim/exchange/VirtualExchangeBackend.h"

#include "platform/telephony/LineBackends.h"
#include "sim/audio/DeferredSource.h"
#include "sim/audio/SpeechLikeSource.h"
#include "sim/exchange/VirtualExchange.h"

namespace telvox {

namespace {

class ExchangeBackend final : public LineBackend
{
public:
    explicit ExchangeBackend(EventLoop &loop)
        : exchange(loop, ExchangeSetup{})
    {
        // The called party of a dialled call answers and talks, so that the answer is heard
        // and the call recorded as the program does on a real line. Each talker is set up
        // when its line first dials out, not at start-up.
        for (int n = 0; n < exchange.deviceCount(); ++n) {
            OutgoingBehaviour party;
            party.speech = std::make_shared<sim::DeferredSource>([n]() -> std::unique_ptr<sim::SampleSource> {
                return std::make_unique<sim::SpeechLikeSource>(std::uint64_t(101 + n), sim::SpeechLikeSource::Voice::High);
            });
            exchange.setOutgoingBehaviour(n, std::move(party));
        }
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
