// Call blocking's commands in the windows (the call system screens the calls).

#include "app/TelvoxApplication.h"

#include "core/Texts.h"
#include "records/CallBlockList.h"
#include "records/MessageLists.h"
#include "ui/MessageListsBinder.h"
#include "ui/ModalRunner.h"
#include "ui/frmBlockList.h"
#include "ui/frmMain.h"
#include "ui/frmPopCallID.h"

namespace telvox {

void TelvoxApplication::addBlockingCommands()
{
    // "Block this caller" in the status list's menu, and the caller pop-up's "Block" buttons.
    QObject::connect(m_main.get(), &frmMain::blockCallerRequested, m_main.get(), [this](const QString &statusLine) {
        showBlockList(callerNumberFromStatusLine(statusLine).value_or(QString()));
    });
    QObject::connect(m_listsBinder.get(), &MessageListsBinder::blockCallerRequested, m_main.get(),
                     [this](const QString &number) { showBlockList(number); });
    m_popCallId->setBlockHandler(texts().LoadText(1820), [this](const QString &number) { showBlockList(number); });
}

void TelvoxApplication::showBlockList(const QString &number)
{
    frmBlockList editor(frmBlockList::Services{texts(), settings(), blockList(), m_system->messageStore()}, m_main.get());
    if (!number.isEmpty())
        editor.offerNumber(number);
    modal().runModal(editor);
}

} // namespace telvox
