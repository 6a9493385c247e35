#pragma once

#include "records/MessageStore.h"
#include "telephony/RemotePhrases.h"

#include <QList>

#include <cstdint>
#include <functional>
#include <memory>

namespace telvox {

class EventLoop;
class Timer;

// What the telephone menu has played to the line. The player queues what it is given and
// plays it in order; `stop` empties the queue at once.
class RemoteMenuPlayer
{
public:
    virtual ~RemoteMenuPlayer() = default;
    virtual void say(const RemotePhrase &phrase) = 0;
    // The message's audio from `fromMs` on; false when it cannot be played (its file is gone
    // or in a format the line cannot play).
    virtual bool playMessage(const StoredMessage &message, std::int64_t fromMs) = 0;
    virtual void stop() = 0;
    // How far into the message now playing the line is (milliseconds), -1 when none plays.
    virtual std::int64_t messagePosition() const = 0;
    // The session is over: the call is to be hung up.
    virtual void hangUp() = 0;
    // A new greeting: the tone is played and the line's audio recorded from then on (false
    // when that cannot start); stopping ends the recording, and once it is written the player
    // tells the menu (RemoteMenu::greetingRecorded) and queues it to be heard; it is put in
    // place of the greeting, or thrown away.
    virtual bool startGreetingRecording() = 0;
    virtual void stopGreetingRecording() = 0;
    virtual bool keepGreeting(bool keep) = 0;
};

// One caller's session with the messages, after the right PIN: a summary, then the new
// messages oldest first and the saved ones newest first, each introduced by its date, time
// and caller. Keys: 1 replay, 2 next, 3 delete, 4 previous, 5 keep as new, 7 back 5 s,
// 9 forward 5 s, 6 record a new greeting (ended by #, played back, 1 keeps it), 0 help,
// # end. A message heard to its end is marked read; what the keys do
// goes straight into the message store, so every list shows it at once. The session ends
// after 30 s without a key while nothing plays.
class RemoteMenu
{
public:
    static constexpr int kIdleMs = 30000;
    static constexpr int kSkipMs = 5000;

    RemoteMenu(EventLoop &loop, MessageStore &store, RemoteMenuPlayer &player);
    ~RemoteMenu();
    RemoteMenu(const RemoteMenu &) = delete;
    RemoteMenu &operator=(const RemoteMenu &) = delete;

    void start();
    void key(QChar key);
    // The player's queue ran dry; `messageEnded` when its last item was a message that
    // played to its end.
    void played(bool messageEnded);
    // The new greeting has been written (and queued to be heard), or was too short (false).
    void greetingRecorded(bool ok);
    bool isOver() const { return m_over; }

    // For tests and the day log: the ids in the order of the session, and where it is.
    QList<qint64> order() const;
    int current() const { return m_current; }

private:
    enum class Mode { Messages, GreetingPrompt, GreetingRecording, GreetingWriting, GreetingReview };
    void greetingKey(QChar key);
    // A key while the messages are being heard, one function per key that acts on a message.
    void messageKey(QChar key);
    void deleteCurrent();
    void previous();
    void keepCurrentNew();
    // 7 and 9: from `position` (the playing message's, negative once it has ended) by `byMs`.
    void skip(std::int64_t position, std::int64_t byMs);
    void present(std::int64_t fromMs = 0, bool intro = true);
    void next();
    void finish();
    void waitForKey();

    EventLoop &m_loop;
    MessageStore &m_store;
    RemoteMenuPlayer &m_player;
    QList<StoredMessage> m_messages;
    int m_current = 0;
    Mode m_mode = Mode::Messages;
    bool m_over = false;
    bool m_ending = false; // the goodbye plays; then the call is hung up
    std::unique_ptr<Timer> m_idle;
};

} // namespace telvox
