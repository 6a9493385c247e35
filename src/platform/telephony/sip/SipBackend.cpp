#include "platform/telephony/sip/SipBackend.h"
#include "platform/telephony/sip/SipSettingsPage.h"

#include "core/Settings.h"
#include "core/Texts.h"
#include "platform/telephony/LineBackends.h"
#include "platform/telephony/sip/SipConfig.h"
#include "platform/telephony/sip/SipModule.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

#include <algorithm>
#include <cstring>

namespace telvox::sip {

namespace {

// The module, loaded on the first call and kept for the life of the process (the backend it
// builds runs its code until the end).
struct LoadedModule
{
    ModuleEntry entry = nullptr;
    SipNotice failure; // when entry is null
};

QString modulePath()
{
    const QString given = qEnvironmentVariable("TELVOX_SIP_MODULE");
    if (!given.isEmpty())
        return given;
    // Where the installation puts it relative to the program (the build tree mirrors it).
    const QString program = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return QDir::cleanPath(QFileInfo(program).absolutePath() + QLatin1Char('/') +
                           QStringLiteral(TELVOX_SIP_MODULE_DIR) + QLatin1Char('/') + QLatin1String(kModuleFile));
}

LoadedModule loadModule()
{
    LoadedModule module;
    const QString path = modulePath();
    if (!QFileInfo::exists(path)) {
        module.failure = SipNotice{notice::kModuleMissing, {path}};
        return module;
    }
    void *handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        module.failure = SipNotice{notice::kModuleUnloadable, {path, QString::fromLocal8Bit(dlerror())}};
        return module;
    }
    module.entry = reinterpret_cast<ModuleEntry>(dlsym(handle, kModuleEntry));
    if (!module.entry)
        module.failure = SipNotice{notice::kModuleOtherBuild, {path, QStringLiteral("?"), QLatin1String(kModuleBuild)}};
    return module;
}

const LoadedModule &sipModule()
{
    static const LoadedModule module = loadModule();
    return module;
}

// The SIP lines of the settings, built by the module; null with the reason in `notes` when the
// module cannot be loaded or the lines cannot start.
std::unique_ptr<LineBackend> createSipLines(const LineBackendContext &context, QStringList &notes)
{
    ModuleRequest request;
    request.loop = &context.loop;
    request.lines = readSipConfig(context.settings);
    if (request.lines.empty())
        return nullptr;
    // A password in the store, however it got there: only its owner may read the file.
    if (std::any_of(request.lines.begin(), request.lines.end(),
                    [](const SipLineConfig &l) { return !l.setup.password.isEmpty(); }))
        QFile::setPermissions(context.settings.storeFile(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const LoadedModule &module = sipModule();
    if (!module.entry) {
        notes << module.failure.format(context.texts);
        return nullptr;
    }
    request.status = [status = context.status, &texts = context.texts](const SipNotice &note) {
        if (status)
            status(note.format(texts));
    };
    request.refused = context.callRefused;
    ModuleResult result;
    module.entry(request, result);
    if (!result.build || std::strcmp(result.build, kModuleBuild) != 0) {
        notes << SipNotice{notice::kModuleOtherBuild,
                           {modulePath(), QLatin1String(result.build ? result.build : "?"),
                            QLatin1String(kModuleBuild)}}
                     .format(context.texts);
        return nullptr;
    }
    for (const SipNotice &note : std::as_const(result.notes))
        notes << note.format(context.texts);
    return std::move(result.backend);
}

} // namespace

void registerSipBackend(LineBackendRegistry &registry)
{
    LineBackendFactory factory;
    factory.name = QStringLiteral("sip");
    factory.labelText = 1252; // "SIP line"
    factory.settingsPage = &sipSettingsPage;
    factory.probe = [](const LineBackendContext &context) { return !readSipConfig(context.settings).empty(); };
    factory.create = &createSipLines;
    registry.add(std::move(factory));
}

} // namespace telvox::sip
