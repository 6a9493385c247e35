#pragma once

#include "ui/ModalRunner.h"

#include <QDialog>

class QLabel;
class QPushButton;

namespace telvox {

class Texts;

// The first-run notice: the legal notice about recording calls with Agree and Exit. After
// Agree it shows what the hardware must be and its Exit button becomes Ok. The window closes
// accepted only through Ok; Exit (or closing it before agreeing) rejects it.
class frmTip final : public QDialog, public HeadlessAnswer
{
    Q_OBJECT
public:
    explicit frmTip(const Texts &texts, QWidget *parent = nullptr);

    QLabel *lblTipText() const { return m_lblTipText; }
    QPushButton *cmdNextTip() const { return m_cmdNextTip; }
    QPushButton *cmdOK() const { return m_cmdOK; }

    void cmdNextTip_Click(); // Agree
    void cmdOK_Click();      // Exit, or Ok after Agree

    // Without a screen the notice is taken as read and agreed.
    void answerHeadless() override;

private:
    const Texts &m_texts;
    QLabel *m_lblTipText;
    QPushButton *m_cmdNextTip;
    QPushButton *m_cmdOK;
};

} // namespace telvox
