#pragma once

#include "core/AppPaths.h"

#include <QString>

namespace telvox {

// The service's control socket: a local socket beside the single-instance lock, on which the
// running service answers one request per connection ("hello", "status", "mark-read NAME")
// with text. The companion commands and a desktop start use it to learn whether the service
// owns the lines and to leave changes to its lists to it.
QString serviceSocketPath(const AppPaths &paths);

// Sends `request` to the running service and waits for its whole answer. Returns false when
// no service answers within `timeoutMs`.
bool askService(const AppPaths &paths, const QString &request, QString *reply, int timeoutMs = 3000);

} // namespace telvox
