#include "app/CompanionCommands.h"
#include "app/LineBackendList.h"
#include "app/ServiceControl.h"
#include "app/ServiceMode.h"
#include "app/TelvoxApplication.h"
#include "app/WebService.h"
#include "core/Settings.h"
#include "core/AppPaths.h"
#include "core/PrivateFiles.h"
#include "core/QtEventLoop.h"
#include "core/Texts.h"
#include "platform/telephony/LineBackends.h"
#include "records/StatusLog.h"
#include "web/WebOptions.h"
#include "ui/WidgetPrompts.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSocketNotifier>
#include <QScopeGuard>
#include <QTextStream>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here: wake the event loop, which runs the shutdown.
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

void installSignalHandlers()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

const char *const kCompanionOptions[] = {"--list", "--play", "--mark-read", "--status", "--dial", "--hangup"};

bool isCompanionCall(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        for (const char *option : kCompanionOptions) {
            const std::size_t length = std::strlen(option);
            if (std::strncmp(argv[i], option, length) == 0 && (argv[i][length] == 0 || argv[i][length] == '='))
                return true;
        }
    }
    return false;
}

// --list, --play, --mark-read, --status, --dial, --hangup, in this order.
QList<QCommandLineOption> companionOptions()
{
    return {{QStringLiteral("list"), QStringLiteral("List the unread and recent recordings.")},
            {QStringLiteral("play"), QStringLiteral("Play a recording on the sound card."), QStringLiteral("file")},
            {QStringLiteral("mark-read"), QStringLiteral("Move an unread message to the recent recordings."),
             QStringLiteral("file")},
            {QStringLiteral("status"), QStringLiteral("Show the lines and the last calls.")},
            {QStringLiteral("dial"), QStringLiteral("Let the running service dial NUMBER on the line and record the call."),
             QStringLiteral("line")},
            {QStringLiteral("hangup"), QStringLiteral("Let the running service end the call on the line."),
             QStringLiteral("line")}};
}

// `telvox --list | --play FILE | --mark-read FILE | --status | --dial LINE NUMBER | --hangup LINE`:
// no windows, no sound system
// unless playing, and no lock: they work beside a running service or desktop program.
int runCompanion(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral("2.4.5"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Telvox: the recordings and lines of the program folder"));
    parser.addHelpOption();
    const QList<QCommandLineOption> options = companionOptions();
    const QCommandLineOption &list = options[0];
    const QCommandLineOption &play = options[1];
    const QCommandLineOption &markRead = options[2];
    const QCommandLineOption &status = options[3];
    const QCommandLineOption &dial = options[4];
    const QCommandLineOption &hangup = options[5];
    parser.addOptions(options);
    parser.addPositionalArgument(QStringLiteral("number"), QStringLiteral("With --dial: the number or SIP address."));
    parser.process(app);
    const int given = int(parser.isSet(list)) + int(parser.isSet(play)) + int(parser.isSet(markRead))
                      + int(parser.isSet(status)) + int(parser.isSet(dial)) + int(parser.isSet(hangup));
    QTextStream out(stdout);
    QTextStream err(stderr);
    const qsizetype positional = parser.positionalArguments().size();
    if (given != 1 || positional != (parser.isSet(dial) ? 1 : 0)) {
        err << "telvox: give one of --list, --play FILE, --mark-read FILE, --status, --dial LINE NUMBER, --hangup LINE"
            << Qt::endl;
        return 2;
    }
    const telvox::AppPaths paths = telvox::AppPaths::fromEnvironment(telvox::applicationName());
    using C = telvox::CompanionCommand;
    if (parser.isSet(list))
        return telvox::runCompanionCommand(C::List, {}, paths, out, err);
    if (parser.isSet(play))
        return telvox::runCompanionCommand(C::Play, parser.value(play), paths, out, err);
    if (parser.isSet(markRead))
        return telvox::runCompanionCommand(C::MarkRead, parser.value(markRead), paths, out, err);
    if (parser.isSet(dial))
        return telvox::runCompanionCommand(C::Dial, parser.value(dial) + QLatin1Char(' ') + parser.positionalArguments().first(),
                                           paths, out, err);
    if (parser.isSet(hangup))
        return telvox::runCompanionCommand(C::HangUp, parser.value(hangup), paths, out, err);
    return telvox::runCompanionCommand(C::Status, {}, paths, out, err);
}

bool hasOption(int argc, char *argv[], const char *option)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], option) == 0)
            return true;
    }
    return false;
}

bool wantsService(int argc, char *argv[]) { return hasOption(argc, argv, "--service"); }

