// The setup's values at start-up. Loading reads them without building the setup window, which
// is built when it is first opened: a start then costs what the user sees, not a hidden window
// with every option of the program.

#include "app/TelvoxApplication.h"

#include "audio/AudioStack.h"
#include "audio/RecordingFile.h"
#include "core/OptionReader.h"
#include "core/Settings.h"
#include "core/Texts.h"
#include "telephony/TelephonyCore.h"
#include "ui/frmSetup.h"

#include <QCheckBox>
#include <QLineEdit>

namespace telvox {

namespace {
const QString kConfig = QStringLiteral("Config");

QString lineKey(int n) { return QStringLiteral("Line") + QString::number(n); }
} // namespace

std::optional<std::array<QString, 4>> TelvoxApplication::loadSetupHidden()
{
    std::array<QString, 4> names;
    if (m_setup && m_setup->isFormLoaded()) {
        // Opened already (the first start's setup): its fields are the names.
        for (int n = 0; n < 4; ++n)
            names.at(std::size_t(n)) = m_setup->txtLine(n)->text();
        return names;
    }
    // What loading the window would leave: the devices' names, the lines they cannot carry
    // taken out of use, the first line chosen by default, and the options published.
    const DeviceClassification devices = telephony().classifyDevices();
    std::array<bool, 4> selected{};
    for (int n = 0; n < 4; ++n) {
        const auto k = std::size_t(n);
        names.at(k) = devices.txtLine.at(k).isEmpty() ? texts().LoadText(1070) : devices.txtLine.at(k);
        if (!devices.enabled.at(k))
            settings().WriteSetting(kConfig, lineKey(n), QStringLiteral("0"));
        selected.at(k) = OptionReader(settings()).lineSelected(n);
    }
    selectFirstLineByDefault(selected, devices.enabled.at(0));
    applySetup(readPublishedSetup(settings()));
    return names;
}

void TelvoxApplication::applySetup(const PublishedSetup &published)
{
    audio().setOutputFormat(outputFormatFromSetting(QString::number(published.outputFormat)));
    SetupOptions options = telephony().setupOptions();
    options.txtRings = published.txtRings;
    options.actionMan = published.actionMan;
    options.popCallId = published.popCallId;
    telephony().setSetupOptions(options);
    m_minOnStart = published.minOnStart;
}

bool TelvoxApplication::selectFirstLineByDefault(const std::array<bool, 4> &selected, bool firstLineUsable)
{
    // A store that never chose a line, or a setup never saved (no recordings folder yet) with
    // no line selected, opens Line0, so that a new user's calls are answered and the Virtual
    // Exchange window can try them at once. The setup shows the selection the program will
    // use, the first one included. (Its loading wrote "0" for lines the devices cannot carry.)
    bool anyChoice = false;
    bool anySelected = false;
    for (int k = 0; k < 4; ++k) {
        anyChoice = anyChoice || !settings().ReadSetting(kConfig, lineKey(k)).isEmpty();
        anySelected = anySelected || selected.at(std::size_t(k));
    }
    const bool neverSaved = !OptionReader(settings()).recordingFolderChosen();
    if (anySelected || (anyChoice && !neverSaved) || !firstLineUsable)
        return false;
    // A default the next start derives again: saved with the loading's next save.
    settings().WriteSettingLater(m_loop, kConfig, lineKey(0), QStringLiteral("1"));
    return true;
}

} // namespace telvox
