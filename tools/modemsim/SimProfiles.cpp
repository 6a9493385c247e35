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
    cx.ati0 = "56000";
    cx.ati3 = "CX93001-EIS_V0.2013-V92";
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
    usr.ati0 = "5601";
    usr.ati3 = "U.S. Robotics 56K FAX USB V1.2.23";
    usr.gmi = "U.S. Robotics";
    usr.fclassList = "(0,1,2,8)";
    usr.vsmList = {"+VSM: 128,\"8-BIT LINEAR\",8,0,(7200,8000,11025),(0),(0)",
                   "+VSM: 129,\"16-BIT LINEAR\",16,0,(7200,8000,11025),(0),(0)",
                   "+VSM: 130,\"8-BIT ALAW\",8,0,(8000),(0),(0)",
                   "+VSM: 131,\"8-BIT ULAW\",8,0,(8000),(0),(0)",
                   "+VSM: 132,\"IMA ADPCM\",4,0,(7200,8000,11025),(0),(0)"};
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

    SimProfile agere;
    agere.id = QStringLiteral("agere");
    agere.ati0 = "56000";
    agere.ati3 = "LT V.92 Data+Fax Modem Version 8.30";
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
    agere.acceptsVcid = false; // only the "#" caller-ID command
    agere.shieldedDtmf = true;
    agere.hangUpEvent = 'd';
    list << agere;
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
