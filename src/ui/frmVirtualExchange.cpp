#include "ui/frmVirtualExchange.h"
#include "ui/ScreenFit.h"

#include "sim/audio/SpeechLikeSource.h"

#include "sim/exchange/VirtualExchange.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace telvox {

namespace {

QString stateName(const VirtualExchange::LineView &v)
{
    if (!v.open)
        return QStringLiteral("closed");
    if (v.hCall == 0)
        return QStringLiteral("idle");
    QString text;
    switch (v.callState) {
    case LineCallState::Offering:
        text = v.handsetOffHook ? QStringLiteral("handset off-hook") : v.ringing ? QStringLiteral("ringing")
                                                                                   : QStringLiteral("offered");
        break;
    case LineCallState::Connected:
        text = QStringLiteral("connected");
        break;
    case LineCallState::Disconnected:
        text = QStringLiteral("disconnected");
        break;
    case LineCallState::Idle:
        text = QStringLiteral("idle call");
        break;
    case LineCallState::Dialing:
        text = QStringLiteral("dialling ") + v.dialled;
        break;
    default:
        text = QStringLiteral("state 0x") + QString::number(v.callState, 16);
    }
    if (v.ringCount > 0)
        text += QStringLiteral(", %1 rings").arg(v.ringCount);
    if (v.farEndGone)
        text += QStringLiteral(", far end gone");
    if (!v.digitsHeard.isEmpty())
        text += QStringLiteral(", heard ") + v.digitsHeard;
    return text;
}

} // namespace

