#pragma once

#include "platform/telephony/LineSettingsPage.h"
#include "telephony/TelephonyCore.h"

#include <QDialog>

#include <array>
#include <functional>
#include <vector>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace telvox {

class AutostartEntry;
class ForwardSetupFrame;
class FolderPicker;
class ModalRunner;
class SettingsStore;
class Texts;
class UserPrompts;

// The values the setup's loading hands to the rest of the program.
struct PublishedSetup
{
    int outputFormat = 0;  // "WaveFileFormat"
    bool popCallId = false; // ChkPopCallId
    bool minOnStart = false; // ChkMinOnStart
    bool actionMan = false; // "ActionMan"
    QString txtRings;       // the ring count the ring handler answers at
};

// The values the setup's loading publishes, read straight from the store (a start that does
// not build the window).
PublishedSetup readPublishedSetup(const SettingsStore &settings);

// The setup dialog: which lines record, rings before answering, the recording folder, the
// language, the output format, the stop-recording triggers and the start-up behaviour; it
// opens the prompt recorders and the ring rules. It is loaded hidden at start-up (publishing
// its values) and shown modally from the main window; saving ends the program, so that every
// option applies afresh at the next start.
class frmSetup final : public QDialog
{
    Q_OBJECT
public:
    struct Services
    {
        const Texts &texts;
        SettingsStore &settings;
        UserPrompts &prompts;
        ModalRunner &modal;
        FolderPicker &folders;
        AutostartEntry &autostart;
        QString programFolder;
        QString program; // what "Load At System Start" starts
        // Classifies the telephony devices (and forces "Line"+k = "0" for unusable ones).
        std::function<DeviceClassification()> classifyDevices;
        // The telephony service each line runs on, shown beside its device name.
        std::array<QString, 4> lineServices;
        // Records a prompt: true for the capture recorder (greeting, legal notice), false for
        // the media recorder ("01.wav" to "04.wav").
        std::function<void(const QString &promptName, bool captureRecorder)> recordPrompt;
        // Publishes the loaded values.
        std::function<void(const PublishedSetup &)> publish;
        // Presses the main window's Exit.
        std::function<void()> endProgram;
        // The program starts itself again after a save (the message says so).
        bool restarts = false;
        // The line backends' own settings pages (LineBackendRegistry::settingsPages), shown
        // under the other options and saved with them.
        std::vector<LineSettingsPage> backendPages{};
    };

    explicit frmSetup(Services services, QWidget *parent = nullptr);
    // How many lines may be ticked (record at a time): two for analog lines, which share the
    // sound devices (the default), four for lines whose audio travels as data (the backend's
    // linesRecordingAtOnce).
    void setLinesAtOnce(int lines) { m_linesAtOnce = lines; }
    ~frmSetup() override;

    // Loading, shown or hidden: reads every option and classifies the devices.
    void Form_Load();
    bool isFormLoaded() const { return m_loaded; }

    void cmdSave_Click();
    void cmdExit_Click();
    void Check1_Click(int index);
    void Check1_LostFocus(int index);
    void txtSilenceLevel_LostFocus();
    void Command6_Click();
    void cmdRings_Click();

    QCheckBox *Check1(int n) const { return m_check1.at(static_cast<std::size_t>(n)); }
    QLineEdit *txtLine(int n) const { return m_txtLine.at(static_cast<std::size_t>(n)); }
    QLabel *lblService(int n) const { return m_lblService.at(static_cast<std::size_t>(n)); }
    QLineEdit *txtRings() const { return m_txtRings; }
    QLineEdit *txtSaveFile() const { return m_txtSaveFile; }
    QLineEdit *txtSilenceLevel() const { return m_txtSilenceLevel; }
    QLineEdit *txtSilenceSecond() const { return m_txtSilenceSecond; }
    QCheckBox *chkSilence() const { return m_chkSilence; }
    QCheckBox *chkFBS() const { return m_chkFBS; }
    QRadioButton *Option1(int n) const { return m_option1.at(static_cast<std::size_t>(n)); }
    QRadioButton *Option2(int n) const { return m_option2.at(static_cast<std::size_t>(n)); }
    QCheckBox *ChkPopCallId() const { return m_chkPopCallId; }
    QCheckBox *ChkMinOnStart() const { return m_chkMinOnStart; }
    QCheckBox *chkAction() const { return m_chkAction; }
    QCheckBox *chkStartUp() const { return m_chkStartUp; }
    QPushButton *cmdSave() const { return m_cmdSave; }
    QPushButton *cmdExit() const { return m_cmdExit; }
    ForwardSetupFrame *fraForward() const { return m_fraForward; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildWindow();
    void setCaptions();
    QString config(const QString &key, const QString &defaultValue = QString()) const;

    Services m_s;
    bool m_loaded = false;

    QGroupBox *m_frame2;
    QLabel *m_label1;
    std::array<QCheckBox *, 4> m_check1{};
    std::array<QLineEdit *, 4> m_txtLine{};
    std::array<QLabel *, 4> m_lblService{};
    QLabel *m_label5;
    QLineEdit *m_txtRings;
    QLabel *m_label2;
    QLineEdit *m_txtSaveFile;
    QPushButton *m_command6;
    QPushButton *m_command1;
    QPushButton *m_cmdRecLegal;
    QGroupBox *m_frame3;
    QLabel *m_label6;
    std::array<QPushButton *, 4> m_prompts{}; // Command2 .. Command5
    QPushButton *m_cmdRings;
    QGroupBox *m_frame4;
    QCheckBox *m_chkSilence;
    QLabel *m_label3;
    QLineEdit *m_txtSilenceLevel;
    QLabel *m_label8;
    QLabel *m_label7;
    QLineEdit *m_txtSilenceSecond;
    QLabel *m_lblSD;
    QCheckBox *m_chkFBS;
    QGroupBox *m_frame5;
    std::vector<class LineSettingsFrame *> m_backendFrames; // the line backends' pages
    std::array<QRadioButton *, 2> m_option2{};
    QGroupBox *m_frameLanguage;
    std::array<QRadioButton *, 3> m_option1{};
    int m_linesAtOnce = 2;
    QCheckBox *m_chkPopCallId;
    QCheckBox *m_chkMinOnStart;
    QCheckBox *m_chkAction;
    QCheckBox *m_chkStartUp;
    QPushButton *m_cmdSave;
    QPushButton *m_cmdExit;
    ForwardSetupFrame *m_fraForward;
};

// The silence level as the stop trigger understands it: below 20 (or not a number) becomes
// 20, above 500 becomes 500.
QString clampSilenceLevel(const QString &text);

// Creates every missing folder along `path` (which ends with a separator), from the root down.
// A network path ("//server/share/...") is left alone. False when a level cannot be created.
bool createFolderPath(const QString &path);

} // namespace telvox
