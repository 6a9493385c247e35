#include "ui/WavePlayer.h"

#include "core/EventLoop.h"
#include "core/Texts.h"
#include "platform/media/MediaControl.h"
#include "platform/shell/UserPrompts.h"

#include <QAbstractButton>
#include <QEvent>
#include <QDir>
#include <QFileInfo>
#include <QProxyStyle>
#include <QLabel>
#include <QScrollBar>

#include <limits>

namespace telvox {

namespace {

class ClickToPointStyle final : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == QStyle::SH_ScrollBar_LeftClickAbsolutePosition)
            return 1;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

WavePlayer::WavePlayer(Kind kind, Controls controls, MediaControl &media, const Texts &texts, UserPrompts &prompts,
                       QObject *parent)
    : QObject(parent)
    , m_kind(kind)
    , m_c(controls)
    , m_media(media)
    , m_texts(texts)
    , m_prompts(prompts)
{
    m_c.tmMMTIMER.setInterval(500);
    m_c.tmMMTIMER.setEnabled(false);
    m_c.tmMMTIMER.setCallback([this] { tmMMTIMER_Timer(); });
    m_c.tmPlay.setInterval(1000);
    m_c.tmPlay.setEnabled(false);
    m_c.tmPlay.setCallback([this] { tmPlay_Timer(); });
    m_c.HScroll1->setMinimum(0);
    m_c.HScroll1->setMaximum(0);
    m_c.HScroll1->setFocusPolicy(Qt::StrongFocus);
    m_c.HScroll1->installEventFilter(this);
    // A click on the bar goes to the point clicked, not one page towards it.
    auto *clickToPoint = new ClickToPointStyle;
    clickToPoint->setParent(m_c.HScroll1);
    m_c.HScroll1->setStyle(clickToPoint);
    connect(m_c.cmdPlay, &QAbstractButton::clicked, this, &WavePlayer::cmdPlay_Click);
    connect(m_c.cmdPause, &QAbstractButton::clicked, this, &WavePlayer::cmdPause_Click);
    connect(m_c.cmdStop, &QAbstractButton::clicked, this, &WavePlayer::cmdStop_Click);
    connect(m_c.HScroll1, &QScrollBar::valueChanged, this, &WavePlayer::HScroll1_Change);
}

WavePlayer::~WavePlayer()
{
    m_c.tmMMTIMER.setCallback({});
    m_c.tmPlay.setCallback({});
    m_c.tmMMTIMER.setEnabled(false);
    m_c.tmPlay.setEnabled(false);
}

QString WavePlayer::send(const QString &command) { return m_media.sendString(command).text; }

void WavePlayer::setButtons(bool playEnabled, bool pauseEnabled)
{
    m_c.cmdPlay->setEnabled(playEnabled);
    m_c.cmdPause->setEnabled(pauseEnabled);
}

bool WavePlayer::isIdle() const { return m_c.cmdPlay->isEnabled() && m_c.cmdPause->isEnabled(); }

void WavePlayer::cmdPlay_Click()
{
    if (m_paused) { // resume where Pause left off
        send(QStringLiteral("play MyMedia"));
        setButtons(false, true);
        m_paused = false;
        return;
    }
    m_paused = false;
    const Source source = m_source ? m_source() : Source{};
    if (source.name.isEmpty())
        return;
    m_c.lblFileName->setText(source.name);
    if (m_kind == Kind::MainWindow && !QFileInfo::exists(source.path)) {
        m_prompts.messageBox(m_texts.LoadText(1002), MessageIcon::Critical, m_texts.LoadText(1003));
        return;
    }
    if (QFileInfo::exists(source.path) && !QFileInfo(source.path).isReadable()) {
        // There, but not ours to read (another account's file, a folder without access).
        m_prompts.messageBox(m_texts.LoadText(1811) + source.name, MessageIcon::Critical, m_texts.LoadText(1003));
        return;
    }
    m_c.cmdPlay->setEnabled(false);

    send(QStringLiteral("close MyMedia"));
    const MediaReply opened = m_media.sendString(QStringLiteral("open ") + source.path + QStringLiteral(" alias MyMedia"));
    if (!opened.ok()) {
        // A missing, cut or unknown file: say so and leave the player ready for another.
        m_c.lblFileSize->clear();
        m_c.cmdPlay->setEnabled(true);
        m_prompts.messageBox(m_texts.LoadText(1301) + source.name, MessageIcon::Exclamation, m_texts.LoadText(1003));
        return;
    }
    const qint64 length = send(QStringLiteral("status MyMedia length")).toLongLong();

    // Whole seconds; the bar holds a 32-bit value, so any recording length fits.
    const int seconds = static_cast<int>(qMin<qint64>((length + 500) / 1000, std::numeric_limits<int>::max()));
    m_c.HScroll1->setMaximum(seconds);
    m_c.HScroll1->setMinimum(0);
    m_c.HScroll1->setSingleStep(seconds / 100 == 0 ? 1 : seconds / 100);
    m_c.HScroll1->setPageStep(seconds / 10 == 0 ? 1 : seconds / 10);

    const qint64 kbytes = QFileInfo(source.path).size() / 1024;
    const QString unit = m_kind == Kind::MainWindow ? QStringLiteral("s   [") : QStringLiteral("s  [");
    m_c.lblFileSize->setText(QString::number(length / 1000) + unit + QString::number(kbytes) + QStringLiteral(" KBytes]"));

    send(QStringLiteral("play MyMedia"));
    m_c.tmMMTIMER.setEnabled(true);
    emit playbackStarted(source.path);
}

void WavePlayer::cmdPause_Click()
{
    if (m_c.cmdPlay->isEnabled())
        return; // nothing plays
    setButtons(true, false);
    m_paused = true;
    send(QStringLiteral("pause MyMedia"));
}

void WavePlayer::cmdStop_Click()
{
    m_c.tmMMTIMER.setEnabled(false);
    m_c.HScroll1->setValue(0);
    send(QStringLiteral("close MyMedia"));
    setButtons(true, true);
    m_paused = false;
}

void WavePlayer::tmMMTIMER_Timer()
{
    const QString mode = send(QStringLiteral("status MyMedia mode"));
    const bool stopped = mode.left(7) == QLatin1String("stopped") || mode.left(2) == m_texts.LoadText(1016).left(2);
    if (stopped) {
        if (!m_paused)
            m_c.cmdStop->click(); // played to the end
        return;
    }
    const qint64 position = send(QStringLiteral("status MyMedia position")).toLongLong();
    m_c.HScroll1->setValue(static_cast<int>(qMin<qint64>((position + 500) / 1000, std::numeric_limits<int>::max())));
}

void WavePlayer::HScroll1_GotFocus()
{
    if (!m_media.isOpen())
        return; // nothing to position
    m_c.tmMMTIMER.setEnabled(false);
    send(QStringLiteral("pause MyMedia"));
    m_c.tmPlay.setEnabled(true);
}

void WavePlayer::HScroll1_Change()
{
    const QString mode = send(QStringLiteral("status MyMedia mode"));
    if (mode.left(7) == QLatin1String("playing") || mode.left(2) == m_texts.LoadText(1015).left(2)) {
        setButtons(false, true); // the position display moved the bar
        return;
    }
    send(QStringLiteral("seek MyMedia to ") + QLatin1Char(' ') + QString::number(qint64(m_c.HScroll1->value()) * 1000));
}

void WavePlayer::tmPlay_Timer()
{
    m_c.tmPlay.setEnabled(false);
    if (m_c.HScroll1->hasFocus())
        m_c.HScroll1->clearFocus(); // like a Tab key stroke: the bar lets go of the focus
    else
        HScroll1_LostFocus();
}

void WavePlayer::HScroll1_LostFocus()
{
    if (!m_media.isOpen())
        return;
    send(QStringLiteral("play MyMedia"));
    m_c.tmMMTIMER.setEnabled(true);
    // Playing again from the new point: no longer paused, so the end of the file ends it.
    m_paused = false;
    setButtons(false, true);
}

bool WavePlayer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_c.HScroll1) {
        if (event->type() == QEvent::FocusIn)
            HScroll1_GotFocus();
        else if (event->type() == QEvent::FocusOut)
            HScroll1_LostFocus();
    }
    return QObject::eventFilter(watched, event);
}

} // namespace telvox
