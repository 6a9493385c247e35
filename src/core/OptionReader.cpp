#include "core/OptionReader.h"

#include "core/AppPaths.h"
#include "core/Settings.h"
#include "core/Texts.h"

namespace telvox {

namespace {
const QString kConfig = QStringLiteral("Config");
}

QString OptionReader::lineKey(int line) { return QStringLiteral("Line") + QString::number(line); }

QString OptionReader::value(const QString &key, const QString &defaultValue) const
{
    return m_settings.ReadSetting(kConfig, key, defaultValue);
}

bool OptionReader::flag(const QString &key) const { return parseLenientInt(value(key)) != 0; }

QString OptionReader::rings() const
{
    const QString stored = value(QStringLiteral("Rings"));
    return stored.trimmed().isEmpty() ? QString::number(kDefaultRings) : stored;
}

bool OptionReader::manualAnswer() const { return flag(QStringLiteral("ActionMan")); }
bool OptionReader::popCallerId() const { return flag(QStringLiteral("PopCallId")); }
bool OptionReader::hangUpOnFastBusy() const { return flag(QStringLiteral("FBS")); }
bool OptionReader::stopOnSilence() const { return flag(QStringLiteral("Silence")); }
bool OptionReader::minimiseOnStart() const { return flag(QStringLiteral("MinOnStart")); }
bool OptionReader::lineSelected(int line) const { return value(lineKey(line)) == QLatin1String("1"); }

int OptionReader::silenceLevel() const
{
    return parseLenientInt(value(QStringLiteral("SilenceLevel"), QString::number(kDefaultSilenceLevel)));
}

int OptionReader::silenceSeconds() const
{
    return parseLenientInt(value(QStringLiteral("SilenceD"), QString::number(kDefaultSilenceSeconds)));
}

int OptionReader::outputFormat() const { return parseLenientInt(value(QStringLiteral("WaveFileFormat"), QStringLiteral("0"))); }

QString OptionReader::recordingFolderSetting() const { return value(QStringLiteral("SaveFile")); }
bool OptionReader::recordingFolderChosen() const { return !recordingFolderSetting().trimmed().isEmpty(); }

QString OptionReader::recordingFolder(const QString &programFolder) const
{
    return recordingFolderFor(programFolder, recordingFolderSetting());
}

int OptionReader::language() const { return languageOffsetFor(value(QStringLiteral("Language"))) / 1000; }

} // namespace telvox
