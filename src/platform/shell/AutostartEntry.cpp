#include "platform/shell/AutostartEntry.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace telvox {

namespace {

// Quotes a program path for the Exec key of a desktop entry.
QString quoteExec(const QString &program)
{
    QString escaped = program;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    escaped.replace(QLatin1Char('`'), QStringLiteral("\\`"));
    escaped.replace(QLatin1Char('$'), QStringLiteral("\\$"));
    escaped.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

QString unquoteExec(QString value)
{
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"'))) {
        value = value.mid(1, value.size() - 2);
        QString out;
        for (qsizetype i = 0; i < value.size(); ++i) {
            if (value[i] == QLatin1Char('\\') && i + 1 < value.size())
                ++i;
            out += value[i];
        }
        value = out;
    }
    value.replace(QStringLiteral("%%"), QStringLiteral("%"));
    return value;
}

} // namespace

AutostartEntry::AutostartEntry(QString autostartFolder)
    : m_folder(std::move(autostartFolder))
{
}

QString AutostartEntry::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart");
}

QString AutostartEntry::filePath() const { return m_folder + QStringLiteral("/telvox.desktop"); }

bool AutostartEntry::exists() const { return QFile::exists(filePath()); }

bool AutostartEntry::write(bool enabled, const QString &program)
{
    if (!QDir().mkpath(m_folder))
        return false;
    QString text = QStringLiteral("[Desktop Entry]\nType=Application\nName=Telvox\n"
                                  "Comment=Telephone call recorder and answering machine\n");
    if (enabled)
        text += QStringLiteral("Exec=%1\nX-GNOME-Autostart-enabled=true\n").arg(quoteExec(program));
    else
        text += QStringLiteral("Exec=\nHidden=true\nX-GNOME-Autostart-enabled=false\n");
    QSaveFile file(filePath());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(text.toUtf8());
    return file.commit();
}

QString AutostartEntry::program() const
{
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("Hidden=true")))
            return QString();
    }
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("Exec=")))
            return unquoteExec(line.mid(5).trimmed());
    }
    return QString();
}

} // namespace telvox

namespace telvox {

bool SetStartWithWindows(AutostartEntry &entry, int enabled, const QString &program)
{
    return entry.write(enabled == 1, program);
}

} // namespace telvox
