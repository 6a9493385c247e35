// The topics and JSON payloads Telvox publishes, Home Assistant's discovery configs, and the
// checks on commands that arrive from the broker.

#include "mqtt/HomePayloads.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>

namespace telvox {

namespace {

QByteArray compact(const QJsonObject &object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

QString isoTime(const QDateTime &time) { return time.isValid() ? time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate) : QString(); }

// The topic prefix as one word for ids: "home/telvox" -> "home_telvox".
QString nodeId(const QString &prefix)
{
    QString id;
    for (const QChar c : prefix)
        id += (c.isLetterOrNumber() && c.unicode() < 128) ? c.toLower() : QLatin1Char('_');
    return id;
}

bool hasControl(const QString &text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format || c == QChar::LineSeparator
            || c == QChar::ParagraphSeparator)
            return true;
    }
    return false;
}

} // namespace

QString activityName(LineActivity activity)
{
    switch (activity) {
    case LineActivity::Idle:
        return QStringLiteral("idle");
    case LineActivity::Ringing:
        return QStringLiteral("ringing");
    case LineActivity::Answered:
        return QStringLiteral("answered");
    case LineActivity::Recording:
        return QStringLiteral("recording");
    }
    return QStringLiteral("idle");
}

bool validTopicPrefix(const QString &prefix)
{
    if (prefix.isEmpty() || prefix.size() > 100 || prefix.startsWith(QLatin1Char('/')) || prefix.endsWith(QLatin1Char('/'))
        || prefix.contains(QStringLiteral("//")))
        return false;
    for (const QChar c : prefix) {
        if (c == QLatin1Char('+') || c == QLatin1Char('#') || c.unicode() == 0 || hasControl(QString(c)))
            return false;
    }
    return true;
}

QByteArray lineStatePayload(int line, LineActivity activity)
{
    return compact({{QStringLiteral("line"), line}, {QStringLiteral("state"), activityName(activity)}});
}

QByteArray callPayload(const CallerEvent &event)
{
    return compact({
        {QStringLiteral("event_type"), event.blocked ? QStringLiteral("blocked") : QStringLiteral("call")},
        {QStringLiteral("number"), event.number},
        {QStringLiteral("name"), event.name},
        {QStringLiteral("line"), event.line},
        {QStringLiteral("blocked"), event.blocked},
        {QStringLiteral("time"), isoTime(event.time)},
    });
}

QByteArray messagePayload(const MessageEvent &event)
{
    QJsonObject o{
        {QStringLiteral("id"), event.id},
        {QStringLiteral("caller"), event.caller},
        {QStringLiteral("name"), event.name},
        {QStringLiteral("seconds"), event.seconds},
        {QStringLiteral("time"), isoTime(event.time)},
    };
    if (!event.link.isEmpty())
        o.insert(QStringLiteral("link"), event.link);
    return compact(o);
}

QByteArray unreadPayload(int count) { return compact({{QStringLiteral("count"), count}}); }

std::vector<DiscoveryConfig> discoveryConfigs(const HomeTopics &topics, int lineCount, const QString &version,
                                              const QString &discoveryPrefix)
{
    const QString node = nodeId(topics.prefix);
    const QJsonObject device{
        {QStringLiteral("identifiers"), QJsonArray{QStringLiteral("telvox_") + node}},
        {QStringLiteral("name"), QStringLiteral("Telvox")},
        {QStringLiteral("manufacturer"), QStringLiteral("Telvox")},
        {QStringLiteral("model"), QStringLiteral("Call recorder and answering machine")},
        {QStringLiteral("sw_version"), version},
    };
    // Every entity: one device, unavailable while Telvox is offline.
    const auto entity = [&](const QString &object, const QString &name, QJsonObject fields) {
        fields.insert(QStringLiteral("name"), name);
        fields.insert(QStringLiteral("unique_id"), node + QLatin1Char('_') + object);
        fields.insert(QStringLiteral("object_id"), node + QLatin1Char('_') + object);
        fields.insert(QStringLiteral("availability_topic"), topics.status());
        fields.insert(QStringLiteral("payload_available"), QStringLiteral("online"));
        fields.insert(QStringLiteral("payload_not_available"), QStringLiteral("offline"));
        fields.insert(QStringLiteral("device"), device);
        return fields;
    };
    const auto at = [&](const QString &component, const QString &object) {
        return discoveryPrefix + QLatin1Char('/') + component + QLatin1Char('/') + node + QLatin1Char('/') + object
               + QStringLiteral("/config");
    };

    std::vector<DiscoveryConfig> configs;
    configs.push_back({at(QStringLiteral("sensor"), QStringLiteral("unread")),
                       compact(entity(QStringLiteral("unread"), QStringLiteral("Unread messages"),
                                      {{QStringLiteral("state_topic"), topics.unread()},
                                       {QStringLiteral("value_template"), QStringLiteral("{{ value_json.count }}")},
                                       {QStringLiteral("state_class"), QStringLiteral("measurement")},
                                       {QStringLiteral("icon"), QStringLiteral("mdi:voicemail")}}))});
    configs.push_back(
        {at(QStringLiteral("sensor"), QStringLiteral("last_caller")),
         compact(entity(QStringLiteral("last_caller"), QStringLiteral("Last caller"),
                        {{QStringLiteral("state_topic"), topics.lastCaller()},
                         {QStringLiteral("value_template"),
                          QStringLiteral("{{ value_json.name if value_json.name else value_json.number }}")},
                         {QStringLiteral("json_attributes_topic"), topics.lastCaller()},
                         {QStringLiteral("icon"), QStringLiteral("mdi:phone-incoming")}}))});
    for (int n = 0; n < lineCount; ++n) {
        const QString object = QStringLiteral("line%1").arg(n);
        configs.push_back(
            {at(QStringLiteral("sensor"), object),
             compact(entity(object, QStringLiteral("Line%1").arg(n),
                            {{QStringLiteral("state_topic"), topics.line(n)},
                             {QStringLiteral("value_template"), QStringLiteral("{{ value_json.state }}")},
                             {QStringLiteral("device_class"), QStringLiteral("enum")},
                             {QStringLiteral("options"), QJsonArray{QStringLiteral("idle"), QStringLiteral("ringing"),
                                                                    QStringLiteral("answered"), QStringLiteral("recording")}},
                             {QStringLiteral("icon"), QStringLiteral("mdi:phone-classic")}}))});
    }
    configs.push_back({at(QStringLiteral("event"), QStringLiteral("call")),
                       compact(entity(QStringLiteral("call"), QStringLiteral("Call"),
                                      {{QStringLiteral("state_topic"), topics.call()},
                                       {QStringLiteral("event_types"), QJsonArray{QStringLiteral("call"), QStringLiteral("blocked")}},
                                       {QStringLiteral("icon"), QStringLiteral("mdi:phone-ring")}}))});
    return configs;
}

