// libFuzzer harness: the parts of a request the web server reads itself (range, path and id,
// cookie, host, list entries, message query) take any bytes without crashing, and what they
// accept keeps their promises.
#include "web/HttpParts.h"

#include <cstdint>
#include <cstdlib>

using namespace telvox;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QString text = QString::fromUtf8(bytes);

    for (const qint64 bodySize : {qint64(0), qint64(1), qint64(1000)}) {
        const RangeRequest r = parseRange(bytes, bodySize);
        if (r.kind == RangeRequest::Kind::Partial
            && (r.range.first < 0 || r.range.first > r.range.last || r.range.last >= bodySize))
            std::abort();
    }
    if (const auto id = parseId(text); id && (*id < 0 || *id >= (qint64(1) << 53)))
        std::abort();
    for (const char *pattern : {"/api/messages/{id}/audio", "/api/messages/{id}", "/"}) {
        const auto id = matchPath(QString::fromLatin1(pattern), text);
        // A match never carries a separator or a dot-dot into an id.
        if (id && (text.contains(QLatin1String("..")) || text.contains(QLatin1Char('%'))))
            std::abort();
    }
    (void)cookieValue(bytes, "telvox_session");
    (void)hostOfHostHeader(bytes);
    QString error;
    if (const auto entries = parseListEntries(bytes, &error)) {
        for (const WebListEntry &e : *entries) {
            if (e.entry.isEmpty() || e.entry.contains(QLatin1Char('\n')) || e.entry.contains(QLatin1Char('#')))
                std::abort();
        }
    }
    if (const auto query = parseMessageQuery(text, &error); query && (query->limit < 1 || query->limit > 500 || query->offset < 0))
        std::abort();
    return 0;
}
