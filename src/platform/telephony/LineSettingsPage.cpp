#include "platform/telephony/LineSettingsPage.h"

#include "core/Settings.h"

#include <QFile>

namespace telvox {

namespace {
QString lineKey(int line, const QString &key) { return QStringLiteral("Line%1").arg(line) + key; }
bool validLine(int line) { return line >= 0 && line < LineSettingsValues::kLines; }
} // namespace

LineSettingsValues::LineSettingsValues(LineSettingsPage page, SettingsStore &settings)
    : m_page(std::move(page))
    , m_settings(settings)
{
    for (int line = 0; line < kLines; ++line) {
        std::vector<QString> &values = m_values.at(std::size_t(line));
        for (const LineSettingsField &field : m_page.fields)
            values.push_back(m_settings.ReadSetting(m_page.section, lineKey(line, field.key)));
    }
}

QString LineSettingsValues::shown(int line, std::size_t field) const
{
    if (!validLine(line) || field >= m_page.fields.size())
        return {};
    const QString &value = m_values.at(std::size_t(line)).at(field);
    return value.isEmpty() ? m_page.fields.at(field).defaultValue : value;
}

void LineSettingsValues::set(int line, std::size_t field, const QString &value)
{
    if (!validLine(line) || field >= m_page.fields.size())
        return;
    const LineSettingsField &f = m_page.fields.at(field);
    const QString kept = f.kind == LineSettingsField::Kind::Secret ? value : value.trimmed();
    m_values.at(std::size_t(line)).at(field) = kept == f.defaultValue ? QString() : kept;
}

void LineSettingsValues::save()
{
    bool secret = false;
    for (int line = 0; line < kLines; ++line) {
        for (std::size_t n = 0; n < m_page.fields.size(); ++n) {
            const LineSettingsField &field = m_page.fields.at(n);
            const QString key = lineKey(line, field.key);
            const QString &value = m_values.at(std::size_t(line)).at(n);
            const bool isSecret = field.kind == LineSettingsField::Kind::Secret;
            secret = secret || (isSecret && !value.isEmpty());
            // Only what changed is written: an untouched page leaves the store and its journal alone.
            if (m_settings.ReadSetting(m_page.section, key) == value)
                continue;
            // A password goes to the store alone: the journal is a readable history of changes.
            if (isSecret)
                m_settings.WriteSetting(m_page.section, key, value);
            else
                m_settings.WriteSettingJournaled(m_page.section, key, value);
        }
    }
    if (secret)
        QFile::setPermissions(m_settings.storeFile(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace telvox