CommandParse parseHomeCommand(const HomeTopics &topics, const QString &topic, const QByteArray &payload)
{
    CommandParse out;
    const bool read = topic == topics.commandRead();
    if (!read && topic != topics.commandBlock()) {
        out.error = QStringLiteral("unknown command topic");
        return out;
    }
    if (payload.size() > kMaxCommandBytes) {
        out.error = QStringLiteral("payload larger than %1 bytes").arg(kMaxCommandBytes);
        return out;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(payload, &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
        out.error = QStringLiteral("payload is not a JSON object");
        return out;
    }
    const QJsonObject o = doc.object();
    const auto onlyKeys = [&o](std::initializer_list<QString> allowed) {
        for (auto it = o.begin(); it != o.end(); ++it) {
            if (std::find(allowed.begin(), allowed.end(), it.key()) == allowed.end())
                return false;
        }
        return true;
    };

    HomeCommand command;
    if (read) {
        command.kind = HomeCommand::Kind::MarkRead;
        if (!onlyKeys({QStringLiteral("id")}) || !o.value(QStringLiteral("id")).isString()) {
            out.error = QStringLiteral("expected {\"id\": \"...\"}");
            return out;
        }
        command.id = o.value(QStringLiteral("id")).toString();
        // A message id is a file name today: never a path, never blank, never a control character.
        if (command.id.isEmpty() || command.id.size() > 200 || command.id.contains(QLatin1Char('/'))
            || command.id.contains(QLatin1Char('\\')) || command.id == QStringLiteral("..") || command.id == QStringLiteral(".")
            || hasControl(command.id)) {
            out.error = QStringLiteral("invalid message id");
            return out;
        }
    } else {
        command.kind = HomeCommand::Kind::Block;
        if (!onlyKeys({QStringLiteral("number"), QStringLiteral("label")}) || !o.value(QStringLiteral("number")).isString()
            || (o.contains(QStringLiteral("label")) && !o.value(QStringLiteral("label")).isString())) {
            out.error = QStringLiteral("expected {\"number\": \"...\", \"label\": \"...\"}");
            return out;
        }
        command.number = o.value(QStringLiteral("number")).toString().trimmed();
        // Digits with an optional leading "+" and the separators people write; a trailing "*"
        // blocks a prefix. Nothing that could turn into a list's comment, label or a new line.
        static const QRegularExpression number(QStringLiteral("^\\+?[0-9][0-9 ()./-]{0,39}\\*?$"));
        if (!number.match(command.number).hasMatch()) {
            out.error = QStringLiteral("invalid number");
            return out;
        }
        command.label = o.value(QStringLiteral("label")).toString().trimmed();
        if (command.label.size() > 64 || hasControl(command.label) || command.label.contains(QLatin1Char('#'))) {
            out.error = QStringLiteral("invalid label (at most 64 characters, no control characters, no \"#\")");
            return out;
        }
    }
    out.command = command;
    return out;
}

QByteArray commandResultPayload(const QString &command, bool ok, const QString &detail)
{
    QJsonObject o{{QStringLiteral("command"), command}, {QStringLiteral("ok"), ok}};
    if (!detail.isEmpty())
        o.insert(ok ? QStringLiteral("detail") : QStringLiteral("error"), detail);
    return compact(o);
}

} // namespace telvox
