#include "ui/frmDialOut.h"
#include "ui/ScreenFit.h"

#include "core/Texts.h"
#include "platform/shell/UserPrompts.h"
#include "core/EventLoop.h"
#include "telephony/Dialler.h"
#include "telephony/PhoneBookTable.h"
#include "ui/ModalRunner.h"
#include "ui/frmDialRecords.h"
#include "ui/frmPBAdd.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace telvox {

namespace {

QPushButton *button(const QString &name, const QString &caption, QWidget *parent)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAutoDefault(false); // Enter belongs to the number box
    return b;
}

constexpr int kPhoneBookWriteFailed = 1401;
constexpr int kLineCaption = 1741;
constexpr int kClear = 1885; // "Cls"
constexpr int kStateWatchMs = 500;

} // namespace

frmDialOut::frmDialOut(Services services, QWidget *parent)
    : QDialog(parent)
    , m_s(std::move(services))
{
    const Texts &t = m_s.texts;
    setObjectName(QStringLiteral("frmDialOut"));
    setWindowTitle(t.LoadText(1094));

    auto *label1 = new QLabel(t.LoadText(kLineCaption), this);
    label1->setObjectName(QStringLiteral("Label1"));
    m_combo1 = new QComboBox(this);
    m_combo1->setObjectName(QStringLiteral("Combo1"));
    m_combo1->setEditable(true);
    m_combo1->setInsertPolicy(QComboBox::NoInsert);
    m_combo1->addItems({QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")});
    m_combo1->setEditText(m_s.dialler.initialLine());
    // The line is one of 0 to 3: nothing else can be typed there.
    m_combo1->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-3]")), m_combo1));
    label1->setBuddy(m_combo1);
    m_txtDialOut = new QLineEdit(m_s.dialler.initialNumber(), this);
    m_txtDialOut->setObjectName(QStringLiteral("txtDialOut"));
    m_txtDialOut->setAccessibleName(t.LoadText(1452));
    m_txtDialOut->installEventFilter(this);

    auto *keypad = new QGridLayout;
    const QString keys = QStringLiteral("123456789*0#");
    for (int i = 0; i < keys.size(); ++i) {
        const QChar key = keys.at(i);
        QString name;
        if (key.isDigit())
            name = QStringLiteral("cmdNum_") + key;
        else
            name = key == QLatin1Char('*') ? QStringLiteral("cmdStar") : QStringLiteral("cmdSharp");
        QPushButton *b = button(name, QString(key), this);
        keypad->addWidget(b, i / 3, i % 3);
        connect(b, &QPushButton::clicked, this, [this, key] { m_txtDialOut->setText(m_txtDialOut->text() + key); });
    }
    QPushButton *comma = button(QStringLiteral("cmdComma"), QStringLiteral(","), this);
    connect(comma, &QPushButton::clicked, this, [this] { m_txtDialOut->setText(m_txtDialOut->text() + QLatin1Char(',')); });
    QPushButton *back = button(QStringLiteral("cmdBackword"), QStringLiteral("<-"), this);
    connect(back, &QPushButton::clicked, this, &frmDialOut::cmdBackword_Click);
    QPushButton *clear = button(QStringLiteral("cmdClear"), t.LoadText(kClear), this);
    connect(clear, &QPushButton::clicked, m_txtDialOut, &QLineEdit::clear);
    // Keys whose caption is a sign: a screen reader says what they do.
    for (const auto &[key, text] : {std::pair{comma, 1457}, {back, 1455}, {clear, 1456}})
        key->setAccessibleName(t.LoadText(text));
    findChild<QPushButton *>(QStringLiteral("cmdStar"))->setAccessibleName(t.LoadText(1458));
    findChild<QPushButton *>(QStringLiteral("cmdSharp"))->setAccessibleName(t.LoadText(1459));
    keypad->addWidget(comma, 4, 0);
    keypad->addWidget(back, 4, 1);
    keypad->addWidget(clear, 4, 2);

    m_cmdDial = button(QStringLiteral("cmdDial"), t.LoadText(1083), this);
    m_cmdDrop = button(QStringLiteral("cmdDrop"), t.LoadText(1084), this);
    m_cmdExit = button(QStringLiteral("cmdExit"), t.LoadText(1014), this);
    QPushButton *records = button(QStringLiteral("cmdRecords"), t.LoadText(1095), this);
    connect(m_cmdDial, &QPushButton::clicked, this, &frmDialOut::cmdDial_Click);
    connect(m_cmdDrop, &QPushButton::clicked, this, &frmDialOut::cmdDrop_Click);
    connect(m_cmdExit, &QPushButton::clicked, this, &frmDialOut::cmdExit_Click);
    connect(records, &QPushButton::clicked, this, &frmDialOut::cmdRecords_Click);

    auto *frame2 = new QGroupBox(t.LoadText(1090), this);
    frame2->setObjectName(QStringLiteral("Frame2"));
    m_lstPBName = new QListWidget(frame2);
    m_lstPBName->setObjectName(QStringLiteral("lstPBName"));
    m_lstPBTele = new QListWidget(frame2);
    m_lstPBTele->setObjectName(QStringLiteral("lstPBTele"));
    m_lstPBName->setAccessibleName(t.LoadText(1453));
    m_lstPBTele->setAccessibleName(t.LoadText(1454));
    for (QListWidget *list : {m_lstPBName, m_lstPBTele}) {
        list->setToolTip(t.LoadText(1722));
        list->setFont(QFont(QStringLiteral("monospace")));
    }
    QPushButton *add = button(QStringLiteral("cmdAdd"), t.LoadText(1091), frame2);
    QPushButton *del = button(QStringLiteral("cmdDelete"), t.LoadText(1092), frame2);
    QPushButton *select = button(QStringLiteral("cmdSelect"), t.LoadText(1093), frame2);
    connect(add, &QPushButton::clicked, this, &frmDialOut::cmdAdd_Click);
    connect(del, &QPushButton::clicked, this, &frmDialOut::cmdDelete_Click);
    connect(select, &QPushButton::clicked, this, &frmDialOut::cmdSelect_Click);
    // The two lists show one entry per row: a choice in one is the same row in the other.
    connect(m_lstPBName, &QListWidget::currentRowChanged, m_lstPBTele, qOverload<int>(&QListWidget::setCurrentRow));
    connect(m_lstPBTele, &QListWidget::currentRowChanged, m_lstPBName, qOverload<int>(&QListWidget::setCurrentRow));
    connect(m_lstPBName, &QListWidget::itemDoubleClicked, select, &QPushButton::click);
    connect(m_lstPBTele, &QListWidget::itemDoubleClicked, select, &QPushButton::click);

    auto *phoneBook = new QGridLayout(frame2);
    phoneBook->addWidget(m_lstPBName, 0, 0, 4, 1);
    phoneBook->addWidget(m_lstPBTele, 0, 1, 4, 1);
    phoneBook->addWidget(select, 0, 2);
    phoneBook->addWidget(add, 1, 2);
    phoneBook->addWidget(del, 2, 2);

    auto *lineRow = new QHBoxLayout;
    lineRow->addWidget(label1);
    lineRow->addWidget(m_combo1, 1);
    // What the dialled call is doing, followed while the window is open.
    m_lblCallState = new QLabel(this);
    m_lblCallState->setObjectName(QStringLiteral("lblCallState"));
    m_lblCallState->setWordWrap(true);
    m_stateWatch = m_s.dialler.loop().createTimer(kStateWatchMs, [this] { showCallState(); });
    auto *left = new QVBoxLayout;
    left->addLayout(lineRow);
    left->addWidget(m_txtDialOut);
    left->addWidget(m_lblCallState);
    left->addLayout(keypad);
    auto *right = new QVBoxLayout;
    right->addWidget(m_cmdDial);
    right->addWidget(m_cmdDrop);
    right->addWidget(records);
    right->addStretch();
    right->addWidget(m_cmdExit);
    auto *top = new QHBoxLayout;
    top->addLayout(left, 1);
    top->addLayout(right);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(frame2, 1);
    resize(480, 520);

    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *old, QWidget *now) {
        const auto inCombo = [this](const QWidget *w) { return w && (w == m_combo1 || m_combo1->isAncestorOf(w)); };
        if (inCombo(old) && !inCombo(now))
            Combo1_LostFocus();
    });

    m_s.dialler.setButtonsHandler([this](Dialler::Buttons) { showButtons(); });
    showButtons();
    m_stateWatch->setEnabled(true);
    fillPhoneBookLists();
    fitOnScreen(*this);
}

