#pragma once

#include <QByteArray>
#include <QString>

namespace telvox {

class SettingsStore;

// The options of section "Web" in the settings store:
//   Enabled      "1": the desktop program serves the web page too (the service always does)
//   Listen       address and port, default 127.0.0.1:8780
//   CertFile, KeyFile  PEM files for TLS; off loopback, made at first start when missing
//   PasswordHash the Argon2id hash `telvox --web-password` stores
//   IdleMinutes  a session ends after this long without a request (default 30)
struct WebOptions
{
    bool enabled = false;
    QString listen = QStringLiteral("127.0.0.1:8780");
    QString certFile;
    QString keyFile;
    QByteArray passwordHash;
    int idleMinutes = 30;
};
WebOptions readWebOptions(const SettingsStore &settings);
inline QString webSection() { return QStringLiteral("Web"); }

} // namespace telvox
