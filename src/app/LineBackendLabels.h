#pragma once

#include <QString>

#include <array>

namespace telvox {

class Texts;

// What the setup window shows beside each of the four lines: the backend that carries it
// ("virtual", "modem" or "sip", as the backends registered themselves) on the lines the backend
// has (0 .. lineCount - 1); nothing beside a line no backend carries.
std::array<QString, 4> lineBackendLabels(const QString &backendName, int lineCount, const Texts &texts);

} // namespace telvox
