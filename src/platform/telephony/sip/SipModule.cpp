// The entry point of the SIP module (telvox-sip.so): the only symbol it exports.
#include "platform/telephony/sip/SipModule.h"

#include "platform/telephony/LineBackends.h"

#include <cstring>
#include <type_traits>

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
    int linesRecordingAtOnce() const override { return 4; }
    QString lineReport(int line, const Texts &texts) const override { return m_lines->registrationReport(line, texts); }

private:
    std::unique_ptr<SipTelephony> m_lines;
};

} // namespace

} // namespace telvox::sip

extern "C" __attribute__((visibility("default"))) void telvox_sip_create_backend(
    const telvox::sip::ModuleRequest &request, telvox::sip::ModuleResult &result)
{
    using namespace telvox::sip;
    result.build = kModuleBuild;
    if (request.build == nullptr || std::strcmp(request.build, kModuleBuild) != 0)
        return;
    auto lines = std::make_unique<SipTelephony>(*request.loop, request.lines);
    const QString failure = lines->start();
    if (!failure.isEmpty()) {
        result.notes.append(SipNotice{notice::kCannotStart, {failure}});
        return;
    }
    lines->setStatusHandler(request.status);
    lines->setRefusedHandler(request.refused);
    result.backend = std::make_unique<SipBackend>(std::move(lines));
}

static_assert(std::is_same_v<decltype(&telvox_sip_create_backend), telvox::sip::ModuleEntry>);
