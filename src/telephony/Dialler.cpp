#include "telephony/Dialler.h"

#include "core/Settings.h"
#include "core/Texts.h"
#include "records/CallRecords.h"
#include "records/StatusLog.h"
#include "telephony/AudioActions.h"
#include "telephony/TelephonyCore.h"

namespace telvox {

namespace {
constexpr int kWatchIntervalMs = 1000;
constexpr int kWaitingForAnswer = 1895;
constexpr int kAnsweredRecording = 1896;
constexpr int kCallEnded = 1897;
const QString kConfig = QStringLiteral("Config");
} // namespace

Dialler::Dialler(Services services)
    : m_s(services)
{
    m_timer1.create(m_s.loop, kWatchIntervalMs);
    m_timer1.setHandler([this](int line) { Timer1_Timer(line); });
}

Dialler::~Dialler() { m_timer1.setHandler({}); }

QString Dialler::initialLine() const { return m_s.settings.ReadSetting(kConfig, QStringLiteral("DialOut"), QStringLiteral("0")); }

QString Dialler::initialNumber() const { return m_s.settings.ReadSetting(kConfig, QStringLiteral("Last_CallerID")); }

void Dialler::saveLine(const QString &lineText)
{
    m_s.settings.WriteSettingJournaled(kConfig, QStringLiteral("DialOut"), lineText);
}

int Dialler::lineNumber(const QString &lineText) { return parseLenientInt(lineText); }

bool Dialler::Dial(const QString &lineText, const QString &number)
{
    const int line = lineNumber(lineText);
    const bool known = line >= 0 && line < kLineCount;
    if (known)
        m_s.core.call(line).clearCaller();
    const QString trimmed = number.trimmed();
    if (!m_s.core.MakeCall(line, trimmed))
        return false;
    setButtons(Buttons::Calling);
    m_dialledLine = line;
    m_dialledNumber = trimmed;
    m_s.core.call(line).dialled(number);
    AddMadeCall(m_s.store, trimmed);
    m_s.status.AddStatus(QStringLiteral("Line") + lineText.trimmed() + QStringLiteral(" 正在拨号"));
    return true;
}

void Dialler::Drop(const QString &lineText)
{
    setButtons(Buttons::Ready);
    const int line = lineNumber(lineText);
    if (line < 0 || line >= kLineCount)
        return; // no such line: nothing to stop
    LineCall &call = m_s.core.call(line);
    call.stopRecording(StopReason::Dropped);
    m_s.status.AddStatus(QStringLiteral("@") + m_s.texts.LoadText(1033));
    call.drop();
}

void Dialler::Timer1_Timer(int line)
{
    if (m_s.core.lineTable()[line].recState != RecState::Idle)
        return;
    m_timer1[line].setEnabled(false);
    setButtons(Buttons::Ready);
}

QString Dialler::callStateText() const
{
    if (m_dialledLine < 0 || m_dialledLine >= kLineCount)
        return QString();
    const LineSlot &slot = m_s.core.lineTable()[m_dialledLine];
    if (m_buttons == Buttons::Ready && slot.recState == RecState::Idle)
        return m_s.texts.LoadText(kCallEnded);
    if (slot.recState == RecState::Recording)
        return m_s.texts.LoadText(kAnsweredRecording);
    return m_s.texts.LoadText(kWaitingForAnswer).arg(m_dialledNumber);
}

void Dialler::setButtons(Buttons b)
{
    m_buttons = b;
    if (m_buttonsChanged)
        m_buttonsChanged(b);
}

} // namespace telvox
