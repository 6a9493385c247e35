#pragma once

#include "web/WebBackend.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

namespace telvox {

// The pieces of a request the web server reads itself, each a pure function of bytes, so that
// the fuzzing harness and the tests reach them without a socket.

// A byte range of a body of `size` bytes, both ends included.
struct ByteRange
{
    qint64 first = 0;
    qint64 last = 0;
};
// What a "Range" header asks for: nothing (absent, malformed, several ranges or another unit:
// the whole body is sent), a range, or one that lies outside the body (416).
struct RangeRequest
{
    enum class Kind { Whole, Partial, Unsatisfiable };
    Kind kind = Kind::Whole;
    ByteRange range;
};
RangeRequest parseRange(const QByteArray &header, qint64 size);

// An id in a path segment: decimal digits only, no sign, no leading zero, below 2^53.
std::optional<qint64> parseId(QStringView segment);

// A route pattern such as "/api/messages/{id}/audio" against a request path (still percent-
// encoded). Literal segments compare exactly; "{id}" takes an id as parseId reads it.
// Returns the id (0 when the pattern has none), or nothing when the path does not match.
std::optional<qint64> matchPath(QStringView pattern, QStringView encodedPath);

// The value of cookie `name` in a "Cookie" header; "" when absent.
QByteArray cookieValue(const QByteArray &header, const QByteArray &name);

// A host header's host part ("127.0.0.1:8780" gives "127.0.0.1", "[::1]:80" gives "::1").
QString hostOfHostHeader(const QByteArray &header);

// The entries of a block or allow list as the API receives them:
// {"entries":[{"entry":"0900*","label":"..."}]}. Nothing (with `error`) when the body is not
// such an object, or an entry is empty, too long, holds control characters or is not a
// number, a prefix, or the words for withheld or unavailable callers.
std::optional<QList<WebListEntry>> parseListEntries(const QByteArray &body, QString *error);

// Query parameters of GET /api/messages.
struct MessageQuery
{
    WebBackend::List list = WebBackend::List::Unread;
    int offset = 0;
    int limit = 50;
};
std::optional<MessageQuery> parseMessageQuery(const QString &encodedQuery, QString *error);

} // namespace telvox
