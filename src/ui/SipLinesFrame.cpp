#include "ui/SipLinesFrame.h"

#include "core/Settings.h"
#include "core/Texts.h"

#include <QComboBox>
#include <QFile>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QSpinBox>

namespace telvox {

namespace {
const QString kSection = QStringLiteral("SIP");
QString key(int line, const char *name) { return QStringLiteral("Line%1%2").arg(line).arg(QLatin1String(name)); }
// What an empty key means: the field shows it, and saving it again writes nothing.
constexpr int kDefaultExpires = 600;
constexpr int kDefaultJitterMs = 60;
const QString kDefaultCadence = QStringLiteral("2000/4000");

QString orDefault(const QString &value, const QString &fallback) { return value.isEmpty() ? fallback : value; }
QString unlessDefault(const QString &value, const QString &fallback) { return value == fallback ? QString() : value; }
} // namespace

SipLinesFrame::SipLinesFrame(const Texts &texts, SettingsStore &settings, QWidget *parent)
    : QGroupBox(parent)
    , m_settings(settings)
{
    setObjectName(QStringLiteral("frameSip"));
    setTitle(texts.LoadText(1980));
    auto *form = new QFormLayout(this);
    m_line = new QComboBox(this);
    m_line->setAccessibleName(texts.LoadText(1442));
    for (int n = 0; n < 4; ++n)
        m_line->addItem(QStringLiteral("Line%1").arg(n));
    m_registrar = new QLineEdit(this);
    m_registrar->setPlaceholderText(QStringLiteral("fritz.box"));
    m_user = new QLineEdit(this);
    m_password = new QLineEdit(this);
    m_password->setEchoMode(QLineEdit::Password);
    m_listen = new QLineEdit(this);
    m_listen->setPlaceholderText(QStringLiteral("127.0.0.1:5070"));
    m_transport = new QComboBox(this);
    m_transport->addItems({QStringLiteral("udp"), QStringLiteral("tcp"), QStringLiteral("tls")});
    m_proxy = new QLineEdit(this);
    m_proxy->setPlaceholderText(QStringLiteral("proxy.example.net"));
    m_expires = new QSpinBox(this);
    m_expires->setRange(60, 86400);
    m_cadence = new QLineEdit(this);
    // "on/off" in milliseconds, up to three pairs
    const QRegularExpression cadence(QStringLiteral("\\d{1,5}(/\\d{1,5}){0,5}"));
    m_cadence->setValidator(new QRegularExpressionValidator(cadence, m_cadence));
    m_jitter = new QSpinBox(this);
    m_jitter->setRange(20, 500);
    form->addRow(m_line);
    form->addRow(texts.LoadText(1981), m_registrar);
    form->addRow(texts.LoadText(1982), m_user);
    form->addRow(texts.LoadText(1983), m_password);
    form->addRow(texts.LoadText(1984), m_listen);
    form->addRow(texts.LoadText(1985), m_transport);
    form->addRow(texts.LoadText(1205), m_proxy);
    form->addRow(texts.LoadText(1206), m_expires);
    form->addRow(texts.LoadText(1207), m_cadence);
    form->addRow(texts.LoadText(1208), m_jitter);
    auto *note = new QLabel(texts.LoadText(1986), this);
    note->setWordWrap(true);
    form->addRow(note);

    for (int n = 0; n < 4; ++n) {
        Entry &e = m_entries.at(std::size_t(n));
        e.registrar = settings.ReadSetting(kSection, key(n, "Registrar"));
        e.user = settings.ReadSetting(kSection, key(n, "User"));
        e.password = settings.ReadSetting(kSection, key(n, "Password"));
        e.listen = settings.ReadSetting(kSection, key(n, "Listen"));
        e.transport = settings.ReadSetting(kSection, key(n, "Transport"));
        e.proxy = settings.ReadSetting(kSection, key(n, "Proxy"));
        e.expires = settings.ReadSetting(kSection, key(n, "Expires"));
        e.cadence = settings.ReadSetting(kSection, key(n, "RingCadence"));
        e.jitter = settings.ReadSetting(kSection, key(n, "JitterMs"));
    }
    show(0);
    connect(m_line, &QComboBox::currentIndexChanged, this, [this](int line) {
        keep(m_shown);
        show(line);
    });
}

void SipLinesFrame::show(int line)
{
    if (line < 0 || line > 3)
        return;
    const Entry &e = m_entries.at(std::size_t(line));
    m_registrar->setText(e.registrar);
    m_user->setText(e.user);
    m_password->setText(e.password);
    m_listen->setText(e.listen);
    m_transport->setCurrentIndex(std::max(0, m_transport->findText(e.transport.toLower())));
    m_proxy->setText(e.proxy);
    m_expires->setValue(orDefault(e.expires, QString::number(kDefaultExpires)).toInt());
    m_cadence->setText(orDefault(e.cadence, kDefaultCadence));
    m_jitter->setValue(orDefault(e.jitter, QString::number(kDefaultJitterMs)).toInt());
    m_shown = line;
}

void SipLinesFrame::keep(int line)
{
    Entry &e = m_entries.at(std::size_t(line));
    e.registrar = m_registrar->text().trimmed();
    e.user = m_user->text().trimmed();
    e.password = m_password->text();
    e.listen = m_listen->text().trimmed();
    e.transport = m_transport->currentText();
    e.proxy = m_proxy->text().trimmed();
    e.expires = unlessDefault(QString::number(m_expires->value()), QString::number(kDefaultExpires));
    e.cadence = unlessDefault(m_cadence->text().trimmed(), kDefaultCadence);
    e.jitter = unlessDefault(QString::number(m_jitter->value()), QString::number(kDefaultJitterMs));
}

void SipLinesFrame::save()
{
    keep(m_shown);
    bool secret = false;
    // Only what changed is written: an untouched frame leaves the store and its journal alone.
    const auto write = [this](int n, const char *name, const QString &value, bool journaled) {
        if (m_settings.ReadSetting(kSection, key(n, name)) == value)
            return;
        if (journaled)
            m_settings.WriteSettingJournaled(kSection, key(n, name), value);
        else
            m_settings.WriteSetting(kSection, key(n, name), value);
    };
    for (int n = 0; n < 4; ++n) {
        const Entry &e = m_entries.at(std::size_t(n));
        write(n, "Registrar", e.registrar, true);
        write(n, "User", e.user, true);
        write(n, "Listen", e.listen, true);
        write(n, "Transport", e.transport == QLatin1String("udp") ? QString() : e.transport, true);
        write(n, "Proxy", e.proxy, true);
        write(n, "Expires", e.expires, true);
        write(n, "RingCadence", e.cadence, true);
        write(n, "JitterMs", e.jitter, true);
        // The password goes to the store alone: the journal is a readable history of changes.
        write(n, "Password", e.password, false);
        secret = secret || !e.password.isEmpty();
    }
    if (secret)
        QFile::setPermissions(m_settings.storeFile(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace telvox
