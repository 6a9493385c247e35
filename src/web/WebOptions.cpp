#include "web/WebOptions.h"

#include "core/Settings.h"

namespace telvox {

WebOptions readWebOptions(const SettingsStore &settings)
{
    WebOptions o;
    const auto read = [&](const char *key, const QString &fallback = {}) {
        return settings.ReadSetting(webSection(), QString::fromLatin1(key), fallback).trimmed();
    };
    o.enabled = read("Enabled", QStringLiteral("0")) == QLatin1String("1");
    o.listen = read("Listen", o.listen);
    if (o.listen.isEmpty())
        o.listen = QStringLiteral("127.0.0.1:8780");
    o.certFile = read("CertFile");
    o.keyFile = read("KeyFile");
    o.passwordHash = read("PasswordHash").toLatin1();
    bool ok = false;
    const int idle = read("IdleMinutes").toInt(&ok);
    if (ok && idle > 0 && idle <= 24 * 60)
        o.idleMinutes = idle;
    return o;
}

} // namespace telvox
