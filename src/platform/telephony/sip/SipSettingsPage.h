#pragma once

#include "platform/telephony/LineSettingsPage.h"

namespace telvox::sip {

// The SIP lines' page of the setup window: for each of the four lines, an account at a
// registrar (router, provider, PBX) or a direct listening address, in the "SIP" section.
LineSettingsPage sipSettingsPage();

} // namespace telvox::sip
