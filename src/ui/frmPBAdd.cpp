#include "ui/frmPBAdd.h"
#include "ui/ScreenFit.h"

#include "platform/shell/UserPrompts.h"
#include "core/Texts.h"
#include "telephony/PhoneBookTable.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStringDecoder>

namespace telvox {

namespace {
constexpr int kNameCaption = 1743;
constexpr int kTeleCaption = 1744;
constexpr int kTooLong = 1745;
constexpr int kNumberMissing = 1881;
constexpr int kNumberNotDialable = 1882;
} // namespace

frmPBAdd::frmPBAdd(Services services, const QString &phoneBookPath, int listedCount, QWidget *parent)
    : QDialog(parent)
    , m_s(std::move(services))
    , m_file(phoneBookPath)
    , m_listedCount(listedCount)
{
    setObjectName(QStringLiteral("frmPBAdd"));
    setWindowTitle(text(1090, "Phonebook"));
    auto *label1 = new QLabel(text(kNameCaption, "Name:"), this);
    label1->setObjectName(QStringLiteral("Label1"));
    m_text1 = new QLineEdit(this);
    m_text1->setObjectName(QStringLiteral("Text1"));
    // The file holds a fixed number of bytes per field; OK says so when a field is longer,
    // rather than the field stopping the typing without a word.
    label1->setBuddy(m_text1);
    auto *label2 = new QLabel(text(kTeleCaption, "Tele:"), this);
    label2->setObjectName(QStringLiteral("Label2"));
    m_text2 = new QLineEdit(this);
    m_text2->setObjectName(QStringLiteral("Text2"));
    // A number is digits, with the signs a dial string may hold: letters cannot be typed.
    m_text2->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9+*#()\\- ]*")), m_text2));
    label2->setBuddy(m_text2);
    auto *ok = new QPushButton(text(1037, "OK"), this);
    ok->setObjectName(QStringLiteral("OKButton"));
    ok->setDefault(true);
    auto *cancel = new QPushButton(text(1038, "Cancel"), this);
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

QString frmPBAdd::text(int id, const char *english) const
{
    return m_s.texts ? m_s.texts->LoadText(id) : QString::fromLatin1(english);
}

void frmPBAdd::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    activateWindow();
    // Typing goes into the field to fill: the name, or the number when a name is given.
    QLineEdit *first = !m_text1->text().isEmpty() && m_text2->text().isEmpty() ? m_text2 : m_text1;
    first->setFocus(Qt::OtherFocusReason);
}

bool frmPBAdd::OKButton_Click()
{
    const QString name = m_text1->text();
    const QString tele = m_text2->text();
    // An entry without a number, or with letters in it, could never be dialled.
    if (tele.trimmed().isEmpty() || !m_text2->hasAcceptableInput()) {
        m_s.prompts.messageBox(tele.trimmed().isEmpty() ? text(kNumberMissing, "Please enter the telephone number")
                                                        : text(kNumberNotDialable, "A telephone number holds digits and + * # ( ) - only"),
                               MessageIcon::Information, windowTitle());
        m_text2->setFocus();
        return false;
    }
    // Chinese characters take more than one byte each: say so rather than cut the name.
    QStringEncoder toLocal(QStringEncoder::System);
    const QByteArray nameBytes = toLocal(name);
    QStringEncoder teleEncoder(QStringEncoder::System);
    const QByteArray teleBytes = teleEncoder(tele);
    if (nameBytes.size() > phonebook::kNameBytes || teleBytes.size() > phonebook::kTeleBytes) {
        const QString tooLong = m_s.texts ? m_s.texts->LoadText(kTooLong)
                                          : QStringLiteral("The name or the number is too long for the phonebook");
        m_s.prompts.messageBox(tooLong.arg(phonebook::kNameBytes).arg(phonebook::kTeleBytes), MessageIcon::Information,
                               windowTitle());
        (nameBytes.size() > phonebook::kNameBytes ? m_text1 : m_text2)->setFocus();
        return false;
    }
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
