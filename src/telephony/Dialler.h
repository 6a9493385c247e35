#pragma once

#include "core/EventLoop.h"

#include <QString>

#include <functional>

namespace telvox {

class AudioActions;
class MessageStore;
class SettingsStore;
class StatusLog;
class TelephonyCore;
class Texts;

// What the dialler window does, without the window: Dial, Drop, the per-line watch timers and
// the state of the three buttons. It lives as long as the call flow, so that the watch timers
// that the call flow starts always have a target; the window shows its state while it is open.
// The buttons are one set, not per line: one dialled call is followed at a time.
class Dialler
{
public:
    struct Services
    {
        TelephonyCore &core;
        EventLoop &loop;
        SettingsStore &settings;
        MessageStore &store; // the call records
        StatusLog &status;
        const Texts &texts;
        AudioActions &audio;
    };

    // Ready: Dial and Exit enabled, Drop disabled. Calling: the other way round.
    enum class Buttons { Ready, Calling };

    explicit Dialler(Services services);
    // The call records the dialler adds to (the records window reads them).
    const MessageStore &callRecords() const { return m_s.store; }
    ~Dialler();

    Dialler(const Dialler &) = delete;
    Dialler &operator=(const Dialler &) = delete;

    // The line box's text and the number box's text at the window's load.
    QString initialLine() const;
    QString initialNumber() const;
    // The line box lost the focus: its text is kept for the next start.
    void saveLine(const QString &lineText);

    // Dial (cmdDial_Click): returns whether the call is being placed.
    bool Dial(const QString &lineText, const QString &number);
    // Drop (cmdDrop_Click) on the line the line box shows now.
    void Drop(const QString &lineText);
    // Watch timer tick of a line: when its recording is over the buttons are Ready again.
    void Timer1_Timer(int line);
    // Starts the watch of a line (the dialled call is being recorded).
    void startWatch(int line) { m_timer1[line].setEnabled(true); }
    const Timer &Timer1(int line) const { return m_timer1[line]; }

    Buttons buttons() const { return m_buttons; }
    // What the last dialled call is doing, in words for the window: waiting for the answer,
    // answered and being recorded, or ended. Empty before the first call.
    QString callStateText() const;
    EventLoop &loop() const { return m_s.loop; }
    // Called whenever the buttons change state.
    void setButtonsHandler(std::function<void(Buttons)> handler) { m_buttonsChanged = std::move(handler); }

    // The line number of a line box text: its leading decimal value, anything else 0.
    static int lineNumber(const QString &lineText);

private:
    void setButtons(Buttons b);

    Services m_s;
    TimerArray<4> m_timer1;
    Buttons m_buttons = Buttons::Ready;
    int m_dialledLine = -1; // the line of the last call placed
    QString m_dialledNumber;
    std::function<void(Buttons)> m_buttonsChanged;
};

} // namespace telvox
