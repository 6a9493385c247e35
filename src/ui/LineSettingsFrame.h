#pragma once

#include "platform/telephony/LineSettingsPage.h"

#include <QGroupBox>

#include <vector>

class QComboBox;

namespace telvox {

class SettingsStore;
class Texts;

// A line backend's settings page in the setup window, built from the page's description: a
// list of the four lines and, for the line chosen, one field per setting. It reads the
// settings when built and writes what changed on save().
class LineSettingsFrame final : public QGroupBox
{
    Q_OBJECT

public:
    LineSettingsFrame(LineSettingsPage page, const Texts &texts, SettingsStore &settings, QWidget *parent = nullptr);

    void save();

    QComboBox *cboLine() const { return m_line; }
    // The field of the setting `key` (a QLineEdit, QComboBox or QSpinBox); null when none.
    QWidget *field(const QString &key) const;

private:
    void show(int line);
    void keep(int line);

    LineSettingsValues m_values;
    int m_shown = 0;
    QComboBox *m_line;
    std::vector<QWidget *> m_fields; // in the order of the page's fields
};

} // namespace telvox