// `telvox --web-password`: no windows, no lock; the hash goes into the settings store.
int runWebPassword(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc != 2) {
        err << "telvox: --web-password takes no other option; it reads the password from standard input"
            << Qt::endl;
        return 2;
    }
    return telvox::setWebPassword(telvox::AppPaths::fromEnvironment(telvox::applicationName()), err);
}

// `telvox --set-pin`: the same, for the PIN of remote retrieval.
int runSetPin(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc != 2) {
        err << "telvox: --set-pin takes no other option; it reads the PIN from standard input" << Qt::endl;
        return 2;
    }
    return telvox::setRemotePin(telvox::AppPaths::fromEnvironment(telvox::applicationName()), err);
}

// The whole program; every object of ours is destroyed when it returns.
int run(int argc, char *argv[])
{
    if (isCompanionCall(argc, argv))
        return runCompanion(argc, argv);
    if (hasOption(argc, argv, "--web-password"))
        return runWebPassword(argc, argv);
    if (hasOption(argc, argv, "--set-pin"))
        return runSetPin(argc, argv);
    // The service never opens a window, with or without a display.
    if (wantsService(argc, argv))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QElapsedTimer processClock;
    processClock.start();
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral("2.4.5"));
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Telvox: telephone call recorder and answering machine"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption quitAfter(QStringLiteral("quit-after"),
                                       QStringLiteral("Shut down by itself <ms> milliseconds after loading."),
                                       QStringLiteral("ms"));
    const QCommandLineOption echoStatus(QStringLiteral("echo-status"),
                                        QStringLiteral("Print the folder and every status line on standard output."));
    const QCommandLineOption reportLoad(QStringLiteral("report-load-time"),
                                        QStringLiteral("Print how long start-up took, without the splash window."));
    const QCommandLineOption service(QStringLiteral("service"),
                                     QStringLiteral("Run without windows until SIGTERM or SIGINT, writing the status "
                                                    "lines with date and time on standard output."));
    const QCommandLineOption scenario(QStringLiteral("scenario"),
                                      QStringLiteral("With --service on the virtual exchange: the far ends follow the "
                                                     "steps of this scenario file, in real time."),
                                      QStringLiteral("file"));
    const QCommandLineOption webPassword(QStringLiteral("web-password"),
                                         QStringLiteral("Read a new password for the web interface from standard "
                                                        "input and store its hash."));
    const QCommandLineOption setPin(QStringLiteral("set-pin"),
                                    QStringLiteral("Read the PIN for hearing messages by telephone (4 to 8 digits, "
                                                   "empty to turn it off) from standard input and store its hash."));
    parser.addOptions({quitAfter, echoStatus, reportLoad, service, scenario, webPassword, setPin});
    // The line backends' own options (--modem <port>).
    telvox::LineBackendRegistry lineBackends;
    telvox::registerLineBackends(lineBackends);
    for (const telvox::LineBackendOption &option : lineBackends.options())
        parser.addOption(QCommandLineOption(option.name, option.description, option.valueName));
    parser.addOptions(companionOptions()); // listed by --help; handled by runCompanion
    parser.process(app);
    const bool asService = parser.isSet(service);

    const telvox::AppPaths paths = telvox::AppPaths::fromEnvironment(telvox::applicationName());
    telvox::QtEventLoop loop;
    telvox::WidgetPrompts widgetPrompts;
    QTextStream serviceOut(stdout);
    telvox::ServicePrompts servicePrompts(serviceOut);
    telvox::UserPrompts &prompts = asService ? static_cast<telvox::UserPrompts &>(servicePrompts)
                                             : static_cast<telvox::UserPrompts &>(widgetPrompts);
    telvox::QtPrinter printer(paths.programFolder);
    telvox::TelvoxApplication::Options options;
    options.echoStatus = parser.isSet(echoStatus) && !asService;
    options.headless = asService;
    options.lineBackends = &lineBackends;
    for (const telvox::LineBackendOption &option : lineBackends.options()) {
        if (parser.isSet(option.name))
            options.lineOptions.insert(option.name, parser.values(option.name));
    }
    if (const QString refused = lineBackends.checkOptions(options.lineOptions); !refused.isEmpty()) {
        QTextStream(stderr) << "telvox: " << refused << Qt::endl;
        return 2;
    }
    telvox::TelvoxApplication telvoxApp(paths, loop, prompts, printer, options);
    // Queued, so that an end requested during start-up (before the event loop runs) still ends it.
    telvoxApp.setEndProcessHandler([](int code) {
        QMetaObject::invokeMethod(qApp, [code] { QCoreApplication::exit(code); }, Qt::QueuedConnection);
    });
    // Saving the setup ends the run; the program then starts again with the new settings.
    telvoxApp.setRestartHandler(&telvox::TelvoxApplication::restartDetached);

    if (options.echoStatus)
        QTextStream(stdout) << telvox::builtInStrings().text(1204) << paths.programFolder << Qt::endl;
    // An alarm is a status line and a message box: printed once.
    widgetPrompts.setAlreadyWritten([&telvoxApp](const QString &text) { return telvoxApp.echoedRecently(text); });

    std::unique_ptr<telvox::ServiceMode> serviceMode;
    // The prompts outlive the program and the service: they stop asking them first.
    const auto forgetWritten = qScopeGuard([&] {
        widgetPrompts.setAlreadyWritten(nullptr);
        servicePrompts.setAlreadyWritten(nullptr);
    });
    if (asService) {
        serviceMode = std::make_unique<telvox::ServiceMode>(telvoxApp, serviceOut);
        serviceMode->attach();
        servicePrompts.setAlreadyWritten([mode = serviceMode.get()](const QString &text) { return mode->saidRecently(text); });
        QString error;
        if (parser.isSet(scenario) && !serviceMode->loadScenario(parser.value(scenario), &error)) {
            QTextStream(stderr) << "telvox: " << error << Qt::endl;
            return 2;
        }
    } else if (QString hello; telvox::askService(paths, QStringLiteral("hello"), &hello, 500)) {
        // The service owns the lines: the desktop program says so and shows the recordings,
        // read-only, instead of starting a second set of lines.
        const telvox::Texts texts(telvox::builtInStrings(),
                                  telvox::languageOffsetFor(telvoxApp.settings().ReadSetting(
                                      QStringLiteral("Config"), QStringLiteral("Language"))));
        const QStringList listing = telvox::recordingListing(paths, telvoxApp.settings(), texts);
        widgetPrompts.messageBox(texts.LoadText(1650) + QStringLiteral("\n\n") + listing.join(QLatin1Char('\n')),
                                 telvox::MessageIcon::Information, QStringLiteral("Telvox"));
        return 1;
    }

    installSignalHandlers();
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&telvoxApp, &serviceMode] {
        char byte;
        [[maybe_unused]] const auto got = ::read(signalPipe[0], &byte, 1);
        if (serviceMode)
            serviceMode->say(telvoxApp.texts().LoadText(1652));
        telvoxApp.shutdown();
    });

    if (telvoxApp.Main() == telvox::TelvoxApplication::StartResult::AlreadyRunning)
        return telvoxApp.raisedRunningInstance() ? 0 : 1; // 1: the running one could not be reached
    if (serviceMode) {
        serviceMode->say(telvoxApp.texts().LoadText(1651).arg(QCoreApplication::applicationPid()));
        serviceMode->say(telvoxApp.texts().LoadText(1204) + paths.programFolder);
        if (!serviceMode->listen())
            serviceMode->say(QStringLiteral("control socket unavailable: ") + telvox::serviceSocketPath(paths, false));
    }

    // Reports and the optional self-shutdown wait until loading has finished. They run from
    // the event loop once the loading step is over (the window shown), never inside it.
    // The web interface: always with the service, on the desktop when the setup switched it on.
    telvox::WebService web;
    bool reported = false;
    const bool quit = parser.isSet(quitAfter);
    const int quitMs = parser.value(quitAfter).toInt();
    const auto whenLoaded = [&] {
        if (reported)
            return;
        reported = true;
        if (serviceMode)
            serviceMode->loaded();
        if (asService || telvox::readWebOptions(telvoxApp.settings()).enabled)
            web.start(telvoxApp.system(), [&telvoxApp](const QString &text) { telvoxApp.statusLog().AddStatus(text); });
        if (parser.isSet(reportLoad)) {
            const qint64 splash = telvoxApp.splashShown() ? 2500 : 0;
            QTextStream(stdout) << "load-ms " << telvoxApp.loadMilliseconds() << " process-ms "
                                << (processClock.elapsed() - splash) << Qt::endl;
        }
        if (quit)
            QTimer::singleShot(quitMs, [&telvoxApp] { telvoxApp.shutdown(); });
    };
    telvoxApp.setLoadedHandler([&] { QTimer::singleShot(0, whenLoaded); });
    if (telvoxApp.isLoaded())
        QTimer::singleShot(0, whenLoaded);
    return QApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    telvox::usePrivateFileMode();
    // A file that reaches the size limit fails its write (and the recording ends cleanly)
    // rather than ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
    const int code = run(argc, argv);
    // Qt Multimedia 6.4 tears its PulseAudio connection down in an exit handler, where libpulse
    // now and then aborts on an assertion of its own when the machine is busy. Everything has
    // been saved and closed by now, so the process ends here, skipping the exit handlers.
    std::fflush(nullptr);
    std::_Exit(code);
}
