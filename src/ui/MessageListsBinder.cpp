#include "ui/MessageListsBinder.h"
#include "core/Texts.h"
#include "ui/MessageColumns.h"
#include "ui/WavePlayer.h"

#include "core/EventLoop.h"
#include "platform/shell/MailClient.h"
#include "platform/shell/UserPrompts.h"
#include "records/MailForward.h"
#include "records/MessageLists.h"
#include "records/RecordingActions.h"
#include "records/StatusLog.h"
#include "telephony/PhoneBookTable.h"
#include "ui/frmMain.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>

namespace telvox {

namespace {
constexpr int kPlayAll = 1751;
constexpr int kMailTo = 1752;
constexpr int kBlockCaller = 1959;
} // namespace

MessageListsBinder::MessageListsBinder(Services services, QObject *parent)
    : QObject(parent)
    , m_s(std::move(services))
    , m_lstLastTen(m_s.window.findChild<QListWidget *>(QStringLiteral("lstLastTen")))
    , m_lstUnread(m_s.window.findChild<QListWidget *>(QStringLiteral("lstUnread")))
    , m_lblFileName(m_s.window.findChild<QLabel *>(QStringLiteral("lblFileName")))
    , m_cmdPlay(m_s.window.findChild<QPushButton *>(QStringLiteral("cmdPlay")))
    , m_cmdPause(m_s.window.findChild<QPushButton *>(QStringLiteral("cmdPause")))
{
    MessageLists &lists = m_s.lists;
    // Each widget follows its own list only.
    const auto follow = [this](QStringListModel &model, QListWidget *widget) {
        const auto refillWidget = [this, &model, widget] { refill(widget, model.stringList()); };
        connect(&model, &QAbstractItemModel::rowsInserted, this, refillWidget);
        connect(&model, &QAbstractItemModel::rowsRemoved, this, refillWidget);
        connect(&model, &QAbstractItemModel::modelReset, this, refillWidget);
        connect(&model, &QAbstractItemModel::dataChanged, this, refillWidget);
        refillWidget();
    };
    follow(lists.lastTen(), m_lstLastTen);
    follow(lists.unread(), m_lstUnread);
    watchPhoneBook();

    // The tray counts the unread messages, and each new one is announced (the list model
    // inserts a row first and names it after).
    m_announced = lists.unreadEntries();
    const auto unreadChanged = [this](bool announcing) {
        const QStringList entries = m_s.lists.unreadEntries();
        m_s.window.setUnreadCount(int(entries.size()));
        for (const QString &entry : entries) {
            if (announcing && !entry.isEmpty() && !m_announced.contains(entry))
                announce(entry);
        }
        m_announced = entries;
    };
    connect(&lists.unread(), &QAbstractItemModel::rowsRemoved, this, [unreadChanged] { unreadChanged(false); });
    connect(&lists.unread(), &QAbstractItemModel::modelReset, this, [unreadChanged] { unreadChanged(false); });
    connect(&lists.unread(), &QAbstractItemModel::rowsInserted, this, [unreadChanged] { unreadChanged(true); });
    connect(&lists.unread(), &QAbstractItemModel::dataChanged, this, [unreadChanged] { unreadChanged(true); });
    unreadChanged(false);
    connect(&m_s.window, &frmMain::messageActionChosen, this, &MessageListsBinder::messageActionChosen);
    connect(&m_s.window, &frmMain::playNewestRequested, this, [this] {
        // The newest message: the last unread one, or else the last handled one.
        const qsizetype unread = m_s.lists.unreadEntries().size();
        if (unread > 0)
            m_s.lists.lstUnread_Click(int(unread - 1));
        else if (const qsizetype handled = m_s.lists.lastTenEntries().size(); handled > 0)
            m_s.lists.lstLastTen_Click(int(handled - 1));
        else
            return;
        pressPlay();
    });

    // Selection by program shows in the widgets; a click by the user goes to the lists.
    connect(&lists, &MessageLists::lastTenSelected, this, [this](int row) {
        const QSignalBlocker block(m_lstLastTen);
        m_lstLastTen->setCurrentRow(row);
    });
    connect(&lists, &MessageLists::unreadSelected, this, [this](int row) {
        const QSignalBlocker block(m_lstUnread);
        m_lstUnread->setCurrentRow(row);
    });
    connect(&lists, &MessageLists::currentRecordingChanged, this, [this](const QString &name, bool fromUnread) {
        m_s.window.setCurrentRecording(name, fromUnread);
        // While a recording plays or is paused, "Name:" keeps naming that one.
        const WavePlayer *player = m_s.window.player();
        if (m_lblFileName && (!player || player->isIdle()))
            m_lblFileName->setText(name);
    });
    connect(m_lstLastTen, &QListWidget::itemClicked, this,
            [this](QListWidgetItem *item) { m_s.lists.lstLastTen_Click(m_lstLastTen->row(item)); });
    connect(m_lstUnread, &QListWidget::itemClicked, this,
            [this](QListWidgetItem *item) { m_s.lists.lstUnread_Click(m_lstUnread->row(item)); });
    connect(m_lstLastTen, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *item) {
        m_s.lists.lstLastTen_Click(m_lstLastTen->row(item));
        pressPlay();
    });
    connect(m_lstUnread, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *item) {
        m_s.lists.lstUnread_Click(m_lstUnread->row(item));
        pressPlay();
    });
    connect(&m_s.window, &frmMain::unreadPlayed, this, [this] { m_s.lists.markSelectedUnreadAsHeard(); });

    // The pop-up menus, with the captions of the window design.
    QMenu *mmuFile = m_s.window.findChild<QMenu *>(QStringLiteral("mmuFile"));
    QMenu *mmuFile1 = m_s.window.findChild<QMenu *>(QStringLiteral("mmuFile1"));
    const auto caption = [this](int id, const char *design) {
        return m_s.texts ? m_s.texts->LoadText(id) : QString::fromUtf8(design);
    };
    if (mmuFile && mmuFile->isEmpty()) {
        QAction *play = mmuFile->addAction(caption(1015, "播放"));
        play->setObjectName(QStringLiteral("mmuPlay"));
        m_mmumailto = mmuFile->addAction(caption(kMailTo, "Mail To..."));
        m_mmumailto->setObjectName(QStringLiteral("mmumailto"));
        QAction *del = mmuFile->addAction(caption(1721, "删除"));
        del->setObjectName(QStringLiteral("mmuDelete"));
        connect(play, &QAction::triggered, this, &MessageListsBinder::mmuPlay_Click);
        connect(m_mmumailto, &QAction::triggered, this, &MessageListsBinder::mmumailto_Click);
        connect(del, &QAction::triggered, &m_s.lists, &MessageLists::mmuDelete_Click);
    }
    if (mmuFile1 && mmuFile1->isEmpty()) {
        QAction *play = mmuFile1->addAction(caption(1015, "播放"));
        play->setObjectName(QStringLiteral("mmuPlay1"));
        QAction *all = mmuFile1->addAction(caption(kPlayAll, "顺序播放"));
        all->setObjectName(QStringLiteral("mmuPlayAll"));
        QAction *del = mmuFile1->addAction(caption(1721, "删除"));
        del->setObjectName(QStringLiteral("mmuDelete1"));
        connect(play, &QAction::triggered, this, &MessageListsBinder::mmuPlay1_Click);
        connect(all, &QAction::triggered, this, &MessageListsBinder::mmuPlayAll_Click);
        connect(del, &QAction::triggered, &m_s.lists, &MessageLists::mmuDelete1_Click);
    }
    // Both menus offer to block the caller of the chosen recording (when its name has a number).
    for (auto [menu, name] : {std::pair{mmuFile, "mmuBlockFile"}, std::pair{mmuFile1, "mmuBlockFile1"}}) {
        if (!menu || menu->findChild<QAction *>(QLatin1String(name)))
            continue;
        QAction *block = menu->addAction(caption(kBlockCaller, "Block this caller"));
        block->setObjectName(QLatin1String(name));
        connect(block, &QAction::triggered, this, [this] {
            const QString number = recordingFacts(m_s.lists.currentRecording()).number;
            if (!number.isEmpty())
                emit blockCallerRequested(number);
        });
        connect(menu, &QMenu::aboutToShow, block,
                [this, block] { block->setEnabled(!recordingFacts(m_s.lists.currentRecording()).number.isEmpty()); });
    }
    for (auto [widget, menu] : {std::pair{m_lstLastTen, mmuFile}, std::pair{m_lstUnread, mmuFile1}}) {
        widget->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(widget, &QListWidget::customContextMenuRequested, this,
                [widget = widget, menu = menu](const QPoint &pos) { menu->popup(widget->viewport()->mapToGlobal(pos)); });
    }
    m_s.timPlayAll.setCallback([this] { timPlayAll_Timer(); });
}

