#pragma once

#include <QString>

namespace telvox {

// The folder of the program's own modules relative to the program (lib/<arch>/telvox beside
// bin/ when installed; the build tree mirrors it).
// Opens the module `file` found there, or the one the environment variable `override` names
// (tests, whose programs live elsewhere), once per process, and returns its `symbol`. Null
// when the module or the symbol is missing; `error` then says why.
void *programModuleSymbol(const char *file, const char *override, const char *symbol, QString *error = nullptr);

// This build's stamp: the program hands it to a module's entry points, and a module of
// another build makes nothing.
const char *programModuleBuild();

// The sound module: the sound card's player, recorder and wave devices, with Qt Multimedia and
// the sound server's libraries, loaded when sound is first needed.
inline constexpr const char *kMediaModuleFile = "telvox-media.so";
inline constexpr const char *kMediaModuleOverride = "TELVOX_MEDIA_MODULE";

// The print module: Qt Print Support and the desktop's print dialog, loaded on the first print.
inline constexpr const char *kPrintModuleFile = "telvox-print.so";
inline constexpr const char *kPrintModuleOverride = "TELVOX_PRINT_MODULE";
inline constexpr const char *kPrintModuleEntry = "telvox_print_lines";

} // namespace telvox
