#include "core/Texts.h"


#include <QFile>

namespace telvox {

int StringTable::loadText(const QString &text)
{
    int count = 0;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (QString line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields.size() != 4)
            continue;
        bool ok = false;
        const int id = fields[0].toInt(&ok);
        if (!ok || id < 1 || id > 999 + 1000)
            continue;
        for (int lang = 0; lang < 3; ++lang)
            m_texts.insert(id + 1000 * lang, fields[lang + 1]);
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
