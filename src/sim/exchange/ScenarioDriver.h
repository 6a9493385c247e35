#pragma once

#include "sim/exchange/Scenario.h"

#include <QString>

#include <memory>

namespace telvox {
class VirtualExchange;
}

namespace telvox::sim {

class SampleSource;

// Builds the far end's audio of a scenario step. nullptr for "none" (or on failure, with
// `error` set); `baseFolder` resolves relative wave file names.
std::shared_ptr<SampleSource> makeAudioSource(const AudioSpec &audio, const QString &country,
                                              const QString &baseFolder, QString *error);

// Carries out a far-end step on the exchange. Returns false for steps that belong to the system
// side (dial, pop-up clicks) and for steps the exchange refused (`error` says why).
bool applyFarEndStep(VirtualExchange &exchange, const ScenarioStep &step, const QString &baseFolder,
                     QString *error);

// Whether the step is done by the far end (as opposed to the system's user).
bool isFarEndStep(const ScenarioStep &step);

} // namespace telvox::sim
