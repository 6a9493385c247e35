#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QIODevice;

namespace telvox {

// The program's text files (the day logs, Rings.txt, callerid.txt, dtmf.txt, settings.txt)
// are in the system's encoding with CR LF line ends.

// The lines of `file` from its current position to the end, without line ends (a last line
// ending in CR LF gives no extra empty line).
QStringList readLocalLines(QIODevice &file);
// The lines of the file at `path`; none when it cannot be read.
QStringList readLocalLines(const QString &path);
// `line` encoded, with CR LF.
QByteArray localLine(const QString &line);
// Text from outside (a caller's number or name) as it may be stored in a text file or shown:
// every control character (line breaks, escape, ...), line or paragraph separator and
// invisible format character (direction overrides) becomes '?', so that the text stays one
// line, cannot forge another, and cannot drive a terminal or reorder what is shown.
QString printableText(const QString &text);
// Appends `line` with CR LF to the file at `path` (created when missing); false when that
// could not be done completely; `reason` then gets the system's reason.
bool appendLocalLine(const QString &path, const QString &line, QString *reason = nullptr);

} // namespace telvox
