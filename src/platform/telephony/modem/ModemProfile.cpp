#include "platform/telephony/modem/ModemProfile.h"

namespace telvox::modem {

namespace {

QList<ModemProfile> makeProfiles()
{
    QList<ModemProfile> profiles;

    ModemProfile conexant;
    conexant.id = QStringLiteral("conexant");
    conexant.displayName = QStringLiteral("Conexant CX930xx");
    conexant.identifyBy = {QStringLiteral("CONEXANT"), QStringLiteral("CX93"), QStringLiteral("CX06"),
                           QStringLiteral("CX20")};
    // Extension pick-up reports and the line-in-use bit; the chip forgets +VCID on reset.
    conexant.extraInit = {QStringLiteral("AT-STE=3")};
    conexant.silenceCommand = QStringLiteral("AT+VSD=128,0");
    // No 16-bit format: mu-law is the best it has.
    conexant.fallbackFormats = {QStringLiteral("131:ulaw"), QStringLiteral("132:alaw"), QStringLiteral("130:u8")};
    conexant.playLeadMs = 60;
    profiles << conexant;

    ModemProfile usr;
    usr.id = QStringLiteral("usr");
    usr.displayName = QStringLiteral("U.S. Robotics 5637");
    usr.identifyBy = {QStringLiteral("U.S. Robotics"), QStringLiteral("USRobotics"), QStringLiteral("5601")};
    usr.silenceCommand = QStringLiteral("AT+VSD=128,0");
    usr.fallbackFormats = {QStringLiteral("129:s16"), QStringLiteral("131:ulaw"), QStringLiteral("128:u8")};
    usr.spuriousDialTone = true;
    usr.playLeadMs = 80;
    profiles << usr;

    ModemProfile agere;
    agere.id = QStringLiteral("agere");
    agere.displayName = QStringLiteral("Agere/Lucent");
    agere.identifyBy = {QStringLiteral("Agere"), QStringLiteral("Lucent"), QStringLiteral("LT V.92"),
                        QStringLiteral("Venus")};
    agere.silenceCommand = QStringLiteral("AT+VSD=128,0");
    agere.fallbackFormats = {QStringLiteral("129:s16"), QStringLiteral("131:ulaw"), QStringLiteral("128:u8")};
    agere.playLeadMs = 80;
    profiles << agere;

    ModemProfile generic;
    generic.id = QStringLiteral("generic");
    generic.displayName = QStringLiteral("V.253 voice modem");
    generic.fallbackFormats = {QStringLiteral("4:ulaw"), QStringLiteral("5:alaw"), QStringLiteral("1:u8")};
    generic.playLeadMs = 60;
    profiles << generic;
    return profiles;
}

} // namespace

const QList<ModemProfile> &builtInProfiles()
{
    static const QList<ModemProfile> profiles = makeProfiles();
    return profiles;
}

const ModemProfile &genericProfile() { return builtInProfiles().back(); }

const ModemProfile *profileById(const QString &id)
{
    for (const ModemProfile &p : builtInProfiles()) {
        if (p.id.compare(id, Qt::CaseInsensitive) == 0)
            return &p;
    }
    return nullptr;
}

const ModemProfile &profileFor(const QByteArray &identification)
{
    const QString text = QString::fromLatin1(identification);
    for (const ModemProfile &p : builtInProfiles()) {
        for (const QString &key : p.identifyBy) {
            if (text.contains(key, Qt::CaseInsensitive))
                return p;
        }
    }
    return genericProfile();
}

} // namespace telvox::modem
