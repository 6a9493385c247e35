#pragma once

#include "mqtt/HomeEvents.h"
#include "mqtt/HomeOptions.h"
#include "mqtt/HomePayloads.h"

#include <QObject>

#include <array>
#include <functional>
#include <memory>

namespace telvox {

class MqttClient;
class Texts;
class Webhook;

// Tells the house what Telvox does: the events become MQTT topics (with Home Assistant's
// discovery configs) and webhook posts. The retained topics (status, each line's state, the
// unread count, the last caller, the discovery configs) are published again at every
// connection, so a broker that restarted empty learns them again. Commands from the broker
// (only with AcceptCommands) are checked and handed on as signals; whoever carries them out
// answers with commandDone().
class HomePublisher final : public QObject, public HomeEvents
{
    Q_OBJECT
public:
    struct Services
    {
        const Texts &texts;
        std::function<void(const QString &)> status; // a status line for the user
        QString version;                             // the program's, for the device
    };
    HomePublisher(Services services, MqttOptions mqtt, WebhookOptions webhook, int lineCount, QObject *parent = nullptr);
    ~HomePublisher() override;

    // Connects to the broker (when one is set) and starts the webhook (when a URL is set).
    void start();
    // Says "offline" and disconnects.
    void stop();

    // HomeEvents
    void lineState(int line, LineActivity activity) override;
    void callerIdentified(const CallerEvent &event) override;
    void messageKept(const MessageEvent &event) override;
    void unreadCount(int count) override;

    // The outcome of a command handed on by markReadRequested / blockRequested.
    void commandDone(const QString &command, bool ok, const QString &detail);

    const HomeTopics &topics() const { return m_topics; }
    MqttClient *client() const { return m_client.get(); }
    Webhook *webhook() const { return m_webhook.get(); }

signals:
    void markReadRequested(const QString &id);
    void blockRequested(const QString &number, const QString &label);

private:
    void connected();
    void lost(const QString &reason);
    void commandReceived(const QString &topic, const QByteArray &payload);
    void send(const QString &topic, const QByteArray &payload, bool retain);

    Services m_s;
    MqttOptions m_mqtt;
    WebhookOptions m_hook;
    HomeTopics m_topics;
    int m_lineCount;
    std::unique_ptr<MqttClient> m_client;
    std::unique_ptr<Webhook> m_webhook;
    std::array<LineActivity, 4> m_lines{};
    int m_unread = -1; // not known yet
    QByteArray m_lastCaller;
    bool m_everConnected = false;
    bool m_lostSaid = false;
    QString m_refusal; // the broker's last refusal, said once
};

} // namespace telvox
