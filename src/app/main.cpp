#include "app/TelvoxApplication.h"
#include "core/AppPaths.h"
#include "core/QtEventLoop.h"
#include "core/Texts.h"
#include "ui/WidgetPrompts.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
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

// The whole program; every object of ours is destroyed when it returns.
int run(int argc, char *argv[])
{
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
    const QCommandLineOption modemPort(QStringLiteral("modem"),
                                       QStringLiteral("Use the voice modem on <port> for the next line (up to four "
                                                      "times), in place of the configured ports, for this run only."),
                                       QStringLiteral("port"));
    parser.addOptions({quitAfter, echoStatus, reportLoad, modemPort});
    parser.process(app);

    const telvox::AppPaths paths = telvox::AppPaths::fromEnvironment(telvox::applicationName());
    telvox::QtEventLoop loop;
    telvox::WidgetPrompts prompts;
    telvox::QtPrinter printer(paths.programFolder);
    telvox::TelvoxApplication::Options options;
    options.echoStatus = parser.isSet(echoStatus);
    options.modemPorts = parser.values(modemPort);
    if (options.modemPorts.size() > 4) {
        QTextStream(stderr) << "telvox: at most four lines: --modem was given " << options.modemPorts.size()
                            << " times" << Qt::endl;
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

    installSignalHandlers();
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&telvoxApp] {
        char byte;
        [[maybe_unused]] const auto got = ::read(signalPipe[0], &byte, 1);
        telvoxApp.shutdown();
    });

    if (telvoxApp.Main() == telvox::TelvoxApplication::StartResult::AlreadyRunning)
        return 1;

    // Reports and the optional self-shutdown wait until loading has finished.
    QTimer watch;
    bool reported = false;
    const bool quit = parser.isSet(quitAfter);
    const int quitMs = parser.value(quitAfter).toInt();
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!telvoxApp.isLoaded() || reported)
            return;
        reported = true;
        watch.stop();
        if (parser.isSet(reportLoad)) {
            const qint64 splash = telvoxApp.splashShown() ? 2500 : 0;
            QTextStream(stdout) << "load-ms " << telvoxApp.loadMilliseconds() << " process-ms "
                                << (processClock.elapsed() - splash) << Qt::endl;
        }
        if (quit)
            QTimer::singleShot(quitMs, [&telvoxApp] { telvoxApp.shutdown(); });
    });
    watch.start(1);
    return QApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    const int code = run(argc, argv);
    // Qt Multimedia 6.4 tears its PulseAudio connection down in an exit handler, where libpulse
    // now and then aborts on an assertion of its own when the machine is busy. Everything has
    // been saved and closed by now, so the process ends here, skipping the exit handlers.
    std::fflush(nullptr);
    std::_Exit(code);
}
