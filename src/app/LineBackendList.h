#pragma once

#include <memory>

class QWidget;

namespace telvox {

class LineBackend;
class LineBackendRegistry;
class Texts;

// Registers every line backend of the program, in the order they are asked for lines: the
// backends of platform/telephony/ as listed in cmake/TelvoxBackends.cmake (SIP lines when the
// settings configure any; voice modems when ports are stored, given with --modem, or found),
// then the virtual exchange, which always builds. A backend whose command-line option is
// given on this run is asked before the others.
void registerLineBackends(LineBackendRegistry &registry);

// Registers the listed backends of platform/telephony/ in their order; written by the build
// from the list of backends (cmake/TelvoxBackends.cmake).
void registerListedLineBackends(LineBackendRegistry &registry);

// The window that drives a backend's lines by hand, for the main window's Ctrl+Shift+V: the
// virtual exchange's far ends. Null for a backend without one (real lines).
std::unique_ptr<QWidget> lineControlsWindow(LineBackend &backend, const Texts &texts);

} // namespace telvox
