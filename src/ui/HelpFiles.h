#pragma once

#include <QString>

namespace telvox {

// The help file of a language offset: "helpen.htm" (0), "helpgb.htm" (1000), "helpbig5.htm"
// (2000).
QString helpFileName(int languageOffset);

// Puts the help file of the language (and its picture) into the program folder, replacing an
// older copy, and returns its path; empty when it cannot be written.
QString installHelpFile(const QString &programFolder, int languageOffset);

} // namespace telvox
