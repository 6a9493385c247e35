#include "audio/ToneMenu.h"

#include "audio/WaveFile.h"

#include "core/TextFile.h"
#include "core/EventLoop.h"
#include "core/Texts.h"
#include "platform/media/MediaDevice.h"
#include "records/StatusLog.h"
#include "telephony/AudioActions.h"
#include "telephony/LineCall.h"
#include "telephony/LineTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace telvox {

ToneMenu::ToneMenu(Services services, QString programFolder)
    : m_s(services)
    , m_programFolder(std::move(programFolder))
{
}

void ToneMenu::attach()
{
    m_s.lines.setTimerHandler(CallTimer::timTollSaver, [this](int line) { timTollSaver_Timer(line); });
}

void ToneMenu::timTollSaver_Timer(int line)
{
    LineCall &call = m_s.lines.call(line);
    if (!call.digitsIdleTick())
        return;
    HandleToneCommand(line);
    call.clearDigits();
}

void ToneMenu::HandleToneCommand(int line)
{
    const QString digits = m_s.lines[line].digits;
    const QString lineText = QStringLiteral("Line") + QString::number(line);
    static const QStringList announcements = {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                                              QStringLiteral("4")};
    const qsizetype which = announcements.indexOf(digits);
    if (which >= 0) {
        m_currentPrompt = QDir(m_programFolder).filePath(QStringLiteral("0%1.wav").arg(which + 1));
        // Played on the computer's own loudspeakers, without waiting; a missing file plays
        // nothing. The player decodes more than the line does, but a header that claims an
        // impossible rate is refused here, before any decoder sizes its buffers by it.
        const auto wave = QFile::exists(m_currentPrompt) ? readWaveFile(m_currentPrompt) : std::nullopt;
        if (wave && promptProblem(wave->format) == PromptProblem::Rate)
            m_s.status.AddStatus(promptRefusedText(m_s.texts, QFileInfo(m_currentPrompt).fileName(),
                                                   PromptProblem::Rate, wave->format.samplesPerSec, false));
        else if (m_s.announcements.open(m_currentPrompt))
            m_s.announcements.play();
        m_s.status.AddStatus(lineText + m_s.texts.LoadText(1064 + static_cast<int>(which)));
        return;
    }
    if (digits == QLatin1String("##")) {
        LineCall &call = m_s.lines.call(line);
        call.stopRecording(StopReason::ToneCommand);
        m_s.status.AddStatus(QStringLiteral("##") + m_s.texts.LoadText(1033));
        m_s.loop.doEvents();
        call.drop();
        return;
    }
    static const QRegularExpression number(QStringLiteral("^\\d+$"));
    if (number.match(digits).hasMatch())
        m_s.status.AddStatus(QStringLiteral("[ ") + digits + QStringLiteral(" ]"));
    // A read-only folder just keeps nothing.
    appendLocalLine(QDir(m_programFolder).filePath(QStringLiteral("dtmf.txt")), digits);
}

} // namespace telvox
