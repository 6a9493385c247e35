#include "platform/telephony/sip/SipBackend.h"

#include "core/Texts.h"
#include "platform/telephony/LineBackends.h"
#include "platform/telephony/sip/SipConfig.h"

namespace telvox::sip {

namespace {

class SipBackend final : public LineBackend
{
public:
    explicit SipBackend(std::unique_ptr<SipTelephony> lines)
        : m_lines(std::move(lines))
    {
    }
    TelephonyService &service() override { return *m_lines; }
    WaveDeviceProvider &waveDevices() override { return *m_lines; }

private:
    std::unique_ptr<SipTelephony> m_lines;
};

} // namespace

void registerSipBackend(LineBackendRegistry &registry)
{
    LineBackendFactory factory;
    factory.name = QStringLiteral("sip");
    factory.probe = [](const LineBackendContext &context) { return !readSipConfig(context.settings).empty(); };
    factory.create = [](const LineBackendContext &context, QStringList &notes) -> std::unique_ptr<LineBackend> {
        QList<SipNotice> said;
        std::unique_ptr<SipTelephony> lines = createSipTelephony(context.loop, context.settings, &said);
        for (const SipNotice &note : std::as_const(said))
            notes << note.format(context.texts);
        if (!lines)
            return nullptr;
        lines->setStatusHandler([status = context.status, &texts = context.texts](const SipNotice &note) {
            if (status)
                status(note.format(texts));
        });
        return std::make_unique<SipBackend>(std::move(lines));
    };
    registry.add(std::move(factory));
}

} // namespace telvox::sip
