// telvox-modemsim: voice modems emulated on pseudo-terminals, for trying and testing the
// voice-modem backend without hardware.
//
//   telvox-modemsim [--lines N] [--profile conexant|usr|agere|generic[,...]] [--link-dir DIR]
//                   [--scenario FILE] [--fault LINE:KIND[:MS]@AT_MS]...
//
// Prints "LineN <pty path>" for every line, then "ready". With --link-dir, DIR/modemN is a
// symbolic link to the line's pty that survives an emulated unplugging (configure the
// backend with it). The far ends follow the scenario file's steps (docs/scenarios.md) in real
// time from the start; more commands can be typed on standard input:
//   at 0 line 1 call number "5551234"      a scenario step (times relative to now)
//   fault 0 garbage|mute MS|unplug MS|no-etx|dtr-drop|stuck|self-reset
//   cid-style 0 nmbr|ddn|mesg               how formatted caller ID names the number
//   stats                                  playback and recording figures of each line
//   quit
#include "EmulatedModem.h"
#include "SimProfiles.h"

#include "core/QtEventLoop.h"
#include "sim/exchange/VirtualExchange.h"
#include "sim/exchange/Scenario.h"
#include "sim/exchange/ScenarioDriver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

using namespace telvox;
using namespace telvox::modemsim;

