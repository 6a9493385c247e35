#pragma once

#include <QWidget>

#include <functional>

class QCheckBox;
class QLabel;
class QListView;
class QMenu;
class QPushButton;

namespace telvox {

class Printer;
class SettingsStore;
class StatusListModel;
class StatusLog;
class Texts;
class UserPrompts;

// The main window: the status list, the two options, and the launching point of every other
// window. It stays loaded for the whole run; closing it ends the program.
class frmMain final : public QWidget
{
    Q_OBJECT
public:
    struct Services
    {
        Texts &texts;
        SettingsStore &settings;
        StatusListModel &statusList;
        StatusLog &statusLog;
        UserPrompts &prompts;
        Printer &printer;
    };

    explicit frmMain(Services services, QWidget *parent = nullptr);
    ~frmMain() override;

    // Runs the shutdown sequence; set by the composition root. Closing the window calls it.
    void setShutdownHandler(std::function<void()> handler) { m_shutdown = std::move(handler); }

    // Loading steps that belong to the window.
    void CenterForm();
    void setCheckBoxes(bool legal, bool ringCount);
    void setCaptions();

    QCheckBox *chkLegal() const { return m_chkLegal; }
    QCheckBox *chkRingCount() const { return m_chkRingCount; }
    QListView *lstStatus() const { return m_lstStatus; }
    QPushButton *cmdDialOut() const { return m_cmdDialOut; }

    void cmdExit_Click();
    void cmdLog_Click();
    void mmuPrintLog_Click();

signals:
    // The dial-out button was pressed (the "d" key presses it too).
    void dialOutRequested();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void chkLegal_Click();
    void chkRingCount_Click();

    Services m_s;
    std::function<void()> m_shutdown;
    bool m_closing = false;

    QListView *m_lstStatus;
    QCheckBox *m_chkLegal;
    QLabel *m_lblLegal;
    QCheckBox *m_chkRingCount;
    QLabel *m_lblRingCount;
    QPushButton *m_cmdLog;
    QPushButton *m_cmdDialOut;
    QPushButton *m_cmdExit;
    QMenu *m_mmuLog;
};

} // namespace telvox
