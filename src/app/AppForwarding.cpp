// Mail forwarding and call blocking: where the composition root builds and wires them.

#include "app/TelvoxApplication.h"

#include "core/Settings.h"
#include "core/Texts.h"
#include "records/CallBlockList.h"
#include "records/MailForward.h"
#include "records/MessageLists.h"
#include "records/StatusLog.h"
#include "telephony/PhoneBookTable.h"
#include "telephony/TelephonyCore.h"
#include "ui/ModalRunner.h"
#include "ui/frmBlockList.h"
#include "ui/frmMain.h"
#include "ui/frmPopCallID.h"

#include <QAction>
#include <QListView>
#include <QMenu>

namespace telvox {

void TelvoxApplication::startCallScreening()
{
    m_blockList = std::make_unique<CallBlockList>(m_paths.programFolder, readBlockingOptions(*m_settings));
    m_telephony->setCallScreen(m_blockList.get());
}

void TelvoxApplication::startMailForwarding()
{
    // The phonebook's name for a number in the mail's subject.
    auto nameOf = [this](const QString &number) {
        for (int k = 0; k < PhoneBookTable::kEntries; ++k) {
            const auto &entry = m_telephony->phoneBook().entry(k);
            if (!number.isEmpty() && entry.tele.trimmed() == number)
                return entry.name.trimmed();
        }
        return QString();
    };
    m_forwarder = std::make_unique<MailForwarder>(
        MailForwarder::Services{*m_texts, *m_statusLog, m_paths.file(QStringLiteral("MailQueue")), nameOf},
        readForwardOptions(*m_settings, m_paths.programFolder));
    QObject::connect(m_lists.get(), &MessageLists::recordingListed, m_forwarder.get(),
                     [this](const QString &folder, const QString &name, int line) {
                         m_forwarder->recordingListed(folder, name, line);
                     });
    if (m_forwarder->options().enabled)
        m_forwarder->start(); // what an earlier run left in the queue goes first

    // "Block this caller" in the status list's menu, and the caller pop-up's "Block" buttons.
    if (auto *menu = m_main->findChild<QMenu *>(QStringLiteral("mmuLog"))) {
        QAction *block = menu->addAction(m_texts->LoadText(1959));
        block->setObjectName(QStringLiteral("mmuBlockCaller"));
        QObject::connect(block, &QAction::triggered, m_main.get(), [this] {
            const QModelIndex row = m_main->lstStatus()->currentIndex();
            showBlockList(callerNumberFromStatusLine(row.data().toString()).value_or(QString()));
        });
    }
    m_popCallId->setBlockHandler(m_texts->LoadText(1820), [this](const QString &number) { showBlockList(number); });
}

void TelvoxApplication::showBlockList(const QString &number)
{
    frmBlockList editor(frmBlockList::Services{*m_texts, *m_settings, *m_blockList}, m_main.get());
    if (!number.isEmpty())
        editor.offerNumber(number);
    modal().runModal(editor);
}

} // namespace telvox
