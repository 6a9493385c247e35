#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace telvox::modem {

// What the backend does differently for one family of modem chips. Every difference between
// chips lives here as data; the line logic only reads these fields.
struct ModemProfile
{
    QString id;          // "conexant", "usr", "agere", "generic"
    QString displayName; // for the status list
    // Substrings of the identification answers (ATI0, ATI3, +GMI) that select the profile.
    QStringList identifyBy;
    // Sent after the common initialisation; an ERROR is logged and ignored.
    QStringList extraInit;
    // Caller ID: tried in order until one is accepted.
    QStringList callerIdCommands{QStringLiteral("AT+VCID=1"), QStringLiteral("AT#CID=1")};
    // The modem's own silence detection, switched off: its reports (<DLE>s after 5 s of quiet on
    // USR, any silence on Lucent) would end a message at the caller's first pause. Silence is
    // detected by the stop triggers, as the user's options say.
    QString silenceCommand;
    // The chip's inactivity timer, switched off: Conexant, Rockwell and MultiTech chips leave
    // voice mode when the computer has sent nothing for the +VIT time, and nothing is sent
    // while a message is recorded. A chip that refuses is kept awake with <DLE><NUL>.
    QString inactivityCommand = QStringLiteral("AT+VIT=0");
    // Goes off-hook in voice class: "AT+VLS=1" (V.253) or "ATA" (older firmware).
    QString offHookCommand = QStringLiteral("AT+VLS=1");
    // Voice format methods to try when the modem does not list its formats, best first
    // ("<cml>:<encoding>" with encoding s16, ulaw, alaw, u8, s8).
    QStringList fallbackFormats;
    // The firmware reports a dial tone now and then while playing or recording: <DLE>d is
    // believed only in voice command state.
    bool spuriousDialTone = false;
    // The sample rate argument is given with the method (AT+VSM=<cml>,8000).
    bool vsmWithRate = true;
    // Send-ahead of playback in milliseconds: the modem's transmit buffer must hold it.
    int playLeadMs = 80;
};

// The built-in profiles, the generic V.253 one last.
const QList<ModemProfile> &builtInProfiles();
const ModemProfile &genericProfile();
// The profile whose id is `id`, nullptr when there is none.
const ModemProfile *profileById(const QString &id);
// The profile whose identification substrings appear in `identification` (the answers of
// the identification commands joined); the generic profile when none does.
const ModemProfile &profileFor(const QByteArray &identification);

} // namespace telvox::modem
