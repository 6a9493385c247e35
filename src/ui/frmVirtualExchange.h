#pragma once

#include <QWidget>

#include <cstdint>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace telvox {

class Texts;
class VirtualExchange;

// "Virtual Exchange": the far end of the virtual lines, by hand. Places an incoming call with
// a number and a name on a line, lifts the parallel handset, keys touch tones and hangs up.
// The lines keep the program's own names (Line0 ...) in every language, as in the status list.
class frmVirtualExchange final : public QWidget
{
    Q_OBJECT
public:
    frmVirtualExchange(VirtualExchange &exchange, const Texts &texts, QWidget *parent = nullptr);
    ~frmVirtualExchange() override;

    void cmdCall_Click();
    void cmdPickUp_Click();
    void cmdKey_Click(QChar key);
    void cmdHangUp_Click();
    // Shows what the exchange knows about each line.
    void refresh();

private:
    int selectedLine() const;

    VirtualExchange &m_exchange;
    const Texts &m_texts;
    QComboBox *m_cboLine;
    QLineEdit *m_txtNumber;
    QLineEdit *m_txtName;
    QComboBox *m_cboCallerId;
    QPushButton *m_cmdCall;
    QPushButton *m_cmdPickUp;
    QPushButton *m_cmdHangUp;
    QCheckBox *m_chkDisconnect;
    QLabel *m_lblState;
    std::uint64_t m_callsPlaced = 0; // seeds each caller's voice
};

} // namespace telvox
