#include "ui/frmDialRecords.h"
#include "ui/ScreenFit.h"

#include "core/Settings.h"
#include "core/Texts.h"
#include "records/CallRecords.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

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

} // namespace

frmDialRecords::frmDialRecords(const SettingsStore &settings, const Texts &texts, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmDialRecords"));
    setWindowTitle(texts.LoadText(1096));
    m_lstMade = new QListWidget(this);
    m_lstMade->setObjectName(QStringLiteral("lstMade"));
    m_lstReceived = new QListWidget(this);
    m_lstReceived->setObjectName(QStringLiteral("lstReceived"));
    auto *cmdMade = new QPushButton(texts.LoadText(1093), this);
    cmdMade->setObjectName(QStringLiteral("cmdMade"));
    auto *cmdReceived = new QPushButton(texts.LoadText(1093), this);
    cmdReceived->setObjectName(QStringLiteral("cmdReceived"));
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(listFrame(QStringLiteral("fraDial"), texts.LoadText(1097), m_lstMade, cmdMade, this));
    layout->addWidget(listFrame(QStringLiteral("fraReceived"), texts.LoadText(1098), m_lstReceived, cmdReceived, this));
    resize(440, 300);

    connect(cmdMade, &QPushButton::clicked, this, &frmDialRecords::cmdMade_Click);
    connect(cmdReceived, &QPushButton::clicked, this, &frmDialRecords::cmdReceived_Click);
    connect(m_lstMade, &QListWidget::itemDoubleClicked, cmdMade, &QPushButton::click);
    connect(m_lstReceived, &QListWidget::itemDoubleClicked, cmdReceived, &QPushButton::click);

    m_lstMade->addItems(readCallRecords(settings, QStringLiteral("Made")));
    m_lstReceived->addItems(readCallRecords(settings, QStringLiteral("Received")));
    fitOnScreen(*this);
}

void frmDialRecords::cmdMade_Click() { choose(m_lstMade); }

void frmDialRecords::cmdReceived_Click() { choose(m_lstReceived); }

void frmDialRecords::choose(const QListWidget *list)
{
    const QListWidgetItem *item = list->selectedItems().value(0);
    if (!item || item->text().isEmpty())
        return;
    m_chosen = item->text();
    accept();
}

} // namespace telvox
