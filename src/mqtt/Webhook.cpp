// The webhook: events posted as JSON over HTTP by a worker thread with retries.

#include "mqtt/Webhook.h"

#include <QMetaObject>

#include "records/CurlLibrary.h"

#include <chrono>
#include <memory>

namespace telvox {

namespace {

constexpr std::size_t kQueueLimit = 100;

std::size_t discardBody(char *, std::size_t size, std::size_t count, void *) { return size * count; }

// Lets a transfer end early when the webhook is going away.
int checkQuit(void *quit, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return *static_cast<const std::atomic<bool> *>(quit) ? 1 : 0;
}

} // namespace

Webhook::Webhook(WebhookOptions options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
{
    m_thread = std::thread([this] { run(); });
}

Webhook::~Webhook()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_abort = true;
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void Webhook::post(const QString &event, const QByteArray &payload)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_queue.size() >= kQueueLimit)
            m_queue.pop_front();
        m_queue.push_back({event, payload});
    }
    m_wake.notify_all();
}

void Webhook::run()
{
    std::unique_lock lock(m_mutex);
    while (true) {
        m_wake.wait(lock, [this] { return m_quit || !m_queue.empty(); });
        if (m_quit)
            return;
        const Job job = m_queue.front();
        int wait = m_options.retrySeconds;
        for (int attempt = 1;; ++attempt) {
            lock.unlock();
            const QString reason = send(job);
            lock.lock();
            if (m_quit)
                return;
            if (reason.isEmpty()) {
                QMetaObject::invokeMethod(this, [this, e = job.event] { emit delivered(e); }, Qt::QueuedConnection);
                break;
            }
            const bool givenUp = attempt >= m_options.attempts;
            QMetaObject::invokeMethod(
                this, [this, e = job.event, reason, givenUp] { emit failed(e, reason, givenUp); }, Qt::QueuedConnection);
            if (givenUp)
                break;
            // Woken early only to quit.
            if (m_wake.wait_for(lock, std::chrono::seconds(wait), [this] { return m_quit; }))
                return;
            wait = std::min(wait * 2, 3600);
        }
        m_queue.pop_front();
    }
}

QString Webhook::send(const Job &job)
{
    const CurlLibrary *lib = curlLibrary();
    if (!lib)
        return QStringLiteral("libcurl cannot be loaded");
    struct CurlDeleter
    {
        void operator()(CURL *c) const { curlLibrary()->easy_cleanup(c); }
    };
    struct ListDeleter
    {
        void operator()(curl_slist *l) const { curlLibrary()->slist_free_all(l); }
    };
    std::unique_ptr<CURL, CurlDeleter> curl(lib->easy_init());
    if (!curl)
        return QStringLiteral("libcurl cannot start a transfer");
    curl_slist *raw = lib->slist_append(nullptr, "Content-Type: application/json; charset=utf-8");
    raw = lib->slist_append(raw, ("X-Telvox-Event: " + job.event.toLatin1()).constData());
    std::unique_ptr<curl_slist, ListDeleter> headers(raw);
    const QByteArray url = m_options.url.toUtf8();
    const QByteArray ca = m_options.caFile.toUtf8();
    CURL *c = curl.get();
    const auto setopt = lib->easy_setopt;
    setopt(c, CURLOPT_URL, url.constData());
    setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    setopt(c, CURLOPT_NOSIGNAL, 1L);
    setopt(c, CURLOPT_HTTPHEADER, headers.get());
    setopt(c, CURLOPT_POSTFIELDS, job.payload.constData());
    setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(job.payload.size()));
    setopt(c, CURLOPT_CONNECTTIMEOUT, 10L);
    setopt(c, CURLOPT_TIMEOUT, 30L);
    setopt(c, CURLOPT_WRITEFUNCTION, &discardBody);
    setopt(c, CURLOPT_NOPROGRESS, 0L);
    setopt(c, CURLOPT_XFERINFOFUNCTION, &checkQuit);
    setopt(c, CURLOPT_XFERINFODATA, &m_abort);
    setopt(c, CURLOPT_USERAGENT, "Telvox");
    if (!ca.isEmpty())
        setopt(c, CURLOPT_CAINFO, ca.constData());
    const CURLcode rc = lib->easy_perform(c);
    if (rc != CURLE_OK)
        return QString::fromUtf8(lib->easy_strerror(rc));
    long status = 0;
    lib->easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299)
        return QStringLiteral("HTTP %1").arg(status);
    return QString();
}

} // namespace telvox
