#include "ui/HotLabel.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPen>
#include <QPainter>

namespace telvox {

HotLabel::HotLabel(const QString &objectName, const QString &icon, QWidget *parent)
    : QLabel(parent)
    , m_icon(icon)
{
    setObjectName(objectName);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    // Reachable by Tab, and pressed by Space or Enter, like a button.
    setFocusPolicy(Qt::StrongFocus);
    registerAccessibility();
}

void HotLabel::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!event->isAutoRepeat())
            emit clicked();
        event->accept();
        return;
    default: QLabel::keyPressEvent(event);
    }
}

HotLabel::~HotLabel() = default;

void HotLabel::setDimmed(bool dimmed)
{
    if (m_dimmed == dimmed)
        return;
    m_dimmed = dimmed;
    update();
}

void HotLabel::followEnabled(QWidget *source)
{
    m_source = source;
    source->installEventFilter(this);
    setDimmed(!source->isEnabled());
}

bool HotLabel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_source && event->type() == QEvent::EnabledChange)
        setDimmed(!m_source->isEnabled());
    return QLabel::eventFilter(watched, event);
}

void HotLabel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (hasFocus()) { // where the keyboard is
        p.setPen(QPen(QColor(0xf2, 0xa3, 0x3a), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(r.adjusted(1, 1, -1, -1), 6, 6);
    }
    if ((m_hover || m_pressed) && !m_dimmed) {
        p.setPen(QColor(255, 255, 255, 110));
        p.setBrush(QColor(255, 255, 255, m_pressed ? 70 : 38));
        p.drawRoundedRect(r, 6, 6);
    }
    p.setOpacity(m_dimmed ? 0.35 : 1.0);
    const bool iconOnly = text().isEmpty();
    // Icon and margins in proportion to the height (22 and 8 at the design's 42 pixels), so that
    // a face shrunk to fit a small screen keeps the room of its captions.
    const qreal margin = height() * 8.0 / 42.0;
    const qreal side = iconOnly ? qMin(width(), height()) * 0.78 : qMin<qreal>(height() * 22.0 / 42.0, height() - margin);
    QRectF textArea = r;
    if (!m_icon.isNull()) {
        const QRectF iconRect = iconOnly
            ? QRectF((width() - side) / 2, (height() - side) / 2, side, side)
            : QRectF(margin, (height() - side) / 2, side, side);
        // The picture at the icon's size in device pixels, placed on whole device pixels: a
        // picture drawn across pixel boundaries would be resampled and blur.
        const qreal dpr = devicePixelRatioF();
        const int sidePixels = qRound(side * dpr);
        const QPixmap &icon = m_icon.pixmap(QSize(sidePixels, sidePixels), 1.0);
        p.save();
        p.scale(1 / dpr, 1 / dpr);
        p.drawPixmap(QPointF(qRound(iconRect.x() * dpr), qRound(iconRect.y() * dpr)), icon);
        p.restore();
        textArea.setLeft(iconRect.right() + margin);
    }
    if (!iconOnly) {
        p.setPen(palette().color(QPalette::WindowText));
        p.setFont(font());
        p.drawText(textArea.adjusted(m_icon.isNull() ? 4 : 0, 0, -4, 0), int(alignment()) | Qt::TextWordWrap, text());
    }
}

void HotLabel::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_pressed = true;
        update();
    }
    event->accept(); // a press on a label never drags the window
}

void HotLabel::mouseReleaseEvent(QMouseEvent *event)
{
    const bool wasPressed = m_pressed;
    m_pressed = false;
    update();
    if (event->button() == Qt::LeftButton && wasPressed && rect().contains(event->position().toPoint()))
        emit clicked();
}

void HotLabel::enterEvent(QEnterEvent *)
{
    m_hover = true;
    update();
}

void HotLabel::leaveEvent(QEvent *)
{
    m_hover = false;
    update();
}

} // namespace telvox
