#pragma once

#include "core/AppPaths.h"

#include <QString>

namespace telvox {

// The service's control socket: a local socket beside the single-instance lock, on which the
// running service answers one request per connection ("hello", "status", "mark-read NAME")
// with text. The companion commands and a desktop start use it to learn whether the service
// owns the lines and to leave changes to its lists to it.
// A path too long for a socket gives a short private folder of its own (privateSocketPath);
// `create` makes it (the service), else it is only looked up (empty when there is none).
QString serviceSocketPath(const AppPaths &paths, bool create);

// Sends `request` to the running service and waits for its whole answer. Returns false when
// no service of this account answers within `timeoutMs` (a socket of another account is
// never written to).
bool askService(const AppPaths &paths, const QString &request, QString *reply, int timeoutMs = 3000);

} // namespace telvox
