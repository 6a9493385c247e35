#pragma once

#include "audio/SpeechVoice.h"
#include "telephony/RemotePhrases.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

namespace telvox {

class AudioEngine;
class EventLoop;
class MessageStore;
class StatusLog;
class TelephonyCore;
class Texts;
class Timer;

// Remote retrieval by telephone. While the machine plays its greeting or records a message,
// the caller keys "*" and the PIN; it is checked when the keys pause for a second, at a "#" or
// at the eighth digit (one check of its hash per PIN, which keeps the event loop free). The
// greeting stops at the "*"; with the right PIN the message being recorded is dropped unkept
// and a RemoteMenu session reads out the messages. The keys of the PIN and of the session
// never reach the touch-tone menu, dtmf.txt or the status list.
//
// Safety: three wrong PINs end the call; ten wrong PINs within an hour lock remote retrieval
// for an hour (a status line and a notification); every opening, wrong PIN and end of a
// session is in the day log with the caller's number.
class RemoteRetrieval
{
public:
    struct Services
    {
        EventLoop &loop;
        TelephonyCore &telephony;
        AudioEngine &engine;
        MessageStore &store;
        StatusLog &status;
        const Texts &texts;
        std::function<QByteArray()> pinHash; // "" when no PIN is set (read at each "*")
        SpeechLanguage language;
    };
    static constexpr int kWrongPerCall = 3;
    static constexpr int kWrongToLock = 10;
    static constexpr std::int64_t kLockMs = 3600000;
    static constexpr int kEntryIdleMs = 5000;
    // The PIN keyed so far is checked once the keys pause this long.
    static constexpr int kPinPauseMs = 1000;
    static constexpr int kPollMs = 100;
    // A "#" this soon after the PIN's last digit ends the PIN.
    static constexpr int kPinEndMs = 2000;

    explicit RemoteRetrieval(Services services);
    ~RemoteRetrieval();
    RemoteRetrieval(const RemoteRetrieval &) = delete;
    RemoteRetrieval &operator=(const RemoteRetrieval &) = delete;

    // Every touch-tone key of every line, before anyone else: true when it was taken here.
    bool key(int line, QChar key);

    bool isLocked() const;
    bool inSession(int line) const;
    bool enteringPin(int line) const;

private:
    class LineState;
    void poll();
    void startEntry(int line);
    void entryKey(LineState &state, QChar key);
    void checkPin(LineState &state, bool complete);
    void wrongPin(LineState &state, bool counts);
    void openSession(LineState &state);
    void leaveEntry(LineState &state);
    void end(LineState &state);
    void addStatus(int line, int textId, const QString &caller = QString());
    QString callerOf(int line) const;
    bool eligible(int line) const;
    void armPoll();

    Services m_s;
    std::array<std::unique_ptr<LineState>, 4> m_lines;
    std::deque<std::int64_t> m_wrongTimes; // of the last hour
    std::int64_t m_lockedUntil = -1;
    std::unique_ptr<Timer> m_poll;
    SpeechVoice m_voice;
    bool m_speechWarned = false;
    friend class LineState;
};

} // namespace telvox
