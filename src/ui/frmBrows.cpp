#include "ui/frmBrows.h"

#include "core/AppPaths.h"
#include "ui/ScreenFit.h"

#include "core/EventLoop.h"
#include "core/OptionReader.h"
#include "core/Settings.h"
#include "core/Texts.h"
#include "platform/media/MediaControl.h"
#include "platform/shell/UserPrompts.h"
#include "ui/DesktopShell.h"
#include "ui/WavePlayer.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QStorageInfo>

namespace telvox {

namespace {

QPushButton *iconButton(const char *name, const char *icon, const QString &tip, QWidget *parent)
{
    auto *b = new QPushButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setIcon(QIcon(QStringLiteral(":/telvox/ui/dark/%1.svg").arg(QLatin1String(icon))));
    b->setIconSize(QSize(20, 20));
    b->setToolTip(tip);
    b->setAccessibleName(tip); // an icon alone says nothing to a screen reader
    b->setMinimumSize(40, 30);
    return b;
}

constexpr int kFolderUnreadable = 1706;
constexpr int kNoFileManager = 1707;

} // namespace

frmBrows::frmBrows(Services services, QWidget *parent)
    : QDialog(parent)
    , m_s(std::move(services))
{
    setObjectName(QStringLiteral("frmBrows"));
    const Texts &t = m_s.texts;
    setWindowTitle(t.LoadText(1055));

    m_Drive1 = new QComboBox(this);
    m_Drive1->setObjectName(QStringLiteral("Drive1"));
    m_Drive1->setAccessibleName(t.LoadText(1448));
    m_lblDir = new QLabel(this);
    m_lblDir->setObjectName(QStringLiteral("lblDir"));
    m_lblDir->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_Dir1 = new QListWidget(this);
    m_Dir1->setObjectName(QStringLiteral("Dir1"));
    m_Dir1->setAccessibleName(t.LoadText(1449));
    m_File1 = new QListWidget(this);
    m_File1->setObjectName(QStringLiteral("File1"));
    m_File1->setAccessibleName(t.LoadText(1450));
    m_File1->setContextMenuPolicy(Qt::CustomContextMenu);
    m_Text1 = new QLineEdit(this);
    m_Text1->setObjectName(QStringLiteral("Text1"));
    m_Text1->setAccessibleName(t.LoadText(1451));
    // Room for a date or a number to filter by, however narrow the window gets.
    m_Text1->setMinimumWidth(m_Text1->fontMetrics().horizontalAdvance(QStringLiteral("2026-12-06~555")) + 16);
    m_Command2 = new QPushButton(t.LoadText(1303), this);
    m_Command2->setObjectName(QStringLiteral("Command2"));
    m_Command1 = new QPushButton(QIcon(QStringLiteral(":/telvox/ui/dark/search.svg")), t.LoadText(1086), this);
    m_Command1->setObjectName(QStringLiteral("Command1"));
    m_Label1 = new QLabel(t.LoadText(1056), this);
    m_Label1->setObjectName(QStringLiteral("Label1"));
    m_Label2 = new QLabel(t.LoadText(1057), this);
    m_Label2->setObjectName(QStringLiteral("Label2"));
    m_lblFileName = new QLabel(this);
    m_lblFileName->setObjectName(QStringLiteral("lblFileName"));
    m_lblFileSize = new QLabel(this);
    m_lblFileSize->setObjectName(QStringLiteral("lblFileSize"));
    m_cmdPlay = iconButton("cmdPlay", "play", t.LoadText(1015), this);
    m_cmdPause = iconButton("cmdPause", "pause", t.LoadText(1720), this);
    m_cmdStop = iconButton("cmdStop", "stop", t.LoadText(1016), this);
    m_HScroll1 = new QScrollBar(Qt::Horizontal, this);
    m_HScroll1->setObjectName(QStringLiteral("HScroll1"));
    m_HScroll1->setAccessibleName(t.LoadText(1440));

    m_mmuBrow = new QMenu(this);
    m_mmuBrow->setObjectName(QStringLiteral("mmuBrow"));
    QAction *play = m_mmuBrow->addAction(t.LoadText(1015));
    play->setObjectName(QStringLiteral("mmuPlay"));
    QAction *del = m_mmuBrow->addAction(t.LoadText(1721));
    del->setObjectName(QStringLiteral("mmuDelete"));

    auto *grid = new QGridLayout(this);
    grid->addWidget(m_Drive1, 0, 0);
    grid->addWidget(m_lblDir, 1, 0);
    grid->addWidget(m_Dir1, 2, 0, 2, 1);
    auto *filter = new QHBoxLayout;
    filter->addWidget(m_Text1, 1);
    filter->addWidget(m_Command2);
    grid->addLayout(filter, 0, 1);
    grid->addWidget(m_File1, 1, 1, 3, 1);
    auto *info = new QGridLayout;
    info->addWidget(m_Label1, 0, 0);
    info->addWidget(m_lblFileName, 0, 1);
    info->addWidget(m_Label2, 1, 0);
    info->addWidget(m_lblFileSize, 1, 1);
    info->setColumnStretch(1, 1);
    grid->addLayout(info, 4, 0, 1, 2);
    grid->addWidget(m_HScroll1, 5, 0, 1, 2);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_cmdPlay);
    buttons->addWidget(m_cmdPause);
    buttons->addWidget(m_cmdStop);
    buttons->addStretch(1);
    buttons->addWidget(m_Command1);
    grid->addLayout(buttons, 6, 0, 1, 2);
    grid->setColumnStretch(0, 2);
    grid->setColumnStretch(1, 3);
    resize(620, 440);

