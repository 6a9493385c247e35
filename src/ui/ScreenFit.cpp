#include "ui/ScreenFit.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QLayout>
#include <QMargins>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>
#include <QWidget>

namespace telvox {

namespace {

// Room for a title bar and borders; the real frame is only known once the window is mapped.
constexpr int kFrameWidth = 16;
constexpr int kFrameHeight = 48;

class Fitter final : public QObject
{
public:
    Fitter(QWidget &window, QWidget &body, QLayout *buttonRow)
        : QObject(&window)
        , m_window(window)
        , m_body(body)
        , m_buttonRow(buttonRow)
    {
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == &m_window && event->type() == QEvent::Show)
            fit();
        return QObject::eventFilter(watched, event);
    }

private:
    void fit()
    {
        const QSize room = usableScreenSize(m_window);
        const int bar = m_window.style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        QSize want = m_body.sizeHint().expandedTo(m_body.minimumSizeHint());
        if (m_buttonRow) {
            const QSize row = m_buttonRow->sizeHint();
            want.rheight() += row.height() + m_buttonRow->contentsMargins().top() + m_buttonRow->contentsMargins().bottom();
            want.setWidth(qMax(want.width(), row.width()));
        }
        if (want.height() > room.height())
            want.rwidth() += bar; // a vertical bar will take room beside the content
        if (want.width() > room.width())
            want.rheight() += bar;
        want = want.expandedTo(m_window.size()).boundedTo(room);
        m_window.setMaximumSize(room.expandedTo(QSize(1, 1)));
        m_window.resize(want);
    }

    QWidget &m_window;
    QWidget &m_body;
    QLayout *m_buttonRow;
};

// A wheel turned over a choice or a number that has no keyboard focus scrolls the window
// instead of changing the value: scrolling through a long window changes nothing on the way.
class WheelGuard final : public QObject
{
public:
    explicit WheelGuard(QScrollArea &area)
        : QObject(&area)
        , m_area(area)
    {
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Wheel)
            return QObject::eventFilter(watched, event);
        const auto *widget = qobject_cast<QWidget *>(watched);
        if (!widget || widget->hasFocus())
            return QObject::eventFilter(watched, event);
        QCoreApplication::sendEvent(m_area.verticalScrollBar(), event);
        return true;
    }

private:
    QScrollArea &m_area;
};

} // namespace

QSize usableScreenSize(const QWidget &window)
{
    const QScreen *screen = window.screen();
    if (!screen)
        return {QWIDGETSIZE_MAX, QWIDGETSIZE_MAX};
    const QSize available = screen->availableGeometry().size();
    return {qMax(1, available.width() - kFrameWidth), qMax(1, available.height() - kFrameHeight)};
}

void fitOnScreen(QWidget &window, QLayout *buttonRow)
{
    QLayout *content = window.layout();
    if (!content)
        return;
    // The button row leaves the content before the content moves into the scroll area; its
    // buttons stay children of the window.
    if (buttonRow) {
        if (auto *holder = qobject_cast<QLayout *>(buttonRow->parent()))
            holder->removeItem(buttonRow);
        buttonRow->setParent(nullptr);
        const QMargins m = content->contentsMargins();
        buttonRow->setContentsMargins(m.left(), 0, m.right(), m.bottom());
    }
    auto *body = new QWidget;
    body->setObjectName(QStringLiteral("scrollBody"));
    body->setLayout(content); // takes the layout, and its widgets, off the window
    auto *area = new QScrollArea(&window);
    area->setObjectName(QStringLiteral("scrollArea"));
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    // The window's first control takes the keyboard focus, not the frame around them all.
    area->setFocusPolicy(Qt::NoFocus);
    area->setWidget(body);
    auto *outer = new QVBoxLayout(&window);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(area, 1);
    if (buttonRow)
        outer->addLayout(buttonRow);
    window.installEventFilter(new Fitter(window, *body, buttonRow));
    auto *guard = new WheelGuard(*area);
    for (QWidget *w : body->findChildren<QWidget *>()) {
        if (qobject_cast<QComboBox *>(w) || qobject_cast<QAbstractSpinBox *>(w)) {
            w->setFocusPolicy(Qt::StrongFocus); // a wheel gives them no focus either
            w->installEventFilter(guard);
        }
    }
}

} // namespace telvox
