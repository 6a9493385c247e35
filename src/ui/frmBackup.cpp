#include "ui/frmBackup.h"
#include "ui/ScreenFit.h"

#include "core/Settings.h"
#include "core/Texts.h"
#include "platform/shell/UserPrompts.h"
#include "records/MessageLists.h"
#include "records/RecordingActions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QStorageInfo>
#include <QVBoxLayout>

namespace telvox {

namespace {

const QString kParent = QStringLiteral("..");
constexpr int kNothingToBackUp = 1703;
constexpr int kFilesCopied = 1704;
constexpr int kFilesMoved = 1705;
constexpr int kOneFileCopied = 1874;
constexpr int kOneFileMoved = 1875;

// Entries added to a list after `before` was taken stay after the restored ones; the oldest
// fall out beyond the list's capacity.
QStringList restoredList(const QStringList &before, const QStringList &now)
{
    QStringList list = before + now;
    while (list.size() > MessageLists::kCapacity)
        list.removeFirst();
    return list;
}

} // namespace

frmBackup::frmBackup(Services services, QWidget *parent)
    : QDialog(parent)
    , m_s(std::move(services))
{
    const Texts &t = m_s.texts;
    setObjectName(QStringLiteral("frmBackup"));
    setWindowTitle(t.LoadText(1034));
    auto *root = new QVBoxLayout(this);
    auto *frame = new QGroupBox(t.LoadText(1035), this);
    frame->setObjectName(QStringLiteral("Frame1"));
    auto *lists = new QHBoxLayout(frame);
    auto *left = new QVBoxLayout;
    m_drive1 = new QComboBox(frame);
    m_drive1->setObjectName(QStringLiteral("Drive1"));
    m_drive1->setAccessibleName(t.LoadText(1448));
    QStringList drives;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        if (volume.isValid() && volume.isReady())
            drives << volume.rootPath();
    }
    drives.removeDuplicates();
    drives.sort();
    drives.removeAll(QStringLiteral("/"));
    drives.prepend(QStringLiteral("/"));
    m_drive1->addItems(drives);
    m_lblFolder = new QLabel(frame);
    m_lblFolder->setObjectName(QStringLiteral("lblFolder"));
    m_dir1 = new QListWidget(frame);
    m_dir1->setObjectName(QStringLiteral("Dir1"));
    m_dir1->setAccessibleName(t.LoadText(1449));
    left->addWidget(m_drive1);
    left->addWidget(m_lblFolder);
    left->addWidget(m_dir1, 1);
    m_file1 = new QListWidget(frame);
    m_file1->setObjectName(QStringLiteral("File1"));
    m_file1->setAccessibleName(t.LoadText(1450));
    m_file1->setSelectionMode(QAbstractItemView::NoSelection);
    lists->addLayout(left, 1);
    lists->addWidget(m_file1, 1);
    root->addWidget(frame, 1);

    m_check1 = new QCheckBox(t.LoadText(1036), this);
    m_check1->setObjectName(QStringLiteral("Check1"));
    m_check1->setChecked(m_s.settings.ReadSetting(QStringLiteral("Config"), QStringLiteral("CopyMove"),
                                                  QStringLiteral("0"))
                         == QLatin1String("1"));
    m_check1->installEventFilter(this);
    root->addWidget(m_check1);
    auto *buttons = new QHBoxLayout;
    m_undo = new QPushButton(t.LoadText(1505), this);
    m_undo->setObjectName(QStringLiteral("cmdUndo"));
    m_undo->setEnabled(false);
    m_ok = new QPushButton(t.LoadText(1037), this);
    m_ok->setObjectName(QStringLiteral("OKButton"));
    m_cancel = new QPushButton(t.LoadText(1038), this);
    m_cancel->setObjectName(QStringLiteral("CancelButton"));
    for (QPushButton *b : {m_undo, m_ok, m_cancel})
        b->setAutoDefault(false);
    buttons->addWidget(m_undo);
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    root->addLayout(buttons);

    connect(m_drive1, &QComboBox::currentTextChanged, this, &frmBackup::Drive1_Change);
    connect(m_dir1, &QListWidget::itemActivated, this, [this](QListWidgetItem *item) {
        setTargetFolder(item->text() == kParent ? QFileInfo(m_folder).dir().absolutePath()
                                                : QDir(m_folder).filePath(item->text()));
    });
    connect(m_ok, &QPushButton::clicked, this, &frmBackup::OKButton_Click);
    connect(m_cancel, &QPushButton::clicked, this, &frmBackup::CancelButton_Click);
    connect(m_undo, &QPushButton::clicked, this, &frmBackup::cmdUndo_Click);

