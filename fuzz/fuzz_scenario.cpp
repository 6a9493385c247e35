// Scenario text as any bytes: the parser either gives a scenario whose steps are in time order,
// or one error whose position lies inside the text.
#include "sim/exchange/Scenario.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace telvox::sim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    ScenarioError error;
    const std::optional<Scenario> scenario = parseScenario(text, &error);
    if (!scenario) {
        if (error.message.isEmpty() || error.pos.line < 1 || error.pos.line > text.count(QLatin1Char('\n')) + 1)
            std::abort();
        (void)formatScenarioError(QStringLiteral("fuzz.scn"), error);
        return 0;
    }
    for (std::size_t i = 1; i < scenario->steps.size(); ++i) {
        if (scenario->steps[i].atMs < scenario->steps[i - 1].atMs)
            std::abort();
    }
    return 0;
}