void MessageListsBinder::announce(const QString &entry)
{
    // Who called and for how long, as the lists' columns show it; without texts, the name.
    if (!m_s.texts) {
        m_s.window.announceMessage(entry, entry);
        return;
    }
    const std::vector<phonebook::Entry> book =
        m_s.phoneBookPath.isEmpty() ? std::vector<phonebook::Entry>{} : phonebook::readRecords(m_s.phoneBookPath);
    m_s.window.announceMessage(entry, messageAnnouncement(messageFacts(m_s.recordFolder, entry, book), *m_s.texts));
}

void MessageListsBinder::messageActionChosen(const QString &entry, const QString &action)
{
    // The message may have been played or deleted since it was announced: then nothing.
    const int row = int(m_s.lists.unreadEntries().indexOf(entry));
    if (row < 0)
        return;
    m_s.lists.lstUnread_Click(row);
    if (action == QLatin1String("play")) {
        m_s.window.bringToFront();
        pressPlay();
    } else if (action == QLatin1String("read")) {
        m_s.lists.markSelectedUnreadAsHeard();
    }
}

void MessageListsBinder::refill(QListWidget *widget, const QStringList &entries)
{
    const QSignalBlocker block(widget);
    const int row = widget->currentRow();
    widget->clear();
    widget->addItems(entries);
    // The columns beside the file name: read afresh on each change of the list.
    const std::vector<phonebook::Entry> book =
        m_s.phoneBookPath.isEmpty() ? std::vector<phonebook::Entry>{} : phonebook::readRecords(m_s.phoneBookPath);
    for (int i = 0; i < widget->count(); ++i) {
        QListWidgetItem *item = widget->item(i);
        const MessageFacts facts = messageFacts(m_s.recordFolder, item->text(), book);
        item->setData(kWhenRole, facts.when);
        item->setData(kLengthRole, facts.length);
        item->setData(kCallerRole, facts.caller);
    }
    if (row >= 0 && row < widget->count())
        widget->setCurrentRow(row);
}

