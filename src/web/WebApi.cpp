#include "web/WebApi.h"

#include "core/WaveHeader.h"
#include "records/MailAttachment.h"
#include "web/HttpParts.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrlQuery>

namespace telvox {

namespace {

QJsonValue timeJson(const QDateTime &time)
{
    return time.isValid() ? QJsonValue(time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate))
                          : QJsonValue();
}

QJsonArray callsJson(const QList<WebCall> &calls)
{
    QJsonArray array;
    for (const WebCall &c : calls) {
        QJsonObject o{{QStringLiteral("number"), c.number}, {QStringLiteral("name"), c.name}};
        if (c.time.isValid())
            o.insert(QStringLiteral("time"), timeJson(c.time));
        if (!c.label.isEmpty())
            o.insert(QStringLiteral("label"), c.label);
        array.append(o);
    }
    return array;
}

QByteArray pcmWave(const RecordingAudio &audio)
{
    const auto dataBytes = static_cast<std::uint32_t>(audio.samples.size() * sizeof(std::int16_t));
    QByteArray out = pcmWaveHeader(1, static_cast<std::uint32_t>(audio.sampleRate), 16, dataBytes);
    out.reserve(out.size() + static_cast<qsizetype>(dataBytes));
    for (std::int16_t s : audio.samples)
        appendLe16(out, static_cast<std::uint16_t>(s));
    return out;
}

} // namespace

WebReply WebReply::json(int status, const QJsonObject &object)
{
    WebReply reply;
    reply.status = status;
    reply.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return reply;
}

WebReply WebReply::error(int status, const QString &message)
{
    return json(status, {{QStringLiteral("error"), message}});
}

QJsonObject WebApi::messageJson(const WebMessage &m)
{
    return {{QStringLiteral("id"), m.id},
            {QStringLiteral("caller"), m.caller},
            {QStringLiteral("name"), m.name},
            {QStringLiteral("time"), timeJson(m.time)},
            {QStringLiteral("seconds"), m.seconds},
            {QStringLiteral("line"), m.line < 0 ? QJsonValue() : QJsonValue(m.line)},
            {QStringLiteral("kind"), m.kind.isNull() ? QString() : QString(m.kind)},
            {QStringLiteral("unread"), m.unread},
            {QStringLiteral("audio"), QStringLiteral("/api/messages/%1/audio").arg(m.id)}};
}

WebReply WebApi::messages(const WebRequest &request) const
{
    QString error;
    const auto query = parseMessageQuery(request.query, &error);
    if (!query)
        return WebReply::error(400, error);
    const WebMessagePage page = m_backend.messages(query->list, query->offset, query->limit);
    QJsonArray array;
    for (const WebMessage &m : page.messages)
        array.append(messageJson(m));
    return WebReply::json(200, {{QStringLiteral("list"), query->list == WebBackend::List::Unread
                                                              ? QStringLiteral("unread")
                                                              : QStringLiteral("recent")},
                                {QStringLiteral("total"), page.total},
                                {QStringLiteral("offset"), query->offset},
                                {QStringLiteral("messages"), array}});
}

WebReply WebApi::message(const WebRequest &request) const
{
    const auto m = m_backend.message(request.id);
    return m ? WebReply::json(200, messageJson(*m)) : WebReply::error(404, QStringLiteral("no such message"));
}

WebReply WebApi::audio(const WebRequest &request) const
{
    AudioWork work;
    if (auto reply = audioAtOnce(request, &work))
        return *reply;
    QString error;
    const RecordingBody body = recordingBody(work.file, work.opus, &error);
    return audioPrepared(request, work, body.contentType, body.bytes, error);
}

std::optional<WebReply> WebApi::audioAtOnce(const WebRequest &request, AudioWork *work) const
{
    const QString file = m_backend.audioFile(request.id);
    if (file.isEmpty())
        return WebReply::error(404, QStringLiteral("no such message"));
    const QString format = QUrlQuery(request.query).queryItemValue(QStringLiteral("format"));
    if (!format.isEmpty() && format != QLatin1String("wav") && format != QLatin1String("opus"))
        return WebReply::error(400, QStringLiteral("format must be \"wav\" or \"opus\""));
    const bool opus = format == QLatin1String("opus");
    const QFileInfo info(file);
    for (qsizetype i = 0; i < m_cache.size(); ++i) {
        const CachedBody &c = m_cache[i];
        if (c.file == file && c.opus == opus && c.modified == info.lastModified() && c.size == info.size()) {
            m_cache.move(i, 0);
            return rangedReply(m_cache.front().contentType, m_cache.front().bytes, request.range);
        }
    }
    *work = AudioWork{file, opus, info.lastModified(), info.size()};
    return std::nullopt;
}

