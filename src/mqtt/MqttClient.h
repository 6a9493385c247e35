#pragma once

#include "mqtt/HomeOptions.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>

struct mosquitto;
struct mosquitto_message;

namespace telvox {

// A connection to an MQTT broker through libmosquitto. The library's own thread does the
// network work and the reconnecting (with a growing wait); what it reports is handed to this
// object's thread as signals. publish() only queues: it never waits for the network, so the
// call flow can publish from any event handler. Messages of QoS 1 published while the broker
// is away are kept by the library and sent once it is back.
class MqttClient final : public QObject
{
    Q_OBJECT
public:
    // `willTopic` gets "offline" (retained) from the broker when this client vanishes.
    MqttClient(MqttOptions options, QString willTopic, QObject *parent = nullptr);
    ~MqttClient() override;
    MqttClient(const MqttClient &) = delete;
    MqttClient &operator=(const MqttClient &) = delete;

    // Starts connecting. False (with the reason) when the client cannot even be set up (a CA
    // file that cannot be used); a broker that cannot be reached is retried in the background.
    bool start(QString *error);
    // Publishes `goodbye` (retained) on the will topic, disconnects and ends the thread.
    void stop(const QByteArray &goodbye);

    bool publish(const QString &topic, const QByteArray &payload, bool retain, int qos = 1);
    bool subscribe(const QString &topic);
    bool isConnected() const { return m_connected.load(); }
    const MqttOptions &options() const { return m_options; }

signals:
    void connected();
    void disconnected(const QString &reason); // an unexpected loss, or a failed attempt
    void refused(const QString &reason);      // the broker said no (a wrong password, ...)
    void messageReceived(const QString &topic, const QByteArray &payload);

private:
    static void onConnect(mosquitto *mosq, void *self, int rc);
    static void onDisconnect(mosquitto *mosq, void *self, int rc);
    static void onMessage(mosquitto *mosq, void *self, const mosquitto_message *message);

    MqttOptions m_options;
    QString m_willTopic;
    mosquitto *m_mosq = nullptr;
    bool m_running = false;
    std::atomic<bool> m_connected{false};
};

} // namespace telvox
