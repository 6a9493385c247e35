#include "ui/ForwardSetupFrame.h"

#include "core/Texts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace telvox {

namespace {

template <class W>
W *named(W *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

int defaultPort(MailSecurity s) { return s == MailSecurity::ImplicitTls ? 465 : s == MailSecurity::None ? 25 : 587; }

} // namespace

ForwardSetupFrame::ForwardSetupFrame(const Texts &texts, SettingsStore &settings, QString programFolder,
                                     QWidget *parent)
    : QGroupBox(parent)
    , m_texts(texts)
    , m_settings(settings)
    , m_programFolder(std::move(programFolder))
{
    setObjectName(QStringLiteral("fraForward"));
    setTitle(texts.LoadText(1930));
    setCheckable(true);
    setChecked(false);

    auto *outer = new QVBoxLayout(this);
    m_body = new QWidget(this);
    outer->addWidget(m_body);
    auto *form = new QFormLayout(m_body);
    form->setContentsMargins(0, 0, 0, 0);
    // A long caption (the password's) puts its field below it rather than squeezing every
    // field of the form.
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    m_to = named(new QLineEdit(m_body), "txtMailTo");
    form->addRow(texts.LoadText(1931), m_to);

    auto *server = new QHBoxLayout;
    m_host = named(new QLineEdit(m_body), "txtSmtpHost");
    m_port = named(new QLineEdit(m_body), "txtSmtpPort");
    m_port->setValidator(new QIntValidator(1, 65535, m_port));
    // Room for a whole server name beside the port and the security choice.
    m_host->setMinimumWidth(m_host->fontMetrics().horizontalAdvance(QStringLiteral("smtp.example.com")) + 16);
    m_port->setMaximumWidth(m_port->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 16);
    m_security = named(new QComboBox(m_body), "cboSecurity");
    m_security->addItem(texts.LoadText(1935), int(MailSecurity::StartTls));
    m_security->addItem(texts.LoadText(1936), int(MailSecurity::ImplicitTls));
    m_security->addItem(texts.LoadText(1937), int(MailSecurity::None));
    server->addWidget(m_host, 1);
    server->addWidget(new QLabel(texts.LoadText(1933), m_body));
    server->addWidget(m_port);
    server->addWidget(new QLabel(texts.LoadText(1934), m_body));
    server->addWidget(m_security);
    form->addRow(texts.LoadText(1932), server);

    m_user = named(new QLineEdit(m_body), "txtSmtpUser");
    form->addRow(texts.LoadText(1938), m_user);
    m_password = named(new QLineEdit(m_body), "txtSmtpPassword");
    m_password->setEchoMode(QLineEdit::Password);
    form->addRow(texts.LoadText(1939), m_password);
    m_from = named(new QLineEdit(m_body), "txtMailFrom");
    form->addRow(texts.LoadText(1949), m_from);

    m_forwardM = named(new QCheckBox(texts.LoadText(1940), m_body), "chkForwardM");
    m_forwardO = named(new QCheckBox(texts.LoadText(1941), m_body), "chkForwardO");
    m_attachWav = named(new QCheckBox(texts.LoadText(1942), m_body), "chkAttachWav");
    form->addRow(m_forwardM);
    form->addRow(m_forwardO);
    form->addRow(m_attachWav);

    auto *test = new QHBoxLayout;
    m_cmdTestMail = named(new QPushButton(texts.LoadText(1943), m_body), "cmdTestMail");
    m_cmdTestMail->setAutoDefault(false);
    m_lblTestMail = named(new QLabel(m_body), "lblTestMail");
    m_lblTestMail->setWordWrap(true);
    m_lblTestMail->setTextInteractionFlags(Qt::TextSelectableByMouse);
    test->addWidget(m_cmdTestMail);
    test->addWidget(m_lblTestMail, 1);
    form->addRow(test);

    // Unticked, the frame folds away to its title.
    m_body->setVisible(false);
    connect(this, &QGroupBox::toggled, m_body, &QWidget::setVisible);
    connect(m_cmdTestMail, &QPushButton::clicked, this, &ForwardSetupFrame::cmdTestMail_Click);
    connect(m_security, &QComboBox::currentIndexChanged, this, [this](int) {
        // A port left at the old choice's usual number follows the new choice.
        const int port = m_port->text().toInt();
        if (m_port->text().isEmpty() || port == 25 || port == 465 || port == 587)
            m_port->setText(QString::number(defaultPort(MailSecurity(m_security->currentData().toInt()))));
    });
}

void ForwardSetupFrame::load()
{
    m_loaded = readForwardOptions(m_settings, m_programFolder);
    setChecked(m_loaded.enabled);
    m_body->setVisible(m_loaded.enabled);
    m_to->setText(m_loaded.to.join(QStringLiteral(", ")));
    m_host->setText(m_loaded.host);
    {
        const QSignalBlocker quiet(m_security);
        m_security->setCurrentIndex(m_security->findData(int(m_loaded.security)));
    }
    m_port->setText(QString::number(m_loaded.port));
    m_user->setText(m_loaded.user);
    m_password->setText(m_loaded.password);
    m_from->setText(m_loaded.from);
    m_forwardM->setChecked(m_loaded.kinds.contains(QLatin1Char('M')));
    m_forwardO->setChecked(m_loaded.kinds.contains(QLatin1Char('O')));
    m_attachWav->setChecked(m_loaded.attachWav);
    m_lblTestMail->clear();
}

ForwardOptions ForwardSetupFrame::options() const
{
    ForwardOptions o = m_loaded;
    o.enabled = isChecked();
    o.to = splitAddresses(m_to->text());
    o.host = m_host->text().trimmed();
    o.security = MailSecurity(m_security->currentData().toInt());
    const int port = m_port->text().toInt();
    o.port = port > 0 ? port : defaultPort(o.security);
    o.user = m_user->text().trimmed();
    o.password = m_password->text();
    o.from = m_from->text().trimmed();
    o.kinds = QStringLiteral("A");
    if (m_forwardM->isChecked())
        o.kinds += QLatin1Char('M');
    if (m_forwardO->isChecked())
        o.kinds += QLatin1Char('O');
    o.attachWav = m_attachWav->isChecked();
    return o;
}

bool ForwardSetupFrame::save() { return writeForwardOptions(m_settings, m_programFolder, options()); }

void ForwardSetupFrame::cmdTestMail_Click()
{
    const ForwardOptions o = options();
    m_cmdTestMail->setEnabled(false);
    m_lblTestMail->setText(m_texts.LoadText(1944));
    sendTestMail(o, m_texts.LoadText(1947), m_texts.LoadText(1948), this, [this](const SmtpResult &r) {
        m_cmdTestMail->setEnabled(true);
        const QString why = r.serverRefused() ? r.serverReply : r.error;
        m_lblTestMail->setText(r.ok ? m_texts.LoadText(1945) : m_texts.LoadText(1946).arg(why));
        emit testMailFinished(r.ok);
    });
}

} // namespace telvox
