#pragma once

namespace telvox {
class LineBackendRegistry;
}

namespace telvox::modem {

// Registers the voice modems as a line backend named "modem": lines of its own when ports are
// stored in the "VoiceModem" section, given with --modem for this run, or found by probing the
// serial ports.
void registerModemBackend(LineBackendRegistry &registry);

} // namespace telvox::modem
