#pragma once

#include "platform/telephony/modem/VoiceFormat.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

namespace telvox::modemsim {

// What an emulated chip says and how it behaves: the answers to the identification and
// capability queries, its voice formats and the way it reports caller ID, touch tones and
// the far end hanging up.
struct SimProfile
{
    QString id;
    QMap<int, QByteArray> ati;      // ATIn answers (lines separated by \n); others: ERROR
    QByteArray gmi;
    QByteArray fclassList;
    QList<QByteArray> vsmList;                      // the lines of AT+VSM=?
    QMap<int, modem::VoiceEncoding> vsmEncodings;   // how each method's bytes are made
    int defaultCml = 0;
    bool callerIdSpaced = true;     // "NMBR = 555" rather than "NMBR=555"
    bool forgetsCallerIdOnReset = true;
    bool acceptsVcid = true;        // AT+VCID (else only AT#CID)
    bool acceptsIfc = true;         // AT+IFC (flow control); some Conexant USB sticks refuse it
    bool shieldedDtmf = true;       // <DLE>/ <DLE>5 <DLE>5 ... <DLE>~
    // Silence detection (+VSD): whether the chip really reports, and whether it tells quiet
    // after speech (q) from silence from the start (s); Lucent chips send s for both.
    bool silenceDetection = true;
    bool quietEvent = true;
    // Silence detection whose interval +VSD cannot switch off: this many tenths of a second of
    // quiet are reported whatever +VSD says (0: +VSD alone decides).
    int fixedSilenceTenths = 0;
    // After its silence report the chip ends voice receive by itself (<DLE><ETX>, then OK),
    // off-hook and in voice mode still, waiting for the next command.
    bool silenceEndsReceive = false;
    char hangUpEvent = 'l';         // what the far end hanging up looks like
    bool ringAsDleInVoice = true;   // <DLE>R instead of RING in voice class
    int transmitBufferBytes = 2048;
    bool conexantExtensions = false; // accepts AT-STE and AT-SCID
};

const QList<SimProfile> &simProfiles();
const SimProfile *simProfile(const QString &id);

} // namespace telvox::modemsim
