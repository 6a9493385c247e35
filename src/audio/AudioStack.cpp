#include "audio/AudioStack.h"

#include "audio/AudioEngine.h"
#include "audio/CodecConversion.h"
#include "audio/StopTriggers.h"
#include "audio/ToneMenu.h"
#include "core/QtEventLoop.h"

#include <QDir>

namespace telvox {

QString fallbackRecordingFolder(const QString &programFolder)
{
    return QDir(programFolder).filePath(QStringLiteral("FallbackRecordings")) + QLatin1Char('/');
}

AudioStack::AudioStack(Services services)
    : m_s(std::move(services))
{
    m_manager.addDriver(codec::makeTrueSpeechDriver());
    m_conversion = std::make_unique<CodecConversion>(m_manager, m_s.prompts);
    m_engine = std::make_unique<AudioEngine>(
        AudioEngine::Services{m_s.loop, m_s.lines, m_s.telephony, m_devices, *m_conversion, m_s.lists, m_s.status,
                              m_s.texts, m_s.prompts, m_s.timers},
        AudioEngine::Folders{m_s.programFolder, QString(), QString(), QString()}, OutputFormat::Pcm);
    // On the program's own event loop the conversion leaves the user-interface thread; in
    // virtual time it stays inline, where every run is the same.
    m_engine->setThreadedConversion(dynamic_cast<QtEventLoop *>(&m_s.loop) != nullptr);
    m_toneMenu = std::make_unique<ToneMenu>(
        ToneMenu::Services{m_s.loop, m_s.lines, *m_engine, m_s.status, m_s.texts, m_s.announcements},
        m_s.programFolder);
    m_toneMenu->attach();
}

AudioStack::~AudioStack()
{
    // The engine's devices go before the providers behind them.
    m_triggers.reset();
    m_toneMenu.reset();
    m_engine.reset();
}

void AudioStack::setFolders(const QString &tempFolder, const QString &recordingFolder)
{
    m_engine->setFolders({m_s.programFolder, tempFolder, recordingFolder, fallbackRecordingFolder(m_s.programFolder)});
}

void AudioStack::setOutputFormat(OutputFormat format) { m_engine->setOutputFormat(format); }

void AudioStack::startTriggers(const StopTriggerOptions &options)
{
    m_triggers = std::make_unique<StopTriggers>(
        StopTriggers::Services{m_s.lines, *m_engine, m_s.status, m_s.legalNotice}, options);
    m_triggers->attach();
}

} // namespace telvox
