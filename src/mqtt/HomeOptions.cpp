// The options of the smart-home links: the MQTT broker and the webhook.

#include "mqtt/HomeOptions.h"

#include "core/Settings.h"
#include "mqtt/HomePayloads.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace telvox {

namespace {

int boundedInt(const QString &text, int fallback, int low, int high)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok && value >= low && value <= high ? value : fallback;
}

bool isOn(const QString &text)
{
    const QString t = text.trimmed().toLower();
    return t == QLatin1String("1") || t == QLatin1String("true") || t == QLatin1String("yes") || t == QLatin1String("on");
}

} // namespace

QString MqttOptions::brokerText() const
{
    return (host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host) + QLatin1Char(':')
           + QString::number(port);
}

bool parseBroker(const QString &text, QString *host, int *port)
{
    const QString t = text.trimmed();
    QString h = t;
    QString p;
    if (t.startsWith(QLatin1Char('['))) {
        const qsizetype close = t.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        h = t.mid(1, close - 1);
        const QString rest = t.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')))
                return false;
            p = rest.mid(1);
        }
    } else if (t.count(QLatin1Char(':')) == 1) {
        h = t.section(QLatin1Char(':'), 0, 0);
        p = t.section(QLatin1Char(':'), 1);
    }
    if (h.isEmpty() || h.size() > 253)
        return false;
    for (const QChar c : h) {
        if (!(c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-') || c == QLatin1Char(':')
              || c == QLatin1Char('_')))
            return false;
    }
    if (!p.isEmpty()) {
        bool ok = false;
        const int n = p.toInt(&ok);
        if (!ok || n < 1 || n > 65535)
            return false;
        *port = n;
    }
    *host = h;
    return true;
}

MqttOptions readMqttOptions(const SettingsStore &settings, const QString &programFolder, OptionProblems *problems)
{
    const QString section = QStringLiteral("MQTT");
    const auto read = [&](const char *key) { return settings.ReadSetting(section, QString::fromLatin1(key)).trimmed(); };
    MqttOptions o;
    o.caFile = read("CaFile");
    o.port = o.caFile.isEmpty() ? 1883 : 8883;
    const QString broker = read("Broker");
    if (!broker.isEmpty() && !parseBroker(broker, &o.host, &o.port)) {
        o.host.clear();
        if (problems)
            problems->broker = broker;
    }
    o.user = read("User");
    const QString prefix = read("TopicPrefix");
    if (!prefix.isEmpty()) {
        if (validTopicPrefix(prefix))
            o.prefix = prefix;
        else if (problems)
            problems->prefix = prefix;
    }
    o.acceptCommands = isOn(read("AcceptCommands"));
    o.retryMinSeconds = boundedInt(read("RetrySeconds"), 1, 1, 3600);
    o.retryMaxSeconds = std::max(o.retryMinSeconds, 60);

    const QString passwordPath = programFolder + QLatin1Char('/') + mqttPasswordFileName();
    QFile file(passwordPath);
    if (file.exists()) {
        // Anyone who can read the password can speak for this house's Telvox on the broker.
        const auto others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther;
        if (file.permissions() & others) {
            if (problems)
                problems->password = passwordPath;
        } else if (file.open(QIODevice::ReadOnly)) {
            // The first line; a trailing newline from an editor is not part of it.
            o.password = QString::fromUtf8(file.read(4096)).section(QLatin1Char('\n'), 0, 0);
            if (o.password.endsWith(QLatin1Char('\r')))
                o.password.chop(1);
        }
    }
    return o;
}

WebhookOptions readWebhookOptions(const SettingsStore &settings, OptionProblems *problems)
{
    const QString section = QStringLiteral("Webhook");
    const auto read = [&](const char *key) { return settings.ReadSetting(section, QString::fromLatin1(key)).trimmed(); };
    WebhookOptions o;
    const QString url = read("URL");
    const QUrl parsed(url, QUrl::StrictMode);
    if (!url.isEmpty()) {
        if (parsed.isValid() && (parsed.scheme() == QLatin1String("http") || parsed.scheme() == QLatin1String("https"))
            && !parsed.host().isEmpty())
            o.url = url;
        else if (problems)
            problems->webhook = url;
    }
    o.retrySeconds = boundedInt(read("RetrySeconds"), 5, 1, 3600);
    o.attempts = boundedInt(read("Attempts"), 4, 1, 20);
    o.caFile = read("CaFile");
    return o;
}

} // namespace telvox
