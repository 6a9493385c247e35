#pragma once

// The words of one line of a scenario file and the cursor the parser reads them with
// (Scenario.cpp holds the statements, this the lexical level).

#include "platform/telephony/TelephonyService.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace telvox::sim::scenario {

struct Token
{
    QString text;
    bool quoted = false;
    int column = 0;
};

struct ParseFailure
{
    int column;
    QString message;
};

// Splits one line into words and quoted strings; '#' outside quotes starts a comment.
// Quoted strings know the escapes \" \\ \n \r \t \0 and \xHH (one byte).
bool tokenize(const QString &line, std::vector<Token> &tokens, ParseFailure &failure);
// Bytes of a quoted text: characters up to U+00FF are single bytes (so "\xFF" is the byte
// 0xFF); anything above is written in UTF-8.
QByteArray toBytes(const QString &text);
// The names of the line service's error codes a scenario may use.
const std::map<QString, std::int32_t> &errorNames();
// Milliseconds of "1500", "1500ms" or "1.5s"; -1 when the text is no such time.
std::int64_t timeValue(QString text);

// Reads the tokens of one statement from left to right.
class Cursor
{
public:
    Cursor(const std::vector<Token> &tokens, int lineLength)
        : m_tokens(tokens)
        , m_end(lineLength + 1)
    {
    }

    bool atEnd() const { return m_index >= m_tokens.size(); }
    int column() const { return atEnd() ? m_end : m_tokens[m_index].column; }
    const Token &peek() const { return m_tokens[m_index]; }

    Token take(const QString &what)
    {
        if (atEnd())
            throw ParseFailure{m_end, QStringLiteral("expected ") + what};
        return m_tokens[m_index++];
    }
    QString word(const QString &what)
    {
        const Token t = take(what);
        if (t.quoted)
            throw ParseFailure{t.column, QStringLiteral("expected ") + what + QStringLiteral(", found quoted text")};
        return t.text;
    }
    QString quoted(const QString &what)
    {
        const Token t = take(what);
        if (!t.quoted)
            throw ParseFailure{t.column, QStringLiteral("expected ") + what + QStringLiteral(" in double quotes")};
        return t.text;
    }
    std::int64_t integer(const QString &what, std::int64_t low, std::int64_t high)
    {
        const Token t = take(what);
        bool ok = false;
        std::int64_t value = 0;
        if (t.text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            value = static_cast<std::int64_t>(t.text.mid(2).toULongLong(&ok, 16));
        else
            value = t.text.toLongLong(&ok, 10);
        if (t.quoted || !ok)
            throw ParseFailure{t.column, QStringLiteral("expected ") + what + QStringLiteral(", found \"") + t.text
                                             + QStringLiteral("\"")};
        if (value < low || value > high)
            throw ParseFailure{t.column, what + QStringLiteral(" must lie between %1 and %2").arg(low).arg(high)};
        return value;
    }
    // A time: "1500", "1500ms" or "1.5s".
    std::int64_t time(const QString &what)
    {
        const Token t = take(what);
        const std::int64_t value = t.quoted ? -1 : timeValue(t.text);
        if (value < 0)
            throw ParseFailure{t.column, QStringLiteral("expected ") + what + QStringLiteral(" (ms, or seconds with s)")};
        return value;
    }
    // A time or a window of two times, "1s" or "900..1.2s" (both ends included).
    std::pair<std::int64_t, std::int64_t> timeWindow(const QString &what)
    {
        const Token t = take(what);
        const QStringList ends = t.text.split(QStringLiteral(".."));
        const std::int64_t from = t.quoted || ends.size() > 2 ? -1 : timeValue(ends.first());
        const std::int64_t to = ends.size() == 2 ? timeValue(ends.last()) : from;
        if (from < 0 || to < from)
            throw ParseFailure{t.column, QStringLiteral("expected ") + what
                                             + QStringLiteral(" (a time, or a window such as 900..1.2s)")};
        return {from, to};
    }
    // A byte count or a range of them, "16044" or "16000..20000".
    std::pair<std::int64_t, std::int64_t> byteRange(const QString &what)
    {
        const Token t = take(what);
        const QStringList ends = t.text.split(QStringLiteral(".."));
        bool okFrom = false;
        bool okTo = false;
        const std::int64_t from = ends.first().toLongLong(&okFrom);
        const std::int64_t to = ends.size() == 2 ? ends.last().toLongLong(&okTo) : from;
        if (ends.size() == 1)
            okTo = okFrom;
        if (t.quoted || ends.size() > 2 || !okFrom || !okTo || from < 0 || to < from)
            throw ParseFailure{t.column, QStringLiteral("expected ") + what
                                             + QStringLiteral(" (a number, or a range such as 16000..20000)")};
        return {from, to};
    }
    std::int32_t errorCode()
    {
        const Token t = take(QStringLiteral("an error code"));
        const auto &names = errorNames();
        if (const auto it = names.find(t.text.toUpper()); it != names.end())
            return it->second;
        bool ok = false;
        const qulonglong value = t.text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
                                     ? t.text.mid(2).toULongLong(&ok, 16)
                                     : t.text.toULongLong(&ok, 16);
        if (!ok || value == 0 || value > 0xFFFFFFFFull)
            throw ParseFailure{t.column, QStringLiteral("unknown error code \"") + t.text + QStringLiteral("\"")};
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    }
    void expectEnd()
    {
        if (!atEnd())
            throw ParseFailure{peek().column, QStringLiteral("unexpected \"") + peek().text + QStringLiteral("\"")};
    }

private:
    const std::vector<Token> &m_tokens;
    std::size_t m_index = 0;
    int m_end;
};

} // namespace telvox::sim::scenario
