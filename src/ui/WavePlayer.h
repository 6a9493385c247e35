#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QAbstractButton;
class QLabel;
class QScrollBar;

namespace telvox {

class MediaControl;
class Texts;
class Timer;
class UserPrompts;

// The small player of the main window and of the wave-file browser. Both talk to the one
// media device under the alias "MyMedia", so starting one ends what the other played.
// The buttons carry the state: idle has Play and Pause enabled, playing has Play disabled,
// paused has Pause disabled.
class WavePlayer final : public QObject
{
    Q_OBJECT
public:
    enum class Kind { MainWindow, Browser };

    // What Play is to play: the name to show and the full path. An empty name plays nothing.
    struct Source
    {
        QString name;
        QString path;
    };

    struct Controls
    {
        QAbstractButton *cmdPlay;
        QAbstractButton *cmdPause;
        QAbstractButton *cmdStop;
        QScrollBar *HScroll1;
        QLabel *lblFileName;
        QLabel *lblFileSize;
        Timer &tmMMTIMER; // position display, 500 ms
        Timer &tmPlay;    // ends a seek, 1000 ms
    };

    WavePlayer(Kind kind, Controls controls, MediaControl &media, const Texts &texts, UserPrompts &prompts,
               QObject *parent = nullptr);
    ~WavePlayer() override;

    void setSourceProvider(std::function<Source()> provider) { m_source = std::move(provider); }

    void cmdPlay_Click();
    void cmdPause_Click();
    void cmdStop_Click();
    void HScroll1_GotFocus();
    void HScroll1_Change();
    void HScroll1_LostFocus();
    void tmMMTIMER_Timer();
    void tmPlay_Timer();

    bool isPaused() const { return m_paused; }
    // Both buttons enabled: nothing plays and nothing is paused.
    bool isIdle() const;

signals:
    // Playback of a file has started (not a resume).
    void playbackStarted(const QString &path);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QString send(const QString &command);
    void setButtons(bool playEnabled, bool pauseEnabled);

    Kind m_kind;
    Controls m_c;
    MediaControl &m_media;
    const Texts &m_texts;
    UserPrompts &m_prompts;
    std::function<Source()> m_source;
    bool m_paused = false;
};

} // namespace telvox
