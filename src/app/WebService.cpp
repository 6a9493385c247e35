#include "app/WebService.h"

#include "app/CallSystem.h"
#include "app/WebAdapter.h"
#include "app/WebModule.h"
#include "core/AppPaths.h"
#include "core/ProgramModule.h"
#include "core/SecretHash.h"
#include "core/Settings.h"
#include "telephony/RemotePin.h"
#include "web/WebAuth.h"
#include "web/WebOptions.h"

#include <QObject>
#include <QTextStream>

#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace telvox {

namespace {

constexpr int kMinPasswordLength = 8;

} // namespace

QByteArray readSecretLine(const char *prompt, bool terminal)
{
    termios saved{};
    if (terminal) {
        std::fputs(prompt, stderr);
        std::fflush(stderr);
        tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    QByteArray line;
    for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar())
        line.append(static_cast<char>(c));
    if (line.endsWith('\r'))
        line.chop(1);
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    return line;
}

WebService::WebService() = default;
WebService::~WebService()
{
    m_server.reset(); // before the adapter it listens to
}

bool WebService::start(CallSystem &system, const std::function<void(const QString &)> &say)
{
    QString error;
    const auto startServer = reinterpret_cast<WebStartFunction>(
        programModuleSymbol(kWebModuleFile, kWebModuleOverride, kWebModuleEntry, &error));
    if (!startServer) {
        say(QStringLiteral("web interface not started: ") + error);
        return false;
    }
    auto adapter = std::make_unique<WebAdapter>(system);
    const WebStartRequest request{readWebOptions(system.settings()), system.paths().programFolder,
                                  system.paths().settingsFile, say};
    QObject *server = startServer(programModuleBuild(), *adapter, request);
    if (!server)
        return false; // `say` was told why
    m_adapter = std::move(adapter);
    m_server.reset(server);
    return true;
}

int setWebPassword(const AppPaths &paths, QTextStream &err)
{
    const bool terminal = isatty(STDIN_FILENO) != 0;
    QByteArray password = readSecretLine("New web password: ", terminal);
    if (terminal) {
        QByteArray again = readSecretLine("Again: ", terminal);
        const bool same = again == password;
        again.fill('\0');
        if (!same) {
            password.fill('\0');
            err << "telvox: the two passwords differ; nothing was changed" << Qt::endl;
            return 1;
        }
    }
    if (QString::fromUtf8(password).size() < kMinPasswordLength) {
        password.fill('\0');
        err << "telvox: the password needs at least " << kMinPasswordLength << " characters; nothing was changed"
            << Qt::endl;
        return 1;
    }
    const auto hash = webpassword::hash(std::move(password));
    if (!hash) {
        err << "telvox: cannot hash the password (libsodium failed)" << Qt::endl;
        return 1;
    }
    SettingsStore settings(paths.settingsFile, paths.file(QStringLiteral("settings.txt")));
    settings.WriteSetting(webSection(), QStringLiteral("PasswordHash"), QString::fromLatin1(*hash));
    err << "telvox: web password stored; it counts at once, also for a running program" << Qt::endl;
    return 0;
}

int setRemotePin(const AppPaths &paths, QTextStream &err)
{
    const bool terminal = isatty(STDIN_FILENO) != 0;
    QByteArray pin = readSecretLine("New PIN for remote retrieval (4 to 8 digits, empty to turn it off): ", terminal);
    if (terminal) {
        QByteArray again = readSecretLine("Again: ", terminal);
        const bool same = again == pin;
        secrethash::wipe(again);
        if (!same) {
            secrethash::wipe(pin);
            err << "telvox: the two PINs differ; nothing was changed" << Qt::endl;
            return 1;
        }
    }
    SettingsStore settings(paths.settingsFile, paths.file(QStringLiteral("settings.txt")));
    const remotepin::Result result = remotepin::store(settings, std::move(pin));
    switch (result) {
    case remotepin::Result::Stored:
        err << "telvox: PIN stored; remote retrieval is on, also for a running program" << Qt::endl;
        return 0;
    case remotepin::Result::Cleared:
        err << "telvox: no PIN; remote retrieval is off" << Qt::endl;
        return 0;
    default:
        err << "telvox: " << remotepin::problemText(result) << "; nothing was changed" << Qt::endl;
        return 1;
    }
}

} // namespace telvox
