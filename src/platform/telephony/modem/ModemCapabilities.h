#pragma once

#include "platform/telephony/modem/VoiceFormat.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace telvox::modem {

// One entry of the AT+VSM=? list.
struct VsmEntry
{
    int cml = -1;
    QString name;
    int bits = 0;
    QList<int> rates;
};

// The chosen voice data format: the method to select and how its bytes are read.
struct VoiceFormatChoice
{
    int cml = -1;
    VoiceEncoding encoding = VoiceEncoding::Unsigned8;
};

// Splits "a,(b,c),"d,e"" at the commas that are not inside parentheses or quotes.
QStringList splitTopLevel(const QString &text);
// The values of a range list such as "(0,1,1.0,2,8)" or "0-2,8" or "+FCLASS: 0,1,8".
QStringList parseValueList(const QByteArray &line);
// The classes of AT+FCLASS=? (one or more answer lines).
QStringList parseClasses(const QList<QByteArray> &lines);
// The methods of AT+VSM=? (each line one method; a "+VSM: " prefix is allowed).
QList<VsmEntry> parseVsmList(const QList<QByteArray> &lines);
// How the bytes of a listed method are to be read; nothing for methods we do not decode.
std::optional<VoiceEncoding> encodingOf(const VsmEntry &entry);
// The best format of the list at 8000 samples/s: 16-bit linear, then mu-law, A-law, 8-bit
// unsigned and 8-bit signed linear. `maxBytesPerSecond` (0: no limit) leaves out the formats
// a slow serial link cannot carry: 16-bit audio needs 16000 bytes a second (230400 bit/s).
std::optional<VoiceFormatChoice> chooseVoiceFormat(const QList<VsmEntry> &entries, int maxBytesPerSecond = 0);
// "131:ulaw" -> {131, MuLaw}.
std::optional<VoiceFormatChoice> parseFormatCode(const QString &entry);

} // namespace telvox::modem