    m_tmMMTIMER = m_s.loop.createTimer(500, {});
    m_tmPlay = m_s.loop.createTimer(1000, {});
    m_player = std::make_unique<WavePlayer>(WavePlayer::Kind::Browser,
                                            WavePlayer::Controls{m_cmdPlay, m_cmdPause, m_cmdStop, m_HScroll1,
                                                                 m_lblFileName, m_lblFileSize, *m_tmMMTIMER, *m_tmPlay},
                                            m_s.media, m_s.texts, m_s.prompts);
    m_player->setSourceProvider([this]() -> WavePlayer::Source {
        const QListWidgetItem *item = m_File1->currentItem();
        if (!item)
            return {};
        QString folder = m_dirPath;
        if (!folder.endsWith(QLatin1Char('/')))
            folder += QLatin1Char('/');
        return {item->text(), folder + item->text()};
    });

    connect(m_Drive1, &QComboBox::activated, this, &frmBrows::Drive1_Change);
    connect(m_Dir1, &QListWidget::itemActivated, this,
            [this](QListWidgetItem *item) { setDirPath(item->data(Qt::UserRole).toString()); });
    connect(m_File1, &QListWidget::itemDoubleClicked, this, &frmBrows::File1_DblClick);
    connect(m_File1, &QListWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { m_mmuBrow->popup(m_File1->viewport()->mapToGlobal(pos)); });
    connect(m_Command1, &QPushButton::clicked, this, &frmBrows::Command1_Click);
    connect(m_Command2, &QPushButton::clicked, this, &frmBrows::Command2_Click);
    connect(m_Text1, &QLineEdit::returnPressed, this, &frmBrows::Command2_Click);
    connect(play, &QAction::triggered, this, &frmBrows::mmuPlay_Click);
    connect(del, &QAction::triggered, this, &frmBrows::mmuDelete_Click);

    // Start in the recording folder (waveFiles/ before one is chosen), or in the program's
    // own folder when that folder is not there.
    fillDrives();
    setDirPath(recordingsOrProgramFolder());
    fitOnScreen(*this);
}

frmBrows::~frmBrows() = default;

