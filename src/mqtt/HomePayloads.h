#pragma once

#include "mqtt/HomeEvents.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>
#include <vector>

namespace telvox {

// The topics Telvox publishes under its prefix ("telvox" unless the user chose another).
struct HomeTopics
{
    QString prefix;

    QString status() const { return prefix + QStringLiteral("/status"); }
    QString line(int line) const { return prefix + QStringLiteral("/line/%1/state").arg(line); }
    QString call() const { return prefix + QStringLiteral("/call"); }
    QString lastCaller() const { return prefix + QStringLiteral("/last_caller"); }
    QString message() const { return prefix + QStringLiteral("/message"); }
    QString unread() const { return prefix + QStringLiteral("/unread"); }
    QString commandRead() const { return prefix + QStringLiteral("/command/read"); }
    QString commandBlock() const { return prefix + QStringLiteral("/command/block"); }
    QString commandResult() const { return prefix + QStringLiteral("/command/result"); }
};

// Whether `prefix` can head Telvox's topics: 1 to 100 characters, no wildcard, no NUL, no
// leading or trailing "/", no empty level.
bool validTopicPrefix(const QString &prefix);

// The JSON payloads (compact, UTF-8). Times are ISO 8601 with the local offset.
QByteArray lineStatePayload(int line, LineActivity activity);
QByteArray callPayload(const CallerEvent &event);
QByteArray messagePayload(const MessageEvent &event);
QByteArray unreadPayload(int count);

// One retained discovery config of Home Assistant.
struct DiscoveryConfig
{
    QString topic;
    QByteArray payload;
};
// The configs of one Telvox device: sensors for the unread count, the last caller and each of
// `lineCount` lines (0..lineCount-1), and an event entity for calls. `discoveryPrefix` is Home Assistant's
// ("homeassistant"); `version` is the program's.
std::vector<DiscoveryConfig> discoveryConfigs(const HomeTopics &topics, int lineCount, const QString &version,
                                              const QString &discoveryPrefix = QStringLiteral("homeassistant"));

// A command received from the broker, checked. Anything on the network may send these, so
// every field is limited and a payload that is not exactly what is expected is refused.
struct HomeCommand
{
    enum class Kind { MarkRead, Block };
    Kind kind = Kind::MarkRead;
    QString id;     // MarkRead: the message
    QString number; // Block: a number, or a prefix ending in "*"
    QString label;  // Block: may be empty
};
struct CommandParse
{
    std::optional<HomeCommand> command;
    QString error; // why it was refused (English: it goes back to the sender)
};
inline constexpr int kMaxCommandBytes = 1024;
CommandParse parseHomeCommand(const HomeTopics &topics, const QString &topic, const QByteArray &payload);

// The answer published on the result topic.
QByteArray commandResultPayload(const QString &command, bool ok, const QString &detail);

} // namespace telvox