namespace {

struct Fault
{
    int line = 0;
    QString kind;
    int ms = 0;
    int atMs = 0;
};

class Simulator
{
public:
    Simulator(int lines, const QStringList &profiles, const QString &linkDir, sim::Scenario scenario, QString baseFolder)
        : m_baseFolder(std::move(baseFolder))
    {
        ExchangeSetup setup = scenario.exchange;
        setup.devices.assign(static_cast<std::size_t>(lines), VirtualDevice{});
        m_exchange = std::make_unique<VirtualExchange>(m_loop, setup);
        m_exchange->setHangUpTone(scenario.hangUpTone);
        HLineApp app = 0;
        std::uint32_t count = 0;
        m_exchange->lineInitialize(
            app,
            [this](std::uint32_t device, std::uint32_t message, std::uintptr_t instance, std::uint32_t p1,
                   std::uint32_t p2, std::uint32_t) {
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
            const QString id = profiles.isEmpty() ? QStringLiteral("conexant") : profiles.value(i, profiles.back());
            const SimProfile *profile = simProfile(id);
            if (!profile)
                profile = &simProfiles().front();
            const QString link = linkDir.isEmpty() ? QString() : QDir(linkDir).filePath(QStringLiteral("modem%1").arg(i));
            m_modems.push_back(std::make_unique<EmulatedModem>(*m_exchange, i, hLine, *profile, link));
            m_modems.back()->setHangUpTone(scenario.hangUpTone);
            const QString path = m_modems.back()->plugIn();
            std::printf("Line%d %s %s\n", i, qPrintable(path), qPrintable(profile->id));
        }
        for (const sim::ScenarioStep &step : scenario.steps)
            schedule(step, step.atMs);
        std::printf("ready\n");
        std::fflush(stdout);
    }

    ~Simulator()
    {
        for (const auto &m : m_modems)
            std::printf("%s\n", qPrintable(m->statsLine()));
        std::fflush(stdout);
    }

    void schedule(const sim::ScenarioStep &step, std::int64_t delayMs)
    {
        QTimer::singleShot(static_cast<int>(delayMs), &m_context, [this, step] {
            QString error;
            if (sim::isFarEndStep(step) && !sim::applyFarEndStep(*m_exchange, step, m_baseFolder, &error))
                std::fprintf(stderr, "step refused: %s\n", qPrintable(error));
        });
    }

    void fault(const Fault &f)
    {
        if (f.line < 0 || f.line >= static_cast<int>(m_modems.size()))
            return;
        EmulatedModem &m = *m_modems[static_cast<std::size_t>(f.line)];
        if (f.kind == QLatin1String("garbage"))
            m.injectGarbage(f.ms > 0 ? f.ms : 24);
        else if (f.kind == QLatin1String("mute"))
            m.stopAnswering(f.ms > 0 ? f.ms : 5000);
        else if (f.kind == QLatin1String("unplug"))
            m.unplug(f.ms > 0 ? f.ms : 3000);
        else if (f.kind == QLatin1String("no-etx"))
            m.dropNextEtx();
        else if (f.kind == QLatin1String("dtr-drop"))
            m.dropDtr();
        else if (f.kind == QLatin1String("stuck"))
            m.stuckStreaming();
        else if (f.kind == QLatin1String("self-reset"))
            m.resetItself();
        else
            std::fprintf(stderr, "unknown fault %s\n", qPrintable(f.kind));
    }

    void command(const QString &text)
    {
        const QString line = text.trimmed();
        if (line.isEmpty())
            return;
        if (line == QLatin1String("quit")) {
            QCoreApplication::quit();
        } else if (line == QLatin1String("stats")) {
            for (const auto &m : m_modems)
                std::printf("%s\n", qPrintable(m->statsLine()));
        } else if (line.startsWith(QLatin1String("cid-style "))) {
            const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            const int index = words.value(1).toInt();
            if (index < 0 || index >= static_cast<int>(m_modems.size())
                || !m_modems[static_cast<std::size_t>(index)]->setCallerIdStyle(words.value(2)))
                std::fprintf(stderr, "cid-style: no such line or style\n");
        } else if (line.startsWith(QLatin1String("fault "))) {
            const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            fault({words.value(1).toInt(), words.value(2), words.value(3).toInt(), 0});
        } else {
            sim::ScenarioError error;
            const QString text2 = QStringLiteral("devices %1\n").arg(m_modems.size()) + line + QLatin1Char('\n');
            if (const auto s = sim::parseScenario(text2, &error)) {
                for (const sim::ScenarioStep &step : s->steps)
                    schedule(step, step.atMs);
            } else {
                std::fprintf(stderr, "%s\n", qPrintable(error.message));
            }
        }
        std::fflush(stdout);
    }

    QObject m_context;

private:
    QtEventLoop m_loop;
    QString m_baseFolder;
    std::unique_ptr<VirtualExchange> m_exchange;
    std::vector<std::unique_ptr<EmulatedModem>> m_modems;
};

int usage()
{
    std::fprintf(stderr, "usage: telvox-modemsim [--lines N] [--profile P[,P...]] [--link-dir DIR] "
                         "[--scenario FILE] [--fault LINE:KIND[:MS]@AT_MS]...\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int lines = 1;
    QStringList profiles;
    QString linkDir;
    QString scenarioFile;
    QList<Fault> faults;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString a = args[i];
        const QString v = args.value(i + 1);
        if (a == QLatin1String("--lines")) {
            lines = std::clamp(v.toInt(), 1, 8);
            ++i;
        } else if (a == QLatin1String("--profile")) {
            profiles = v.split(QLatin1Char(','));
            ++i;
        } else if (a == QLatin1String("--link-dir")) {
            linkDir = v;
            ++i;
        } else if (a == QLatin1String("--scenario")) {
            scenarioFile = v;
            ++i;
        } else if (a == QLatin1String("--fault")) {
            const QStringList at = v.split(QLatin1Char('@'));
            const QStringList parts = at.value(0).split(QLatin1Char(':'));
            faults << Fault{parts.value(0).toInt(), parts.value(1), parts.value(2).toInt(), at.value(1).toInt()};
            ++i;
        } else {
            return usage();
        }
    }
    for (const QString &p : profiles) {
        if (!simProfile(p)) {
            std::fprintf(stderr, "unknown profile %s\n", qPrintable(p));
            return 2;
        }
    }
    sim::Scenario scenario;
    QString baseFolder = QDir::currentPath();
    if (!scenarioFile.isEmpty()) {
        QFile file(scenarioFile);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(scenarioFile));
            return 2;
        }
        sim::ScenarioError error;
        const auto parsed = sim::parseScenario(QString::fromUtf8(file.readAll()), &error);
        if (!parsed) {
            std::fprintf(stderr, "%s\n", qPrintable(sim::formatScenarioError(scenarioFile, error)));
            return 2;
        }
        scenario = *parsed;
        baseFolder = QFileInfo(scenarioFile).absolutePath();
    }
    if (!linkDir.isEmpty())
        QDir().mkpath(linkDir);

    Simulator simulator(lines, profiles, linkDir, scenario, baseFolder);
    for (const Fault &f : faults)
        QTimer::singleShot(f.atMs, &simulator.m_context, [&simulator, f] { simulator.fault(f); });

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[1024];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input.setEnabled(false); // no more commands; run until killed
            return;
        }
        pending.append(buffer, n);
        qsizetype nl;
        while ((nl = pending.indexOf('\n')) >= 0) {
            simulator.command(QString::fromUtf8(pending.left(nl)));
            pending.remove(0, nl + 1);
        }
    });
    return app.exec();
}