void MessageListsBinder::watchPhoneBook()
{
    if (m_s.phoneBookPath.isEmpty())
        return;
    // The file itself for edits in place, and its folder for a file written anew (the
    // editors replace it) or made for the first time. The folder changes often (logs,
    // settings): only a new state of the phonebook file refills the lists.
    m_phoneBookWatch = new QFileSystemWatcher(this);
    m_phoneBookWatch->addPath(QFileInfo(m_s.phoneBookPath).absolutePath());
    const auto stamp = [this] {
        const QFileInfo file(m_s.phoneBookPath);
        return file.exists() ? QStringLiteral("%1/%2").arg(file.lastModified().toMSecsSinceEpoch()).arg(file.size())
                             : QString();
    };
    m_phoneBookStamp = stamp();
    const auto phoneBookChanged = [this, stamp](bool always) {
        const QString now = stamp();
        if (!now.isEmpty() && !m_phoneBookWatch->files().contains(m_s.phoneBookPath))
            m_phoneBookWatch->addPath(m_s.phoneBookPath);
        if (!always && now == m_phoneBookStamp)
            return;
        m_phoneBookStamp = now;
        refill(m_lstLastTen, m_s.lists.lastTenEntries());
        refill(m_lstUnread, m_s.lists.unreadEntries());
    };
    connect(m_phoneBookWatch, &QFileSystemWatcher::fileChanged, this, [phoneBookChanged] { phoneBookChanged(true); });
    connect(m_phoneBookWatch, &QFileSystemWatcher::directoryChanged, this,
            [phoneBookChanged] { phoneBookChanged(false); });
    if (!m_phoneBookStamp.isEmpty())
        m_phoneBookWatch->addPath(m_s.phoneBookPath);
}

