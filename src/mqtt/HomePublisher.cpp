// What Telvox tells the house: events to MQTT topics and webhook posts, commands back.

#include "mqtt/HomePublisher.h"

#include "core/Texts.h"
#include "mqtt/MqttClient.h"
#include "mqtt/Webhook.h"

namespace telvox {

HomePublisher::HomePublisher(Services services, MqttOptions mqtt, WebhookOptions webhook, int lineCount, QObject *parent)
    : QObject(parent)
    , m_s(std::move(services))
    , m_mqtt(std::move(mqtt))
    , m_hook(std::move(webhook))
    , m_topics{m_mqtt.prefix}
    , m_lineCount(std::clamp(lineCount, 1, 4))
{
}

HomePublisher::~HomePublisher() { stop(); }

void HomePublisher::start()
{
    if (m_hook.enabled() && !m_webhook) {
        m_webhook = std::make_unique<Webhook>(m_hook);
        connect(m_webhook.get(), &Webhook::failed, this, [this](const QString &event, const QString &reason, bool givenUp) {
            if (givenUp)
                m_s.status(m_s.texts.LoadText(1368).arg(m_hook.url, reason, event));
        });
    }
    if (!m_mqtt.enabled() || m_client)
        return;
    m_client = std::make_unique<MqttClient>(m_mqtt, m_topics.status());
    connect(m_client.get(), &MqttClient::connected, this, &HomePublisher::connected);
    connect(m_client.get(), &MqttClient::disconnected, this, &HomePublisher::lost);
    connect(m_client.get(), &MqttClient::refused, this, [this](const QString &reason) {
        if (reason == m_refusal)
            return; // said once; the client keeps trying, more slowly each time
        m_refusal = reason;
        m_s.status(m_s.texts.LoadText(1363).arg(m_mqtt.brokerText(), reason));
    });
    connect(m_client.get(), &MqttClient::messageReceived, this, &HomePublisher::commandReceived);
    QString error;
    if (!m_client->start(&error)) {
        m_s.status(m_s.texts.LoadText(1369).arg(error));
        m_client.reset();
    }
}

void HomePublisher::stop()
{
    if (m_client)
        m_client->stop("offline");
    m_client.reset();
    m_webhook.reset();
}

void HomePublisher::connected()
{
    m_s.status(m_s.texts.LoadText(m_everConnected ? 1362 : 1360).arg(m_mqtt.brokerText()));
    m_everConnected = true;
    m_lostSaid = false;
    m_refusal.clear();
    // Everything retained, again: the broker may have restarted without its store.
    m_client->publish(m_topics.status(), "online", true);
    for (const DiscoveryConfig &config : discoveryConfigs(m_topics, m_lineCount, m_s.version))
        m_client->publish(config.topic, config.payload, true);
    for (int n = 0; n < m_lineCount; ++n)
        m_client->publish(m_topics.line(n), lineStatePayload(n, m_lines.at(static_cast<std::size_t>(n))), true);
    if (m_unread >= 0)
        m_client->publish(m_topics.unread(), unreadPayload(m_unread), true);
    if (!m_lastCaller.isEmpty())
        m_client->publish(m_topics.lastCaller(), m_lastCaller, true);
    if (m_mqtt.acceptCommands) {
        m_client->subscribe(m_topics.commandRead());
        m_client->subscribe(m_topics.commandBlock());
    }
}

void HomePublisher::lost(const QString &reason)
{
    if (m_lostSaid || !m_refusal.isEmpty())
        return; // said once for each time it goes away; a refusal said why already
    m_lostSaid = true;
    m_s.status(m_s.texts.LoadText(m_everConnected ? 1361 : 1371).arg(m_mqtt.brokerText(), reason));
}

void HomePublisher::send(const QString &topic, const QByteArray &payload, bool retain)
{
    // Queued by the library even while the broker is away (QoS 1): sent once it is back.
    if (m_client)
        m_client->publish(topic, payload, retain);
}

void HomePublisher::lineState(int line, LineActivity activity)
{
    if (line < 0 || line >= m_lineCount)
        return;
    LineActivity &known = m_lines.at(static_cast<std::size_t>(line));
    if (known == activity)
        return;
    known = activity;
    send(m_topics.line(line), lineStatePayload(line, activity), true);
}

void HomePublisher::callerIdentified(const CallerEvent &event)
{
    const QByteArray payload = callPayload(event);
    m_lastCaller = payload;
    send(m_topics.call(), payload, false);
    send(m_topics.lastCaller(), payload, true);
    if (m_webhook)
        m_webhook->post(QStringLiteral("call"), payload);
}

void HomePublisher::messageKept(const MessageEvent &event)
{
    const QByteArray payload = messagePayload(event);
    send(m_topics.message(), payload, false);
    if (m_webhook)
        m_webhook->post(QStringLiteral("message"), payload);
}

void HomePublisher::unreadCount(int count)
{
    if (count == m_unread)
        return;
    m_unread = count;
    const QByteArray payload = unreadPayload(count);
    send(m_topics.unread(), payload, true);
    if (m_webhook)
        m_webhook->post(QStringLiteral("unread"), payload);
}

void HomePublisher::commandReceived(const QString &topic, const QByteArray &payload)
{
    if (!m_mqtt.acceptCommands)
        return; // never subscribed; a broker that sends anyway is not obeyed
    const CommandParse parsed = parseHomeCommand(m_topics, topic, payload);
    if (!parsed.command) {
        m_s.status(m_s.texts.LoadText(1365).arg(parsed.error));
        send(m_topics.commandResult(), commandResultPayload(topic.section(QLatin1Char('/'), -1), false, parsed.error), false);
        return;
    }
    const HomeCommand &c = *parsed.command;
    if (c.kind == HomeCommand::Kind::MarkRead)
        emit markReadRequested(c.id);
    else
        emit blockRequested(c.number, c.label);
}

void HomePublisher::commandDone(const QString &command, bool ok, const QString &detail)
{
    if (!ok)
        m_s.status(m_s.texts.LoadText(1365).arg(detail));
    send(m_topics.commandResult(), commandResultPayload(command, ok, detail), false);
}

} // namespace telvox
