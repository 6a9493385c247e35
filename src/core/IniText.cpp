#include "core/IniText.h"

#include <QStringList>

namespace telvox {

namespace {

bool isHexDigit(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

QByteArray hex(uint value, int digits)
{
    return QByteArray::number(value, 16).toUpper().rightJustified(digits, '0');
}

// A key or a section name: letters, digits, "_", "-" and "." as they are; "/" (a key inside a
// key) as "\"; anything else as %XX, or %UXXXX beyond Latin-1 (each half of a surrogate pair).
QByteArray escapedName(const QString &name)
{
    QByteArray out;
    out.reserve(name.size());
    for (const QChar qc : name) {
        const char16_t c = qc.unicode();
        if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_'
            || c == u'-' || c == u'.')
            out += char(c);
        else if (c == u'/')
            out += '\\';
        else if (c <= 0xFF)
            out += '%' + hex(c, 2);
        else
            out += "%U" + hex(c, 4);
    }
    return out;
}

// One string value. Plain printable ASCII without the characters that mean something in a
// value stays as it is; anything else is quoted. Inside, the backslash, the quote and control
// characters are escaped; a hexadecimal escape followed by a hex digit closes and reopens the
// quotes, since the reader takes every hex digit that follows into the escape.
// `typed`: the value names its type ("@ByteArray(...)"), so its "@" is not doubled.
QByteArray escapedValue(const QString &value, bool typed = false)
{
    QString text = value;
    if (!typed && text.startsWith(u'@'))
        text.prepend(u'@'); // read back as one "@"; a single one would name a type
    bool quote = !text.isEmpty()
                 && (text.front() == u' ' || text.front() == u'\t' || text.back() == u' ' || text.back() == u'\t');
    QByteArray out;
    QString run; // plain characters not yet encoded
    bool afterHexEscape = false;
    for (const QChar qc : std::as_const(text)) {
        const char16_t c = qc.unicode();
        const char *escape = nullptr;
        switch (c) {
        case u'\\': escape = "\\\\"; break;
        case u'"': escape = "\\\""; break;
        case u'\n': escape = "\\n"; break;
        case u'\r': escape = "\\r"; break;
        case u'\t': escape = "\\t"; break;
        default: break;
        }
        if (escape || c < 0x20 || c == 0x7F) {
            quote = true;
            out += run.toUtf8();
            run.clear();
            out += escape ? QByteArray(escape) : "\\x" + hex(c, 1);
            afterHexEscape = !escape;
            continue;
        }
        if (c == u',' || c == u';' || c == u'=' || c == u'"' || c > 0x7E)
            quote = true;
        if (afterHexEscape && isHexDigit(c)) {
            out += run.toUtf8();
            run.clear();
            out += "\"\"";
        }
        afterHexEscape = false;
        run += qc;
    }
    out += run.toUtf8();
    return quote ? '"' + out + '"' : out;
}

QByteArray valueText(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return escapedValue(value.toString());
    case QMetaType::QStringList: {
        const QStringList items = value.toStringList();
        if (items.isEmpty())
            return "@Invalid()";
        // (A list of one item reads back as that string, as with QSettings' own writer.)
        QByteArray out;
        for (const QString &item : items) {
            if (!out.isEmpty())
                out += ", ";
            out += escapedValue(item);
        }
        return out;
    }
    case QMetaType::QByteArray:
        return escapedValue(QStringLiteral("@ByteArray(") + QString::fromLatin1(value.toByteArray()) + u')', true);
    case QMetaType::UnknownType:
        return "@Invalid()";
    default:
        return escapedValue(value.toString());
    }
}

} // namespace

QByteArray iniText(const QMap<QString, QVariant> &values)
{
    // Sections in the order of their names; the keys without one first, in [General].
    QMap<QString, QList<QPair<QString, const QVariant *>>> sections;
    for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
        const qsizetype slash = it.key().indexOf(u'/');
        const QString section = slash < 0 ? QString() : it.key().left(slash);
        sections[section].append({slash < 0 ? it.key() : it.key().mid(slash + 1), &it.value()});
    }
    QByteArray out;
    for (auto it = sections.constBegin(); it != sections.constEnd(); ++it) {
        if (!out.isEmpty())
            out += '\n';
        if (it.key().isEmpty())
            out += "[General]\n";
        else if (it.key().compare(QLatin1String("general"), Qt::CaseInsensitive) == 0)
            out += "[%" + it.key().toLatin1() + "]\n"; // "[General]" would be the keys without one
        else
            out += '[' + escapedName(it.key()) + "]\n";
        for (const auto &[key, value] : it.value())
            out += escapedName(key) + '=' + valueText(*value) + '\n';
    }
    return out;
}

} // namespace telvox