frmDialOut::~frmDialOut() { m_s.dialler.setButtonsHandler({}); }

void frmDialOut::showButtons()
{
    const bool ready = m_s.dialler.buttons() == Dialler::Buttons::Ready;
    m_cmdDial->setEnabled(ready);
    m_cmdDrop->setEnabled(!ready);
    m_cmdExit->setEnabled(ready);
    showCallState();
}

void frmDialOut::showCallState()
{
    const QString state = m_s.dialler.callStateText();
    if (m_lblCallState->text() != state)
        m_lblCallState->setText(state);
    m_lblCallState->setVisible(!state.isEmpty()); // no empty gap before the first call
}

void frmDialOut::fillPhoneBookLists()
{
    m_lstPBName->clear();
    m_lstPBTele->clear();
    for (const phonebook::Entry &e : phonebook::listedEntries(m_s.phoneBookPath)) {
        m_lstPBName->addItem(e.name);
        m_lstPBTele->addItem(e.tele);
    }
}

bool frmDialOut::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_txtDialOut && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            // Enter dials; the key itself never reaches the box.
            m_cmdDial->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmDialOut::cmdDial_Click() { m_s.dialler.Dial(m_combo1->currentText(), m_txtDialOut->text()); }

void frmDialOut::cmdDrop_Click() { m_s.dialler.Drop(m_combo1->currentText()); }

