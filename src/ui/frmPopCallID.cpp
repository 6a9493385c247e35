#include "ui/frmPopCallID.h"

#include "core/Texts.h"

#include "telephony/CallerPopup.h"
#include "telephony/TelephonyCore.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace telvox {

namespace {
constexpr int kTitle = 1883;
constexpr int kDisplayFor = 1884;
} // namespace

frmPopCallID::frmPopCallID(TelephonyCore &core, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint)
    , m_core(core)
    , m_popup(core.popup())
{
    setObjectName(QStringLiteral("frmPopCallID"));
    setWindowTitle(QStringLiteral("Incoming Call Offering"));
    m_frame1 = new QGroupBox(this);
    m_frame1->setObjectName(QStringLiteral("Frame1"));
    auto *grid = new QGridLayout(m_frame1);
    for (int n = 0; n < 4; ++n) {
        Row &r = m_rows[static_cast<std::size_t>(n)];
        const QString suffix = QStringLiteral("_") + QString::number(n);
        r.label1 = new QLabel(QStringLiteral("Line") + QString::number(n), m_frame1);
        r.label1->setObjectName(QStringLiteral("Label1") + suffix);
        r.callerId = new QLabel(m_frame1);
        r.callerId->setObjectName(QStringLiteral("lblCallerID") + suffix);
        r.callerId->setTextFormat(Qt::PlainText);
        r.callerName = new QLabel(m_frame1);
        r.callerName->setObjectName(QStringLiteral("lblCallerName") + suffix);
        r.callerName->setTextFormat(Qt::PlainText);
        r.answer = new QPushButton(QStringLiteral("Answer"), m_frame1);
        r.answer->setObjectName(QStringLiteral("cmdAnswer") + suffix);
        r.hangup = new QPushButton(QStringLiteral("Hang Up"), m_frame1);
        r.hangup->setObjectName(QStringLiteral("cmdHangup") + suffix);
        r.block = new QPushButton(m_frame1);
        r.block->setObjectName(QStringLiteral("cmdBlock") + suffix);
        grid->addWidget(r.label1, n, 0);
        grid->addWidget(r.callerId, n, 1);
        grid->addWidget(r.callerName, n, 2);
        grid->addWidget(r.answer, n, 3);
        grid->addWidget(r.hangup, n, 4);
        grid->addWidget(r.block, n, 5);
        grid->setColumnMinimumWidth(1, 120);
        grid->setColumnMinimumWidth(2, 160);
        // A fixed layout: hidden rows and buttons keep their room, and a long name is cut at
        // the column's width, so that the buttons never move under the mouse.
        for (QWidget *w : {static_cast<QWidget *>(r.label1), static_cast<QWidget *>(r.callerId),
                           static_cast<QWidget *>(r.callerName), static_cast<QWidget *>(r.answer),
                           static_cast<QWidget *>(r.hangup), static_cast<QWidget *>(r.block)}) {
            QSizePolicy policy = w->sizePolicy();
            policy.setRetainSizeWhenHidden(true);
            w->setSizePolicy(policy);
        }
        r.callerId->setFixedWidth(120);
        r.callerName->setFixedWidth(160);
        connect(r.answer, &QPushButton::clicked, this, [this, n] { m_core.cmdAnswer_Click(n); });
        connect(r.hangup, &QPushButton::clicked, this, [this, n] { m_core.cmdHangup_Click(n); });
        connect(r.block, &QPushButton::clicked, this, [this, n] {
            if (m_block)
                m_block(m_rows[static_cast<std::size_t>(n)].callerId->text().trimmed());
        });
    }
    m_text1 = new QLineEdit(this);
    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text1->setMaximumWidth(50);
    m_label3 = new QLabel(QStringLiteral("Display For                Seconds"), this);
    m_label3->setObjectName(QStringLiteral("Label3"));
    m_label3->setBuddy(m_text1); // also names the field for a screen reader
    connect(m_text1, &QLineEdit::textEdited, this, [this](const QString &text) { m_popup.Text1_Change(text); });

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_label3);
    bottom->addWidget(m_text1);
    bottom->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_frame1);
    layout->addLayout(bottom);

    m_popup.setChangeHandler([this] { refresh(); });
    refresh();
}

frmPopCallID::~frmPopCallID() { m_popup.setChangeHandler({}); }

void frmPopCallID::setCaptions(const Texts &texts)
{
    setWindowTitle(texts.LoadText(kTitle));
    m_label3->setText(texts.LoadText(kDisplayFor));
    for (const Row &r : m_rows) {
        r.answer->setText(texts.LoadText(1104));
        r.hangup->setText(texts.LoadText(1105));
    }
}

void frmPopCallID::refresh()
{
    m_refreshing = true;
    for (int n = 0; n < 4; ++n) {
        const Row &r = m_rows[static_cast<std::size_t>(n)];
        const CallerPopup::Row &state = m_popup.row(n);
        r.label1->setVisible(state.labelsVisible);
        r.callerId->setVisible(state.labelsVisible);
        r.callerName->setVisible(state.labelsVisible);
        r.callerId->setText(state.callerId);
        r.callerName->setText(state.callerName);
        r.answer->setVisible(state.answerVisible);
        r.hangup->setVisible(state.hangupVisible);
        r.block->setVisible(m_block && state.labelsVisible && !state.callerId.trimmed().isEmpty());
    }
    if (m_text1->text() != m_popup.text1())
        m_text1->setText(m_popup.text1());
    if (m_popup.isVisible() && !isVisible())
        show();
    else if (!m_popup.isVisible() && isVisible())
        hide();
    m_frame1->update();
    m_refreshing = false;
}

void frmPopCallID::setBlockHandler(const QString &caption, std::function<void(const QString &)> handler)
{
    m_block = std::move(handler);
    for (const Row &r : m_rows)
        r.block->setText(caption);
    refresh();
}

void frmPopCallID::closeEvent(QCloseEvent *event)
{
    event->accept();
    if (!m_refreshing && m_popup.isLoaded())
        m_popup.unload();
}

} // namespace telvox
