#pragma once

#include "web/WebServer.h"

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

// Turns the options into the server's configuration. Off loopback without a certificate, a
// self-signed one is made in `programFolder` (web-cert.pem, web-key.pem) and its SHA-256
// fingerprint returned in `notice`, for the user to compare in the browser. False with
// `error` when the address is malformed or no certificate can be had.
bool webServerConfig(const WebOptions &options, const QString &programFolder, WebServerConfig *config,
                     QString *notice, QString *error);

// Makes a self-signed certificate and its key (EC P-256, ten years) with the openssl tool.
bool makeSelfSignedCertificate(const QString &certFile, const QString &keyFile, QString *error);
// "AB:CD:..." of the first certificate in a PEM file; "" when none.
QString certificateFingerprint(const QString &certFile);

} // namespace telvox
