#include "SimProfiles.h"

namespace telvox::modemsim {

using modem::VoiceEncoding;

namespace {

QList<SimProfile> makeProfiles()
{
    QList<SimProfile> list;

    SimProfile cx;
    cx.id = QStringLiteral("conexant");
    cx.conexantExtensions = true;
    cx.ati = {{0, "56000"}, {1, "OK"}, {2, "OK"}, {3, "CX93001-EIS_V0.2013-V92"}, {4, "OK"}, {5, "OK"},
              {6, "OK"}, {7, "OK"}};
    cx.acceptsIfc = false;     // the 0572:1329 stick
    cx.silenceDetection = false; // +VSD is accepted and does nothing
    cx.gmi = "+GMI: CONEXANT";
    cx.fclassList = "0,1,1.0,2,8";
    cx.vsmList = {"0,\"SIGNED PCM\",8,0,8000,0,0",      "1,\"UNSIGNED PCM\",8,0,8000,0,0",
                  "129,\"IMA ADPCM\",4,0,8000,0,0",     "130,\"UNSIGNED PCM\",8,0,8000,0,0",
                  "131,\"Mu-Law\",8,0,8000,0,0",        "132,\"A-Law\",8,0,8000,0,0",
                  "133,\"14 bit PCM\",14,0,8000,0,0"};
    cx.vsmEncodings = {{0, VoiceEncoding::Signed8},
                       {1, VoiceEncoding::Unsigned8},
                       {130, VoiceEncoding::Unsigned8},
                       {131, VoiceEncoding::MuLaw},
                       {132, VoiceEncoding::ALaw}};
    cx.defaultCml = 130;
    cx.callerIdSpaced = true;
    cx.forgetsCallerIdOnReset = true;
    cx.shieldedDtmf = true;
    cx.hangUpEvent = 'l';
    list << cx;

    SimProfile usr;
    usr.id = QStringLiteral("usr");
    usr.ati = {{0, "5601"}, {1, "A0A4"}, {2, "OK"}, {3, "U.S. Robotics 56K FAX USB V1.2.23"},
               {4, "U.S. Robotics 56K FAX USB Settings...\n   B0  E1  F1  L2  M1  Q0  V1  X4  Y0"},
               {6, "U.S. Robotics 56K FAX USB Link Diagnostics...\n   Terminated  .......  LOCAL"},
               {7, "Configuration Profile...\nProduct type           US/Canada USB\nOptions                V32bis,V.80,V.34+,V.90,V.92"}};
    usr.gmi = "U.S. Robotics";
    usr.fclassList = "(0,1,2,8)";
    usr.vsmList = {"128,\"8-BIT LINEAR\",8,0,(7200,8000,11025),(0),(0)",
                   "129,\"16-BIT LINEAR\",16,0,(7200,8000,11025),(0),(0)",
                   "130,\"8-BIT ALAW\",8,0,(8000),(0),(0)",
                   "131,\"8-BIT ULAW\",8,0,(8000),(0),(0)",
                   "132,\"IMA ADPCM\",4,0,(7200,8000,11025),(0),(0)"};
    usr.vsmEncodings = {{128, VoiceEncoding::Unsigned8},
                        {129, VoiceEncoding::Signed16},
                        {130, VoiceEncoding::ALaw},
                        {131, VoiceEncoding::MuLaw}};
    usr.defaultCml = 128;
    usr.callerIdSpaced = false;
    usr.forgetsCallerIdOnReset = false;
    usr.shieldedDtmf = false;
    usr.hangUpEvent = 'b';
    usr.transmitBufferBytes = 4096;
    list << usr;

    // A U.S. Robotics voice modem as its manual describes voice receive: two seconds of quiet
    // bring the silence report, and the modem then leaves voice receive on its own, whatever
    // +VSD asked for.
    SimProfile usrQuits = usr;
    usrQuits.id = QStringLiteral("usr-silence-ends");
    usrQuits.ati[3] = "U.S. Robotics 56K Voice USB V1.3.2";
    usrQuits.fixedSilenceTenths = 20;
    usrQuits.silenceEndsReceive = true;
    list << usrQuits;

    SimProfile agere;
    agere.id = QStringLiteral("agere");
    agere.ati = {{0, "56000"}, {1, "OK"}, {2, "OK"}, {3, "LT V.92 Data+Fax Modem Version 8.30"}, {4, "OK"},
                 {5, "OK"}, {6, "OK"}, {7, "OK"}};
    agere.gmi = "Agere Systems";
    agere.fclassList = "0,1,2,8";
    agere.vsmList = {"128,\"8-BIT LINEAR\",8,0,(7200,8000,11025),(0),(0)",
                     "129,\"16-BIT LINEAR\",16,0,(7200,8000,11025),(0),(0)",
                     "130,\"8-BIT ALAW\",8,0,(8000),(0),(0)", "131,\"8-BIT ULAW\",8,0,(8000),(0),(0)",
                     "132,\"IMA ADPCM\",4,0,(7200,8000,11025),(0),(0)"};
    agere.vsmEncodings = usr.vsmEncodings;
    agere.defaultCml = 128;
    agere.callerIdSpaced = false;
    agere.forgetsCallerIdOnReset = true;
    agere.shieldedDtmf = true;
    agere.quietEvent = false; // <DLE>s for any silence
    agere.hangUpEvent = 'd';
    list << agere;

    // A plain V.253 voice modem: the standard method numbers, nothing vendor-specific.
    SimProfile generic;
    generic.id = QStringLiteral("generic");
    generic.ati = {{0, "33600"}, {3, "V.253 Voice Modem 1.0"}};
    generic.gmi = "GENERIC";
    generic.fclassList = "(0,1,8)";
    generic.vsmList = {"0,\"SIGNED PCM\",8,0,(8000),(0),(0)", "1,\"UNSIGNED PCM\",8,0,(8000),(0),(0)",
                       "4,\"G.711 MU-LAW\",8,0,(8000),(0),(0)", "5,\"G.711 A-LAW\",8,0,(8000),(0),(0)"};
    generic.vsmEncodings = {{0, VoiceEncoding::Signed8},
                            {1, VoiceEncoding::Unsigned8},
                            {4, VoiceEncoding::MuLaw},
                            {5, VoiceEncoding::ALaw}};
    generic.defaultCml = 1;
    generic.callerIdSpaced = false;
    generic.forgetsCallerIdOnReset = false;
    generic.shieldedDtmf = false;
    generic.hangUpEvent = 'b';
    list << generic;
    return list;
}

} // namespace

const QList<SimProfile> &simProfiles()
{
    static const QList<SimProfile> profiles = makeProfiles();
    return profiles;
}

const SimProfile *simProfile(const QString &id)
{
    for (const SimProfile &p : simProfiles()) {
        if (p.id.compare(id, Qt::CaseInsensitive) == 0)
            return &p;
    }
    return nullptr;
}

} // namespace telvox::modemsim
