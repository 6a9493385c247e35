#pragma once

#include <QHash>
#include <QString>

#include <cstdint>

namespace telvox {

// The numbered string table: English texts under 1001..1123, Simplified Chinese under
// 2001..2123 and Traditional Chinese under 3001..3123, entry 1000+k, 2000+k and 3000+k being
// translations of one another.
class StringTable
{
public:
    // Loads the table from a UTF-8 file of lines "id<TAB>English<TAB>Simplified<TAB>Traditional"
    // ('#' starts a comment line). Returns false when the file cannot be read.
    bool loadFile(const QString &path);
    // Loads the table compiled into the program.
    bool loadBuiltIn();
    // Parses table text as loadFile() does; returns the number of entries read.
    int loadText(const QString &text);

    // The text stored under `id` (for example 3033), or an empty string when there is none.
    QString text(int id) const { return m_texts.value(id); }
    bool contains(int id) const { return m_texts.contains(id); }
    int size() const { return static_cast<int>(m_texts.size()); }

private:
    QHash<int, QString> m_texts;
};

// The table compiled into the program, parsed once on first use and never changed after.
const StringTable &builtInStrings();

// Language offset from the stored "Language" setting: "0" English -> 0, "1" Simplified
// Chinese -> 1000, "2" Traditional Chinese -> 2000. Any other value (a hand-edited "7" or "x")
// falls back to English, so no lookup ever reaches outside the table.
int languageOffsetFor(const QString &languageSetting);

// The loader every window uses: a text by its English number, in the language fixed at start.
class Texts
{
public:
    Texts(const StringTable &table, int languageOffset)
        : m_table(table)
        , m_offset(languageOffset)
    {
    }

    // The text of number + language offset; the sum is taken as a signed 16-bit value.
    QString LoadText(int number) const
    {
        const auto id = static_cast<std::int16_t>(number + m_offset);
        return m_table.text(id);
    }

    int languageOffset() const { return m_offset; }

private:
    const StringTable &m_table;
    int m_offset;
};

} // namespace telvox
