#include "telephony/CallerPopup.h"

#include "core/EventLoop.h"
#include "core/Settings.h"

namespace telvox {

CallerPopup::CallerPopup(EventLoop &loop, SettingsStore &settings)
    : m_loop(loop)
    , m_settings(settings)
{
    m_timer1 = m_loop.createTimer(kDesignInterval, [this] { Timer1_Timer(); });
}

CallerPopup::~CallerPopup() = default;

CallerPopup::Row &CallerPopup::row(int line) { return m_rows.at(static_cast<std::size_t>(line)); }

const CallerPopup::Row &CallerPopup::row(int line) const { return m_rows.at(static_cast<std::size_t>(line)); }

void CallerPopup::ensureLoaded()
{
    if (m_loaded)
        return;
    m_loaded = true;
    Form_Load();
}

void CallerPopup::Form_Load()
{
    for (Row &r : m_rows) {
        r.callerId.clear();
        r.callerName.clear();
    }
    if (!m_manualAnswer) {
        QString t = m_settings.ReadSetting(QStringLiteral("Config"), QStringLiteral("PopCallIDTime"), QStringLiteral("15"));
        if (parseLenientInt(t) > 60)
            t = QStringLiteral("59");
        m_text1 = t;
        m_timer1->setInterval(parseLenientInt(m_text1) * 1000);
        m_timer1->setEnabled(true);
    }
    changed();
}

void CallerPopup::show()
{
    ensureLoaded();
    m_visible = true;
    changed();
}

void CallerPopup::unload()
{
    if (m_queryUnload)
        m_queryUnload();
    if (!m_loaded)
        return;
    m_timer1->setEnabled(false);
    m_loaded = false;
    m_visible = false;
    // The next load starts from the window's design state.
    m_rows = {};
    m_text1 = QStringLiteral("15");
    m_timer1->setInterval(kDesignInterval);
    changed();
}

void CallerPopup::ClearPopupLabels()
{
    ensureLoaded();
    for (Row &r : m_rows)
        r.labelsVisible = false;
    changed();
}

void CallerPopup::restartDisplayTimer()
{
    ensureLoaded();
    m_timer1->setEnabled(false);
    m_loop.doEvents();
    // Pending events may have unloaded the window; a restart then has nothing to time.
    if (m_loaded)
        m_timer1->setEnabled(true);
}

void CallerPopup::refreshFrame() { changed(); }

void CallerPopup::Timer1_Timer()
{
    // A call answered or offered in the pop-up keeps it up, with its buttons, as long as the
    // call is; the timer looks again one display time later.
    for (const Row &r : m_rows) {
        if (r.answerVisible || r.hangupVisible)
            return;
    }
    m_timer1->setEnabled(false);
    unload();
}

void CallerPopup::Text1_Change(const QString &text)
{
    m_text1 = text;
    const int seconds = parseLenientInt(text);
    if (seconds > 5 && seconds < 60)
        m_settings.WriteSetting(QStringLiteral("Config"), QStringLiteral("PopCallIDTime"), text);
}

void CallerPopup::changed()
{
    if (m_changed)
        m_changed();
}

} // namespace telvox
