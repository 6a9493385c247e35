#include "core/TextFile.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringEncoder>

namespace telvox {

QStringList readLocalLines(QIODevice &file)
{
    QStringDecoder fromLocal(QStringDecoder::System);
    QString text = fromLocal(file.readAll());
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList readLocalLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return readLocalLines(file);
}

QByteArray localLine(const QString &line)
{
    QStringEncoder toLocal(QStringEncoder::System);
    return toLocal(line + QStringLiteral("\r\n"));
}

QString printableText(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        switch (c.category()) {
        case QChar::Other_Control:
        case QChar::Other_Format:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            c = QLatin1Char('?');
            break;
        default:
            break;
        }
    }
    return out;
}

bool appendLocalLine(const QString &path, const QString &line, QString *reason)
{
    QFile file(path);
    const QByteArray bytes = localLine(line);
    // The flush is checked too: a full disk fails it, not the buffered write.
    const bool ok = file.open(QIODevice::WriteOnly | QIODevice::Append) && file.write(bytes) == bytes.size()
                    && file.flush();
    if (!ok && reason)
        *reason = file.errorString();
    return ok;
}

} // namespace telvox