frmVirtualExchange::frmVirtualExchange(VirtualExchange &exchange, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_exchange(exchange)
{
    setObjectName(QStringLiteral("frmVirtualExchange"));
    setWindowTitle(QStringLiteral("Virtual Exchange"));

    m_cboLine = new QComboBox(this);
    m_cboLine->setObjectName(QStringLiteral("cboLine"));
    for (int n = 0; n < m_exchange.deviceCount(); ++n)
        m_cboLine->addItem(QStringLiteral("Line") + QString::number(n));
    m_txtNumber = new QLineEdit(QStringLiteral("5551234"), this);
    m_txtNumber->setObjectName(QStringLiteral("txtNumber"));
    m_txtName = new QLineEdit(this);
    m_txtName->setObjectName(QStringLiteral("txtName"));
    m_cboCallerId = new QComboBox(this);
    m_cboCallerId->setObjectName(QStringLiteral("cboCallerId"));
    m_cboCallerId->addItems({QStringLiteral("after the first ring"), QStringLiteral("before the first ring"),
                             QStringLiteral("none")});
    m_cmdCall = new QPushButton(QStringLiteral("Call"), this);
    m_cmdCall->setObjectName(QStringLiteral("cmdCall"));
    m_cmdPickUp = new QPushButton(QStringLiteral("Pick Up Handset"), this);
    m_cmdPickUp->setObjectName(QStringLiteral("cmdPickUp"));
    m_cmdHangUp = new QPushButton(QStringLiteral("Hang Up Far End"), this);
    m_cmdHangUp->setObjectName(QStringLiteral("cmdHangUp"));
    m_chkDisconnect = new QCheckBox(QStringLiteral("with disconnection event"), this);
    m_chkDisconnect->setObjectName(QStringLiteral("chkDisconnect"));
    m_chkDisconnect->setChecked(true);
    m_lblState = new QLabel(this);
    m_lblState->setObjectName(QStringLiteral("lblState"));
    m_lblState->setTextFormat(Qt::PlainText);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Line:"), m_cboLine);
    form->addRow(QStringLiteral("Number:"), m_txtNumber);
    form->addRow(QStringLiteral("Name:"), m_txtName);
    form->addRow(QStringLiteral("Caller ID:"), m_cboCallerId);

    auto *keypad = new QGridLayout;
    const QString keys = QStringLiteral("123456789*0#");
    for (int i = 0; i < keys.size(); ++i) {
        auto *key = new QPushButton(keys.mid(i, 1), this);
        key->setObjectName(QStringLiteral("cmdKey_") + keys[i]);
        const QChar k = keys[i];
        connect(key, &QPushButton::clicked, this, [this, k] { cmdKey_Click(k); });
        keypad->addWidget(key, i / 3, i % 3);
    }
    auto *buttons = new QVBoxLayout;
    buttons->addWidget(m_cmdCall);
    buttons->addWidget(m_cmdPickUp);
    buttons->addWidget(m_cmdHangUp);
    buttons->addWidget(m_chkDisconnect);
    buttons->addStretch();
    auto *middle = new QHBoxLayout;
    middle->addLayout(buttons);
    middle->addLayout(keypad);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(middle);
    layout->addWidget(m_lblState);

    connect(m_cmdCall, &QPushButton::clicked, this, &frmVirtualExchange::cmdCall_Click);
    connect(m_cmdPickUp, &QPushButton::clicked, this, &frmVirtualExchange::cmdPickUp_Click);
    connect(m_cmdHangUp, &QPushButton::clicked, this, &frmVirtualExchange::cmdHangUp_Click);
    connect(m_cboLine, &QComboBox::currentIndexChanged, this, &frmVirtualExchange::refresh);
    m_exchange.setChangeHandler([this](int) { refresh(); });
    refresh();
    fitOnScreen(*this);
}

frmVirtualExchange::~frmVirtualExchange() { m_exchange.setChangeHandler({}); }

int frmVirtualExchange::selectedLine() const { return m_cboLine->currentIndex(); }

void frmVirtualExchange::cmdCall_Click()
{
    IncomingCall call;
    call.number = m_txtNumber->text().toLocal8Bit();
    call.name = m_txtName->text().toLocal8Bit();
    static const CallerIdTiming timings[] = {CallerIdTiming::AfterFirstRing, CallerIdTiming::BeforeFirstRing,
                                             CallerIdTiming::None};
    call.callerIdTiming = timings[std::max(0, m_cboCallerId->currentIndex())];
    // The caller talks once answered (a synthetic talker, a new voice each call), so that a
    // try-out message plays back as sound.
    ++m_callsPlaced;
    call.speech = std::make_shared<sim::SpeechLikeSource>(
        m_callsPlaced, m_callsPlaced % 2 ? sim::SpeechLikeSource::Voice::Low : sim::SpeechLikeSource::Voice::High);
    m_exchange.placeIncomingCall(selectedLine(), std::move(call));
    refresh();
}

void frmVirtualExchange::cmdPickUp_Click()
{
    m_exchange.pickUpHandset(selectedLine());
    refresh();
}

void frmVirtualExchange::cmdKey_Click(QChar key)
{
    m_exchange.pressDigits(selectedLine(), QString(key));
    refresh();
}

void frmVirtualExchange::cmdHangUp_Click()
{
    m_exchange.hangUpFarEnd(selectedLine(),
                            m_chkDisconnect->isChecked() ? FarEndHangUp::WithDisconnect : FarEndHangUp::Silent);
    refresh();
}

void frmVirtualExchange::refresh()
{
    QStringList lines;
    for (int n = 0; n < m_exchange.deviceCount(); ++n)
        lines << QStringLiteral("Line%1: ").arg(n) + stateName(m_exchange.view(n));
    m_lblState->setText(lines.join(QLatin1Char('\n')));
    const VirtualExchange::LineView v = m_exchange.view(selectedLine());
    m_cmdCall->setEnabled(v.hCall == 0 || v.callState == LineCallState::Idle);
    m_cmdPickUp->setEnabled(v.incoming && v.callState == LineCallState::Offering && !v.handsetOffHook);
    m_cmdHangUp->setEnabled(v.hCall != 0 && !v.farEndGone && v.callState != LineCallState::Idle
                            && v.callState != LineCallState::Disconnected);
}

} // namespace telvox
