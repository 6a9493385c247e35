#pragma once

// telvox-modemsim with its modems on pseudo-terminals, for the tests that run the voice-modem
// backend against it in real time. TELVOX_MODEMSIM is the emulator's path.
#include "platform/telephony/WaitFor.h"
#include "platform/telephony/modem/ModemPorts.h"

#include <QByteArray>
#include <QProcess>
#include <QTemporaryDir>

#include <functional>
#include <vector>

namespace telvox::test {

// The emulator with `lines` modems of the given profiles ("conexant,usr"), ready once
// constructed, told to quit (killed if it will not) when destroyed.
class EmulatedModems
{
public:
    EmulatedModems(int lines, const QString &profiles, const QStringList &extraArguments = {})
        : m_lines(lines)
    {
        m_sim.setProgram(QStringLiteral(TELVOX_MODEMSIM));
        m_sim.setArguments(QStringList{QStringLiteral("--lines"), QString::number(lines), QStringLiteral("--profile"),
                                       profiles, QStringLiteral("--link-dir"), m_dir.path()}
                           + extraArguments);
        m_sim.setProcessChannelMode(QProcess::SeparateChannels);
        m_sim.start();
        m_sim.waitForStarted();
        waitFor([this] {
            m_sim.waitForReadyRead(1);
            return readOutput().contains("ready");
        }, 5000);
    }
    ~EmulatedModems()
    {
        tell("quit");
        if (!m_sim.waitForFinished(3000))
            m_sim.kill();
    }
    EmulatedModems(const EmulatedModems &) = delete;
    EmulatedModems &operator=(const EmulatedModems &) = delete;

    // The backend's ports: one serial port for each modem, in line order.
    std::vector<modem::ModemPort> ports(const modem::LineOptions &options = {}) const
    {
        std::vector<modem::ModemPort> list;
        for (int i = 0; i < m_lines; ++i) {
            modem::ModemPort entry;
            entry.portName = portPath(i);
            entry.opener = modem::serialPortOpener(entry.portName, 115200);
            entry.options = options;
            list.push_back(std::move(entry));
        }
        return list;
    }

    // The path the backend opens for line `line`.
    QString portPath(int line) const { return m_dir.filePath(QStringLiteral("modem%1").arg(line)); }

    // One command line to the emulator's console.
    void tell(const QByteArray &command)
    {
        m_sim.write(command + '\n');
        m_sim.waitForBytesWritten(1000);
    }

    // What the emulator has printed since `output` was last cleared.
    const QByteArray &readOutput()
    {
        output += m_sim.readAllStandardOutput();
        return output;
    }

    // A figure of the emulator's "stats" line for `line` ("played=24000 ..."), fresh; -1 if none.
    qint64 figure(int line, const QString &name)
    {
        output.clear();
        tell("stats");
        const QString prefix = QStringLiteral("Line%1 stats:").arg(line);
        QString found;
        waitFor([&] {
            for (const QString &l : QString::fromLatin1(readOutput()).split('\n')) {
                if (l.startsWith(prefix))
                    found = l;
            }
            return !found.isEmpty();
        }, 3000);
        for (const QString &word : found.split(' ')) {
            if (word.startsWith(name + '='))
                return word.mid(name.size() + 1).toLongLong();
        }
        return -1;
    }

    QByteArray output;

private:
    int m_lines;
    QTemporaryDir m_dir;
    QProcess m_sim;
};

} // namespace telvox::test
