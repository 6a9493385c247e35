// telvox-modemsim: voice modems emulated on pseudo-terminals, for trying and testing the
// voice-modem backend without hardware.
//
//   telvox-modemsim [--lines N] [--profile conexant|usr|usr-silence-ends|agere|generic[,...]]
//                   [--link-dir DIR]
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
#include "ModemSimulator.h"
#include "SimProfiles.h"

#include "core/QtEventLoop.h"
#include "sim/exchange/VirtualExchange.h"
#include "sim/exchange/Scenario.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

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

    QtEventLoop loop;
    ModemSimulator simulator(loop, lines, profiles, linkDir, scenario, baseFolder);
    for (int i = 0; i < simulator.lineCount(); ++i)
        std::printf("Line%d %s %s\n", i, qPrintable(simulator.modem(i).slavePath()), qPrintable(simulator.profile(i).id));
    // A fault at 0 ms is in place before "ready": a client that opens the port at once must
    // meet the faulty modem, not the one before the fault.
    DelayedCalls later(loop);
    for (const Fault &f : faults) {
        if (f.atMs <= 0)
            simulator.fault(f.line, f.kind, f.ms);
        else
            later.after(f.atMs, [&simulator, f] { simulator.fault(f.line, f.kind, f.ms); });
    }
    std::printf("ready\n");
    std::fflush(stdout);
    const auto printStats = [&simulator] {
        for (int i = 0; i < simulator.lineCount(); ++i)
            std::printf("%s\n", qPrintable(simulator.modem(i).statsLine()));
        std::fflush(stdout);
    };

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
            const QString command = QString::fromUtf8(pending.left(nl)).trimmed();
            pending.remove(0, nl + 1);
            if (command == QLatin1String("quit")) {
                QCoreApplication::quit();
            } else if (command == QLatin1String("stats")) {
                printStats();
            } else if (const QString error = simulator.command(command); !error.isEmpty()) {
                std::fprintf(stderr, "%s\n", qPrintable(error));
            }
        }
    });
    const int code = app.exec();
    printStats();
    return code;
}
