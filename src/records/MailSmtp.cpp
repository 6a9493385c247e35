// Forwarding by mail: sending one message through the user's SMTP server with libcurl.

#include "records/MailForward.h"

#include "records/CurlLibrary.h"

#include <QPointer>

#include <curl/curl.h>

#include <dlfcn.h>

#include <cstring>
#include <thread>
#include <type_traits>

namespace telvox {

namespace {

struct Upload
{
    const QByteArray *message = nullptr;
    qsizetype sent = 0;
};

std::size_t readMessage(char *buffer, std::size_t size, std::size_t count, void *user)
{
    auto *up = static_cast<Upload *>(user);
    const qsizetype room = static_cast<qsizetype>(size * count);
    const qsizetype n = std::min(room, up->message->size() - up->sent);
    if (n <= 0)
        return 0;
    std::memcpy(buffer, up->message->constData() + up->sent, static_cast<std::size_t>(n));
    up->sent += n;
    return static_cast<std::size_t>(n);
}

// Keeps the server's last reply line: what the user is told when the server refuses.
int watchReplies(CURL *, curl_infotype type, char *data, std::size_t size, void *user)
{
    if (type == CURLINFO_HEADER_IN) {
        const QString line = QString::fromUtf8(data, static_cast<qsizetype>(size)).trimmed();
        if (!line.isEmpty())
            *static_cast<QString *>(user) = line;
    }
    return 0;
}

int checkCancel(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto *cancel = static_cast<const std::atomic<bool> *>(user);
    return cancel && cancel->load() ? 1 : 0;
}

struct CurlDeleter
{
    void operator()(CURL *c) const { curlLibrary()->easy_cleanup(c); }
};
struct SlistDeleter
{
    void operator()(curl_slist *l) const { curlLibrary()->slist_free_all(l); }
};

} // namespace

SmtpResult sendSmtp(const ForwardOptions &server, const QStringList &to, const QByteArray &message,
                    const std::atomic<bool> *cancel)
{
    SmtpResult result;
    const CurlLibrary *lib = curlLibrary();
    if (!lib) {
        result.error = QStringLiteral("libcurl could not be loaded: ") + QString::fromLocal8Bit(dlerror());
        return result;
    }
    std::unique_ptr<CURL, CurlDeleter> curl(lib->easy_init());
    if (!curl) {
        result.error = QStringLiteral("libcurl could not start");
        return result;
    }
    QString host = server.host;
    if (host.contains(QLatin1Char(':')) && !host.startsWith(QLatin1Char('[')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    const QByteArray url = (server.security == MailSecurity::ImplicitTls ? QByteArray("smtps://")
                                                                          : QByteArray("smtp://"))
                           + host.toUtf8() + ':' + QByteArray::number(server.port) + "/telvox.localdomain";
    const QByteArray from = '<' + server.sender().toUtf8() + '>';
    curl_slist *list = nullptr;
    for (const QString &address : to) {
        if (curl_slist *head = lib->slist_append(list, ('<' + address.toUtf8() + '>').constData()))
            list = head;
    }
    const std::unique_ptr<curl_slist, SlistDeleter> rcpt(list);
    const QByteArray user = server.user.toUtf8();
    const QByteArray password = server.password.toUtf8();
    const QByteArray caFile = server.caFile.toUtf8();
    Upload upload{&message, 0};
    char errorBuffer[CURL_ERROR_SIZE] = {};

    CURL *c = curl.get();
    const auto setopt = lib->easy_setopt;
    setopt(c, CURLOPT_URL, url.constData());
    setopt(c, CURLOPT_MAIL_FROM, from.constData());
    setopt(c, CURLOPT_MAIL_RCPT, rcpt.get());
    setopt(c, CURLOPT_UPLOAD, 1L);
    setopt(c, CURLOPT_READFUNCTION, &readMessage);
    setopt(c, CURLOPT_READDATA, &upload);
    setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message.size()));
    setopt(c, CURLOPT_USE_SSL,
           server.security == MailSecurity::StartTls ? long(CURLUSESSL_ALL) : long(CURLUSESSL_NONE));
    if (!user.isEmpty()) {
        setopt(c, CURLOPT_USERNAME, user.constData());
        setopt(c, CURLOPT_PASSWORD, password.constData());
    }
    if (!caFile.isEmpty())
        setopt(c, CURLOPT_CAINFO, caFile.constData());
    setopt(c, CURLOPT_CONNECTTIMEOUT, 20L);
    setopt(c, CURLOPT_TIMEOUT, 600L);
    setopt(c, CURLOPT_NOSIGNAL, 1L);
    setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
    setopt(c, CURLOPT_VERBOSE, 1L); // the debug callback below sees the server's replies
    setopt(c, CURLOPT_DEBUGFUNCTION, &watchReplies);
    setopt(c, CURLOPT_DEBUGDATA, &result.serverReply);
    setopt(c, CURLOPT_NOPROGRESS, 0L);
    setopt(c, CURLOPT_XFERINFOFUNCTION, &checkCancel);
    setopt(c, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool> *>(cancel));

    const CURLcode code = lib->easy_perform(c);
    result.ok = code == CURLE_OK;
    if (!result.ok) {
        result.error = QString::fromUtf8(errorBuffer).trimmed();
        if (result.error.isEmpty())
            result.error = QString::fromUtf8(lib->easy_strerror(code));
    }
    return result;
}

void sendTestMail(const ForwardOptions &options, const QString &subject, const QString &body, QObject *context,
                  std::function<void(const SmtpResult &)> done)
{
    QPointer<QObject> receiver(context);
    std::thread([options, subject, body, receiver, done = std::move(done)] {
        const QByteArray message = buildMimeMessage(options.sender(), options.to, subject, body, QString(), {}, {},
                                                    QDateTime::currentDateTime());
        const SmtpResult result = sendSmtp(options, options.to, message);
        if (receiver)
            QMetaObject::invokeMethod(receiver.data(), [receiver, done, result] {
                if (receiver)
                    done(result);
            }, Qt::QueuedConnection);
    }).detach();
}

} // namespace telvox
