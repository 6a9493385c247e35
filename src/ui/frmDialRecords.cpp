#include "ui/frmDialRecords.h"
#include "ui/ScreenFit.h"

#include "core/Settings.h"
#include "core/Texts.h"
#include "records/CallBlockList.h"
#include "records/CallRecords.h"
#include "telephony/PhoneBookTable.h"

#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace telvox {

namespace {

QGroupBox *listFrame(const QString &name, const QString &caption, QListWidget *list, QPushButton *select,
                     QWidget *parent)
{
    auto *frame = new QGroupBox(caption, parent);
    frame->setObjectName(name);
    auto *layout = new QVBoxLayout(frame);
    layout->addWidget(list);
    layout->addWidget(select);
    return frame;
}

// The records oldest first, each number once (where it was used last), named after the
// phonebook when it is there: "Anna Meyer (5551234)". The item keeps the number to dial.
// Each number once, where it was last called, with the time of that call.
void fillCallList(QListWidget *list, const QList<CallRecord> &records, const std::vector<phonebook::Entry> &book)
{
    for (qsizetype i = 0; i < records.size(); ++i) {
        const QString &number = records.at(i).number;
        const auto later = std::find_if(records.begin() + i + 1, records.end(),
                                        [&](const CallRecord &r) { return r.number == number; });
        if (later != records.end())
            continue; // called again later: listed there
        QString name;
        for (const phonebook::Entry &e : book) {
            if (!number.trimmed().isEmpty() && e.tele.trimmed() == number.trimmed() && !e.name.trimmed().isEmpty())
                name = e.name.trimmed();
        }
        QString text = name.isEmpty() ? number : QStringLiteral("%1 (%2)").arg(name, number);
        if (records.at(i).when.isValid())
            text += QStringLiteral("    ") + QLocale().toString(records.at(i).when, QLocale::ShortFormat);
        auto *item = new QListWidgetItem(text, list);
        item->setData(Qt::UserRole, number);
    }
}

} // namespace

frmDialRecords::frmDialRecords(const MessageStore &records, const Texts &texts, const QString &programFolder,
                               QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmDialRecords"));
    setWindowTitle(texts.LoadText(1096));
    m_lstMade = new QListWidget(this);
    m_lstMade->setObjectName(QStringLiteral("lstMade"));
    m_lstReceived = new QListWidget(this);
    m_lstReceived->setObjectName(QStringLiteral("lstReceived"));
    m_lstMade->setAccessibleName(texts.LoadText(1097));
    m_lstReceived->setAccessibleName(texts.LoadText(1098));
    auto *cmdMade = new QPushButton(texts.LoadText(1093), this);
    cmdMade->setObjectName(QStringLiteral("cmdMade"));
    auto *cmdReceived = new QPushButton(texts.LoadText(1093), this);
    cmdReceived->setObjectName(QStringLiteral("cmdReceived"));
    auto *lists = new QHBoxLayout;
    lists->addWidget(listFrame(QStringLiteral("fraDial"), texts.LoadText(1097), m_lstMade, cmdMade, this));
    lists->addWidget(listFrame(QStringLiteral("fraReceived"), texts.LoadText(1098), m_lstReceived, cmdReceived, this));

    // The calls turned away by call blocking, newest first; they are not for dialling back.
    m_lstBlocked = new QTreeWidget(this);
    m_lstBlocked->setObjectName(QStringLiteral("lstBlocked"));
    m_lstBlocked->setAccessibleName(texts.LoadText(1812));
    m_lstBlocked->setRootIsDecorated(false);
    m_lstBlocked->setHeaderLabels({texts.LoadText(1813), texts.LoadText(1814), texts.LoadText(1815)});
    for (const BlockedCall &call : readBlockedCalls(records)) {
        auto *item = new QTreeWidgetItem(m_lstBlocked, {QLocale().toString(call.when, QLocale::ShortFormat),
                                                          call.number, call.label});
        item->setData(0, Qt::UserRole, call.when);
    }
    m_lstBlocked->resizeColumnToContents(0);
    m_lstBlocked->resizeColumnToContents(1);
    auto *blocked = new QGroupBox(texts.LoadText(1812), this);
    blocked->setObjectName(QStringLiteral("fraBlocked"));
    (new QVBoxLayout(blocked))->addWidget(m_lstBlocked);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(lists, 3);
    layout->addWidget(blocked, 2);
    resize(480, 460);

    connect(cmdMade, &QPushButton::clicked, this, &frmDialRecords::cmdMade_Click);
    connect(cmdReceived, &QPushButton::clicked, this, &frmDialRecords::cmdReceived_Click);
    connect(m_lstMade, &QListWidget::itemDoubleClicked, cmdMade, &QPushButton::click);
    connect(m_lstReceived, &QListWidget::itemDoubleClicked, cmdReceived, &QPushButton::click);

    const std::vector<phonebook::Entry> book = phonebook::listedEntries(QDir(programFolder).filePath(QStringLiteral("PhoneBook.txt")));
    fillCallList(m_lstMade, records.callRecordEntries(QStringLiteral("Made")), book);
    fillCallList(m_lstReceived, records.callRecordEntries(QStringLiteral("Received")), book);
    fitOnScreen(*this);
}

void frmDialRecords::cmdMade_Click() { choose(m_lstMade); }

void frmDialRecords::cmdReceived_Click() { choose(m_lstReceived); }

void frmDialRecords::choose(const QListWidget *list)
{
    const QListWidgetItem *item = list->selectedItems().value(0);
    if (!item || item->data(Qt::UserRole).toString().isEmpty())
        return;
    m_chosen = item->data(Qt::UserRole).toString();
    accept();
}

} // namespace telvox
