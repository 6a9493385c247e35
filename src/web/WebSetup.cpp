#include "web/WebSetup.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSslCertificate>

namespace telvox {

QString certificateFingerprint(const QString &certFile)
{
    const QList<QSslCertificate> certs = QSslCertificate::fromPath(certFile, QSsl::Pem);
    if (certs.isEmpty())
        return {};
    return QString::fromLatin1(certs.front().digest(QCryptographicHash::Sha256).toHex(':').toUpper());
}

bool makeSelfSignedCertificate(const QString &certFile, const QString &keyFile, QString *error)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                   QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-days"), QStringLiteral("3650"), QStringLiteral("-subj"), QStringLiteral("/CN=Telvox"),
                   QStringLiteral("-addext"), QStringLiteral("subjectAltName=DNS:localhost,IP:127.0.0.1"),
                   QStringLiteral("-keyout"), keyFile, QStringLiteral("-out"), certFile});
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        *error = QStringLiteral("cannot make a certificate with openssl: %1")
                     .arg(openssl.error() == QProcess::FailedToStart ? QStringLiteral("openssl is not installed")
                                                                     : QString::fromLocal8Bit(openssl.readAllStandardError()).trimmed());
        QFile::remove(keyFile);
        QFile::remove(certFile);
        return false;
    }
    QFile::setPermissions(keyFile, QFile::ReadOwner | QFile::WriteOwner);
    return true;
}

bool webServerConfig(const WebOptions &options, const QString &programFolder, WebServerConfig *config,
                     QString *notice, QString *error)
{
    const auto address = parseListenAddress(options.listen, error);
    if (!address)
        return false;
    config->address = address->first;
    config->port = address->second;
    config->passwordHash = options.passwordHash;
    config->idleMs = qint64(options.idleMinutes) * 60 * 1000;
    const QDir folder(programFolder);
    config->certFile = options.certFile.isEmpty() ? QString() : folder.absoluteFilePath(options.certFile);
    config->keyFile = options.keyFile.isEmpty() ? QString() : folder.absoluteFilePath(options.keyFile);
    if (config->certFile.isEmpty() != config->keyFile.isEmpty()) {
        *error = QStringLiteral("[Web] CertFile and KeyFile go together: give both or neither");
        return false;
    }
    if (!config->address.isLoopback() && config->certFile.isEmpty()) {
        config->certFile = folder.absoluteFilePath(QStringLiteral("web-cert.pem"));
        config->keyFile = folder.absoluteFilePath(QStringLiteral("web-key.pem"));
        if (!QFile::exists(config->certFile) || !QFile::exists(config->keyFile)) {
            if (!makeSelfSignedCertificate(config->certFile, config->keyFile, error)) {
                *error = QStringLiteral("refusing to serve plain HTTP on %1, and %2").arg(options.listen, *error);
                return false;
            }
            *notice = QStringLiteral("made a self-signed certificate %1, SHA-256 fingerprint %2")
                          .arg(config->certFile, certificateFingerprint(config->certFile));
        } else {
            *notice = QStringLiteral("certificate %1, SHA-256 fingerprint %2")
                          .arg(config->certFile, certificateFingerprint(config->certFile));
        }
    }
    return true;
}

} // namespace telvox
