#pragma once

// The real program and the voice-modem emulator as child processes, each program with a folder
// of its own (TELVOX_HOME) and no display.
#include "core/Settings.h"
#include "support/Files.h"

#include <QProcess>
#include <QStringList>

#include <initializer_list>
#include <utility>

namespace telvox::test {

// Writes the settings an earlier run left in the program folder `home`, each "Section/Key" = value.
inline void presetSettings(const QString &home, std::initializer_list<std::pair<QString, QString>> values)
{
    SettingsStore s(home + QStringLiteral("/telvox.ini"), home + QStringLiteral("/settings.txt"));
    for (const auto &[key, value] : values)
        s.WriteSetting(key.section(QLatin1Char('/'), 0, 0), key.section(QLatin1Char('/'), 1), value);
}

inline QProcessEnvironment programEnvironment(const QString &home, const QString &locale = QString())
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TELVOX_HOME"), home);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (!locale.isEmpty())
        env.insert(QStringLiteral("LC_ALL"), locale);
    return env;
}

// The journal lines of the device names a first start stores for lines 0..3 of the virtual exchange.
inline QByteArray virtualLineNamesJournal()
{
    QByteArray lines;
    for (int n = 0; n < 4; ++n)
        lines += "Modem@Line" + QByteArray::number(n) + "@Telvox Virtual Voice Line  [28]\r\n";
    return lines;
}

// Runs a program to its end (killed after `ms`); its standard output and error together, and
// its exit code (-1 when it did not end by itself).
inline QString runToEnd(const QString &program, const QStringList &args, const QProcessEnvironment &env,
                        int *exitCode, int ms = 30000)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(ms)) {
        p.kill();
        p.waitForFinished();
    }
    *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
}

// The voice-modem emulator on pseudo-terminals below `folder`/modems, playing a scenario;
// killed when the object goes.
class ModemEmulator
{
public:
    ~ModemEmulator() { stop(); }
    // False unless it started and said it was ready within ten seconds.
    bool start(const QString &emulator, const QString &folder, const QByteArray &scenario)
    {
        m_folder = folder;
        if (!writeBytes(folder + QStringLiteral("/call.scn"), scenario))
            return false;
        m_process.start(emulator, {QStringLiteral("--link-dir"), folder + QStringLiteral("/modems"),
                                   QStringLiteral("--scenario"), folder + QStringLiteral("/call.scn")});
        QByteArray said;
        while (!said.contains("ready\n")) {
            if (!m_process.waitForReadyRead(10000))
                return false;
            said += m_process.readAllStandardOutput();
        }
        return true;
    }
    QString port(int line) const { return m_folder + QStringLiteral("/modems/modem%1").arg(line); }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished();
    }

private:
    QString m_folder;
    QProcess m_process;
};

} // namespace telvox::test
