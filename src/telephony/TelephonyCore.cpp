// The line manager: brings the telephony service up, classifies the devices and opens the
// selected lines.

#include "telephony/TelephonyCore.h"

#include "core/EventLoop.h"
#include "core/OptionReader.h"
#include "core/Texts.h"
#include "platform/shell/UserPrompts.h"
#include "records/StatusLog.h"

namespace telvox {

namespace {

constexpr std::uint32_t kOpenPrivileges = 6; // monitor + owner
constexpr int kReadyText[4] = {1021, 1025, 1028, 1031};
constexpr int kCallbackFailureText[4] = {1022, 1026, 1029, 1032};

} // namespace

SetupOptions readSetupOptions(SettingsStore &settings)
{
    const OptionReader options(settings);
    SetupOptions o;
    o.txtRings = options.rings();
    o.actionMan = options.manualAnswer();
    o.popCallId = options.popCallerId();
    o.fastBusy = options.hangUpOnFastBusy();
    return o;
}

TelephonyCore::TelephonyCore(TelephonyServices services)
    : m_s(std::move(services))
    , m_lineTable(m_s.loop, m_s.audio)
    , m_popup(std::make_unique<CallerPopup>(m_s.loop, m_s.settings))
    , m_screen(m_s, m_lineTable, m_phoneBook, m_watch,
               CallScreen::Actions{[this](int n) { AnswerCall(n); }, [this](int n) { withdrawOffer(n); }})
{
    m_popup->setQueryUnloadHandler([this] { m_popCount = 0; });
    m_lineTable.setTimerHandler(CallTimer::Timer1, [this](int n) { Timer1_Timer(n); });
    m_lineTable.setTimerHandler(CallTimer::Timer3, [this](int n) { Timer3_Timer(n); });
    m_lineTable.setTimerHandler(CallTimer::Timer4, [this](int n) { Timer4_Timer(n); });
    m_lineTable.setTimerHandler(CallTimer::timDropCall, [this](int n) { timDropCall_Timer(n); });
}

TelephonyCore::~TelephonyCore() = default;

void TelephonyCore::addStatus(const QString &text) { m_s.status.AddStatus(text); }

void TelephonyCore::setSetupOptions(const SetupOptions &options)
{
    m_options = options;
    m_popup->setManualAnswer(options.actionMan);
}

void TelephonyCore::setRingGaps(const RingGapTable &gaps)
{
    for (int n = 0; n < kLineCount; ++n)
        call(n).useRingGaps(gaps[static_cast<std::size_t>(n)]);
}

void TelephonyCore::setWindowChecks(std::function<bool()> ringCount, std::function<bool()> legal)
{
    m_chkRingCount = std::move(ringCount);
    m_chkLegal = std::move(legal);
}

void TelephonyCore::LoadPhoneBook() { m_phoneBook.LoadPhoneBook(m_s.programFolder + QStringLiteral("/PhoneBook.txt")); }

void TelephonyCore::ResetLineHandles()
{
    m_hLineApp = 0;
    for (int n = 0; n < kLineCount; ++n) {
        m_lineTable.line(n).hLine = 0;
        call(n).released();
    }
}

bool TelephonyCore::InitTapi()
{
    std::uint32_t devices = 0;
    const std::int32_t result = m_s.service.lineInitialize(
        m_hLineApp,
        [this](std::uint32_t device, std::uint32_t message, std::uintptr_t instance, std::uint32_t p1,
               std::uint32_t p2, std::uint32_t p3) { LineCallback(device, message, instance, p1, p2, p3); },
        m_s.appTitle, devices);
    if (result != 0) {
        m_s.prompts.messageBox(m_s.texts.LoadText(1019), MessageIcon::Critical, m_s.appTitle);
        return false;
    }
    m_numDevs = devices;
    if (m_numDevs < 1)
        return true;
    if (m_numDevs > 4)
        m_numDevs = 4;
    for (std::uint32_t d = 0; d < m_numDevs; ++d) {
        std::uint32_t version = 0;
        std::uint64_t extension = 0;
        if (m_s.service.lineNegotiateAPIVersion(m_hLineApp, d, kApiVersionLow, kApiVersionHigh, version, extension) == 0
            && version > m_apiVersion)
            m_apiVersion = version;
    }
    return true;
}

DeviceClassification TelephonyCore::classifyDevices()
{
    DeviceClassification c;
    for (QString &field : c.txtLine)
        field = m_s.texts.LoadText(1070);
    const int count = static_cast<int>(std::min<std::uint32_t>(m_numDevs, 4));
    const QString noVoice = m_s.texts.LoadText(1121);
    for (int d = 0; d < count; ++d) {
        auto &field = c.txtLine[static_cast<std::size_t>(d)];
        auto &enabled = c.enabled[static_cast<std::size_t>(d)];
        LineDevCaps caps;
        const std::int32_t result
            = m_s.service.lineGetDevCaps(m_hLineApp, static_cast<std::uint32_t>(d), m_apiVersion, 0, caps);
        const QString name = result == 0 ? textField(caps.lineName) : QString();
        if (result != 0 || name.isEmpty()) {
            field = m_s.texts.LoadText(1082);
            enabled = false;
            continue;
        }
        const QString modes = QString::number(caps.mediaModes);
        if (caps.mediaModes == (MediaMode::DataModem | MediaMode::InteractiveVoice)) {
            field = QStringLiteral("  [") + modes + noVoice + QStringLiteral("]") + name;
            enabled = false;
            continue;
        }
        field = name + QStringLiteral("  [") + modes + QStringLiteral("]");
        enabled = true;
        if (caps.mediaModes & MediaMode::InteractiveVoice) {
            m_mediaModes[static_cast<std::size_t>(d)] = MediaMode::InteractiveVoice;
        } else if (caps.mediaModes & MediaMode::AutomatedVoice) {
            m_mediaModes[static_cast<std::size_t>(d)] = MediaMode::AutomatedVoice;
        } else {
            field += QStringLiteral(" [") + noVoice + QStringLiteral("]");
            enabled = false;
        }
    }
    for (int k = 0; k < 4; ++k) {
        m_lineTable.line(k).mediaModes = m_mediaModes[static_cast<std::size_t>(k)];
        if (!c.enabled[static_cast<std::size_t>(k)])
            m_s.settings.WriteSetting(QStringLiteral("Config"), QStringLiteral("Line") + QString::number(k),
                                      QStringLiteral("0"));
    }
    return c;
}

void TelephonyCore::OpenLines()
{
    const OptionReader options(m_s.settings);
    for (int k = 0; k < 4; ++k) {
        if (!options.lineSelected(k))
            continue;
        LineData &slot = m_lineTable.line(k);
        HLine opened = 0;
        const std::int32_t result
            = m_s.service.lineOpen(m_hLineApp, static_cast<std::uint32_t>(k), opened, m_apiVersion, 0,
                                   static_cast<std::uintptr_t>(k), kOpenPrivileges, m_mediaModes[static_cast<std::size_t>(k)]);
        if (result < 0) {
            slot.hLine = 0;
            m_s.prompts.messageBox(lineText(k) + QStringLiteral(" Error:  ") + lineResultHex(result),
                                   MessageIcon::Critical, m_s.appTitle);
            continue;
        }
        slot.hLine = opened;
        addStatus(m_s.texts.LoadText(kReadyText[k]));
        if (m_s.service.lineSetStatusMessages(slot.hLine, kLineDevStateRinging, 0) != 0)
            m_s.prompts.messageBox(m_s.texts.LoadText(kCallbackFailureText[k]), MessageIcon::Critical, m_s.appTitle);
    }
}

void TelephonyCore::closeOpenLines()
{
    for (int n = 0; n < kLineCount; ++n) {
        if (m_lineTable[n].hLine != 0)
            m_s.service.lineClose(m_lineTable[n].hLine);
    }
}

void TelephonyCore::lineShutdown() { m_s.service.lineShutdown(m_hLineApp); }

} // namespace telvox
