#include "platform/media/ModuleMedia.h"

#include "core/ProgramModule.h"

#include <QTextStream>

namespace telvox {

namespace {

template <class Made>
std::unique_ptr<Made> makeFromModule(const char *entry, QString &error)
{
    using Entry = Made *(*)(const char *build);
    auto make = reinterpret_cast<Entry>(programModuleSymbol(kMediaModuleFile, kMediaModuleOverride, entry, &error));
    if (!make) {
        QTextStream(stderr) << "telvox: no sound: " << error << Qt::endl;
        return nullptr;
    }
    std::unique_ptr<Made> made(make(programModuleBuild()));
    if (!made)
        error = QStringLiteral("the sound module belongs to another build");
    return made;
}

} // namespace

ModuleMediaDevice::ModuleMediaDevice() = default;
ModuleMediaDevice::~ModuleMediaDevice() = default;

bool ModuleMediaDevice::open(const QString &path)
{
    if (!m_device)
        m_device = makeFromModule<MediaDevice>("telvox_media_player", m_loadError);
    return m_device && m_device->open(path);
}

void ModuleMediaDevice::close()
{
    if (m_device)
        m_device->close();
}

qint64 ModuleMediaDevice::lengthMs() const { return m_device ? m_device->lengthMs() : 0; }

qint64 ModuleMediaDevice::positionMs() const { return m_device ? m_device->positionMs() : 0; }

void ModuleMediaDevice::play()
{
    if (m_device)
        m_device->play();
}

void ModuleMediaDevice::pause()
{
    if (m_device)
        m_device->pause();
}

void ModuleMediaDevice::seek(qint64 ms)
{
    if (m_device)
        m_device->seek(ms);
}

bool ModuleMediaDevice::isPlaying() const { return m_device && m_device->isPlaying(); }

QString ModuleMediaDevice::lastError() const { return m_device ? m_device->lastError() : m_loadError; }

ModuleSoundRecorder::ModuleSoundRecorder() = default;
ModuleSoundRecorder::~ModuleSoundRecorder() = default;

bool ModuleSoundRecorder::start(const RecordFormat &format)
{
    if (!m_recorder) {
        QString error;
        m_recorder = makeFromModule<SoundRecorder>("telvox_media_recorder", error);
    }
    return m_recorder && m_recorder->start(format);
}

void ModuleSoundRecorder::stop()
{
    if (m_recorder)
        m_recorder->stop();
}

bool ModuleSoundRecorder::save(const QString &path) { return m_recorder && m_recorder->save(path); }

void ModuleSoundRecorder::discard()
{
    if (m_recorder)
        m_recorder->discard();
}

bool ModuleSoundRecorder::isRecording() const { return m_recorder && m_recorder->isRecording(); }

} // namespace telvox
