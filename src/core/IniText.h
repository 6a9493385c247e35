#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVariant>

namespace telvox {

// The options file's text for `values` ("group/key" -> value; a key without a group goes in
// [General]), in the INI form that QSettings reads back to the same values: keys and section
// names escaped where a character has a meaning there, values quoted where they hold one,
// control characters and quotes escaped, a leading "@" doubled. Strings and string lists keep
// their type; other values are written as their text.
QByteArray iniText(const QMap<QString, QVariant> &values);

} // namespace telvox
