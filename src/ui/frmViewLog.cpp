#include "ui/frmViewLog.h"
#include "ui/ScreenFit.h"

#include "core/Texts.h"
#include "platform/shell/UserPrompts.h"
#include "records/StatusLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

namespace telvox {

frmViewLog::frmViewLog(Services services, QWidget *parent)
    : QDialog(parent)
    , m_s(services)
    , m_folder(services.statusLog.logFolder())
{
    setObjectName(QStringLiteral("frmViewLog"));
    setWindowTitle(m_s.texts.LoadText(1046));
    resize(640, 420);

    m_File1 = new QListWidget(this);
    m_File1->setObjectName(QStringLiteral("File1"));
    m_File1->setAccessibleName(m_s.texts.LoadText(1460));
    m_File1->setContextMenuPolicy(Qt::CustomContextMenu);
    m_Command1 = new QPushButton(QStringLiteral("->"), this);
    m_Command1->setObjectName(QStringLiteral("Command1"));
    m_List1 = new QListWidget(this);
    m_List1->setObjectName(QStringLiteral("List1"));
    m_List1->setAccessibleName(m_s.texts.LoadText(1461));
    m_List1->setSelectionMode(QAbstractItemView::NoSelection);
    m_cmdPrintLog = new QPushButton(m_s.texts.LoadText(1048), this);
    m_cmdPrintLog->setObjectName(QStringLiteral("cmdPrintLog"));
    m_cmdExit = new QPushButton(m_s.texts.LoadText(1047), this);
    m_cmdExit->setObjectName(QStringLiteral("cmdExit"));

    m_mmuLog = new QMenu(this);
    m_mmuLog->setObjectName(QStringLiteral("mmuLog"));
    QAction *display = m_mmuLog->addAction(m_s.texts.LoadText(1739));
    display->setObjectName(QStringLiteral("mmuDisplay"));
    QAction *remove = m_mmuLog->addAction(m_s.texts.LoadText(1721));
    remove->setObjectName(QStringLiteral("mmuDelete"));

    auto *middle = new QVBoxLayout;
    middle->addStretch();
    middle->addWidget(m_Command1);
    middle->addStretch();
    auto *top = new QHBoxLayout;
    top->addWidget(m_File1, 1);
    top->addLayout(middle);
    top->addWidget(m_List1, 3);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cmdPrintLog);
    buttons->addWidget(m_cmdExit);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);

    connect(m_Command1, &QPushButton::clicked, this, &frmViewLog::Command1_Click);
    connect(m_File1, &QListWidget::itemDoubleClicked, this, &frmViewLog::Command1_Click);
    connect(display, &QAction::triggered, this, &frmViewLog::Command1_Click);
    connect(remove, &QAction::triggered, this, &frmViewLog::mmuDelete_Click);
    connect(m_cmdPrintLog, &QPushButton::clicked, this, &frmViewLog::cmdPrintLog_Click);
    connect(m_cmdExit, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_File1, &QListWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { m_mmuLog->popup(m_File1->viewport()->mapToGlobal(pos)); });

    refreshFiles();
    fitOnScreen(*this);
}

void frmViewLog::refreshFiles()
{
    m_File1->clear();
    m_File1->addItems(QDir(m_folder).entryList(QDir::Files, QDir::Name));
}

QString frmViewLog::selectedPath() const
{
    const QListWidgetItem *item = m_File1->currentItem();
    if (!item || !item->isSelected())
        return QString();
    return m_folder + QLatin1Char('/') + item->text();
}

void frmViewLog::Command1_Click()
{
    m_List1->clear();
    const QString path = selectedPath();
    if (path.isEmpty())
        return;
    QStringList lines;
    m_s.statusLog.readLogFile(path, lines); // a failure keeps what was read
    m_List1->addItems(lines);
}

void frmViewLog::mmuDelete_Click()
{
    const QString path = selectedPath();
    if (path.isEmpty())
        return;
    const QString open = m_s.statusLog.channelPath();
    if (!open.isEmpty() && QFileInfo(open).absoluteFilePath() == QFileInfo(path).absoluteFilePath()) {
        m_s.prompts.messageBox(m_s.texts.LoadText(1203), MessageIcon::Critical, QStringLiteral("Telvox"));
        return;
    }
    QFile::remove(path);
    refreshFiles();
}

void frmViewLog::cmdPrintLog_Click()
{
    if (m_List1->count() == 0) {
        m_s.prompts.messageBox(m_s.texts.LoadText(1049), MessageIcon::Information, m_s.texts.LoadText(1046));
        m_File1->setFocus();
        return;
    }
    QStringList lines;
    for (int i = 0; i < m_List1->count(); ++i)
        lines << m_List1->item(i)->text();
    printToStatusLog(m_s.printer, m_s.statusLog, m_s.texts, lines, m_s.texts.LoadText(1046));
}

void printToStatusLog(Printer &printer, StatusLog &status, const Texts &texts, const QStringList &lines,
                      const QString &title)
{
    const PrintOutcome outcome = printer.printLines(lines, title);
    if (!outcome.pdfFile.isEmpty())
        status.AddStatus(texts.LoadText(1201) + outcome.pdfFile);
    else if (!outcome.error.isEmpty())
        status.AddStatus(texts.LoadText(1202) + outcome.error);
}

} // namespace telvox
