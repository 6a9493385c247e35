#include "core/Texts.h"

#include <QFile>
#include <QStringTokenizer>

#include <array>

namespace telvox {

int StringTable::loadText(const QString &text)
{
    // Read in place (views into `text`): the table is read at every start, and splitting it
    // into lists of copies cost more than the texts themselves.
    int count = 0;
    m_texts.reserve(m_texts.size() + text.count(QLatin1Char('\n')) * 3 + 3);
    for (QStringView line : QStringTokenizer(QStringView(text), u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        std::array<QStringView, 4> fields;
        qsizetype n = 0;
        for (QStringView field : QStringTokenizer(line, u'\t')) {
            if (n == qsizetype(fields.size())) {
                n = -1; // too many fields
                break;
            }
            fields[std::size_t(n++)] = field;
        }
        if (n != qsizetype(fields.size()))
            continue;
        bool ok = false;
        const int id = fields[0].toInt(&ok);
        if (!ok || id < 1 || id > 999 + 1000)
            continue;
        for (int lang = 0; lang < 3; ++lang)
            m_texts.insert(id + 1000 * lang, fields[std::size_t(lang) + 1].toString());
        ++count;
    }
    return count;
}

bool StringTable::loadFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    loadText(QString::fromUtf8(file.readAll()));
    return true;
}

bool StringTable::loadBuiltIn() { return loadFile(QStringLiteral(":/telvox/strings/strings.tsv")); }

const StringTable &builtInStrings()
{
    static const StringTable table = [] {
        StringTable t;
        t.loadBuiltIn();
        return t;
    }();
    return table;
}

int languageOffsetFor(const QString &languageSetting)
{
    const QString trimmed = languageSetting.trimmed();
    if (trimmed == QLatin1String("1"))
        return 1000;
    if (trimmed == QLatin1String("2"))
        return 2000;
    return 0;
}

} // namespace telvox
