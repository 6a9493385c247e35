// Answering, dropping and the signal tone, placing a call from the dialler, and the per-line
// timers that continue a call.

#include "telephony/TelephonyCore.h"

#include "core/EventLoop.h"
#include "core/Texts.h"
#include "platform/shell/UserPrompts.h"
#include "records/StatusLog.h"
#include "telephony/AudioActions.h"

namespace telvox {

// Results are ignored throughout: a refused request leaves the call as it is, and the next
// event of the call continues the flow.

void TelephonyCore::AnswerCall(int line) { (void)m_s.service.lineAnswer(m_lineTable[line].hCall); }

void TelephonyCore::DropCall(int line) { (void)m_s.service.lineDrop(m_lineTable[line].hCall); }

void TelephonyCore::SendSignalTone(int line)
{
    (void)m_s.service.lineGenerateDigits(m_lineTable[line].hCall, kDigitModeDtmf, QStringLiteral("*"), 0);
}

void TelephonyCore::StartDigitMonitor(int line)
{
    (void)m_s.service.lineMonitorDigits(m_lineTable[line].hCall, kDigitModeDtmf);
}

bool TelephonyCore::MakeCall(int line, const QString &number)
{
    // A line number outside 0..3 (typed into the line box) names no open line either.
    if (line < 0 || line >= kLineCount || m_lineTable[line].hLine == 0) {
        m_s.prompts.messageBox(m_s.texts.LoadText(1742), MessageIcon::Critical, m_s.appTitle);
        return false;
    }
    if (number.isEmpty())
        return false;
    // The result is a request identifier; only a positive one means the call is being placed.
    return call(line).place(m_s.service, number) > 0;
}

void TelephonyCore::Timer1_Timer(int line)
{
    // The rings stopped before the system answered: a person took the call on a handset (or
    // the caller gave up). Go off-hook too, so that the conversation is recorded.
    call(line).takenBy(Answerer::Person);
    AnswerCall(line);
}

void TelephonyCore::Timer3_Timer(int line)
{
    if (m_lineTable[line].playing)
        return;
    call(line).endGreetingWatch();
    m_s.audio.ClosePromptOutput(line);
    for (int i = 0; i < 4; ++i)
        m_s.loop.doEvents();
    if (m_screen.isBlocked(line)) {
        DropCall(line); // the refusal prompt is over
        return;
    }
    SendSignalTone(line);
    m_s.loop.doEvents();
}

void TelephonyCore::Timer4_Timer(int line)
{
    call(line).startRecording(CallKind::Dialled, RecState::AwaitingAnswer);
    addStatus(lineText(line) + QStringLiteral(" 等待接听"));
    if (m_startDialerTimer)
        m_startDialerTimer(line);
    if (m_lineTable[line].answerConfirmed)
        confirmDialledAnswer(line);
}

void TelephonyCore::confirmDialledAnswer(int line)
{
    LineCall &c = call(line);
    c.setAnswerConfirmed(true);
    // Before Timer4 has started the capture, the flag alone is enough: Timer4 comes here again.
    if (c.answerDialled(m_chkLegal && m_chkLegal()))
        addStatus(QStringLiteral("电话被接听，录音开始"));
}

void TelephonyCore::timDropCall_Timer(int line)
{
    call(line).dropDue();
    DropCall(line);
}

} // namespace telvox
