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
    QByteArray ati0;
    QByteArray ati3;
    QByteArray gmi;
    QByteArray fclassList;
    QList<QByteArray> vsmList;                      // the lines of AT+VSM=?
    QMap<int, modem::VoiceEncoding> vsmEncodings;   // how each method's bytes are made
    int defaultCml = 0;
    bool callerIdSpaced = true;     // "NMBR = 555" rather than "NMBR=555"
    bool forgetsCallerIdOnReset = true;
    bool acceptsVcid = true;        // AT+VCID (else only AT#CID)
    bool shieldedDtmf = true;       // <DLE>/ <DLE>5 <DLE>5 ... <DLE>~
    char hangUpEvent = 'l';         // what the far end hanging up looks like
    bool ringAsDleInVoice = true;   // <DLE>R instead of RING in voice class
    int transmitBufferBytes = 2048;
    bool conexantExtensions = false; // accepts AT-STE and AT-SCID, refuses AT+IFC
};

const QList<SimProfile> &simProfiles();
const SimProfile *simProfile(const QString &id);

} // namespace telvox::modemsim
