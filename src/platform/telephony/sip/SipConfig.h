#pragma once

#include "platform/telephony/sip/SipTelephony.h"

#include <QStringList>

#include <memory>
#include <vector>

namespace telvox {
class EventLoop;
class SettingsStore;
} // namespace telvox

namespace telvox::sip {

// The SIP lines as the settings store keeps them (section "SIP", keys per line n = 0 .. 3):
//   Line<n>Listen       the direct listening address "host:port" (callers dial
//                       sip:<user>@host:port); empty: line n is not a SIP line
//   Line<n>User         the user part callers use (default "telvox")
//   Line<n>RingCadence  ring on/off in milliseconds, "2000/4000" by default: one ring is
//                       counted at the start of each period while the INVITE is unanswered
//   Line<n>JitterMs     receive delay absorbing network jitter (default 60)
//   Line<n>TelephoneEvents  "0": touch tones in the audio only, no RFC 4733 events offered
inline constexpr const char *kSipSection = "SIP";

std::vector<SipLineConfig> readSipConfig(const SettingsStore &store);

// The SIP backend when SIP lines are configured and their addresses could be bound;
// nullptr otherwise, with the reason in `notes`.
std::unique_ptr<SipTelephony> createSipTelephony(EventLoop &loop, const SettingsStore &store, QStringList *notes);

} // namespace telvox::sip
