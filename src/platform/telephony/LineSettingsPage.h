#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <vector>

namespace telvox {

class SettingsStore;

// One setting of a backend's settings page, kept for each of the four lines as the key
// "Line<n><key>" of the page's section.
struct LineSettingsField
{
    enum class Kind {
        Text,   // a line of text, trimmed; `pattern` limits what may be typed
        Secret, // a password: hidden as typed, kept as typed, never written to the journal
        Choice, // one of `choices`
        Number, // a whole number from `minimum` to `maximum`
    };
    QString key;
    int labelText = 0; // the caption beside the field
    Kind kind = Kind::Text;
    // What an empty stored value means: the field shows it, and saving it writes nothing.
    QString defaultValue;
    QString placeholder; // shown in an empty text field
    QString pattern;     // Text: a regular expression the whole entry must match
    QStringList choices; // Choice
    int minimum = 0;     // Number
    int maximum = 0;
};

// The settings page a line backend offers the setup window, described rather than built: the
// backends live below the windows and link no widgets, so a backend names its fields and the
// setup window builds, loads and saves them (ui/LineSettingsFrame). Every page edits the four
// lines one at a time, chosen in a list of the lines.
struct LineSettingsPage
{
    QString name;    // the frame's object name, e.g. "frameSip"
    QString section; // of the settings
    int titleText = 0;
    int lineChoiceText = 0; // the accessible name of the list of the lines
    int noteText = 0;       // a note under the fields; 0 for none
    std::vector<LineSettingsField> fields;
};

// A page's values for the four lines: loaded from the settings, changed by the window, and
// saved. Values are kept as they are stored (empty for a field's default).
class LineSettingsValues
{
public:
    static constexpr int kLines = 4;

    LineSettingsValues(LineSettingsPage page, SettingsStore &settings);

    const LineSettingsPage &page() const { return m_page; }
    // What field `field` shows for line `line`: the stored value, or the default when empty.
    QString shown(int line, std::size_t field) const;
    // Takes what the window holds for the field (text is trimmed, a password kept as typed).
    void set(int line, std::size_t field, const QString &value);
    // Writes the values that differ from the settings, journaled except passwords. Once a
    // password is kept, the settings file is made readable by its owner alone.
    void save();

private:
    LineSettingsPage m_page;
    SettingsStore &m_settings;
    std::array<std::vector<QString>, kLines> m_values;
};

} // namespace telvox