    m_progress = new QProgressDialog(t.LoadText(1034), t.LoadText(1038), 0, 1, this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setWindowTitle(t.LoadText(1034));
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setMinimumDuration(0);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    m_progress->cancel(); // no transfer yet: stays hidden until Ok
    // Wide enough for its whole title (a window manager cuts a long title short otherwise).
    m_progress->setMinimumWidth(m_progress->fontMetrics().horizontalAdvance(t.LoadText(1034)) + 160);

    setTargetFolder(m_s.startFolder);
    resize(620, 420);
    fitOnScreen(*this, buttons);
}

frmBackup::~frmBackup() = default;

void frmBackup::setTargetFolder(const QString &folder)
{
    const QFileInfo info(folder);
    if (!info.isDir())
        return;
    m_folder = info.absoluteFilePath();
    m_lblFolder->setText(QDir::toNativeSeparators(m_folder));
    fillDir1();
    fillFile1();
}

void frmBackup::Drive1_Change() { setTargetFolder(m_drive1->currentText()); }

void frmBackup::fillDir1()
{
    m_dir1->clear();
    const QDir dir(m_folder);
    if (!dir.isRoot())
        m_dir1->addItem(kParent);
    m_dir1->addItems(dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase));
}

void frmBackup::fillFile1()
{
    m_file1->clear();
    m_file1->addItems(QDir(m_folder).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase));
}

void frmBackup::Check1_LostFocus()
{
    m_s.settings.WriteSetting(QStringLiteral("Config"), QStringLiteral("CopyMove"),
                              m_check1->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
}

void frmBackup::OKButton_Click()
{
    const Texts &t = m_s.texts;
    const bool move = m_check1->isChecked();
    const QStringList lastTenBefore = m_s.lists.lastTenEntries();
    const QStringList unreadBefore = m_s.lists.unreadEntries();
    const int recordings = int(recordingFiles(m_s.recordingFolder).size());
    if (recordings == 0) {
        // Nothing to transfer: say so rather than show a progress that never moves.
        m_s.prompts.messageBox(t.LoadText(kNothingToBackUp).arg(QDir::toNativeSeparators(m_s.recordingFolder)),
                               MessageIcon::Information, t.LoadText(1034));
        return;
    }

    m_progress->reset();
    QProgressDialog &progress = *m_progress;
    const FileTransfer::Progress onProgress = [&progress](int done, int total, const QString &file) {
        progress.setMaximum(qMax(total, 1));
        if (!file.isEmpty())
            progress.setLabelText(QFileInfo(file).fileName());
        progress.setValue(done); // lets the window's Cancel be pressed
        return !progress.wasCanceled();
    };
    const FileTransfer::AskConflict ask = [this, &t, &progress](const QString &target) {
        // The question must be answerable: the window-modal progress would block it while
        // showing, so it steps aside until the answer is given.
        const bool progressShown = progress.isVisible();
        progress.hide();
        const MessageResult answer
            = m_s.prompts.messageBox(QLatin1Char('"') + QFileInfo(target).fileName() + QLatin1Char('"') + t.LoadText(1506),
                                     MessageIcon::Question, t.LoadText(1034), MessageButtons::YesNoCancel);
        if (progressShown && answer != MessageResult::Cancel)
            progress.show();
        switch (answer) {
        case MessageResult::Yes:
        case MessageResult::Ok: return FileTransfer::Conflict::Overwrite;
        case MessageResult::No: return FileTransfer::Conflict::Skip;
        case MessageResult::Cancel: break;
        }
        return FileTransfer::Conflict::Cancel;
    };
    const std::optional<FileTransfer::Result> result = BackupRecordings(
        m_s.recordingFolder, m_folder, move, m_s.lists, t, m_s.prompts, m_transfer, onProgress, ask);
    progress.hide();
    if (!result)
        return; // the confirmation was cancelled
    m_last = result;
    m_lastTenBefore = move ? lastTenBefore : QStringList();
    m_unreadBefore = move ? unreadBefore : QStringList();
    m_undo->setEnabled(!result->done.isEmpty() || move);
    fillFile1();
    const int done = int(result->done.size());
    const int skipped = qMax(0, recordings - done);
    const QString report = done == 1 ? t.LoadText(move ? kOneFileMoved : kOneFileCopied).arg(skipped)
                                     : t.LoadText(move ? kFilesMoved : kFilesCopied).arg(done).arg(skipped);
    m_s.prompts.messageBox(report, MessageIcon::Information, t.LoadText(1034));
}

int frmBackup::cmdUndo_Click()
{
    if (!m_last)
        return 0;
    const int undone = m_transfer.undo(*m_last);
    if (m_last->move) {
        m_s.lists.restoreLists(restoredList(m_lastTenBefore, m_s.lists.lastTenEntries()),
                               restoredList(m_unreadBefore, m_s.lists.unreadEntries()), m_s.recordingFolder);
    }
    m_last.reset();
    m_lastTenBefore.clear();
    m_unreadBefore.clear();
    m_undo->setEnabled(false);
    fillFile1();
    return undone;
}

void frmBackup::CancelButton_Click() { reject(); }

bool frmBackup::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_check1 && event->type() == QEvent::FocusOut)
        Check1_LostFocus();
    return QDialog::eventFilter(watched, event);
}

} // namespace telvox
