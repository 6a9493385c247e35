#include "platform/media/QtMediaDevice.h"

#include <QAudioOutput>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QUrl>

namespace telvox {

QtMediaDevice::QtMediaDevice() = default;

QtMediaDevice::~QtMediaDevice()
{
    if (m_player)
        m_player->stop();
}

void QtMediaDevice::ensurePlayer()
{
    if (m_player)
        return;
    m_output = std::make_unique<QAudioOutput>();
    m_player = std::make_unique<QMediaPlayer>();
    m_player->setAudioOutput(m_output.get());
    QObject::connect(m_player.get(), &QMediaPlayer::errorOccurred, m_player.get(),
                     [this](QMediaPlayer::Error, const QString &text) { m_error = text; });
}

bool QtMediaDevice::open(const QString &path)
{
    close();
    const QFileInfo file(path);
    if (!file.isFile() || !file.isReadable())
        return false;
    m_info = readWaveFileInfo(path);
    // A file named .wav must be a wave file with audio in it; anything else is left to the
    // decoder to accept or refuse.
    if (file.suffix().compare(QLatin1String("wav"), Qt::CaseInsensitive) == 0 && !m_info.valid)
        return false;
    ensurePlayer();
    m_error.clear();
    m_player->setSource(QUrl::fromLocalFile(file.absoluteFilePath()));
    if (m_player->mediaStatus() == QMediaPlayer::InvalidMedia) {
        m_player->setSource(QUrl());
        return false;
    }
    m_open = true;
    return true;
}

void QtMediaDevice::close()
{
    if (m_player && m_open) {
        m_player->stop();
        m_player->setSource(QUrl());
    }
    m_open = false;
    m_info = {};
}

qint64 QtMediaDevice::lengthMs() const
{
    if (!m_open)
        return 0;
    if (m_info.valid)
        return m_info.lengthMs();
    return m_player->duration();
}

qint64 QtMediaDevice::positionMs() const { return m_open ? qMin(m_player->position(), lengthMs()) : 0; }

void QtMediaDevice::play()
{
    if (m_open)
        m_player->play();
}

void QtMediaDevice::pause()
{
    if (m_open)
        m_player->pause();
}

void QtMediaDevice::seek(qint64 ms)
{
    if (m_open)
        m_player->setPosition(ms);
}

bool QtMediaDevice::isPlaying() const
{
    return m_open && m_player->playbackState() == QMediaPlayer::PlayingState;
}

} // namespace telvox
