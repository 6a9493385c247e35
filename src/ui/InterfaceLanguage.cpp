#include "ui/InterfaceLanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QString>
#include <QTranslator>

#include <memory>

namespace telvox {

QString languageSettingForLocale(const QString &localeName)
{
    const QString name = localeName.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0);
    if (!name.startsWith(QLatin1String("zh"), Qt::CaseInsensitive))
        return QStringLiteral("0");
    const QString rest = name.mid(2).toUpper();
    if (rest.contains(QLatin1String("HANT")) || rest.contains(QLatin1String("TW")) || rest.contains(QLatin1String("HK"))
        || rest.contains(QLatin1String("MO")))
        return QStringLiteral("2");
    return QStringLiteral("1"); // zh, zh_CN, zh_SG and Hans
}

QString systemLanguageSetting()
{
    // The first one set decides, as for the C library's messages ("C" and "POSIX" are English).
    for (const char *variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QString value = qEnvironmentVariable(variable);
        if (!value.isEmpty())
            return languageSettingForLocale(value);
    }
    return languageSettingForLocale(QLocale::system().name());
}

void installQtTranslations(int languageOffset)
{
    static std::unique_ptr<QTranslator> installed;
    if (installed) {
        QCoreApplication::removeTranslator(installed.get());
        installed.reset();
    }
    if (languageOffset == 0 || !QCoreApplication::instance())
        return;
    const QLocale locale(languageOffset == 1000 ? QStringLiteral("zh_CN") : QStringLiteral("zh_TW"));
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return; // the desktop has no Qt translations: the standard buttons stay in English
    QCoreApplication::installTranslator(translator.get());
    installed = std::move(translator);
}

} // namespace telvox
