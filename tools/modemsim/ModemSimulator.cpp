#include "ModemSimulator.h"

#include "sim/exchange/ScenarioDriver.h"

namespace telvox::modemsim {

ModemSimulator::ModemSimulator(EventLoop &loop, int lines, const QStringList &profiles, const QString &linkDir,
                               const sim::Scenario &scenario, QString baseFolder)
    : m_loop(loop)
    , m_baseFolder(std::move(baseFolder))
    , m_later(loop)
{
    ExchangeSetup setup = scenario.exchange;
    setup.devices.assign(static_cast<std::size_t>(lines), VirtualDevice{});
    m_exchange = std::make_unique<VirtualExchange>(m_loop, setup);
    m_exchange->setHangUpTone(scenario.hangUpTone);
    HLineApp app = 0;
    std::uint32_t count = 0;
    m_exchange->lineInitialize(
        app,
        [this](std::uint32_t device, std::uint32_t message, std::uintptr_t instance, std::uint32_t p1, std::uint32_t p2,
               std::uint32_t) {
            const auto index = static_cast<std::size_t>(instance);
            if (index < m_modems.size())
                m_modems[index]->lineEvent(device, message, p1, p2);
        },
        QStringLiteral("telvox-modemsim"), count);
    for (int i = 0; i < lines; ++i) {
        HLine hLine = 0;
        m_exchange->lineOpen(app, static_cast<std::uint32_t>(i), hLine, 0x20002, 0, static_cast<std::uintptr_t>(i), 6,
                             MediaMode::InteractiveVoice);
        m_exchange->lineSetStatusMessages(hLine, kLineDevStateRinging, 0);
        const QString id = profiles.isEmpty() ? QString() : profiles.value(i, profiles.back());
        const SimProfile *profile = simProfile(id);
        if (!profile)
            profile = &simProfiles().front();
        m_profiles.push_back(profile);
        const QString link = linkDir.isEmpty() ? QString() : linkDir + QStringLiteral("/modem%1").arg(i);
        m_modems.push_back(std::make_unique<EmulatedModem>(m_loop, *m_exchange, i, hLine, *profile, link));
        m_modems.back()->setHangUpTone(scenario.hangUpTone);
        m_modems.back()->plugIn();
    }
    for (const sim::ScenarioStep &step : scenario.steps)
        schedule(step, step.atMs);
}

ModemSimulator::~ModemSimulator()
{
    // The modems go first: the exchange's last events must not reach them half destroyed.
    m_modems.clear();
}

void ModemSimulator::schedule(const sim::ScenarioStep &step, std::int64_t delayMs)
{
    m_later.after(static_cast<int>(delayMs), [this, step] {
        QString error;
        if (sim::isFarEndStep(step) && !sim::applyFarEndStep(*m_exchange, step, m_baseFolder, &error))
            std::fprintf(stderr, "step refused: %s\n", qPrintable(error));
    });
}

bool ModemSimulator::fault(int line, const QString &kind, int ms)
{
    if (line < 0 || line >= lineCount())
        return false;
    EmulatedModem &m = modem(line);
    if (kind == QLatin1String("garbage"))
        m.injectGarbage(ms > 0 ? ms : 24);
    else if (kind == QLatin1String("mute"))
        m.stopAnswering(ms > 0 ? ms : 5000);
    else if (kind == QLatin1String("unplug"))
        m.unplug(ms > 0 ? ms : 3000);
    else if (kind == QLatin1String("no-etx"))
        m.dropNextEtx();
    else if (kind == QLatin1String("dtr-drop"))
        m.dropDtr();
    else if (kind == QLatin1String("stuck"))
        m.stuckStreaming();
    else if (kind == QLatin1String("self-reset"))
        m.resetItself();
    else
        return false;
    return true;
}

QString ModemSimulator::command(const QString &text)
{
    const QString line = text.trimmed();
    if (line.isEmpty())
        return {};
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.front() == QLatin1String("cid-style")) {
        const int index = words.value(1).toInt();
        if (index < 0 || index >= lineCount() || !modem(index).setCallerIdStyle(words.value(2)))
            return QStringLiteral("cid-style: no such line or style");
        return {};
    }
    if (words.front() == QLatin1String("fault")) {
        if (!fault(words.value(1).toInt(), words.value(2), words.value(3).toInt()))
            return QStringLiteral("unknown fault %1").arg(line);
        return {};
    }
    sim::ScenarioError error;
    const QString scenario = QStringLiteral("devices %1\n").arg(lineCount()) + line + QLatin1Char('\n');
    const auto parsed = sim::parseScenario(scenario, &error);
    if (!parsed)
        return error.message;
    for (const sim::ScenarioStep &step : parsed->steps)
        schedule(step, step.atMs);
    return {};
}

} // namespace telvox::modemsim
