#pragma once

#include <QString>

namespace telvox {

class SettingsStore;

// Section "MQTT" of the settings store. The password is not among the options: it lives in
// its own file of the program folder ("MqttPassword", beside the mail password's file) that
// only the owner may read.
struct MqttOptions
{
    QString host;                              // from "Broker" ("host", "host:port", "[v6]:port")
    int port = 1883;                           // 8883 by default with a CA file
    QString user;                              // "User"
    QString password;                          // from the password file
    QString prefix = QStringLiteral("telvox"); // "TopicPrefix"
    QString caFile;                            // "CaFile": TLS, trusting these certificates
    bool acceptCommands = false;               // "AcceptCommands"
    int retryMinSeconds = 1;                   // "RetrySeconds": the first reconnection wait
    int retryMaxSeconds = 60;                  // longest wait between reconnection attempts

    bool enabled() const { return !host.isEmpty(); }
    QString brokerText() const;                // "host:port" for status lines
};

inline QString mqttPasswordFileName() { return QStringLiteral("MqttPassword"); }

// Section "Webhook": every event is also posted as JSON to "URL" (http or https).
struct WebhookOptions
{
    QString url;
    int retrySeconds = 5; // "RetrySeconds": the first retry; each further one waits twice as long
    int attempts = 4;     // "Attempts": tries in all before the event is given up
    QString caFile;       // "CaFile"

    bool enabled() const { return !url.isEmpty(); }
};

// What reading the options found wrong; each is a status line for the user (English, with
// the offending value), empty when all is well.
struct OptionProblems
{
    QString broker;   // the "Broker" value cannot be used: MQTT stays off
    QString prefix;   // the prefix cannot be used: "telvox" is used instead
    QString password; // the password file is readable by others: it is not used
    QString webhook;  // the URL cannot be used: no webhook
};

// `brokerText` as the user writes it: host and optional port. False when unusable.
bool parseBroker(const QString &text, QString *host, int *port);

MqttOptions readMqttOptions(const SettingsStore &settings, const QString &programFolder, OptionProblems *problems);
WebhookOptions readWebhookOptions(const SettingsStore &settings, OptionProblems *problems);

} // namespace telvox
