#include "ui/HelpFiles.h"

#include <QDir>
#include <QFile>

namespace telvox {

namespace {

bool installResource(const QString &resource, const QString &target)
{
    QFile in(resource);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = in.readAll();
    QFile existing(target);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes)
        return true;
    existing.close();
    QFile out(target);
    return out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(bytes) == bytes.size();
}

} // namespace

QString helpFileName(int languageOffset)
{
    switch (languageOffset) {
    case 1000: return QStringLiteral("helpgb.htm");
    case 2000: return QStringLiteral("helpbig5.htm");
    default: return QStringLiteral("helpen.htm");
    }
}

QString installHelpFile(const QString &programFolder, int languageOffset)
{
    const QDir dir(programFolder);
    const QString name = helpFileName(languageOffset);
    // The three pages share their look and their picture.
    installResource(QStringLiteral(":/telvox/ui/logo.svg"), dir.filePath(QStringLiteral("help-logo.svg")));
    installResource(QStringLiteral(":/telvox/help/help.css"), dir.filePath(QStringLiteral("help.css")));
    const QString target = dir.filePath(name);
    return installResource(QStringLiteral(":/telvox/help/") + name, target) ? target : QString();
}

} // namespace telvox
