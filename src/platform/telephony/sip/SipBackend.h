#pragma once

namespace telvox {
class LineBackendRegistry;
}

namespace telvox::sip {

// Registers the SIP lines as a line backend named "sip": lines of its own when the "SIP"
// section of the settings configures any.
void registerSipBackend(LineBackendRegistry &registry);

} // namespace telvox::sip