void frmDialOut::cmdExit_Click()
{
    if (m_cmdDial->isEnabled()) {
        m_closing = true;
        done(QDialog::Accepted);
    } else {
        m_s.prompts.messageBox(m_s.texts.LoadText(1085), MessageIcon::Critical, windowTitle());
    }
    if (m_s.loadPhoneBook)
        m_s.loadPhoneBook();
}

void frmDialOut::reject() { cmdExit_Click(); }

void frmDialOut::closeEvent(QCloseEvent *event)
{
    if (m_closing) {
        QDialog::closeEvent(event);
        return;
    }
    event->ignore();
    cmdExit_Click();
}

void frmDialOut::Combo1_LostFocus() { m_s.dialler.saveLine(m_combo1->currentText()); }

void frmDialOut::cmdRecords_Click()
{
    // The phonebook lives in the program folder, beside the records of blocked calls.
    frmDialRecords records(m_s.dialler.callRecords(), m_s.texts, QFileInfo(m_s.phoneBookPath).path(), this);
    m_s.modal.runModal(records);
    if (records.chosenNumber().isEmpty())
        return;
    m_txtDialOut->setText(records.chosenNumber());
    m_cmdDial->click();
}

void frmDialOut::cmdBackword_Click()
{
    const QString trimmed = m_txtDialOut->text().trimmed();
    if (!trimmed.isEmpty())
        m_txtDialOut->setText(trimmed.left(trimmed.size() - 1));
}

void frmDialOut::cmdSelect_Click()
{
    const QListWidgetItem *item = m_lstPBTele->selectedItems().value(0);
    if (item && !item->text().isEmpty())
        m_txtDialOut->setText(item->text().trimmed());
}

void frmDialOut::cmdAdd_Click() { addEntry(QString()); }

void frmDialOut::addEntry(const QString &number)
{
    frmPBAdd editor({m_s.prompts, m_s.texts.LoadText(kPhoneBookWriteFailed), &m_s.texts}, m_s.phoneBookPath,
                    m_lstPBName->count(), this);
    editor.Text2()->setText(number);
    if (m_s.modal.runModal(editor) != QDialog::Accepted)
        return;
    m_lstPBName->addItem(editor.storedName());
    m_lstPBTele->addItem(editor.storedTele());
}

void frmDialOut::cmdDelete_Click()
{
    const QListWidgetItem *item = m_lstPBTele->selectedItems().value(0);
    if (!item || item->text().isEmpty())
        return;
    if (!phonebook::isWritable(m_s.phoneBookPath)) {
        m_s.prompts.messageBox(m_s.texts.LoadText(kPhoneBookWriteFailed), MessageIcon::Critical, windowTitle());
        return;
    }
    const int row = m_lstPBTele->row(item);
    delete m_lstPBTele->takeItem(row);
    delete m_lstPBName->takeItem(row);
    QStringList names;
    QStringList teles;
    for (int i = 0; i < m_lstPBName->count() && i < m_lstPBTele->count(); ++i) {
        names << m_lstPBName->item(i)->text();
        teles << m_lstPBTele->item(i)->text();
    }
    if (!phonebook::rewrite(m_s.phoneBookPath, names, teles)) {
        m_s.prompts.messageBox(m_s.texts.LoadText(kPhoneBookWriteFailed), MessageIcon::Critical, windowTitle());
        fillPhoneBookLists(); // the file is unchanged: show what it holds
    }
}

} // namespace telvox
