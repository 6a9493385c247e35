#pragma once

#include <QString>

namespace telvox {

// The start-at-login entry: an XDG autostart file "telvox.desktop" in the autostart folder
// ($XDG_CONFIG_HOME/autostart). Enabled, the entry starts the given program; disabled, the
// entry remains but starts nothing (empty Exec, Hidden=true), as an empty Run value would.
class AutostartEntry
{
public:
    explicit AutostartEntry(QString autostartFolder = defaultFolder());

    static QString defaultFolder();

    // Writes the entry; returns false when the folder or file cannot be written.
    bool write(bool enabled, const QString &program);
    // The program the entry starts, or an empty string when it starts nothing or is missing.
    QString program() const;
    bool exists() const;
    QString filePath() const;

private:
    QString m_folder;
};

} // namespace telvox

namespace telvox {

// The setup dialog's "Load At System Start": 1 makes the entry start this program, any other
// value leaves an entry that starts nothing.
bool SetStartWithWindows(AutostartEntry &entry, int enabled, const QString &program);

} // namespace telvox
