// Placing a call from the dialler.

#include "telephony/TelephonyCore.h"

#include "core/Texts.h"
#include "platform/shell/UserPrompts.h"

namespace telvox {

bool TelephonyCore::MakeCall(int line, const QString &number)
{
    // A line number outside 0..3 (typed into the line box) names no open line either.
    if (line < 0 || line >= kLineCount || m_lineTable[line].hLine == 0) {
        m_s.prompts.messageBox(m_s.texts.LoadText(1742), MessageIcon::Critical, m_s.appTitle);
        return false;
    }
    if (number.isEmpty())
        return false;
    // The result is a request identifier; only a positive one means the call is being placed.
    return call(line).place(m_s.service, number) > 0;
}

} // namespace telvox
