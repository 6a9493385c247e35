#include "platform/telephony/sip/SipConfig.h"

#include "core/Settings.h"

namespace telvox::sip {

namespace {
QString key(int line, const char *name) { return QStringLiteral("Line%1%2").arg(line).arg(QLatin1String(name)); }
} // namespace

std::vector<SipLineConfig> readSipConfig(const SettingsStore &store)
{
    std::vector<SipLineConfig> lines;
    const QString section = QLatin1String(kSipSection);
    for (int n = 0; n < 4; ++n) {
        const QString listen = store.ReadSetting(section, key(n, "Listen")).trimmed();
        const QString registrar = store.ReadSetting(section, key(n, "Registrar")).trimmed();
        if (listen.isEmpty() && registrar.isEmpty())
            continue;
        SipLineConfig line;
        line.setup.listenAddress = listen;
        line.setup.registrar = registrar;
        line.setup.defaultPort = 5060 + n;
        line.setup.allowFrom = store.ReadSetting(section, key(n, "AllowFrom")).trimmed();
        line.setup.authUser = store.ReadSetting(section, key(n, "AuthUser")).trimmed();
        line.setup.password = store.ReadSetting(section, key(n, "Password"));
        line.setup.outboundProxy = store.ReadSetting(section, key(n, "Proxy")).trimmed();
        const QString transport = store.ReadSetting(section, key(n, "Transport")).trimmed().toLower();
        if (transport == QLatin1String("tcp") || transport == QLatin1String("tls"))
            line.setup.transport = transport;
        const QString srtp = store.ReadSetting(section, key(n, "Srtp")).trimmed().toLower();
        if (srtp == QLatin1String("off"))
            line.setup.srtp = SipLineSetup::Srtp::Off;
        else if (srtp == QLatin1String("required"))
            line.setup.srtp = SipLineSetup::Srtp::Required;
        line.setup.certificate = store.ReadSetting(section, key(n, "Certificate")).trimmed();
        line.setup.caFile = store.ReadSetting(section, key(n, "CaFile")).trimmed();
        const int expires = store.ReadSetting(section, key(n, "Expires")).toInt();
        if (expires >= 60)
            line.setup.expiresSeconds = expires;
        const QString user = store.ReadSetting(section, key(n, "User")).trimmed();
        if (!user.isEmpty())
            line.setup.user = user;
        bool ok = false;
        const int jitter = store.ReadSetting(section, key(n, "JitterMs")).toInt(&ok);
        if (ok && jitter > 0)
            line.setup.jitterMs = jitter;
        line.setup.telephoneEvents = store.ReadSetting(section, key(n, "TelephoneEvents"), QStringLiteral("1")) != QLatin1String("0");
        std::vector<int> cadence;
        for (const QString &part : store.ReadSetting(section, key(n, "RingCadence")).split(QLatin1Char('/'))) {
            const int ms = part.trimmed().toInt(&ok);
            if (ok && ms > 0)
                cadence.push_back(ms);
        }
        if (!cadence.empty())
            line.ringCadenceMs = cadence;
        lines.push_back(line);
    }
    return lines;
}

} // namespace telvox::sip
