#pragma once

#include <QString>

#include <functional>
#include <memory>

class QTextStream;

namespace telvox {

struct AppPaths;
class CallSystem;
class WebAdapter;
class WebServer;

// The web interface of a running program: the adapter over the call system's lists and the
// server, built from the "Web" options once the program has loaded.
class WebService
{
public:
    WebService();
    ~WebService();

    // Starts serving; `say` gets what the user should know (the address, a certificate's
    // fingerprint, why it cannot serve). False when it does not serve.
    bool start(CallSystem &system, const std::function<void(const QString &)> &say);
    WebServer *server() const { return m_server.get(); }

private:
    std::unique_ptr<WebAdapter> m_adapter;
    std::unique_ptr<WebServer> m_server;
};

// `telvox --web-password`: reads a new password from standard input (twice, without echo, on
// a terminal) and stores its Argon2id hash as "[Web] PasswordHash". Returns the exit status.
int setWebPassword(const AppPaths &paths, QTextStream &err);

} // namespace telvox
