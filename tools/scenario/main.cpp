// telvox-scenario: runs a scenario file against Telvox without windows, in virtual time, on the
// program folder $TELVOX_HOME, and prints the status lines as the main window would list them.

#include "ScenarioRunner.h"

#include "sim/exchange/Scenario.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("telvox-scenario"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs a Telvox scenario file on the program folder $TELVOX_HOME (or --home) in virtual time."));
    parser.addHelpOption();
    const QCommandLineOption home(QStringLiteral("home"), QStringLiteral("Program folder (default: $TELVOX_HOME)."),
                                  QStringLiteral("folder"));
    const QCommandLineOption trace(QStringLiteral("trace"), QStringLiteral("Also print the far ends' actions and the audio requests."));
    const QCommandLineOption check(QStringLiteral("check"), QStringLiteral("Only check the scenario file."));
    parser.addOptions({home, trace, check});
    parser.addPositionalArgument(QStringLiteral("scenario"), QStringLiteral("The scenario file."));
    parser.process(app);

    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1) {
        err << "telvox-scenario: give one scenario file (see --help)" << Qt::endl;
        return 2;
    }
    QFile file(files.first());
    if (!file.open(QIODevice::ReadOnly)) {
        err << "telvox-scenario: cannot read " << files.first() << Qt::endl;
        return 2;
    }
    telvox::sim::ScenarioError error;
    const auto scenario = telvox::sim::parseScenario(QString::fromUtf8(file.readAll()), &error);
    if (!scenario) {
        err << telvox::sim::formatScenarioError(files.first(), error) << Qt::endl;
        return 2;
    }
    if (parser.isSet(check))
        return 0;

    QString folder = parser.value(home);
    if (folder.isEmpty())
        folder = qEnvironmentVariable("TELVOX_HOME");
    if (folder.isEmpty()) {
        err << "telvox-scenario: set TELVOX_HOME (or --home) to the program folder to run on" << Qt::endl;
        return 2;
    }
    telvox::ScenarioRunner::Options options;
    options.trace = parser.isSet(trace);
    telvox::ScenarioRunner runner(telvox::AppPaths::underHome(folder, QStringLiteral("telvox")), *scenario,
                                  QFileInfo(files.first()).absolutePath(), options,
                                  [&out](const QString &line) { out << line << Qt::endl; });
    const int failed = runner.run();
    if (failed > 0) {
        err << "telvox-scenario: " << failed << " expectation(s) not met" << Qt::endl;
        return 1;
    }
    return 0;
}
