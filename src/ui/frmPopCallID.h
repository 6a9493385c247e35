#pragma once

#include <QWidget>

#include <array>
#include <functional>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace telvox {

class Texts;

class CallerPopup;
class TelephonyCore;

// The caller pop-up "Incoming Call Offering": one row per line with the caller's number and
// name and the manual-answer buttons, and the display time. It shows the state kept by
// CallerPopup and hands the buttons to the telephony core.
class frmPopCallID final : public QWidget
{
    Q_OBJECT
public:
    explicit frmPopCallID(TelephonyCore &core, QWidget *parent = nullptr);
    // The window's captions in the language of `texts` (the English ones are the design's).
    void setCaptions(const Texts &texts);
    ~frmPopCallID() override;

    QPushButton *cmdAnswer(int line) const { return m_rows.at(static_cast<std::size_t>(line)).answer; }
    QPushButton *cmdHangup(int line) const { return m_rows.at(static_cast<std::size_t>(line)).hangup; }
    QLabel *lblCallerID(int line) const { return m_rows.at(static_cast<std::size_t>(line)).callerId; }
    QLabel *lblCallerName(int line) const { return m_rows.at(static_cast<std::size_t>(line)).callerName; }
    QPushButton *cmdBlock(int line) const { return m_rows.at(static_cast<std::size_t>(line)).block; }
    // Gives each row with a caller's number a "Block" button that hands the number on.
    void setBlockHandler(const QString &caption, std::function<void(const QString &)> handler);
    QLineEdit *Text1() const { return m_text1; }

    // Brings the window up to date with the pop-up's state (shown, hidden, rows).
    void refresh();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    struct Row
    {
        QLabel *label1 = nullptr;
        QLabel *callerId = nullptr;
        QLabel *callerName = nullptr;
        QPushButton *answer = nullptr;
        QPushButton *hangup = nullptr;
        QPushButton *block = nullptr;
    };

    TelephonyCore &m_core;
    CallerPopup &m_popup;
    std::array<Row, 4> m_rows{};
    QGroupBox *m_frame1;
    QLineEdit *m_text1;
    QLabel *m_label3;
    bool m_refreshing = false;
    std::function<void(const QString &)> m_block;
};

} // namespace telvox
