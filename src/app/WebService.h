#pragma once

#include <QString>

#include <functional>
#include <memory>

class QObject;
class QTextStream;

namespace telvox {

struct AppPaths;
class CallSystem;
class WebAdapter;

// The web interface of a running program: the adapter over the call system's lists and the
// server of the web module (app/WebModule.h), built from the "Web" options once the program
// has loaded.
class WebService
{
public:
    WebService();
    ~WebService();

    // Starts serving; `say` gets what the user should know (the address, a certificate's
    // fingerprint, why it cannot serve). False when it does not serve.
    bool start(CallSystem &system, const std::function<void(const QString &)> &say);

private:
    std::unique_ptr<WebAdapter> m_adapter;
    std::unique_ptr<QObject> m_server;
};

// `telvox --web-password`: reads a new password from standard input (twice, without echo, on
// a terminal) and stores its Argon2id hash as "[Web] PasswordHash". Returns the exit status.
int setWebPassword(const AppPaths &paths, QTextStream &err);

// One line of standard input without its line end; on a terminal (`terminal`) `prompt` is
// shown on standard error and the keys typed are not echoed.
QByteArray readSecretLine(const char *prompt, bool terminal);

// `telvox --set-pin`: reads the PIN of remote retrieval (4 to 8 digits; an empty line turns
// remote retrieval off) from standard input, twice on a terminal, and stores its Argon2id hash
// as "[Remote] PinHash". Returns the exit status.
int setRemotePin(const AppPaths &paths, QTextStream &err);

} // namespace telvox
