#include "web/HttpParts.h"

#include "records/CallBlockList.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>

namespace telvox {

namespace {

constexpr qint64 kLargestId = (qint64(1) << 53) - 1;
constexpr int kMaxListEntries = 2000;
constexpr int kMaxEntryLength = 64;
constexpr int kMaxLabelLength = 100;
constexpr int kMaxPageSize = 500;

// Non-negative decimal without sign or blanks, at most `limit`.
std::optional<qint64> decimal(QByteArrayView text, qint64 limit)
{
    if (text.isEmpty() || text.size() > 18)
        return std::nullopt;
    qint64 value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value > limit)
        return std::nullopt;
    return value;
}

bool hasControlCharacters(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.category() == QChar::Other_Format)
            return true;
    }
    return false;
}

} // namespace

RangeRequest parseRange(const QByteArray &header, qint64 size)
{
    RangeRequest request;
    const QByteArray value = header.trimmed();
    if (!value.startsWith("bytes="))
        return request;
    const QByteArray wanted = value.mid(6).trimmed();
    const qsizetype dash = wanted.indexOf('-');
    if (dash < 0 || wanted.contains(','))
        return request;
    const QByteArray from = wanted.left(dash).trimmed();
    const QByteArray to = wanted.mid(dash + 1).trimmed();
    constexpr qint64 big = qint64(1) << 62;
    if (from.isEmpty()) {
        // "bytes=-N": the last N bytes.
        const auto suffix = decimal(to, big);
        if (!suffix)
            return request;
        if (*suffix == 0 || size == 0)
            return {RangeRequest::Kind::Unsatisfiable, {}};
        request.kind = RangeRequest::Kind::Partial;
        request.range = {qMax<qint64>(0, size - *suffix), size - 1};
        return request;
    }
    const auto first = decimal(from, big);
    if (!first)
        return request;
    qint64 last = size - 1;
    if (!to.isEmpty()) {
        const auto given = decimal(to, big);
        if (!given || *given < *first)
            return request;
        last = qMin(*given, size - 1);
    }
    if (*first >= size)
        return {RangeRequest::Kind::Unsatisfiable, {}};
    request.kind = RangeRequest::Kind::Partial;
    request.range = {*first, last};
    return request;
}

std::optional<qint64> parseId(QStringView segment)
{
    if (segment.isEmpty() || (segment.size() > 1 && segment.front() == QLatin1Char('0')))
        return std::nullopt;
    const QByteArray latin = segment.toLatin1();
    if (latin.size() != segment.size())
        return std::nullopt;
    return decimal(latin, kLargestId);
}

std::optional<qint64> matchPath(QStringView pattern, QStringView encodedPath)
{
    const QList<QStringView> want = pattern.split(QLatin1Char('/'));
    const QList<QStringView> have = encodedPath.split(QLatin1Char('/'));
    if (want.size() != have.size())
        return std::nullopt;
    qint64 id = 0;
    for (qsizetype i = 0; i < want.size(); ++i) {
        if (want[i] == QLatin1String("{id}")) {
            const auto parsed = parseId(have[i]);
            if (!parsed)
                return std::nullopt;
            id = *parsed;
        } else if (want[i] != have[i]) {
            return std::nullopt;
        }
    }
    return id;
}

QByteArray cookieValue(const QByteArray &header, const QByteArray &name)
{
    for (const QByteArray &part : header.split(';')) {
        const QByteArray pair = part.trimmed();
        const qsizetype eq = pair.indexOf('=');
        if (eq > 0 && pair.left(eq).trimmed() == name)
            return pair.mid(eq + 1).trimmed();
    }
    return {};
}

QString hostOfHostHeader(const QByteArray &header)
{
    const QString value = QString::fromLatin1(header.trimmed()).toLower();
    if (value.startsWith(QLatin1Char('['))) {
        const qsizetype close = value.indexOf(QLatin1Char(']'));
        return close < 0 ? QString() : value.mid(1, close - 1);
    }
    const qsizetype colon = value.indexOf(QLatin1Char(':'));
    return colon < 0 ? value : value.left(colon);
}

std::optional<QList<WebListEntry>> parseListEntries(const QByteArray &body, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject()
        || !doc.object().value(QLatin1String("entries")).isArray()) {
        *error = QStringLiteral("expected {\"entries\": [{\"entry\": \"...\", \"label\": \"...\"}]}");
        return std::nullopt;
    }
    const QJsonArray array = doc.object().value(QLatin1String("entries")).toArray();
    if (array.size() > kMaxListEntries) {
        *error = QStringLiteral("at most %1 entries").arg(kMaxListEntries);
        return std::nullopt;
    }
    QList<WebListEntry> entries;
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonObject item = array[i].toObject();
        const QJsonValue entryValue = item.value(QLatin1String("entry"));
        const QJsonValue labelValue = item.value(QLatin1String("label"));
        if (!entryValue.isString() || !(labelValue.isString() || labelValue.isUndefined() || labelValue.isNull())) {
            *error = QStringLiteral("entry %1: \"entry\" must be a text, \"label\" a text").arg(i);
            return std::nullopt;
        }
        WebListEntry entry{entryValue.toString().trimmed(), labelValue.toString().trimmed()};
        if (entry.entry.isEmpty() || entry.entry.size() > kMaxEntryLength || entry.label.size() > kMaxLabelLength
            || hasControlCharacters(entry.entry) || hasControlCharacters(entry.label)
            || entry.entry.contains(QLatin1Char('#')) || entry.label.contains(QLatin1Char('#'))) {
            *error = QStringLiteral("entry %1: empty, too long, or holds control characters or \"#\"").arg(i);
            return std::nullopt;
        }
        // The list's own reader must take the line back as one entry.
        const auto parsed = parseBlockList(blockListLine(entry.entry, entry.label));
        if (parsed.size() != 1) {
            *error = QStringLiteral("entry %1: \"%2\" is not a number, a prefix or a caller kind").arg(i).arg(entry.entry);
            return std::nullopt;
        }
        entries << entry;
    }
    return entries;
}

std::optional<MessageQuery> parseMessageQuery(const QString &encodedQuery, QString *error)
{
    MessageQuery query;
    const QUrlQuery items(encodedQuery);
    const QString list = items.queryItemValue(QStringLiteral("list"), QUrl::FullyDecoded);
    if (list == QLatin1String("recent")) {
        query.list = WebBackend::List::Recent;
    } else if (!list.isEmpty() && list != QLatin1String("unread")) {
        *error = QStringLiteral("list must be \"unread\" or \"recent\"");
        return std::nullopt;
    }
    const auto number = [&](const QString &name, int &into, int low, int high) {
        if (!items.hasQueryItem(name))
            return true;
        const auto value = decimal(items.queryItemValue(name).toLatin1(), high);
        if (!value || *value < low) {
            *error = QStringLiteral("%1 must be a whole number from %2 to %3").arg(name).arg(low).arg(high);
            return false;
        }
        into = static_cast<int>(*value);
        return true;
    };
    if (!number(QStringLiteral("offset"), query.offset, 0, 1000000000)
        || !number(QStringLiteral("limit"), query.limit, 1, kMaxPageSize))
        return std::nullopt;
    return query;
}

} // namespace telvox
