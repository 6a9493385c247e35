// The entry point of the web module (telvox-web.so), the only symbol it exports: it turns the
// "Web" options into the server's configuration and starts serving.
#include "app/WebModule.h"

#include "core/ProgramModule.h"
#include "web/WebServer.h"
#include "web/WebSetup.h"

#include <QSettings>

#include <cstring>
#include <memory>

extern "C" __attribute__((visibility("default"))) QObject *telvox_web_start(const char *build,
                                                                            telvox::WebBackend &backend,
                                                                            const telvox::WebStartRequest &request)
{
    using namespace telvox;
    if (!build || std::strcmp(build, programModuleBuild()) != 0)
        return nullptr;
    const auto say = [&request](const QString &text) {
        if (request.say)
            request.say(text);
    };
    WebServerConfig config;
    QString notice;
    QString error;
    if (!webServerConfig(request.options, request.programFolder, &config, &notice, &error)) {
        say(QStringLiteral("web interface not started: ") + error);
        return nullptr;
    }
    if (!notice.isEmpty())
        say(QStringLiteral("web interface: ") + notice);
    // The settings file itself, read anew at each log-in: `telvox --web-password` writes it
    // from another process while this one runs.
    config.currentPasswordHash = [file = request.settingsFile] {
        const QSettings stored(file, QSettings::IniFormat);
        return stored.value(webSection() + QStringLiteral("/PasswordHash")).toString().trimmed().toLatin1();
    };
    auto server = std::make_unique<WebServer>(backend, config);
    if (!server->start(&error)) {
        say(QStringLiteral("web interface not started: ") + error);
        return nullptr;
    }
    const QString host = config.address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + config.address.toString() + QLatin1Char(']')
                             : config.address.toString();
    say(QStringLiteral("web interface at %1://%2:%3/")
            .arg(server->usesTls() ? QStringLiteral("https") : QStringLiteral("http"), host)
            .arg(server->port()));
    if (config.passwordHash.isEmpty())
        say(QStringLiteral("web interface: no password is set yet; run telvox --web-password"));
    return server.release();
}
