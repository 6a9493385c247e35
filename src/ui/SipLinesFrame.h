#pragma once

#include <QGroupBox>

#include <array>

class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace telvox {

class SettingsStore;
class Texts;

// The SIP frame of the setup window: for each of the four lines, an account at a registrar
// (router, provider, PBX) or a direct listening address. It reads the "SIP" section when built
// and writes it on save(); the password is written to the settings store only (never to the
// settings journal), and the store is then made readable by its owner alone.
class SipLinesFrame final : public QGroupBox
{
    Q_OBJECT

public:
    SipLinesFrame(const Texts &texts, SettingsStore &settings, QWidget *parent = nullptr);

    void save();

    QComboBox *cboLine() const { return m_line; }
    QLineEdit *txtRegistrar() const { return m_registrar; }
    QLineEdit *txtUser() const { return m_user; }
    QLineEdit *txtPassword() const { return m_password; }
    QLineEdit *txtListen() const { return m_listen; }
    QComboBox *cboTransport() const { return m_transport; }
    QLineEdit *txtProxy() const { return m_proxy; }
    QSpinBox *spnExpires() const { return m_expires; }
    QLineEdit *txtRingCadence() const { return m_cadence; }
    QSpinBox *spnJitter() const { return m_jitter; }

private:
    struct Entry
    {
        QString registrar, user, password, listen, transport, proxy, expires, cadence, jitter;
    };
    void show(int line);
    void keep(int line);

    SettingsStore &m_settings;
    std::array<Entry, 4> m_entries;
    int m_shown = 0;
    QComboBox *m_line;
    QLineEdit *m_registrar;
    QLineEdit *m_user;
    QLineEdit *m_password;
    QLineEdit *m_listen;
    QComboBox *m_transport;
    QLineEdit *m_proxy;
    QSpinBox *m_expires;
    QLineEdit *m_cadence;
    QSpinBox *m_jitter;
};

} // namespace telvox
