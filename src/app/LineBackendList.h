#pragma once

namespace telvox {

class LineBackendRegistry;

// Registers every line backend of the program, in the order they are asked for lines:
//   1. "sip"      SIP lines, when the settings configure any;
//   2. "modem"    voice modems, when ports are stored, given with --modem, or found;
//   3. "virtual"  the virtual exchange, which always builds.
// A backend whose command-line option is given on this run is asked before the others.
void registerLineBackends(LineBackendRegistry &registry);

} // namespace telvox