WebReply WebApi::audioPrepared(const WebRequest &request, const AudioWork &work, const QByteArray &contentType,
                               const QByteArray &bytes, const QString &error) const
{
    if (bytes.isEmpty())
        return WebReply::error(404, QStringLiteral("the recording cannot be read: ") + error);
    if (bytes.size() <= kLargestCachedBody) {
        m_cache.prepend({work.file, work.modified, work.size, work.opus, contentType, bytes});
        if (m_cache.size() > kCachedBodies)
            m_cache.removeLast();
    }
    return rangedReply(contentType, bytes, request.range);
}

WebReply WebApi::markRead(const WebRequest &request)
{
    return m_backend.setUnread(request.id, false) ? WebReply::json(200, {{QStringLiteral("ok"), true}})
                                                  : WebReply::error(404, QStringLiteral("no such message"));
}

WebReply WebApi::markUnread(const WebRequest &request)
{
    return m_backend.setUnread(request.id, true) ? WebReply::json(200, {{QStringLiteral("ok"), true}})
                                                 : WebReply::error(404, QStringLiteral("no such message"));
}

WebReply WebApi::remove(const WebRequest &request)
{
    return m_backend.remove(request.id) ? WebReply::json(200, {{QStringLiteral("ok"), true}})
                                        : WebReply::error(404, QStringLiteral("no such message"));
}

WebReply WebApi::calls(const WebRequest &) const
{
    const WebCalls c = m_backend.calls();
    return WebReply::json(200, {{QStringLiteral("received"), callsJson(c.received)},
                                {QStringLiteral("made"), callsJson(c.made)},
                                {QStringLiteral("blocked"), callsJson(c.blocked)}});
}

WebReply WebApi::numberList(bool allow) const
{
    QJsonArray array;
    for (const WebListEntry &e : m_backend.numberList(allow))
        array.append(QJsonObject{{QStringLiteral("entry"), e.entry}, {QStringLiteral("label"), e.label}});
    return WebReply::json(200, {{QStringLiteral("entries"), array}});
}

WebReply WebApi::putNumberList(bool allow, const WebRequest &request)
{
    QString error;
    const auto entries = parseListEntries(request.body, &error);
    if (!entries)
        return WebReply::error(400, error);
    if (!m_backend.setNumberList(allow, *entries, &error))
        return WebReply::error(500, error);
    return numberList(allow);
}

WebReply WebApi::blockList(const WebRequest &) const { return numberList(false); }
WebReply WebApi::putBlockList(const WebRequest &request) { return putNumberList(false, request); }
WebReply WebApi::allowList(const WebRequest &) const { return numberList(true); }
WebReply WebApi::putAllowList(const WebRequest &request) { return putNumberList(true, request); }

WebReply WebApi::lines(const WebRequest &) const
{
    QJsonArray array;
    for (const WebLine &l : m_backend.lines()) {
        QJsonObject o{{QStringLiteral("line"), l.line},
                      {QStringLiteral("open"), l.open},
                      {QStringLiteral("state"), l.state},
                      {QStringLiteral("caller"), l.caller},
                      {QStringLiteral("backend"), l.backend}};
        if (l.backend == QLatin1String("sip"))
            o.insert(QStringLiteral("registration"), l.registration);
        array.append(o);
    }
    return WebReply::json(200, {{QStringLiteral("lines"), array}});
}

RecordingBody recordingBody(const QString &file, bool opus, QString *error)
{
    // Every recording goes out decoded to 16-bit PCM (a TrueSpeech file would not play in a
    // browser), or as Ogg Opus.
    const auto audio = readRecordingAudio(file, error);
    if (!audio)
        return {};
    if (opus)
        return {"audio/ogg", encodeOggOpus(*audio, QFileInfo(file).completeBaseName())};
    return {"audio/wav", pcmWave(*audio)};
}

WebReply rangedReply(const QByteArray &contentType, const QByteArray &body, const QByteArray &rangeHeader)
{
    WebReply reply;
    reply.contentType = contentType;
    reply.headers.append(qMakePair(QByteArray("Accept-Ranges"), QByteArray("bytes")));
    const RangeRequest r = parseRange(rangeHeader, body.size());
    switch (r.kind) {
    case RangeRequest::Kind::Whole:
        reply.body = body;
        break;
    case RangeRequest::Kind::Partial:
        reply.status = 206;
        reply.body = body.mid(r.range.first, r.range.last - r.range.first + 1);
        reply.headers.append(qMakePair(QByteArray("Content-Range"),
                                       QByteArray("bytes ") + QByteArray::number(r.range.first) + '-'
                                           + QByteArray::number(r.range.last) + '/' + QByteArray::number(body.size())));
        break;
    case RangeRequest::Kind::Unsatisfiable:
        reply.status = 416;
        reply.body.clear();
        reply.headers.append(qMakePair(QByteArray("Content-Range"), "bytes */" + QByteArray::number(body.size())));
        break;
    }
    return reply;
}

} // namespace telvox
