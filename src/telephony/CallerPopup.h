#pragma once

#include <QString>

#include <array>
#include <functional>
#include <memory>

namespace telvox {

class EventLoop;
class SettingsStore;
class Timer;

// The state and behaviour of the caller pop-up "Incoming Call Offering" (frmPopCallID),
// without widgets: one row per line with the caller's number and name and the Answer and
// Hang Up buttons, the display-time field Text1 and the Timer1 that closes the window. The
// window (or a test) shows this state; the Answer and Hang Up buttons are handled by the
// telephony core, which owns the line table.
class CallerPopup
{
public:
    struct Row
    {
        bool labelsVisible = false; // Label1, lblCallerID and lblCallerName of the row
        QString callerId;           // lblCallerID
        QString callerName;         // lblCallerName
        bool answerVisible = false; // cmdAnswer
        bool hangupVisible = false; // cmdHangup
    };

    static constexpr int kDesignInterval = 15000;

    CallerPopup(EventLoop &loop, SettingsStore &settings);
    ~CallerPopup();

    // Manual-answer mode, published by the setup's loading.
    void setManualAnswer(bool on) { m_manualAnswer = on; }

    bool isLoaded() const { return m_loaded; }
    bool isVisible() const { return m_visible; }
    // Loads the window when it is not loaded yet (Form_Load runs then).
    void ensureLoaded();
    // Shows the window without waiting.
    void show();
    // Unloads the window: Form_QueryUnload runs first (whether or not the window is loaded).
    void unload();

    void ClearPopupLabels();
    // Disables Timer1, lets pending events run once and enables it again, so that the
    // display time starts anew.
    void restartDisplayTimer();
    // Asks the window to redraw its frame.
    void refreshFrame();

    Row &row(int line);
    const Row &row(int line) const;
    QString text1() const { return m_text1; }
    // The user changed the display-time field.
    void Text1_Change(const QString &text);
    Timer &displayTimer() { return *m_timer1; }

    // Form_QueryUnload: the owner resets its count of open pop-ups here.
    void setQueryUnloadHandler(std::function<void()> handler) { m_queryUnload = std::move(handler); }
    // Called after every change, for the window that shows the pop-up.
    void setChangeHandler(std::function<void()> handler) { m_changed = std::move(handler); }

private:
    void Form_Load();
    void Timer1_Timer();
    void changed();

    EventLoop &m_loop;
    SettingsStore &m_settings;
    std::unique_ptr<Timer> m_timer1;
    std::array<Row, 4> m_rows{};
    QString m_text1 = QStringLiteral("15");
    bool m_manualAnswer = false;
    bool m_loaded = false;
    bool m_visible = false;
    std::function<void()> m_queryUnload;
    std::function<void()> m_changed;
};

} // namespace telvox