void MessageListsBinder::stopWatching()
{
    if (!m_phoneBookWatch)
        return;
    const QStringList watched = m_phoneBookWatch->files() + m_phoneBookWatch->directories();
    if (!watched.isEmpty())
        m_phoneBookWatch->removePaths(watched);
}

void MessageListsBinder::pressPlay()
{
    if (m_cmdPlay && m_cmdPlay->isEnabled())
        m_cmdPlay->click();
}

bool MessageListsBinder::playerIdle() const
{
    return m_cmdPlay && m_cmdPause && m_cmdPlay->isEnabled() && m_cmdPause->isEnabled();
}

void MessageListsBinder::mmuPlay_Click()
{
    m_s.lists.lstLastTen_Click(m_lstLastTen->currentRow());
    pressPlay();
}

void MessageListsBinder::mmuPlay1_Click()
{
    m_s.lists.lstUnread_Click(m_lstUnread->currentRow());
    pressPlay();
}

void MessageListsBinder::mmuPlayAll_Click() { m_s.timPlayAll.setEnabled(true); }

void MessageListsBinder::timPlayAll_Timer()
{
    if (!playerIdle())
        return;
    if (m_s.lists.unreadEntries().isEmpty()) {
        m_s.timPlayAll.setEnabled(false);
        return;
    }
    m_s.lists.lstUnread_Click(0); // the oldest first
    pressPlay();
}

void MessageListsBinder::mmumailto_Click()
{
    if (!m_s.texts) {
        MailRecording(m_s.mail, m_s.prompts, m_s.recordFolder, m_s.lists.currentRecording());
        return;
    }
    // In the program's own words: which file is missing, or that no mail program took it.
    const Texts &t = *m_s.texts;
    const QString name = m_s.lists.currentRecording();
    const QString path = QDir(m_s.recordFolder).filePath(name);
    if (name.isEmpty() || !QFile::exists(path)) {
        m_s.prompts.messageBox(t.LoadText(1002) + QStringLiteral(": ") + name, MessageIcon::Critical, t.LoadText(kMailTo));
        return;
    }
    if (m_s.mail.composeWithAttachment(name, path) != 0)
        m_s.prompts.messageBox(t.LoadText(1710), MessageIcon::Information, t.LoadText(kMailTo));
}

QString MessageListsBinder::mmuAddPB_Click(int statusRow)
{
    const QStringList &lines = m_s.statusList.lines();
    const QString line = statusRow >= 0 && statusRow < lines.size() ? lines.at(statusRow) : QString();
    const auto number = callerNumberFromStatusLine(line);
    if (!number) {
        m_s.prompts.messageBox(QStringLiteral("Plese select a Caller ID entry"), MessageIcon::Information,
                               QStringLiteral("Add Caller ID To Phonebook"));
        return QString();
    }
    return *number;
}

} // namespace telvox
