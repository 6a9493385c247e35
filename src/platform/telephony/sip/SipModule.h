#pragma once

#include "platform/telephony/sip/SipNotice.h"
#include "platform/telephony/sip/SipTelephony.h"

#include <QList>

#include <functional>
#include <memory>
#include <vector>

namespace telvox {
class EventLoop;
class LineBackend;
} // namespace telvox

// The SIP lines live in a module of their own (telvox-sip.so), loaded only when the settings
// configure a SIP line, so that a start without SIP lines does not load the SIP stack and the
// TLS libraries it needs. The program and the module come from the same build: they share the
// types below, and the module compares `build` before it touches anything else.
namespace telvox::sip {

// The program's version and the number of this interface (raised whenever the structures
// below or the entry point change): a module of another build is refused, not run.
inline constexpr const char *kModuleBuild = TELVOX_VERSION "/2";
// The module's file name, and the entry point it exports (a ModuleEntry).
inline constexpr const char *kModuleFile = "telvox-sip.so";
inline constexpr const char *kModuleEntry = "telvox_sip_create_backend";

struct ModuleRequest
{
    const char *build = kModuleBuild; // first: read before anything else
    EventLoop *loop = nullptr;
    std::vector<SipLineConfig> lines;
    // Registration news while the lines run (called on the user-interface thread).
    std::function<void(const SipNotice &)> status;
    // A caller turned away before the call flow saw the call (the line was busy): the number
    // ("" when unknown), for the call records.
    std::function<void(const QString &)> refused;
};

struct ModuleResult
{
    // The module's kModuleBuild (set even when the two differ); first, like the request's.
    const char *build = nullptr;
    // Null when the lines could not start; `notes` then says why.
    std::unique_ptr<LineBackend> backend;
    QList<SipNotice> notes;
};

using ModuleEntry = void (*)(const ModuleRequest &request, ModuleResult &result);

} // namespace telvox::sip
