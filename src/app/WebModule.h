#pragma once

#include "web/WebOptions.h"

#include <QString>

#include <functional>

class QObject;

namespace telvox {

class WebBackend;

// The web module (telvox-web.so): the web server with Qt Network, Qt's HTTP server and their
// TLS and Kerberos libraries, opened only when the web interface is to run, so that a start
// without it loads none of them. Found like the sound module (core/ProgramModule.h).
inline constexpr const char *kWebModuleFile = "telvox-web.so";
inline constexpr const char *kWebModuleOverride = "TELVOX_WEB_MODULE";
inline constexpr const char *kWebModuleEntry = "telvox_web_start";

struct WebStartRequest
{
    WebOptions options;
    QString programFolder;
    QString settingsFile; // read anew at each log-in: `telvox --web-password` may change it
    std::function<void(const QString &)> say; // what the user should know
};

// The module's entry point: the running server over `backend` (which must outlive it), owned
// by the caller, or null when it does not serve (`say` was told why) or the build differs.
using WebStartFunction = QObject *(*)(const char *build, WebBackend &backend, const WebStartRequest &request);

} // namespace telvox
