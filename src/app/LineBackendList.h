#pragma once

#include <memory>

class QWidget;

namespace telvox {

class LineBackend;
class LineBackendRegistry;
class Texts;

// Registers every line backend of the program, in the order they are asked for lines:
//   1. "sip"      SIP lines, when the settings configure any;
//   2. "modem"    voice modems, when ports are stored, given with --modem, or found;
//   3. "virtual"  the virtual exchange, which always builds.
// A backend whose command-line option is given on this run is asked before the others.
void registerLineBackends(LineBackendRegistry &registry);

// The window that drives a backend's lines by hand, for the main window's Ctrl+Shift+V: the
// virtual exchange's far ends. Null for a backend without one (real lines).
std::unique_ptr<QWidget> lineControlsWindow(LineBackend &backend, const Texts &texts);

} // namespace telvox
