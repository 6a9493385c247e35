#pragma once

#include "web/WebOptions.h"
#include "web/WebServer.h"

#include <QString>

namespace telvox {

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
