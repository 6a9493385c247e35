#include "ui/frmPBAdd.h"
#include "ui/ScreenFit.h"

#include "platform/shell/UserPrompts.h"
#include "telephony/PhoneBookTable.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringDecoder>

namespace telvox {

frmPBAdd::frmPBAdd(Services services, const QString &phoneBookPath, int listedCount, QWidget *parent)
    : QDialog(parent)
    , m_s(std::move(services))
    , m_file(phoneBookPath)
    , m_listedCount(listedCount)
{
    setObjectName(QStringLiteral("frmPBAdd"));
    setWindowTitle(QStringLiteral("PhoneBook"));
    auto *label1 = new QLabel(QStringLiteral("Name:"), this);
    label1->setObjectName(QStringLiteral("Label1"));
    m_text1 = new QLineEdit(this);
    m_text1->setObjectName(QStringLiteral("Text1"));
    auto *label2 = new QLabel(QStringLiteral("Tele:"), this);
    label2->setObjectName(QStringLiteral("Label2"));
    m_text2 = new QLineEdit(this);
    m_text2->setObjectName(QStringLiteral("Text2"));
    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKButton"));
    ok->setDefault(true);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("CancelButton"));
    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(ok, QDialogButtonBox::AcceptRole);
    buttons->addButton(cancel, QDialogButtonBox::RejectRole);
    auto *form = new QFormLayout(this);
    form->addRow(label1, m_text1);
    form->addRow(label2, m_text2);
    form->addRow(buttons);
    connect(ok, &QPushButton::clicked, this, &frmPBAdd::OKButton_Click);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    // Opened for record access now, created when missing; a failure is reported at OK.
    (void)m_file.open(QIODevice::ReadWrite);
    fitOnScreen(*this);
}

frmPBAdd::~frmPBAdd() = default;

bool frmPBAdd::OKButton_Click()
{
    const QString name = m_text1->text();
    const QString tele = m_text2->text();
    if (!phonebook::writeRecord(m_file, m_listedCount + 1, name, tele)) {
        m_s.prompts.messageBox(m_s.failureText, MessageIcon::Critical, windowTitle());
        return false;
    }
    m_file.close();
    QStringDecoder fromLocal(QStringDecoder::System);
    m_storedName = fromLocal(phonebook::fieldBytes(name, phonebook::kNameBytes));
    QStringDecoder teleDecoder(QStringDecoder::System);
    m_storedTele = teleDecoder(phonebook::fieldBytes(tele, phonebook::kTeleBytes));
    accept();
    return true;
}

} // namespace telvox
