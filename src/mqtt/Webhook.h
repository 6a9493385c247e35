#pragma once

#include "mqtt/HomeOptions.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace telvox {

// Posts events as JSON to the user's URL, for home systems without MQTT. A worker thread of
// its own sends them in order through libcurl and retries a failed post (waiting RetrySeconds,
// then twice as long each time), so a slow or absent receiver never holds up a call. An event
// that still fails after the last attempt is given up, and said so once.
class Webhook final : public QObject
{
    Q_OBJECT
public:
    explicit Webhook(WebhookOptions options, QObject *parent = nullptr);
    ~Webhook() override; // a post under way is broken off; what waits is dropped

    // Queues `payload` for `event` (sent as the header "X-Telvox-Event"). The queue keeps the
    // newest 100 events.
    void post(const QString &event, const QByteArray &payload);

signals:
    // On this object's thread.
    void delivered(const QString &event);
    void failed(const QString &event, const QString &reason, bool givenUp);

private:
    struct Job
    {
        QString event;
        QByteArray payload;
    };
    void run();
    // One attempt: empty when the receiver took it (a 2xx answer), else the reason.
    QString send(const Job &job);

    WebhookOptions m_options;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_queue;
    bool m_quit = false;
    std::atomic<bool> m_abort{false}; // breaks off a transfer under way
    std::thread m_thread;
};

} // namespace telvox
