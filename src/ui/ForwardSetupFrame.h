#pragma once

#include "records/MailForward.h"

#include <QGroupBox>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace telvox {

class SettingsStore;
class Texts;

// The setup dialog's frame for forwarding new messages by e-mail (section "Forward"): the
// addresses, the SMTP server and its account, which recordings go, the attachment's format,
// and a "Send test mail" button that tries the values as they stand, before saving.
class ForwardSetupFrame final : public QGroupBox
{
    Q_OBJECT
public:
    ForwardSetupFrame(const Texts &texts, SettingsStore &settings, QString programFolder, QWidget *parent = nullptr);

    // Fills the fields from the store and the password file.
    void load();
    // Writes the fields (the password to its owner-only file). False when that file failed.
    bool save();
    // The options as the fields stand.
    ForwardOptions options() const;

    void cmdTestMail_Click();

    QLineEdit *txtMailTo() const { return m_to; }
    QLineEdit *txtSmtpHost() const { return m_host; }
    QLineEdit *txtSmtpPort() const { return m_port; }
    QComboBox *cboSecurity() const { return m_security; }
    QLineEdit *txtSmtpUser() const { return m_user; }
    QLineEdit *txtSmtpPassword() const { return m_password; }
    QLineEdit *txtMailFrom() const { return m_from; }
    QCheckBox *chkForwardM() const { return m_forwardM; }
    QCheckBox *chkForwardO() const { return m_forwardO; }
    QCheckBox *chkAttachWav() const { return m_attachWav; }
    QPushButton *cmdTestMail() const { return m_cmdTestMail; }
    QLabel *lblTestMail() const { return m_lblTestMail; }

signals:
    // The test mail's outcome is shown (for tests).
    void testMailFinished(bool ok);

private:
    const Texts &m_texts;
    SettingsStore &m_settings;
    QString m_programFolder;
    ForwardOptions m_loaded; // keeps the options the frame does not show (CaFile, RetrySeconds)
    QWidget *m_body;
    QLineEdit *m_to;
    QLineEdit *m_host;
    QLineEdit *m_port;
    QComboBox *m_security;
    QLineEdit *m_user;
    QLineEdit *m_password;
    QLineEdit *m_from;
    QCheckBox *m_forwardM;
    QCheckBox *m_forwardO;
    QCheckBox *m_attachWav;
    QPushButton *m_cmdTestMail;
    QLabel *m_lblTestMail;
};

} // namespace telvox
