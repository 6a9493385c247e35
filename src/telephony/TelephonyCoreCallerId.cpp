// Caller ID: the number and name of the caller, where they are kept and shown.

#include "telephony/TelephonyCore.h"

#include "core/TextFile.h"
#include "core/EventLoop.h"
#include "core/Texts.h"
#include "telephony/AudioActions.h"
#include "records/CallRecords.h"
#include "records/StatusLog.h"

#include <QFile>

namespace telvox {

namespace {

const QString kUnknown = QStringLiteral("UNKNOWN");

} // namespace

int TelephonyCore::OnCallerId(HCall call)
{
    int n = m_lineTable.lineOfCall(call);
    if (n < 0)
        n = 0;
    m_popup->ClearPopupLabels();

    LineCallInfo info;
    if (m_s.service.lineGetCallInfo(call, info) != 0)
        return -1;
    // The caller chooses these bytes. From here on they are kept and shown printable only:
    // the status list, the day log, callerid.txt, the pop-up, the settings, the dialler and
    // the recording's file name all get the same one-line text.
    m_callerNumber = (info.callerIdFlags & CallPartyId::Address) ? printableText(textField(info.callerIdNumber)) : kUnknown;
    m_callerName = (info.callerIdFlags & CallPartyId::Name) ? printableText(textField(info.callerIdName)) : kUnknown;
    if (m_screen.screen(call, info))
        return 1;

    for (int i = 0; i < kLineCount; ++i) {
        if (m_lineTable[i].hCall == call)
            this->call(i).setCaller(m_callerNumber);
    }
    addStatus(QStringLiteral("CallerID:") + m_callerNumber);
    appendCallerIdFile();
    const QString shownName = showCaller(n);
    if (m_watch.callerId)
        m_watch.callerId(n, m_callerNumber == kUnknown ? QString() : m_callerNumber, shownName, false);

    {
        SettingsStore::Batch batch(m_s.settings);
        m_s.settings.WriteSetting(QStringLiteral("Config"), QStringLiteral("Last_CallerID"), m_callerNumber);
        if (m_setDialOut)
            m_setDialOut(m_callerNumber);
        AddReceivedCall(m_s.store, m_callerNumber);
    }

    if (m_options.popCallId) {
        if (!m_popup->isVisible())
            m_popup->show();
        m_popup->refreshFrame();
        m_popup->restartDisplayTimer();
    }
    return 1;
}

void TelephonyCore::appendCallerIdFile()
{
    // The caller-ID file is a trace for the user; when it cannot be written the caller still
    // reaches the lists, the pop-up and the call records. Said once until it works again.
    const QString callerIdFile = m_s.programFolder + QStringLiteral("/callerid.txt");
    QString reason;
    if (!appendLocalLine(callerIdFile, m_callerNumber, &reason)) {
        if (!m_callerIdFileFailing)
            m_s.status.AddAlarm(m_s.texts.LoadText(1855).arg(callerIdFile, reason));
        m_callerIdFileFailing = true;
    } else if (m_callerIdFileFailing) {
        m_callerIdFileFailing = false;
        addStatus(m_s.texts.LoadText(1857).arg(callerIdFile));
    }
}

QString TelephonyCore::showCaller(int line)
{
    CallerPopup::Row &row = m_popup->row(line);
    row.labelsVisible = true;
    row.callerId = m_callerNumber + QLatin1Char(' ');
    row.callerName = m_callerName + QLatin1Char(' ');
    bool listed = false;
    for (int k = 0; k < PhoneBookTable::kEntries; ++k) {
        const PhoneBookTable::Entry &entry = m_phoneBook.entry(k);
        if (entry.tele.trimmed() == m_callerNumber) {
            const QString name = printableText(entry.name.trimmed());
            addStatus(name);
            row.callerName = name;
            listed = true;
        }
    }
    if (!listed)
        keepSentName();
    m_popup->refreshFrame();
    return row.callerName.trimmed();
}

void TelephonyCore::keepSentName()
{
    // The name the line gave (a SIP display name) stands in where the phonebook has none: in
    // the status list and the day log as a phonebook name is, and in the mail of the message.
    if (m_callerName == kUnknown || m_callerName.trimmed().isEmpty())
        return;
    addStatus(m_callerName);
    if (m_callerNumber == kUnknown)
        return;
    if (m_sentNames.size() >= 64)
        m_sentNames.clear();
    m_sentNames.insert(m_callerNumber, m_callerName);
}

void TelephonyCore::cmdAnswer_Click(int line)
{
    call(line).takenBy(Answerer::Person);
    AnswerCall(line);
    CallerPopup::Row &row = m_popup->row(line);
    row.answerVisible = false;
    row.hangupVisible = true;
    m_popup->refreshFrame();
}

void TelephonyCore::cmdHangup_Click(int line)
{
    LineCall &c = call(line);
    bool dialledEnded = false;
    const RecState was = c.stopRecording(StopReason::HungUp, &dialledEnded);
    dialledCallEnded(line, dialledEnded);
    if (was == RecState::Recording)
        addStatus(m_s.texts.LoadText(1033));
    c.drop();
    m_popup->row(line).hangupVisible = false;
    m_popup->refreshFrame();
    --m_popCount;
    if (m_popCount < 1) {
        m_popCount = 0;
        m_popup->unload();
    }
}

void TelephonyCore::withdrawOffer(int line)
{
    if (!m_options.actionMan || !m_popup->row(line).answerVisible)
        return;
    // The manual-answer pop-up offered the call at its offering; it is withdrawn.
    CallerPopup::Row &row = m_popup->row(line);
    row.answerVisible = false;
    row.hangupVisible = false;
    m_popup->refreshFrame();
    if (--m_popCount < 1) {
        m_popCount = 0;
        m_popup->unload();
    }
}

} // namespace telvox
