#pragma once

#include "core/AppPaths.h"
#include "sim/exchange/Scenario.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

namespace telvox {

// Runs a scenario against the whole system without widgets, in virtual time: start-up with
// its loading sequence, the far ends' steps at their times, shutdown, then the expectations.
// Everything the user would see (status lines, message boxes) goes to `print` as it happens.
class ScenarioRunner
{
public:
    struct Options
    {
        bool trace = false; // also print what the far ends and the audio engine do
    };

    ScenarioRunner(AppPaths paths, const sim::Scenario &scenario, QString baseFolder, Options options,
                   std::function<void(const QString &)> print);

    // Returns the number of expectations that failed; reports each one through `print`.
    int run();

    // Results, for tests.
    const QStringList &statusTexts() const { return m_statusTexts; } // without the time stamps
    const QStringList &messages() const { return m_messages; }
    const QStringList &audioRequests() const { return m_audioRequests; }
    bool ended() const { return m_ended; }

private:
    AppPaths m_paths;
    const sim::Scenario &m_scenario;
    QString m_baseFolder;
    Options m_options;
    std::function<void(const QString &)> m_print;
    QStringList m_statusTexts;
    QStringList m_messages;
    QStringList m_audioRequests;
    std::vector<std::int64_t> m_statusTimes; // virtual time of each status text
    std::vector<std::int64_t> m_audioTimes;  // virtual time of each audio request
    bool m_ended = false;
};

} // namespace telvox
