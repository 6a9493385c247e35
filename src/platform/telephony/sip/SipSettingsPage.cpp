#include "platform/telephony/sip/SipSettingsPage.h"

namespace telvox::sip {

LineSettingsPage sipSettingsPage()
{
    using Kind = LineSettingsField::Kind;
    LineSettingsPage page;
    page.name = QStringLiteral("frameSip");
    page.section = QStringLiteral("SIP");
    page.titleText = 1980;      // "SIP lines"
    page.lineChoiceText = 1442; // "Line to set up"
    page.noteText = 1986;       // where the password is kept
    const auto text = [](const char *key, int label, const char *placeholder = "") {
        LineSettingsField f;
        f.key = QLatin1String(key);
        f.labelText = label;
        f.placeholder = QLatin1String(placeholder);
        return f;
    };
    page.fields.push_back(text("Registrar", 1981, "fritz.box"));
    page.fields.push_back(text("User", 1982));
    LineSettingsField password = text("Password", 1983);
    password.kind = Kind::Secret;
    page.fields.push_back(password);
    page.fields.push_back(text("Listen", 1984, "127.0.0.1:5070"));
    LineSettingsField transport = text("Transport", 1985);
    transport.kind = Kind::Choice;
    transport.choices = {QStringLiteral("udp"), QStringLiteral("tcp"), QStringLiteral("tls")};
    transport.defaultValue = QStringLiteral("udp");
    page.fields.push_back(transport);
    page.fields.push_back(text("Proxy", 1205, "proxy.example.net"));
    const auto number = [&text](const char *key, int label, int minimum, int maximum, int defaultValue) {
        LineSettingsField f = text(key, label);
        f.kind = Kind::Number;
        f.minimum = minimum;
        f.maximum = maximum;
        f.defaultValue = QString::number(defaultValue);
        return f;
    };
    page.fields.push_back(number("Expires", 1206, 60, 86400, 600)); // seconds of a registration
    LineSettingsField cadence = text("RingCadence", 1207);
    // "on/off" in milliseconds, up to three pairs
    cadence.pattern = QStringLiteral("\\d{1,5}(/\\d{1,5}){0,5}");
    cadence.defaultValue = QStringLiteral("2000/4000");
    page.fields.push_back(cadence);
    page.fields.push_back(number("JitterMs", 1208, 20, 500, 60));
    return page;
}

} // namespace telvox::sip
