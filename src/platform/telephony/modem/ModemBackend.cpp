#include "platform/telephony/modem/ModemBackend.h"

#include "core/Texts.h"
#include "platform/telephony/LineBackends.h"
#include "platform/telephony/modem/ModemPorts.h"
#include "platform/telephony/modem/ModemTelephony.h"

namespace telvox::modem {

namespace {

const QString kPortOption = QStringLiteral("modem");

class ModemBackend final : public LineBackend
{
public:
    explicit ModemBackend(std::unique_ptr<ModemTelephony> modems)
        : m_modems(std::move(modems))
    {
    }
    TelephonyService &service() override { return *m_modems; }
    WaveDeviceProvider &waveDevices() override { return *m_modems; }
    void start() override { m_modems->start(); }
    // The line names come from the modems' own identification.
    void beforeLinesOpen() override { m_modems->waitForIdentification(3000); }
    // Let the modems hang up before the process ends.
    void afterShutdown() override { m_modems->finishPendingCommands(2000); }

private:
    std::unique_ptr<ModemTelephony> m_modems;
};

ModemConfig configFor(const LineBackendContext &context)
{
    ModemConfig config = readModemConfig(context.settings);
    // Ports given for this run replace the stored ones and the probe.
    if (const QStringList given = context.options.value(kPortOption); !given.isEmpty()) {
        config.ports = given;
        config.probe = false;
    }
    return config;
}

} // namespace

void registerModemBackend(LineBackendRegistry &registry)
{
    LineBackendFactory factory;
    factory.name = QStringLiteral("modem");
    factory.labelText = 1251; // "Voice modem"
    factory.options.push_back({kPortOption, QStringLiteral("port"),
                               QStringLiteral("Use the voice modem on <port> for the next line (up to four times), "
                                              "in place of the configured ports, for this run only."),
                               4, QStringLiteral("at most four lines")});
    factory.probe = [](const LineBackendContext &context) {
        const ModemConfig config = configFor(context);
        return !config.ports.isEmpty() || config.probe;
    };
    factory.create = [](const LineBackendContext &context, QStringList &notes) -> std::unique_ptr<LineBackend> {
        QList<ModemNotice> said;
        std::unique_ptr<ModemTelephony> modems = createModemTelephony(context.loop, configFor(context), &said);
        for (const ModemNotice &note : std::as_const(said))
            notes << note.format(context.texts);
        if (!modems)
            return nullptr;
        modems->setStatusHandler([status = context.status, &texts = context.texts](const ModemNotice &notice) {
            if (status)
                status(notice.format(texts));
        });
        return std::make_unique<ModemBackend>(std::move(modems));
    };
    registry.add(std::move(factory));
}

} // namespace telvox::modem
