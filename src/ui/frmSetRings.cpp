#include "ui/frmSetRings.h"
#include "ui/ScreenFit.h"

#include "core/Texts.h"
#include "platform/shell/UserPrompts.h"
#include "records/RingSchedule.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace telvox {

namespace {
constexpr int kRuleListTitle = 1724;
constexpr int kEditorTitle = 1725;
constexpr int kRingsToAnswer = 1726;
constexpr int kFrom = 1727;
constexpr int kTo = 1728;
constexpr int kHourMinute = 1729;
constexpr int kSunday = 1730; // to 1736, Saturday
constexpr int kTimeRange = 1737;
constexpr int kEnterTime = 1777;
constexpr int kOneDigit = 1738;
} // namespace

QString frmSetRings::ringRuleInWords(const QString &line) const
{
    // "6,00:00:00-23:59:00,1,2" reads "Rings To Answer: 6   00:00 - 23:59   SUN MON".
    const QStringList parts = line.split(QLatin1Char(','));
    const QStringList span = parts.value(1).split(QLatin1Char('-'));
    if (parts.size() < 2 || span.size() != 2)
        return ringRuleDisplay(line); // not a rule this editor wrote: as it is stored
    QStringList days;
    for (int d = 1; d <= 7; ++d) {
        if (parts.mid(2).contains(QString::number(d)))
            days << m_texts.LoadText(kSunday + d - 1);
    }
    return QStringLiteral("%1 %2   %3 - %4   %5")
        .arg(m_texts.LoadText(kRingsToAnswer), parts.value(0).trimmed(), span.at(0).left(5), span.at(1).left(5),
             days.join(QLatin1Char(' ')));
}

void frmSetTime::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Typing starts in the ring count, the first field.
    activateWindow();
    m_text[1]->setFocus(Qt::OtherFocusReason);
}

frmSetRings::frmSetRings(QString ringsFile, UserPrompts &prompts, const Texts &texts, QWidget *parent)
    : QDialog(parent)
    , m_ringsFile(std::move(ringsFile))
    , m_prompts(prompts)
    , m_texts(texts)
{
    setObjectName(QStringLiteral("frmSetRings"));
    setWindowTitle(texts.LoadText(kRuleListTitle));
    m_lstRingEntry = new QListWidget(this);
    m_lstRingEntry->setObjectName(QStringLiteral("lstRingEntry"));
    m_lstRingEntry->setAccessibleName(texts.LoadText(kRuleListTitle));
    auto *add = new QPushButton(texts.LoadText(1091), this);
    add->setObjectName(QStringLiteral("cmdAddEntry"));
    auto *del = new QPushButton(texts.LoadText(1092), this);
    del->setObjectName(QStringLiteral("cmdDeleteEntry"));
    auto *exit = new QPushButton(texts.LoadText(1014), this);
    exit->setObjectName(QStringLiteral("Command2"));
    auto *buttons = new QVBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(del);
    buttons->addStretch();
    buttons->addWidget(exit);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_lstRingEntry, 1);
    layout->addLayout(buttons);
    resize(460, 260);
    connect(add, &QPushButton::clicked, this, &frmSetRings::cmdAddEntry_Click);
    connect(del, &QPushButton::clicked, this, &frmSetRings::cmdDeleteEntry_Click);
    connect(exit, &QPushButton::clicked, this, &QDialog::accept);
    ShowRingRules();
    fitOnScreen(*this);
}

void frmSetRings::ShowRingRules()
{
    m_lstRingEntry->clear();
    // Each rule in words; the item keeps the rule's stored display form for Delete.
    for (const QString &line : readRingRuleLines(m_ringsFile)) {
        auto *item = new QListWidgetItem(ringRuleInWords(line), m_lstRingEntry);
        item->setData(Qt::UserRole, ringRuleDisplay(line));
    }
}

void frmSetRings::cmdAddEntry_Click()
{
    frmSetTime editor(m_ringsFile, m_prompts, m_texts, this);
    if (editor.exec() == QDialog::Accepted)
        ShowRingRules();
}

void frmSetRings::cmdDeleteEntry_Click()
{
    QListWidgetItem *item = m_lstRingEntry->currentItem();
    if (!item || item->data(Qt::UserRole).toString().isEmpty())
        return;
    delete m_lstRingEntry->takeItem(m_lstRingEntry->row(item));
    QStringList remaining;
    for (int i = 0; i < m_lstRingEntry->count(); ++i)
        remaining << m_lstRingEntry->item(i)->data(Qt::UserRole).toString();
    rewriteRingRules(m_ringsFile, remaining);
}

