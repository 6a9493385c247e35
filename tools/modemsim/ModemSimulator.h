#pragma once

#include "DelayedCalls.h"
#include "EmulatedModem.h"

#include "sim/exchange/Scenario.h"
#include "sim/exchange/VirtualExchange.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace telvox::modemsim {

// The emulator's lines: a virtual exchange whose devices are answered by emulated modems, one
// on a pseudo-terminal each, with the far ends of a scenario calling in, and the console
// commands that drive them. The tool runs it on the Qt event loop; tests run it in virtual
// time.
class ModemSimulator
{
public:
    // `profiles` are chip profile ids, one per line (the last one for the lines beyond);
    // an empty list or an unknown id gives the first profile.
    ModemSimulator(EventLoop &loop, int lines, const QStringList &profiles, const QString &linkDir,
                   const sim::Scenario &scenario, QString baseFolder);
    ~ModemSimulator();
    ModemSimulator(const ModemSimulator &) = delete;
    ModemSimulator &operator=(const ModemSimulator &) = delete;

    int lineCount() const { return static_cast<int>(m_modems.size()); }
    EmulatedModem &modem(int line) { return *m_modems.at(static_cast<std::size_t>(line)); }
    const SimProfile &profile(int line) const { return *m_profiles.at(static_cast<std::size_t>(line)); }
    VirtualExchange &exchange() { return *m_exchange; }

    // A fault of a line: garbage|mute|unplug|no-etx|dtr-drop|stuck|self-reset, with its figure
    // (bytes or milliseconds) where it has one. False for an unknown line or kind.
    bool fault(int line, const QString &kind, int ms);
    // One console command other than "stats" and "quit": a scenario step with times relative
    // to now ("at 0 line 1 call number ..."), "fault LINE KIND [MS]" or "cid-style LINE STYLE".
    // Returns what was wrong with it, empty when it was taken.
    QString command(const QString &text);
    // A far-end step of a scenario, `delayMs` from now.
    void schedule(const sim::ScenarioStep &step, std::int64_t delayMs);

private:
    EventLoop &m_loop;
    QString m_baseFolder;
    DelayedCalls m_later;
    std::unique_ptr<VirtualExchange> m_exchange;
    std::vector<const SimProfile *> m_profiles;
    std::vector<std::unique_ptr<EmulatedModem>> m_modems;
};

} // namespace telvox::modemsim
