#pragma once

#include <QDialog>

#include <array>
#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QGroupBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace telvox {

class Dialler;
class ModalRunner;
class SettingsStore;
class Texts;
class Timer;
class UserPrompts;

// "DialOut": the line box, the number box with its keypad, Dial, Drop, Exit, the call records
// and the phonebook lists. It shows and drives the Dialler, which outlives the window.
class frmDialOut final : public QDialog
{
    Q_OBJECT
public:
    struct Services
    {
        Dialler &dialler;
        const Texts &texts;
        SettingsStore &settings; // the call records
        UserPrompts &prompts;
        ModalRunner &modal;      // the editor and the records window
        QString phoneBookPath;
        std::function<void()> loadPhoneBook; // refreshes the caller-ID table on Exit
    };

    explicit frmDialOut(Services services, QWidget *parent = nullptr);
    ~frmDialOut() override;

    QComboBox *Combo1() const { return m_combo1; }
    QLineEdit *txtDialOut() const { return m_txtDialOut; }
    QPushButton *cmdDial() const { return m_cmdDial; }
    QPushButton *cmdDrop() const { return m_cmdDrop; }
    QPushButton *cmdExit() const { return m_cmdExit; }
    QListWidget *lstPBName() const { return m_lstPBName; }
    QListWidget *lstPBTele() const { return m_lstPBTele; }

    void cmdDial_Click();
    void cmdDrop_Click();
    void cmdExit_Click();
    void cmdRecords_Click();
    void cmdBackword_Click();
    void cmdSelect_Click();
    void cmdAdd_Click();
    void cmdDelete_Click();
    // The line box lost the focus.
    void Combo1_LostFocus();
    void reject() override; // Escape and the window's close button act as Exit

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void fillPhoneBookLists();
    void addEntry(const QString &number);
    void showButtons();
    void showCallState();

    Services m_s;
    QComboBox *m_combo1;
    QLineEdit *m_txtDialOut;
    QPushButton *m_cmdDial;
    QPushButton *m_cmdDrop;
    QPushButton *m_cmdExit;
    QListWidget *m_lstPBName;
    QListWidget *m_lstPBTele;
    bool m_closing = false;
    QLabel *m_lblCallState;
    std::unique_ptr<Timer> m_stateWatch;
};

} // namespace telvox
