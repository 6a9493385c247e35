#include "telephony/RemoteMenu.h"

#include "core/EventLoop.h"

#include <algorithm>

namespace telvox {

RemoteMenu::RemoteMenu(EventLoop &loop, MessageStore &store, RemoteMenuPlayer &player)
    : m_loop(loop)
    , m_store(store)
    , m_player(player)
{
    m_idle = m_loop.createTimer(kIdleMs, [this] {
        m_idle->setEnabled(false);
        finish();
    });
}

RemoteMenu::~RemoteMenu() = default;

QList<qint64> RemoteMenu::order() const
{
    QList<qint64> ids;
    for (const StoredMessage &m : m_messages)
        ids << m.id;
    return ids;
}

void RemoteMenu::start()
{
    const QList<StoredMessage> fresh = m_store.messages(MessageStore::List::Unread); // oldest first
    QList<StoredMessage> saved = m_store.messages(MessageStore::List::Recent);
    std::reverse(saved.begin(), saved.end()); // newest first
    m_messages = fresh + saved;
    RemotePhrase summary = RemotePhrase::of(RemotePhrase::Kind::Summary);
    summary.newCount = static_cast<int>(fresh.size());
    summary.savedCount = static_cast<int>(saved.size());
    m_player.say(summary);
    m_current = 0;
    if (m_messages.isEmpty())
        m_player.say(RemotePhrase::of(RemotePhrase::Kind::NoMore));
    else
        present();
}

void RemoteMenu::present(std::int64_t fromMs, bool intro)
{
    m_idle->setEnabled(false);
    if (m_current >= m_messages.size()) {
        m_player.say(RemotePhrase::of(RemotePhrase::Kind::NoMore));
        return;
    }
    const StoredMessage &m = m_messages[m_current];
    if (intro) {
        RemotePhrase about = RemotePhrase::of(RemotePhrase::Kind::Intro);
        about.time = m.time;
        about.callerName = m.callerName;
        about.caller = m.caller;
        m_player.say(about);
    }
    if (!m_player.playMessage(m, fromMs)) {
        m_player.say(RemotePhrase::of(RemotePhrase::Kind::CannotPlay));
        m_player.say(RemotePhrase::of(RemotePhrase::Kind::AfterMessage));
    }
}

void RemoteMenu::next()
{
    ++m_current;
    present();
}

void RemoteMenu::finish()
{
    if (m_ending)
        return;
    m_ending = true;
    m_idle->setEnabled(false);
    if (m_mode == Mode::GreetingRecording)
        m_player.stopGreetingRecording();
    if (m_mode != Mode::Messages)
        m_player.keepGreeting(false);
    m_mode = Mode::Messages;
    m_player.stop();
    m_player.say(RemotePhrase::of(RemotePhrase::Kind::Goodbye));
}

void RemoteMenu::waitForKey()
{
    if (!m_idle->isEnabled())
        m_idle->setEnabled(true);
}

void RemoteMenu::played(bool messageEnded)
{
    if (m_over)
        return;
    if (m_ending) {
        m_over = true;
        m_player.hangUp();
        return;
    }
    if (m_mode == Mode::GreetingPrompt) {
        if (m_player.startGreetingRecording()) {
            m_mode = Mode::GreetingRecording;
        } else {
            m_mode = Mode::Messages;
            m_player.say(RemotePhrase::of(RemotePhrase::Kind::GreetingDiscarded));
            return;
        }
    }
    if (messageEnded && m_mode == Mode::Messages && m_current < m_messages.size()) {
        StoredMessage &m = m_messages[m_current];
        // Heard to its end: read (key 5 makes it new again).
        if (m.unread && m_store.markRead(m.id))
            m.unread = false;
        m_player.say(RemotePhrase::of(RemotePhrase::Kind::AfterMessage));
        return; // the keys are waited for once that has been said
    }
    waitForKey();
}

void RemoteMenu::greetingRecorded(bool ok)
{
    if (m_mode != Mode::GreetingWriting)
        return;
    m_mode = ok ? Mode::GreetingReview : Mode::Messages;
    m_player.say(RemotePhrase::of(ok ? RemotePhrase::Kind::GreetingReview : RemotePhrase::Kind::GreetingDiscarded));
}

void RemoteMenu::greetingKey(QChar key)
{
    switch (m_mode) {
    case Mode::GreetingPrompt:
    case Mode::GreetingWriting:
        break; // no key counts until the recording starts or has been written
    case Mode::GreetingRecording:
        if (key == QLatin1Char('#')) {
            m_mode = Mode::GreetingWriting;
            m_player.stopGreetingRecording();
        }
        break;
    case Mode::GreetingReview: {
        m_player.stop();
        m_mode = Mode::Messages;
        const bool kept = m_player.keepGreeting(key == QLatin1Char('1'));
        m_player.say(RemotePhrase::of(kept ? RemotePhrase::Kind::GreetingKept : RemotePhrase::Kind::GreetingDiscarded));
        break;
    }
    case Mode::Messages:
        break;
    }
}

void RemoteMenu::key(QChar key)
{
    if (m_over || m_ending)
        return;
    m_idle->setEnabled(false);
    if (m_mode == Mode::Messages) {
        messageKey(key);
        return;
    }
    greetingKey(key);
    if (m_mode == Mode::GreetingRecording)
        waitForKey();
}

void RemoteMenu::messageKey(QChar key)
{
    const bool onMessage = m_current < m_messages.size();
    const std::int64_t position = m_player.messagePosition();
    switch (key.toLatin1()) {
    case '1':
        m_player.stop();
        present(0, false);
        return;
    case '2':
        m_player.stop();
        if (onMessage)
            next();
        else
            present();
        return;
    case '3':
        m_player.stop();
        deleteCurrent();
        return;
    case '4':
        m_player.stop();
        previous();
        return;
    case '5':
        m_player.stop();
        keepCurrentNew();
        return;
    case '7':
    case '9':
        if (!onMessage)
            break;
        skip(position, key == QLatin1Char('7') ? -kSkipMs : kSkipMs);
        return;
    case '6':
        m_player.stop();
        m_mode = Mode::GreetingPrompt;
        m_player.say(RemotePhrase::of(RemotePhrase::Kind::GreetingRecord));
        return;
    case '#':
        finish();
        return;
    default:
        break;
    }
    // 0 and every key without a meaning: the list of keys.
    m_player.stop();
    m_player.say(RemotePhrase::of(RemotePhrase::Kind::Help));
}

void RemoteMenu::deleteCurrent()
{
    if (m_current < m_messages.size()) {
        m_store.removeFromList(m_messages[m_current].id);
        m_messages.removeAt(m_current);
        m_player.say(RemotePhrase::of(RemotePhrase::Kind::Deleted));
    }
    present();
}

void RemoteMenu::previous()
{
    m_current = std::max(0, std::min(m_current, static_cast<int>(m_messages.size())) - 1);
    present();
}

void RemoteMenu::keepCurrentNew()
{
    if (m_current >= m_messages.size()) {
        present();
        return;
    }
    StoredMessage &m = m_messages[m_current];
    if (!m.unread && m_store.markUnread(m.id))
        m.unread = true;
    m_player.say(RemotePhrase::of(RemotePhrase::Kind::KeptNew));
    next();
}

void RemoteMenu::skip(std::int64_t position, std::int64_t byMs)
{
    const std::int64_t length = std::int64_t(m_messages[m_current].seconds) * 1000;
    // After the message has ended the skips count from its end.
    const std::int64_t at = position >= 0 ? position : length;
    const std::int64_t to = std::max<std::int64_t>(0, at + byMs);
    m_player.stop();
    if (to >= length && length > 0) {
        m_player.say(RemotePhrase::of(RemotePhrase::Kind::AfterMessage));
        return;
    }
    present(to, false);
}

} // namespace telvox