void frmBrows::fillDrives()
{
    m_Drive1->clear();
    QStringList roots;
    const auto volumes = QStorageInfo::mountedVolumes();
    for (const QStorageInfo &v : volumes) {
        if (!v.isValid() || !v.isReady())
            continue;
        const QString root = v.rootPath();
        // Pseudo file systems hold no recordings.
        if (root.startsWith(QLatin1String("/proc")) || root.startsWith(QLatin1String("/sys"))
            || root.startsWith(QLatin1String("/dev")) || root.startsWith(QLatin1String("/run")))
            continue;
        if (!roots.contains(root))
            roots << root;
    }
    roots.sort();
    for (const QString &root : roots)
        m_Drive1->addItem(QIcon(QStringLiteral(":/telvox/ui/dark/backup.svg")), root, root);
}

void frmBrows::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_dirPath.isEmpty() && QDir(m_dirPath).isReadable()) {
        fillFolders();
        refreshFiles();
        return;
    }
    // The folder went away since the last visit: back to the recordings.
    setDirPath(recordingsOrProgramFolder());
}

QString frmBrows::recordingsOrProgramFolder() const
{
    const QString recordings = OptionReader(m_s.settings).recordingFolder(m_s.programFolder);
    return QDir(recordings).exists() ? recordings : m_s.programFolder;
}

void frmBrows::setDirPath(const QString &path)
{
    const QDir dir(path);
    if (!dir.exists() || !dir.isReadable()) {
        // The list stays on the folder it showed; the user learns why it did not change.
        if (isVisible())
            m_s.prompts.messageBox(m_s.texts.LoadText(kFolderUnreadable).arg(QDir::toNativeSeparators(path)),
                                   MessageIcon::Exclamation, windowTitle());
        return;
    }
    m_dirPath = QDir::cleanPath(dir.absolutePath());
    m_lblDir->setText(QDir::toNativeSeparators(m_dirPath));
    // The drive list follows the folder to the volume that holds it.
    const int index = m_Drive1->findData(QStorageInfo(m_dirPath).rootPath());
    if (index >= 0)
        m_Drive1->setCurrentIndex(index);
    fillFolders();
    refreshFiles();
}

void frmBrows::fillFolders()
{
    m_Dir1->clear();
    QDir dir(m_dirPath);
    auto add = [this](const QString &text, const QString &path) {
        auto *item = new QListWidgetItem(QIcon(QStringLiteral(":/telvox/ui/dark/folder.svg")), text, m_Dir1);
        item->setData(Qt::UserRole, path);
    };
    if (!dir.isRoot()) {
        QDir up(dir);
        up.cdUp();
        add(QStringLiteral(".."), up.absolutePath());
    }
    const QStringList subs = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString &sub : subs)
        add(sub, dir.filePath(sub));
}

void frmBrows::refreshFiles()
{
    m_File1->clear();
    const QStringList files =
        QDir(m_dirPath).entryList({m_pattern}, QDir::Files | QDir::Hidden, QDir::Name | QDir::IgnoreCase);
    for (const QString &f : files) {
        if (isPromptFileName(f)) // the prompts are not recordings (the setup records them)
            continue;
        new QListWidgetItem(QIcon(QStringLiteral(":/telvox/ui/dark/play.svg")), f, m_File1);
    }
}

void frmBrows::Drive1_Change()
{
    setDirPath(m_Drive1->currentData().toString()); // an unreadable drive leaves the folder as it was
}

void frmBrows::Command1_Click()
{
    if (!m_s.shell.exploreFolder(m_dirPath))
        m_s.prompts.messageBox(m_s.texts.LoadText(kNoFileManager), MessageIcon::Information, windowTitle());
}

void frmBrows::Command2_Click()
{
    m_pattern = QLatin1Char('*') + m_Text1->text().trimmed() + QLatin1Char('*');
    refreshFiles();
}

void frmBrows::File1_DblClick() { m_cmdPlay->click(); }

void frmBrows::mmuPlay_Click() { m_cmdPlay->click(); }

void frmBrows::mmuDelete_Click()
{
    const QListWidgetItem *item = m_File1->currentItem();
    if (!item)
        return;
    QFile::remove(QDir(m_dirPath).filePath(item->text()));
    refreshFiles();
}

} // namespace telvox
