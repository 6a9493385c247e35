// The MQTT connection: libmosquitto with its network thread, reports queued to Qt's thread.

#include "mqtt/MqttClient.h"

#include <QCoreApplication>
#include <QFile>
#include <QMetaObject>

#include <mosquitto.h>

#include <dlfcn.h>

#include <type_traits>

namespace telvox {

namespace {

// libmosquitto (with the TLS libraries it needs) is opened when MQTT is first used, not at every
// start of the program, like libcurl.
struct MosquittoLibrary
{
    decltype(&mosquitto_lib_init) lib_init = nullptr;
    decltype(&mosquitto_new) make = nullptr;
    decltype(&mosquitto_destroy) destroy = nullptr;
    decltype(&mosquitto_int_option) int_option = nullptr;
    decltype(&mosquitto_connect_callback_set) connect_callback_set = nullptr;
    decltype(&mosquitto_disconnect_callback_set) disconnect_callback_set = nullptr;
    decltype(&mosquitto_message_callback_set) message_callback_set = nullptr;
    decltype(&mosquitto_reconnect_delay_set) reconnect_delay_set = nullptr;
    decltype(&mosquitto_will_set) will_set = nullptr;
    decltype(&mosquitto_username_pw_set) username_pw_set = nullptr;
    decltype(&mosquitto_tls_set) tls_set = nullptr;
    decltype(&mosquitto_connect_async) connect_async = nullptr;
    decltype(&mosquitto_loop_start) loop_start = nullptr;
    decltype(&mosquitto_loop_stop) loop_stop = nullptr;
    decltype(&mosquitto_disconnect) disconnect = nullptr;
    decltype(&mosquitto_publish) publish = nullptr;
    decltype(&mosquitto_subscribe) subscribe = nullptr;
    decltype(&mosquitto_strerror) strerror = nullptr;
    decltype(&mosquitto_connack_string) connack_string = nullptr;
};

// Null when libmosquitto cannot be loaded. Loaded and initialised once.
const MosquittoLibrary *mosquittoLibrary()
{
    static const MosquittoLibrary *loaded = []() -> const MosquittoLibrary * {
        void *handle = dlopen("libmosquitto.so.1", RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return nullptr;
        static MosquittoLibrary lib;
        bool all = true;
        const auto symbol = [handle, &all](auto &function, const char *name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
            all = all && function != nullptr;
        };
        symbol(lib.lib_init, "mosquitto_lib_init");
        symbol(lib.make, "mosquitto_new");
        symbol(lib.destroy, "mosquitto_destroy");
        symbol(lib.int_option, "mosquitto_int_option");
        symbol(lib.connect_callback_set, "mosquitto_connect_callback_set");
        symbol(lib.disconnect_callback_set, "mosquitto_disconnect_callback_set");
        symbol(lib.message_callback_set, "mosquitto_message_callback_set");
        symbol(lib.reconnect_delay_set, "mosquitto_reconnect_delay_set");
        symbol(lib.will_set, "mosquitto_will_set");
        symbol(lib.username_pw_set, "mosquitto_username_pw_set");
        symbol(lib.tls_set, "mosquitto_tls_set");
        symbol(lib.connect_async, "mosquitto_connect_async");
        symbol(lib.loop_start, "mosquitto_loop_start");
        symbol(lib.loop_stop, "mosquitto_loop_stop");
        symbol(lib.disconnect, "mosquitto_disconnect");
        symbol(lib.publish, "mosquitto_publish");
        symbol(lib.subscribe, "mosquitto_subscribe");
        symbol(lib.strerror, "mosquitto_strerror");
        symbol(lib.connack_string, "mosquitto_connack_string");
        if (!all)
            return nullptr;
        lib.lib_init();
        return &lib;
    }();
    return loaded;
}

// More than any command may carry: the rest of a larger payload is never copied.
constexpr int kMaxPayloadCopy = 4096;

QString connackText(int rc) { return QString::fromUtf8(mosquittoLibrary()->connack_string(rc)); }

QString errorText(int rc) { return QString::fromUtf8(mosquittoLibrary()->strerror(rc)); }

} // namespace

MqttClient::MqttClient(MqttOptions options, QString willTopic, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_willTopic(std::move(willTopic))
{
}

MqttClient::~MqttClient()
{
    if (m_running)
        stop(QByteArray());
    if (m_mosq)
        mosquittoLibrary()->destroy(m_mosq);
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
    const MosquittoLibrary *lib = mosquittoLibrary();
    if (!lib)
        return fail(QStringLiteral("libmosquitto.so.1 cannot be loaded"));
    // A clean session: the retained topics are published again at every connection anyway.
    m_mosq = lib->make(nullptr, true, this);
    if (!m_mosq)
        return fail(QStringLiteral("cannot create the MQTT client"));
    lib->int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    lib->connect_callback_set(m_mosq, &MqttClient::onConnect);
    lib->disconnect_callback_set(m_mosq, &MqttClient::onDisconnect);
    lib->message_callback_set(m_mosq, &MqttClient::onMessage);
    lib->reconnect_delay_set(m_mosq, static_cast<unsigned>(m_options.retryMinSeconds),
                                  static_cast<unsigned>(m_options.retryMaxSeconds), true);
    const QByteArray will = m_willTopic.toUtf8();
    lib->will_set(m_mosq, will.constData(), 7, "offline", 1, true);
    if (!m_options.user.isEmpty()) {
        const QByteArray user = m_options.user.toUtf8();
        const QByteArray password = m_options.password.toUtf8();
        lib->username_pw_set(m_mosq, user.constData(), m_options.password.isEmpty() ? nullptr : password.constData());
    }
    if (!m_options.caFile.isEmpty()) {
        if (!QFile::exists(m_options.caFile))
            return fail(QStringLiteral("CA file %1 not found").arg(m_options.caFile));
        const QByteArray ca = QFile::encodeName(m_options.caFile);
        const int rc = lib->tls_set(m_mosq, ca.constData(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            return fail(QStringLiteral("CA file %1: %2").arg(m_options.caFile, errorText(rc)));
    }
    const QByteArray host = m_options.host.toUtf8();
    // A broker that is not there yet is no failure: the thread keeps trying.
    const int rc = lib->connect_async(m_mosq, host.constData(), m_options.port, 30);
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_ERRNO && rc != MOSQ_ERR_EAI)
        return fail(errorText(rc));
    if (lib->loop_start(m_mosq) != MOSQ_ERR_SUCCESS)
        return fail(QStringLiteral("cannot start the MQTT thread"));
    m_running = true;
    if (rc != MOSQ_ERR_SUCCESS)
        QMetaObject::invokeMethod(
            this, [this, why = errorText(rc)] { emit disconnected(why); }, Qt::QueuedConnection);
    return true;
}

void MqttClient::stop(const QByteArray &goodbye)
{
    if (!m_running)
        return;
    const MosquittoLibrary *lib = mosquittoLibrary();
    const bool connected = m_connected.load();
    if (connected && !goodbye.isEmpty())
        publish(m_willTopic, goodbye, true);
    lib->disconnect(m_mosq);
    // Connected, the thread ends once the goodbye and the disconnection are sent. Without a
    // broker it may be asleep until its next attempt (up to a minute): it is cancelled.
    lib->loop_stop(m_mosq, !connected);
    m_running = false;
    m_connected = false;
}

bool MqttClient::publish(const QString &topic, const QByteArray &payload, bool retain, int qos)
{
    if (!m_mosq)
        return false;
    const MosquittoLibrary *lib = mosquittoLibrary();
    const QByteArray t = topic.toUtf8();
    const int rc = lib->publish(m_mosq, nullptr, t.constData(), static_cast<int>(payload.size()), payload.constData(),
                                     qos, retain);
    return rc == MOSQ_ERR_SUCCESS;
}

bool MqttClient::subscribe(const QString &topic)
{
    if (!m_mosq)
        return false;
    const MosquittoLibrary *lib = mosquittoLibrary();
    const QByteArray t = topic.toUtf8();
    return lib->subscribe(m_mosq, nullptr, t.constData(), 1) == MOSQ_ERR_SUCCESS;
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
    client->m_connected = false;
    if (rc == 0)
        return; // asked for
    QMetaObject::invokeMethod(
        client, [client, why = errorText(rc)] { emit client->disconnected(why); },
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
