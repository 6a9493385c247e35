#include "ui/frmVirtualExchange.h"
#include "ui/ScreenFit.h"
#include "core/Texts.h"

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

constexpr int kCallerIdTimings = 1753; // after, before the first ring, none: 1753-1755
constexpr int kCall = 1756;
constexpr int kPickUp = 1757;
constexpr int kHangUp = 1758;
constexpr int kWithDisconnect = 1759;
constexpr int kFieldLabels = 1760; // Line, Number, Name, Caller ID: 1760-1763
constexpr int kClosed = 1764;
constexpr int kIdle = 1765;
constexpr int kHandsetOffHook = 1766;
constexpr int kRinging = 1767;
constexpr int kOffered = 1768;
constexpr int kConnected = 1769;
constexpr int kDisconnected = 1770;
constexpr int kIdleCall = 1771;
constexpr int kDialling = 1772;
constexpr int kOtherState = 1773;
constexpr int kRings = 1774;
constexpr int kFarEndGone = 1775;
constexpr int kHeard = 1776;

QString stateName(const Texts &t, const VirtualExchange::LineView &v)
{
    if (!v.open)
        return t.LoadText(kClosed);
    if (v.hCall == 0)
        return t.LoadText(kIdle);
    QString text;
    switch (v.callState) {
    case LineCallState::Offering:
        text = t.LoadText(v.handsetOffHook ? kHandsetOffHook : v.ringing ? kRinging : kOffered);
        break;
    case LineCallState::Connected: text = t.LoadText(kConnected); break;
    case LineCallState::Disconnected: text = t.LoadText(kDisconnected); break;
    case LineCallState::Idle: text = t.LoadText(kIdleCall); break;
    case LineCallState::Dialing: text = t.LoadText(kDialling).arg(v.dialled); break;
    default: text = t.LoadText(kOtherState).arg(QString::number(v.callState, 16));
    }
    if (v.ringCount > 0)
        text += t.LoadText(kRings).arg(v.ringCount);
    if (v.farEndGone)
        text += t.LoadText(kFarEndGone);
    if (!v.digitsHeard.isEmpty())
        text += t.LoadText(kHeard).arg(v.digitsHeard);
    return text;
}

} // namespace

frmVirtualExchange::frmVirtualExchange(VirtualExchange &exchange, const Texts &texts, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_exchange(exchange)
    , m_texts(texts)
{
    const Texts &t = texts;
    setObjectName(QStringLiteral("frmVirtualExchange"));
    setWindowTitle(t.LoadText(1507));

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
    for (int i = 0; i < 3; ++i)
        m_cboCallerId->addItem(t.LoadText(kCallerIdTimings + i));
    m_cmdCall = new QPushButton(t.LoadText(kCall), this);
    m_cmdCall->setObjectName(QStringLiteral("cmdCall"));
    m_cmdPickUp = new QPushButton(t.LoadText(kPickUp), this);
    m_cmdPickUp->setObjectName(QStringLiteral("cmdPickUp"));
    m_cmdHangUp = new QPushButton(t.LoadText(kHangUp), this);
    m_cmdHangUp->setObjectName(QStringLiteral("cmdHangUp"));
    m_chkDisconnect = new QCheckBox(t.LoadText(kWithDisconnect), this);
    m_chkDisconnect->setObjectName(QStringLiteral("chkDisconnect"));
    m_chkDisconnect->setChecked(true);
    m_lblState = new QLabel(this);
    m_lblState->setObjectName(QStringLiteral("lblState"));
    m_lblState->setTextFormat(Qt::PlainText);

    auto *form = new QFormLayout;
    QWidget *const fields[] = {m_cboLine, m_txtNumber, m_txtName, m_cboCallerId};
    for (int i = 0; i < 4; ++i)
        form->addRow(t.LoadText(kFieldLabels + i), fields[i]);

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
        lines << QStringLiteral("Line%1: ").arg(n) + stateName(m_texts, m_exchange.view(n));
    m_lblState->setText(lines.join(QLatin1Char('\n')));
    const VirtualExchange::LineView v = m_exchange.view(selectedLine());
    m_cmdCall->setEnabled(v.hCall == 0 || v.callState == LineCallState::Idle);
    m_cmdPickUp->setEnabled(v.incoming && v.callState == LineCallState::Offering && !v.handsetOffHook);
    m_cmdHangUp->setEnabled(v.hCall != 0 && !v.farEndGone && v.callState != LineCallState::Idle
                            && v.callState != LineCallState::Disconnected);
}

} // namespace telvox
