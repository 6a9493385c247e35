#include "ui/frmBlockList.h"

#include "core/Texts.h"
#include "records/CallBlockList.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

namespace telvox {

namespace {

template <class W>
W *named(W *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// The item of a list line: the line itself as data, "entry    label" as text.
QListWidgetItem *entryItem(const QString &line)
{
    QString shown = line;
    shown.replace(QLatin1Char('\t'), QStringLiteral("    "));
    auto *item = new QListWidgetItem(shown);
    item->setData(Qt::UserRole, line);
    return item;
}

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (QString &l : lines)
        l.remove(QLatin1Char('\r'));
    return lines;
}

void fillList(QListWidget *list, const QString &path)
{
    for (const QString &line : readLines(path)) {
        if (!line.trimmed().isEmpty() && !line.trimmed().startsWith(QLatin1Char('#')))
            list->addItem(entryItem(line));
    }
}

// The file's comment lines first, then the entries of the list.
bool writeList(const QString &path, const QListWidget *list)
{
    QStringList out;
    for (const QString &line : readLines(path)) {
        if (line.trimmed().startsWith(QLatin1Char('#')))
            out << line;
    }
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->data(Qt::UserRole).toString();
    QSaveFile file(path);
    const QByteArray bytes = (out.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

QGroupBox *listFrame(const QString &title, const char *name, QListWidget *list, QPushButton *add, QPushButton *remove,
                     QWidget *parent)
{
    auto *box = named(new QGroupBox(title, parent), name);
    auto *layout = new QVBoxLayout(box);
    layout->addWidget(list);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(remove);
    layout->addLayout(buttons);
    QObject::connect(remove, &QPushButton::clicked, list, [list] { delete list->currentItem(); });
    return box;
}

} // namespace

frmBlockList::frmBlockList(Services services, QWidget *parent)
    : QDialog(parent)
    , m_s(services)
{
    const Texts &t = m_s.texts;
    setObjectName(QStringLiteral("frmBlockList"));
    setWindowTitle(t.LoadText(1950));

    m_entry = named(new QLineEdit(this), "txtEntry");
    m_entry->setPlaceholderText(t.LoadText(1960));
    m_label = named(new QLineEdit(this), "txtLabel");
    m_label->setPlaceholderText(t.LoadText(1961));
    m_blocked = named(new QListWidget(this), "lstBlocked");
    m_allowed = named(new QListWidget(this), "lstAllowed");
    m_recent = named(new QListWidget(this), "lstRecent");
    m_blockAdd = named(new QPushButton(t.LoadText(1955), this), "cmdBlockAdd");
    m_allowAdd = named(new QPushButton(t.LoadText(1955), this), "cmdAllowAdd");
    auto *blockRemove = named(new QPushButton(t.LoadText(1956), this), "cmdBlockRemove");
    auto *allowRemove = named(new QPushButton(t.LoadText(1956), this), "cmdAllowRemove");
    m_withheld = named(new QCheckBox(t.LoadText(1953), this), "chkBlockWithheld");
    m_phonebookOnly = named(new QCheckBox(t.LoadText(1954), this), "chkPhonebookOnly");
    m_notice = named(new QCheckBox(t.LoadText(1816), this), "chkNotice");
    m_sipReject = named(new QComboBox(this), "cboSipReject");
    m_sipReject->addItem(t.LoadText(1818), 603);
    m_sipReject->addItem(t.LoadText(1819), 486);
    m_save = named(new QPushButton(t.LoadText(1957), this), "cmdSave");
    auto *close = named(new QPushButton(t.LoadText(1962), this), "cmdClose");
    for (QPushButton *b : {m_blockAdd, m_allowAdd, blockRemove, allowRemove, m_save, close})
        b->setAutoDefault(false);

    auto *root = new QVBoxLayout(this);
    auto *entry = new QHBoxLayout;
    entry->addWidget(m_entry, 2);
    entry->addWidget(m_label, 1);
    root->addLayout(entry);
    auto *lists = new QHBoxLayout;
    lists->addWidget(listFrame(t.LoadText(1951), "fraBlocked", m_blocked, m_blockAdd, blockRemove, this));
    lists->addWidget(listFrame(t.LoadText(1952), "fraAllowed", m_allowed, m_allowAdd, allowRemove, this));
    auto *recent = named(new QGroupBox(t.LoadText(1958), this), "fraRecent");
    (new QVBoxLayout(recent))->addWidget(m_recent);
    lists->addWidget(recent);
    root->addLayout(lists);
    root->addWidget(m_withheld);
    root->addWidget(m_phonebookOnly);
    root->addWidget(m_notice);
    auto *sip = new QHBoxLayout;
    sip->addWidget(new QLabel(t.LoadText(1817), this));
    sip->addWidget(m_sipReject);
    sip->addStretch();
    root->addLayout(sip);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_save);
    buttons->addWidget(close);
    root->addLayout(buttons);

    fillList(m_blocked, m_s.lists.blockFile());
    fillList(m_allowed, m_s.lists.allowFile());
    for (const BlockedCall &call : readBlockedCalls(m_s.store)) // newest first
        m_recent->addItem(call.number);
    const BlockingOptions &o = m_s.lists.options();
    m_withheld->setChecked(o.blockWithheld);
    m_phonebookOnly->setChecked(o.phonebookOnly);
    m_notice->setChecked(o.notice);
    m_sipReject->setCurrentIndex(o.sipReject == 486 ? 1 : 0);

    connect(m_blockAdd, &QPushButton::clicked, this, &frmBlockList::cmdBlockAdd_Click);
    connect(m_allowAdd, &QPushButton::clicked, this, &frmBlockList::cmdAllowAdd_Click);
    connect(m_save, &QPushButton::clicked, this, &frmBlockList::cmdSave_Click);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    // A caller blocked lately can be picked up to be allowed (or labelled).
    connect(m_recent, &QListWidget::currentTextChanged, m_entry, &QLineEdit::setText);
}

void frmBlockList::offerNumber(const QString &number) { m_entry->setText(number.trimmed()); }

void frmBlockList::addTo(QListWidget *list)
{
    if (m_entry->text().trimmed().isEmpty())
        return;
    list->addItem(entryItem(blockListLine(m_entry->text(), m_label->text())));
    m_entry->clear();
    m_label->clear();
}

void frmBlockList::cmdBlockAdd_Click() { addTo(m_blocked); }

void frmBlockList::cmdAllowAdd_Click() { addTo(m_allowed); }

void frmBlockList::cmdSave_Click()
{
    writeList(m_s.lists.blockFile(), m_blocked);
    writeList(m_s.lists.allowFile(), m_allowed);
    BlockingOptions options;
    options.blockWithheld = m_withheld->isChecked();
    options.phonebookOnly = m_phonebookOnly->isChecked();
    options.notice = m_notice->isChecked();
    options.sipReject = m_sipReject->currentData().toInt();
    writeBlockingOptions(m_s.settings, options);
    m_s.lists.setOptions(options);
    m_s.lists.reload();
    accept();
}

} // namespace telvox