frmSetTime::frmSetTime(QString ringsFile, UserPrompts &prompts, const Texts &texts, QWidget *parent)
    : QDialog(parent)
    , m_ringsFile(std::move(ringsFile))
    , m_prompts(prompts)
    , m_texts(texts)
{
    setObjectName(QStringLiteral("frmSetTime"));
    setWindowTitle(texts.LoadText(kEditorTitle));
    auto *grid = new QGridLayout;
    for (int i = 1; i <= 5; ++i) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QStringLiteral("Text%1").arg(i));
        edit->setMaxLength(i == 1 ? 1 : 2);
        edit->setMaximumWidth(48);
        m_text[static_cast<std::size_t>(i)] = edit;
    }
    // Exactly one digit for the ring count; hours 0-23 and minutes 0-59 (a field that is out of
    // range cannot be left, as the validator refuses it).
    m_text[1]->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d")), this));
    for (int i : {2, 4})
        m_text[static_cast<std::size_t>(i)]->setValidator(new QIntValidator(0, 23, this));
    for (int i : {3, 5})
        m_text[static_cast<std::size_t>(i)]->setValidator(new QIntValidator(0, 59, this));
    for (int i = 2; i <= 5; ++i) // hour and minute of the start, then of the end
        m_text[static_cast<std::size_t>(i)]->setAccessibleName(texts.LoadText(1444 + i - 2));
    auto *ringsLabel = new QLabel(texts.LoadText(kRingsToAnswer), this);
    ringsLabel->setBuddy(m_text[1]);
    grid->addWidget(ringsLabel, 0, 0);
    grid->addWidget(m_text[1], 0, 1);
    grid->addWidget(new QLabel(texts.LoadText(kFrom), this), 1, 0);
    grid->addWidget(m_text[2], 1, 1);
    grid->addWidget(new QLabel(QStringLiteral(":"), this), 1, 2);
    grid->addWidget(m_text[3], 1, 3);
    grid->addWidget(new QLabel(texts.LoadText(kHourMinute), this), 1, 4);
    grid->addWidget(new QLabel(texts.LoadText(kTo), this), 2, 0);
    grid->addWidget(m_text[4], 2, 1);
    grid->addWidget(new QLabel(QStringLiteral(":"), this), 2, 2);
    grid->addWidget(m_text[5], 2, 3);
    grid->addWidget(new QLabel(texts.LoadText(kHourMinute), this), 2, 4);
    auto *days = new QHBoxLayout;
    for (int d = 1; d <= 7; ++d) {
        auto *box = new QCheckBox(texts.LoadText(kSunday + d - 1), this);
        box->setObjectName(QStringLiteral("Check1_%1").arg(d));
        m_check[static_cast<std::size_t>(d)] = box;
        days->addWidget(box);
    }
    auto *ok = new QPushButton(texts.LoadText(1037), this);
    ok->setObjectName(QStringLiteral("Command1"));
    auto *cancel = new QPushButton(texts.LoadText(1038), this);
    cancel->setObjectName(QStringLiteral("Command2"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(days);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    fitOnScreen(*this);
}

bool frmSetTime::Command1_Click()
{
    for (int i = 2; i <= 5; ++i) {
        if (m_text[static_cast<std::size_t>(i)]->text().trimmed().isEmpty()) {
            m_prompts.messageBox(m_texts.LoadText(kEnterTime), MessageIcon::Information, m_texts.LoadText(1004));
            return false;
        }
    }
    // A value the validator holds back (hour 25, minute 75) is named, not silently refused.
    for (int i = 1; i <= 5; ++i) {
        QLineEdit *field = m_text[static_cast<std::size_t>(i)];
        QString text = field->text();
        int pos = 0;
        if (field->validator()->validate(text, pos) != QValidator::Acceptable) {
            m_prompts.messageBox(m_texts.LoadText(i == 1 ? kOneDigit : kTimeRange), MessageIcon::Information,
                                 m_texts.LoadText(1004));
            field->setFocus();
            field->selectAll();
            return false;
        }
    }
    std::array<bool, 8> days{};
    for (int d = 1; d <= 7; ++d)
        days[static_cast<std::size_t>(d)] = m_check[static_cast<std::size_t>(d)]->isChecked();
    const QString line = buildRingRule(m_text[1]->text(), m_text[2]->text(), m_text[3]->text(), m_text[4]->text(),
                                       m_text[5]->text(), days);
    if (line.isEmpty()) {
        m_text[1]->setFocus(); // the ring count must be one digit
        return false;
    }
    if (!appendRingRule(m_ringsFile, line))
        return false;
    accept();
    return true;
}

} // namespace telvox
