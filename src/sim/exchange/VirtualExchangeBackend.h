#pragma once

namespace telvox {

class LineBackend;
class LineBackendRegistry;
class VirtualExchange;

// Registers the virtual exchange as a line backend named "virtual": it always has lines (four
// virtual devices) and always builds, so it carries the lines when no other backend does.
void registerVirtualExchangeBackend(LineBackendRegistry &registry);

// The virtual exchange behind a backend built by the registry; null for any other backend.
// Its far ends are driven from outside (the Virtual Exchange window, scenario steps, tests).
VirtualExchange *virtualExchangeOf(LineBackend *backend);

} // namespace telvox
