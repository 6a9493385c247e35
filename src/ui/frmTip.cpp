#include "ui/frmTip.h"
#include "ui/Artwork.h"
#include "ui/ScreenFit.h"

#include "core/Texts.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace telvox {

frmTip::frmTip(const Texts &texts, QWidget *parent)
    : QDialog(parent)
    , m_texts(texts)
{
    setObjectName(QStringLiteral("frmTip"));
    setWindowTitle(QStringLiteral("Telvox"));
    auto *logo = new ArtworkWidget(QStringLiteral("logo"), this);
    logo->setFixedSize(56, 56);
    m_lblTipText = new QLabel(this);
    m_lblTipText->setObjectName(QStringLiteral("lblTipText"));
    m_lblTipText->setWordWrap(true);
    m_lblTipText->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_lblTipText->setMinimumSize(420, 180);
    m_lblTipText->setFrameShape(QFrame::StyledPanel);
    m_lblTipText->setMargin(10);
    m_cmdNextTip = new QPushButton(this);
    m_cmdNextTip->setObjectName(QStringLiteral("cmdNextTip"));
    m_cmdOK = new QPushButton(this);
    m_cmdOK->setObjectName(QStringLiteral("cmdOK"));

    auto *grid = new QGridLayout(this);
    grid->addWidget(logo, 0, 0, Qt::AlignTop);
    grid->addWidget(m_lblTipText, 0, 1, 1, 3);
    grid->addWidget(m_cmdNextTip, 1, 2);
    grid->addWidget(m_cmdOK, 1, 3);
    grid->setColumnStretch(1, 1);

    m_cmdOK->setText(m_texts.LoadText(1047));
    m_cmdNextTip->setText(m_texts.LoadText(1050));
    m_lblTipText->setText(m_texts.LoadText(1054) + QStringLiteral("\r\n") + m_texts.LoadText(1059));

    connect(m_cmdNextTip, &QPushButton::clicked, this, &frmTip::cmdNextTip_Click);
    connect(m_cmdOK, &QPushButton::clicked, this, &frmTip::cmdOK_Click);
    fitOnScreen(*this);
}

void frmTip::cmdNextTip_Click()
{
    m_cmdOK->setText(m_texts.LoadText(1037));
    m_lblTipText->setText(m_texts.LoadText(1051) + QStringLiteral("\r\n") + m_texts.LoadText(1052)
                          + QStringLiteral("\r\n") + m_texts.LoadText(1053));
    // The pressed button is disabled now: the focus and Enter move on to OK, so the notice
    // can be answered from the keyboard alone.
    m_cmdOK->setDefault(true);
    m_cmdOK->setFocus(Qt::OtherFocusReason);
    m_cmdNextTip->setEnabled(false);
}

void frmTip::cmdOK_Click()
{
    if (m_cmdOK->text() == m_texts.LoadText(1037))
        accept();
    else
        reject(); // did not agree: the program ends
}

void frmTip::answerHeadless()
{
    cmdNextTip_Click();
    cmdOK_Click();
}

} // namespace telvox
