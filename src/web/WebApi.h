#pragma once

#include "web/WebBackend.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>

namespace telvox {

// A request as the handlers see it, after the server has checked the session and the CSRF
// token.
struct WebRequest
{
    QByteArray method;
    QString path;  // percent-encoded, as it came
    QString query; // percent-encoded, without "?"
    qint64 id = 0; // the {id} of the route, 0 when it has none
    QByteArray body;
    QByteArray range; // the "Range" header
    QString remote;   // the client's address
    QByteArray session; // the session id of the cookie, "" when none
};

struct WebReply
{
    int status = 200;
    QByteArray contentType = "application/json";
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;

    static WebReply json(int status, const QJsonObject &object);
    static WebReply error(int status, const QString &message);
};

// The JSON API over a WebBackend: one function per route. Pure request-to-reply, no sockets,
// so the tests and the fuzzing harness call it directly.
class WebApi
{
public:
    explicit WebApi(WebBackend &backend)
        : m_backend(backend)
    {
    }

    WebReply messages(const WebRequest &request) const;
    WebReply message(const WebRequest &request) const;
    // The audio route at once: decoding and encoding on the calling thread (the tests and the
    // fuzzing harness). The server goes through the two halves below instead.
    WebReply audio(const WebRequest &request) const;
    // The recording to prepare for an audio request.
    struct AudioWork
    {
        QString file;
        bool opus = false;
        QDateTime modified;
        qint64 size = 0;
    };
    // The answer when there is one without decoding (an error, or a body still kept from
    // before); otherwise nothing, and `work` says what to prepare with recordingBody().
    std::optional<WebReply> audioAtOnce(const WebRequest &request, AudioWork *work) const;
    // The answer with the prepared body (empty, with `error`, when the file could not be read).
    WebReply audioPrepared(const WebRequest &request, const AudioWork &work, const QByteArray &contentType,
                           const QByteArray &bytes, const QString &error) const;
    WebReply markRead(const WebRequest &request);
    WebReply markUnread(const WebRequest &request);
    WebReply remove(const WebRequest &request);
    WebReply calls(const WebRequest &request) const;
    WebReply blockList(const WebRequest &request) const;
    WebReply putBlockList(const WebRequest &request);
    WebReply allowList(const WebRequest &request) const;
    WebReply putAllowList(const WebRequest &request);
    WebReply lines(const WebRequest &request) const;

    static QJsonObject messageJson(const WebMessage &message);

private:
    WebReply numberList(bool allow) const;
    WebReply putNumberList(bool allow, const WebRequest &request);

    WebBackend &m_backend;
    // The last few recordings sent, so that the browser's range requests while it plays and
    // seeks do not decode or encode the whole file again each time. A changed file (time or
    // size) is read anew.
    struct CachedBody
    {
        QString file;
        QDateTime modified;
        qint64 size = 0;
        bool opus = false;
        QByteArray contentType;
        QByteArray bytes;
    };
    static constexpr int kCachedBodies = 4;
    static constexpr qsizetype kLargestCachedBody = 16 * 1024 * 1024; // bounds the cache at 64 MiB
    mutable QList<CachedBody> m_cache;
};

// The bytes of a recording as the browser gets them: 16-bit PCM WAV (a PCM file as it is,
// a TrueSpeech one decoded) or Ogg Opus. Empty with `error` when it cannot be read.
struct RecordingBody
{
    QByteArray contentType;
    QByteArray bytes;
};
RecordingBody recordingBody(const QString &file, bool opus, QString *error);

// Answers a body with the "Range" header honoured: 206 with Content-Range for one range, 416
// for a range outside it, 200 with the whole body otherwise. Always says Accept-Ranges.
WebReply rangedReply(const QByteArray &contentType, const QByteArray &body, const QByteArray &rangeHeader);

} // namespace telvox
