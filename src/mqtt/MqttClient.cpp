// The MQTT connection: libmosquitto with its network thread, reports queued to Qt's thread.

#include "mqtt/MqttClient.h"

#include <QCoreApplication>
#include <QFile>
#include <QMetaObject>

#include <mosquitto.h>

#include <mutex>

namespace telvox {

namespace {

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

// More than any command may carry: the rest of a larger payload is never copied.
constexpr int kMaxPayloadCopy = 4096;

QString connackText(int rc) { return QString::fromUtf8(mosquitto_connack_string(rc)); }

} // namespace

MqttClient::MqttClient(MqttOptions options, QString willTopic, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_willTopic(std::move(willTopic))
{
    initLibrary();
}

MqttClient::~MqttClient()
{
    if (m_running)
        stop(QByteArray());
    if (m_mosq)
        mosquitto_destroy(m_mosq);
}

bool MqttClient::start(QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (m_running)
        return true;
    // A clean session: the retained topics are published again at every connection anyway.
    m_mosq = mosquitto_new(nullptr, true, this);
    if (!m_mosq)
        return fail(QStringLiteral("cannot create the MQTT client"));
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(m_mosq, &MqttClient::onConnect);
    mosquitto_disconnect_callback_set(m_mosq, &MqttClient::onDisconnect);
    mosquitto_message_callback_set(m_mosq, &MqttClient::onMessage);
    mosquitto_reconnect_delay_set(m_mosq, static_cast<unsigned>(m_options.retryMinSeconds),
                                  static_cast<unsigned>(m_options.retryMaxSeconds), true);
    const QByteArray will = m_willTopic.toUtf8();
    mosquitto_will_set(m_mosq, will.constData(), 7, "offline", 1, true);
    if (!m_options.user.isEmpty()) {
        const QByteArray user = m_options.user.toUtf8();
        const QByteArray password = m_options.password.toUtf8();
        mosquitto_username_pw_set(m_mosq, user.constData(), m_options.password.isEmpty() ? nullptr : password.constData());
    }
    if (!m_options.caFile.isEmpty()) {
        if (!QFile::exists(m_options.caFile))
            return fail(QStringLiteral("CA file %1 not found").arg(m_options.caFile));
        const QByteArray ca = QFile::encodeName(m_options.caFile);
        const int rc = mosquitto_tls_set(m_mosq, ca.constData(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            return fail(QStringLiteral("CA file %1: %2").arg(m_options.caFile, QString::fromUtf8(mosquitto_strerror(rc))));
    }
    const QByteArray host = m_options.host.toUtf8();
    // A broker that is not there yet is no failure: the thread keeps trying.
    const int rc = mosquitto_connect_async(m_mosq, host.constData(), m_options.port, 30);
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_ERRNO && rc != MOSQ_ERR_EAI)
        return fail(QString::fromUtf8(mosquitto_strerror(rc)));
    if (mosquitto_loop_start(m_mosq) != MOSQ_ERR_SUCCESS)
        return fail(QStringLiteral("cannot start the MQTT thread"));
    m_running = true;
    if (rc != MOSQ_ERR_SUCCESS)
        QMetaObject::invokeMethod(
            this, [this, why = QString::fromUtf8(mosquitto_strerror(rc))] { emit disconnected(why); }, Qt::QueuedConnection);
    return true;
}

void MqttClient::stop(const QByteArray &goodbye)
{
    if (!m_running)
        return;
    if (m_connected.load() && !goodbye.isEmpty())
        publish(m_willTopic, goodbye, true);
    mosquitto_disconnect(m_mosq);
    mosquitto_loop_stop(m_mosq, false);
    m_running = false;
    m_connected = false;
}

bool MqttClient::publish(const QString &topic, const QByteArray &payload, bool retain, int qos)
{
    if (!m_mosq)
        return false;
    const QByteArray t = topic.toUtf8();
    const int rc = mosquitto_publish(m_mosq, nullptr, t.constData(), static_cast<int>(payload.size()), payload.constData(),
                                     qos, retain);
    return rc == MOSQ_ERR_SUCCESS;
}

bool MqttClient::subscribe(const QString &topic)
{
    if (!m_mosq)
        return false;
    const QByteArray t = topic.toUtf8();
    return mosquitto_subscribe(m_mosq, nullptr, t.constData(), 1) == MOSQ_ERR_SUCCESS;
}

// The three callbacks below run on libmosquitto's thread: they only queue the news.

void MqttClient::onConnect(mosquitto *, void *self, int rc)
{
    auto *client = static_cast<MqttClient *>(self);
    if (rc == 0) {
        client->m_connected = true;
        QMetaObject::invokeMethod(client, [client] { emit client->connected(); }, Qt::QueuedConnection);
    } else {
        QMetaObject::invokeMethod(client, [client, why = connackText(rc)] { emit client->refused(why); }, Qt::QueuedConnection);
    }
}

void MqttClient::onDisconnect(mosquitto *, void *self, int rc)
{
    auto *client = static_cast<MqttClient *>(self);
    const bool was = client->m_connected.exchange(false);
    if (rc == 0 || !was)
        return; // asked for, or a connection that never was
    QMetaObject::invokeMethod(
        client, [client, why = QString::fromUtf8(mosquitto_strerror(rc))] { emit client->disconnected(why); },
        Qt::QueuedConnection);
}

void MqttClient::onMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    auto *client = static_cast<MqttClient *>(self);
    QString topic = QString::fromUtf8(message->topic);
    // Only what a command may be is copied; anything larger is cut and then refused.
    const int size = std::min(message->payloadlen, kMaxPayloadCopy);
    QByteArray payload(static_cast<const char *>(message->payload), size);
    if (message->payloadlen > size)
        payload.append('\0'); // marks the cut: never a valid command
    QMetaObject::invokeMethod(
        client, [client, topic = std::move(topic), payload = std::move(payload)] { emit client->messageReceived(topic, payload); },
        Qt::QueuedConnection);
}

} // namespace telvox
